#include "reports/relatedness_files.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "io/buffered_writer.hpp"

namespace pedsim {

namespace {

// Fields as the tables give them: names, and numbers in their shortest
// exact form.
class Row {
 public:
  explicit Row(BufferedWriter& out) : out_(out) {}
  Row& text(std::string_view value) {
    separate();
    out_.write(value);
    return *this;
  }
  Row& number(double value) {
    separate();
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    return *this;
  }
  Row& integer(std::int64_t value) { return text(std::to_string(value)); }
  void end() { out_.write("\n"); }

 private:
  void separate() {
    if (!first_) out_.write("\t");
    first_ = false;
  }
  BufferedWriter& out_;
  bool first_ = true;
};

std::string name_of(const Simulation& run, std::int32_t animal) {
  if (animal == 0) return "0";
  return run.is_supplied() ? run.names[static_cast<std::size_t>(animal)] : std::to_string(animal);
}

}  // namespace

namespace {

// Where a segment's row is built: the fields written straight into the
// writer's block.
class SegmentRow {
 public:
  SegmentRow(const Simulation& run, char* at) : run_(run), at_(at) {}
  SegmentRow& animal(std::int32_t animal) {
    if (run_.is_supplied()) {
      const std::string& name = run_.names[static_cast<std::size_t>(animal)];
      at_ = std::copy(name.begin(), name.end(), at_);
    } else {
      at_ = std::to_chars(at_, at_ + 16, animal).ptr;
    }
    return tab();
  }
  SegmentRow& integer(std::int32_t value) {
    at_ = std::to_chars(at_, at_ + 16, value).ptr;
    return tab();
  }
  SegmentRow& text(std::string_view value) {
    at_ = std::copy(value.begin(), value.end(), at_);
    return tab();
  }
  // To the millionth of a centimorgan, without trailing zeros.
  SegmentRow& position(double cm) {
    const long long millionths = std::llround(cm * 1e6);
    at_ = std::to_chars(at_, at_ + 24, millionths / 1000000).ptr;
    long long fraction = millionths % 1000000;
    if (fraction != 0) {
      int digits = 6;
      while (fraction % 10 == 0) {
        fraction /= 10;
        --digits;
      }
      *at_++ = '.';
      char* const last = at_ + digits;
      for (char* d = last; d != at_;) {
        *--d = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
      }
      at_ = last;
    }
    return tab();
  }
  char* end() {
    at_[-1] = '\n';
    return at_;
  }

 private:
  SegmentRow& tab() {
    *at_++ = '\t';
    return *this;
  }
  const Simulation& run_;
  char* at_;
};

}  // namespace

void write_segments(const Simulation& run, const Relatedness& relatedness, ByteSink& sink) {
  BufferedWriter out(sink);
  out.write("animal\thaplotype\tchromosome\tstart_cm\tend_cm\tfounder\tfounder_haplotype\n");
  const auto& chromosomes = relatedness.chromosome_names();
  std::size_t longest = 16;
  for (const std::string& name : run.names) longest = std::max(longest, name.size());
  for (const std::string& name : chromosomes) longest = std::max(longest, name.size());
  for (const Segment& s : relatedness.segments()) {
    char* const start = out.reserve(4 * longest + 96);
    char* const end = SegmentRow(run, start)
                          .animal(s.animal)
                          .integer(s.haplotype)
                          .text(chromosomes[static_cast<std::size_t>(s.chromosome)])
                          .position(s.start_cm)
                          .position(s.end_cm)
                          .animal(s.founder)
                          .integer(s.founder_haplotype)
                          .end();
    out.commit(static_cast<std::size_t>(end - start));
  }
  out.flush();
}

void write_kinship(const Simulation& run, const Relatedness& relatedness, ByteSink& sink) {
  BufferedWriter out(sink);
  out.write("animal\tinbreeding_recorded\tinbreeding_true\tinbreeding_realised\n");
  for (std::size_t k = 0; k < relatedness.inbreeding_true().size(); ++k) {
    Row(out)
        .text(name_of(run, static_cast<std::int32_t>(k + 1)))
        .number(relatedness.inbreeding_recorded()[k])
        .number(relatedness.inbreeding_true()[k])
        .number(relatedness.inbreeding_realised()[k])
        .end();
  }
  out.flush();
}

void write_pairs(const Simulation& run, const std::vector<PairTruth>& pairs, ByteSink& sink) {
  BufferedWriter out(sink);
  out.write(
      "animal_1\tanimal_2\trelationship\tkinship_recorded\tkinship_true\tkinship_realised\t"
      "ibd0\tibd1\tibd2\n");
  for (const PairTruth& p : pairs) {
    Row(out)
        .text(name_of(run, p.first))
        .text(name_of(run, p.second))
        .text(p.relationship)
        .number(p.kinship_recorded)
        .number(p.kinship_true)
        .number(p.kinship_realised)
        .number(p.ibd0)
        .number(p.ibd1)
        .number(p.ibd2)
        .end();
  }
  out.flush();
}

}  // namespace pedsim
