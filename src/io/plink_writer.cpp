#include "io/plink_writer.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "io/buffered_writer.hpp"
#include "platform/code_columns.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

namespace {

constexpr std::array<char, 3> kBedMagic{0x6c, 0x1b, 0x01};
// A block is the bed rows of the 64 markers of one haplotype word; a round
// of blocks is computed on both cores, then written at once. Each animal's
// words are read a cache line (eight words) at a time.
constexpr std::size_t kBlockMarkers = 64;
constexpr std::size_t kLineWords = 8;
constexpr std::size_t kRoundBytes = std::size_t{8} << 20;

// The bed rows of one marker word of a two-allele panel. Per animal, the
// two code bits of each of the word's markers (low: no allele 2 or not
// recorded, high: recorded and not two copies of allele 2); then 64
// animals' codes are turned into the markers' rows.
class BedBlocks {
 public:
  BedBlocks(const Panel& panel, std::int32_t animals, Genotypes genotypes)
      : panel_(panel),
        animals_(animals),
        recorded_(genotypes == Genotypes::kRecorded),
        row_bytes_((static_cast<std::size_t>(animals) + 3) / 4),
        cursor_(static_cast<std::size_t>(animals) + 1, 0),
        next_(static_cast<std::size_t>(animals) + 1) {
    for (std::int32_t i = 1; i <= animals; ++i) {
      const std::span<const AlteredCell> cells = panel.altered_of(i);
      next_[static_cast<std::size_t>(i)] = cells.empty() ? kNone : cells.front().marker;
    }
  }

  std::size_t row_bytes() const { return row_bytes_; }

  // Rows of the markers of words [first_word, last_word) into `rows`, a
  // block per word; words must come in increasing order.
  void fill(std::size_t first_word, std::size_t last_word, std::size_t markers, char* rows) {
    const std::size_t block_bytes = kBlockMarkers * row_bytes_;
    const auto end = static_cast<std::int32_t>(std::min(markers, last_word * kBlockMarkers));
    for (std::int32_t first = 1; first <= animals_; first += 64) {
      prefetch_altered(first + 64, first + 128, end);
      for (std::size_t w = first_word; w < last_word; ++w) {
        fill_group(w, std::min(kBlockMarkers, markers - w * kBlockMarkers), first,
                   rows + (w - first_word) * block_bytes);
      }
    }
  }

 private:
  static constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max();

  void fill_group(std::size_t w, std::size_t markers, std::int32_t first, char* rows) {
    std::array<std::uint64_t, 64> low{};
    std::array<std::uint64_t, 64> high{};
    const std::int32_t count = std::min<std::int32_t>(64, animals_ - first + 1);
    for (std::int32_t j = 0; j < count; ++j) {
      const std::int32_t i = first + j;
      std::uint64_t a = panel_.haplotype(i, 0)[w];
      std::uint64_t b = panel_.haplotype(i, 1)[w];
      std::uint64_t absent = 0;
      if (recorded_) {
        absent = panel_.lost(i) ? ~std::uint64_t{0}
                 : panel_.has_missing_mask() ? panel_.missing(i)[w]
                                             : 0;
        apply_altered(i, w, markers, a, b);
      }
      low[j] = ~(a | b) | absent;
      high[j] = ~(a & b) & ~absent;
    }
    const std::size_t offset = static_cast<std::size_t>(first - 1) / 4;
    write_code_columns(low.data(), high.data(), markers, rows + offset, row_bytes_,
                       std::min<std::size_t>(16, row_bytes_ - offset));
  }

  // Asks for the altered genotypes animals [first, last) will read up to
  // marker `end`: they lie far apart, beyond what the processor foresees.
  void prefetch_altered(std::int32_t first, std::int32_t last, std::int32_t end) const {
    if (!recorded_) return;
    for (std::int32_t i = first; i < std::min(animals_ + 1, last); ++i) {
      if (next_[static_cast<std::size_t>(i)] < end) {
        __builtin_prefetch(panel_.altered_of(i).data() + cursor_[static_cast<std::size_t>(i)]);
      }
    }
  }

