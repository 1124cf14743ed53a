#include "reports/relatedness_files.hpp"

#include <charconv>

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

void write_segments(const Simulation& run, const Relatedness& relatedness, ByteSink& sink) {
  BufferedWriter out(sink);
  out.write("animal\thaplotype\tchromosome\tstart_cm\tend_cm\tfounder\tfounder_haplotype\n");
  const auto& chromosomes = relatedness.chromosome_names();
  for (const Segment& s : relatedness.segments()) {
    Row(out)
        .text(name_of(run, s.animal))
        .integer(s.haplotype)
        .text(chromosomes[static_cast<std::size_t>(s.chromosome)])
        .number(s.start_cm)
        .number(s.end_cm)
        .text(name_of(run, s.founder))
        .integer(s.founder_haplotype)
        .end();
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
