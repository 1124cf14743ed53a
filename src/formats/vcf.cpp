#include "formats/vcf.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "formats/bgzf_file.hpp"
#include "io/buffered_writer.hpp"
#include "io/progress_sink.hpp"

namespace pedsim {

void write_vcf_header(const GenotypeView& view, BufferedWriter& out) {
  out.write(
      "##fileformat=VCFv4.2\n##FILTER=<ID=PASS,Description=\"All filters passed\">\n"
      "##source=pedsim\n");
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    const bool last_of_contig =
        m + 1 == view.markers() || view.chromosome(m + 1) != view.chromosome(m);
    if (!last_of_contig) continue;
    out.write("##contig=<ID=");
    out.write(view.chromosome(m));
    out.write(",length=");
    out.write(std::to_string(view.base_pair(m)));
    out.write(">\n");
  }
  out.write(
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT");
  for (std::int32_t i = 1; i <= view.animals(); ++i) {
    out.write("\t");
    out.write(view.animal_name(i));
  }
  out.write("\n");
}

namespace {

// Markers whose alleles are gathered at once.
constexpr std::int32_t kMarkerChunk = 64;

char* put(char* at, std::string_view text) { return std::copy(text.begin(), text.end(), at); }

// The fixed fields of a marker whose highest allele is `top`.
char* put_marker(const GenotypeView& view, std::int32_t m, std::int32_t top, char* at) {
  at = put(at, view.chromosome(m));
  *at++ = '\t';
  at = std::to_chars(at, at + 24, view.base_pair(m)).ptr;
  *at++ = '\t';
  at = put(at, view.name(m));
  *at++ = '\t';
  at = put(at, view.label(1));
  *at++ = '\t';
  if (top < 2) *at++ = '.';
  for (std::int32_t a = 2; a <= top; ++a) {
    if (a > 2) *at++ = ',';
    at = put(at, view.label(a));
  }
  return put(at, "\t.\t.\t.\tGT");
}

// The text of every genotype a marker can hold, a tab before it, made once
// so that a line is a copy per genotype: allele a is index a-1, "./." where
// nothing was recorded; "0" or "." where the animal carries one copy, "."
// where it carries none. Every text fits 8 bytes ("\t255/255").
class GenotypeTexts {
 public:
  GenotypeTexts(std::int32_t limit, char separator) : side_(limit + 1) {
    texts_.resize(side_ * side_ + side_ + 1);
    for (std::size_t first = 0; first < side_; ++first) {
      for (std::size_t second = 0; second < side_; ++second) {
        set(first * side_ + second, diploid(first, second, separator));
      }
      set(side_ * side_ + first,
          first == 0 ? "\t." : std::string("\t").append(std::to_string(first - 1)));
    }
    set(side_ * side_ + side_, "\t.");
  }

  char* put(char* at, std::uint16_t first, std::uint16_t second) const {
    return put_text(at, first * side_ + second);
  }
  // A genotype where the animal carries `copies` copies.
  char* put(char* at, std::uint16_t first, std::uint16_t second, int copies) const {
    if (copies == 2) return put(at, first, second);
    return put_text(at, side_ * side_ + (copies == 1 ? first : side_));
  }

 private:
  struct Text {
    char bytes[8];
    std::uint8_t length;
  };

  static std::string diploid(std::size_t first, std::size_t second, char separator) {
    if (first == 0 || second == 0) return "\t./.";
    return std::string("\t")
        .append(std::to_string(first - 1))
        .append(1, separator)
        .append(std::to_string(second - 1));
  }
  void set(std::size_t at, const std::string& text) {
    std::memcpy(texts_[at].bytes, text.data(), text.size());
    texts_[at].length = static_cast<std::uint8_t>(text.size());
  }
  char* put_text(char* at, std::size_t k) const {
    std::memcpy(at, texts_[k].bytes, 8);
    return at + texts_[k].length;
  }

  std::size_t side_;
  std::vector<Text> texts_;
};

}  // namespace

RecordIndex record_index(const GenotypeView& view, RecordIndex::Records records) {
  std::vector<std::string> contigs;
  std::int64_t longest = 0;
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    if (m == 0 || view.chromosome(m) != view.chromosome(m - 1)) {
      contigs.push_back(view.chromosome(m));
    }
    longest = std::max(longest, view.base_pair(m));
  }
  return RecordIndex(records, std::move(contigs), longest);
}

namespace {

// The records of a run's markers, a chunk of markers at a time, each noted
// in the index where it ends.
class VcfRecords {
 public:
  VcfRecords(const GenotypeView& view, Genotypes genotypes, const BgzfSink& sink,
             BufferedWriter& out, RecordIndex& index)
      : view_(view),
        sink_(sink),
        out_(out),
        index_(index),
        separator_(genotypes == Genotypes::kTrue ? '|' : '/'),
        texts_(view.allele_limit(), separator_),
        alleles_(view.run().has_panel() ? view.run().panel.map().alleles : 3) {}