  // The recorded alleles of `animal`'s altered genotypes in word `w`, in
  // place of the true ones.
  void apply_altered(std::int32_t animal, std::size_t w, std::size_t markers, std::uint64_t& a,
                     std::uint64_t& b) {
    const auto start = static_cast<std::int32_t>(w * kBlockMarkers);
    const auto end = static_cast<std::int32_t>(start + static_cast<std::int32_t>(markers));
    std::int32_t& next = next_[static_cast<std::size_t>(animal)];
    if (next >= end) return;
    const std::span<const AlteredCell> cells = panel_.altered_of(animal);
    std::size_t& at = cursor_[static_cast<std::size_t>(animal)];
    for (; at < cells.size() && cells[at].marker < end; ++at) {
      const AlteredCell& cell = cells[at];
      // The other core's words.
      if (cell.marker < start) continue;
      const std::uint64_t bit = std::uint64_t{1} << (cell.marker - start);
      a = cell.first == 2 ? a | bit : a & ~bit;
      b = cell.second == 2 ? b | bit : b & ~bit;
    }
    next = at < cells.size() ? cells[at].marker : kNone;
  }

  const Panel& panel_;
  std::int32_t animals_;
  bool recorded_;
  std::size_t row_bytes_;
  // Per animal, its first altered genotype not yet placed, and its marker
  // (kept apart, so that the animals without one cost one read).
  std::vector<std::size_t> cursor_;
  std::vector<std::int32_t> next_;
};

// Writes a marker count and its rows, words [first, last) of the panel.
void write_words(BedBlocks& blocks, std::size_t first, std::size_t last, std::size_t markers,
                 char* rows) {
  const std::size_t block_bytes = kBlockMarkers * blocks.row_bytes();
  for (std::size_t w = first; w < last; w += kLineWords) {
    blocks.fill(w, std::min(last, w + kLineWords), markers,
                rows + (w - first) * block_bytes);
  }
}

void write_line(BufferedWriter& out, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) out.write("\t");
    out.write(field);
    first = false;
  }
  out.write("\n");
}

std::string number_text(double value) {
  std::array<char, 32> text{};
  return {text.data(), std::to_chars(text.data(), text.data() + text.size(), value).ptr};
}

}  // namespace

void write_bed(const Simulation& run, Genotypes genotypes, ByteSink& out) {
  const Panel& panel = run.panel;
  if (panel.bits() != 1) throw std::logic_error("ped.bed holds two-allele panels only");
  const std::int32_t animals = run.pedigree.created();
  const auto markers = static_cast<std::size_t>(panel.markers());
  out.write({kBedMagic.data(), kBedMagic.size()});
  // Each core fills every other stretch of words, so that each sees its
  // words in increasing order.
  BedBlocks blocks[2] = {{panel, animals, genotypes}, {panel, animals, genotypes}};
  const std::size_t words = (markers + kBlockMarkers - 1) / kBlockMarkers;
  const std::size_t block_bytes = std::max<std::size_t>(1, kBlockMarkers * blocks[0].row_bytes());
  const std::size_t stretch =
      kLineWords * std::max<std::size_t>(1, kRoundBytes / 2 / block_bytes / kLineWords);
  // Each core's rows, in memory of its own (huge pages: a group's 64 rows
  // lie far apart, and each 4 KiB page would cost a translation).
  WordBlock rows[2] = {WordBlock(stretch * block_bytes / 8 + 1), WordBlock(stretch * block_bytes / 8 + 1)};
  const auto rows_of = [&rows](int core) { return reinterpret_cast<char*>(rows[core].data()); };
  HelperThread helper;
  for (std::size_t w = 0; w < words; w += 2 * stretch) {
    const std::size_t middle = std::min(words, w + stretch);
    const std::size_t last = std::min(words, w + 2 * stretch);
    helper.side_by_side([&] { write_words(blocks[0], w, middle, markers, rows_of(0)); },
                        [&] { write_words(blocks[1], middle, last, markers, rows_of(1)); });
    const std::size_t end = std::min(markers, last * kBlockMarkers);
    const std::size_t row_bytes = blocks[0].row_bytes();
    const std::size_t first_bytes = (std::min(markers, middle * kBlockMarkers) - w * kBlockMarkers) * row_bytes;
    out.write({rows_of(0), first_bytes});
    out.write({rows_of(1), (end - std::min(end, middle * kBlockMarkers)) * row_bytes});
  }
}

void write_bim(const Simulation& run, Genotypes genotypes, ByteSink& sink) {
  const GenotypeView view(run, genotypes);
  BufferedWriter out(sink);
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    write_line(out, {view.chromosome(m), view.name(m), number_text(view.position_cm(m)),
                     std::to_string(view.base_pair(m)), view.label(2), view.label(1)});
  }
}

void write_fam(const Simulation& run, Genotypes, ByteSink& sink) {
  const Pedigree& p = run.pedigree;
  BufferedWriter out(sink);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    write_line(out, {kFamilyId, std::to_string(i), std::to_string(p.sire[i]),
                     std::to_string(p.dam[i]), std::to_string(p.sex[i]), "-9"});
  }
}

}  // namespace pedsim