  void write() {
    for (std::int32_t first = 0; first < view_.markers(); first += kMarkerChunk) {
      const std::int32_t count = std::min(kMarkerChunk, view_.markers() - first);
      if (view_.has_codes(first, count)) {
        put_coded(first, count);
      } else {
        put_cells(first, count);
      }
    }
  }

 private:
  std::size_t animals() const { return static_cast<std::size_t>(view_.animals()); }

  // Any genotypes: each marker's alleles gathered, then its line.
  void put_cells(std::int32_t first, std::int32_t count) {
    const std::size_t widest = view_.label(view_.allele_limit()).size() + 1;
    const std::size_t line_bytes =
        256 + view_.allele_limit() * widest + std::size_t{8} * (animals() + 1);
    view_.alleles_of_markers(first, count, cells_);
    for (std::int32_t k = 0; k < count; ++k) {
      const std::int32_t m = first + k;
      const std::uint16_t* marker = cells_.data() + 2 * animals() * std::size_t(k);
      const std::int32_t top =
          std::max<std::int32_t>(alleles_, *std::max_element(marker, marker + 2 * animals()));
      char* const start = out_.reserve(line_bytes);
      char* at = put_marker(view_, m, top, start);
      if (view_.sex_linked(m)) {
        for (std::size_t j = 0; j < animals(); ++j) {
          at = texts_.put(at, marker[2 * j], marker[2 * j + 1],
                          view_.copies(static_cast<std::int32_t>(j) + 1, m));
        }
      } else {
        for (std::size_t j = 0; j < animals(); ++j) {
          at = texts_.put(at, marker[2 * j], marker[2 * j + 1]);
        }
      }
      *at++ = '\n';
      out_.commit(static_cast<std::size_t>(at - start));
      noted(m);
    }
  }

  // Two alleles, two copies: every genotype's text is 4 bytes, so the
  // chunk's lines are laid out animal by animal, each genotype in its place.
  void put_coded(std::int32_t first, std::int32_t count) {
    const char coded[5][5] = {{'\t', '.', separator_, '.'},
                              {'\t', '0', separator_, '0'},
                              {'\t', '0', separator_, '1'},
                              {'\t', '1', separator_, '0'},
                              {'\t', '1', separator_, '1'}};
    const std::size_t body = 4 * animals();
    lines_.resize(body * static_cast<std::size_t>(count));
    std::uint8_t codes[64];
    const auto word = static_cast<std::size_t>(first) / 64;
    for (std::int32_t i = 1; i <= view_.animals(); ++i) {
      view_.codes_of_animal(i, word, codes);
      char* const at = lines_.data() + 4 * std::size_t(i - 1);
      for (std::int32_t k = 0; k < count; ++k) std::memcpy(at + k * body, coded[codes[k]], 4);
    }
    for (std::int32_t k = 0; k < count; ++k) {
      char* const start = out_.reserve(256 + 2 * view_.label(2).size());
      out_.commit(static_cast<std::size_t>(put_marker(view_, first + k, 2, start) - start));
      out_.write_through({lines_.data() + k * body, body});
      out_.write("\n");
      noted(first + k);
    }
  }

  void noted(std::int32_t m) {
    if (m == 0 || view_.chromosome(m) != view_.chromosome(m - 1)) ++contig_;
    const std::int64_t begin = view_.base_pair(m) - 1;
    index_.add(contig_, begin, begin + static_cast<std::int64_t>(view_.label(1).size()),
               sink_.written() + out_.pending());
  }

  const GenotypeView& view_;
  const BgzfSink& sink_;
  BufferedWriter& out_;
  RecordIndex& index_;
  char separator_;
  GenotypeTexts texts_;
  std::int32_t alleles_;
  std::int32_t contig_ = -1;
  std::vector<std::uint16_t> cells_;
  std::vector<char> lines_;
};

}  // namespace

void write_vcf(const Simulation& run, Genotypes genotypes, const IndexedFile& file) {
  const GenotypeView view(run, genotypes);
  RecordIndex index = record_index(view, RecordIndex::Records::kText);
  BgzfSink compressed(file);
  {
    ProgressSink sink(compressed, file.progress, file.stage, file.expected_bytes);
    BufferedWriter out(sink);
    write_vcf_header(view, out);
    index.set_header_end(compressed.written() + out.pending());
    VcfRecords(view, genotypes, compressed, out, index).write();
    out.flush();
  }
  compressed.close();
  index.write(file);
}

namespace {

constexpr FormatFile kVcfFileList[] = {
    {.recorded_name = "ped.vcf.gz",
     .true_name = "true.vcf.gz",
     .recorded_index = "ped.vcf.gz.csi",
     .true_index = "true.vcf.gz.csi",
     .write_indexed = write_vcf,
     .bytes_per_genotype = 4,
     .stored_share = 0.12,
     .nanoseconds_per_genotype = 10},
};

}  // namespace

extern const FormatFiles kVcfFiles{.unit = 13, .files = kVcfFileList};

}  // namespace pedsim
