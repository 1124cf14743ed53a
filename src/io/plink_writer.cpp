#include "io/plink_writer.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "io/buffered_writer.hpp"
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

using Square = std::array<std::uint64_t, 64>;

// Bit k of word j becomes bit j of word k.
void transpose(Square& a) {
  std::uint64_t mask = 0x00000000FFFFFFFFULL;
  for (int j = 32; j != 0; j >>= 1, mask ^= mask << j) {
    for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & mask;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
  }
}

// Bit t of `bits` moved to bit 2t.
std::uint64_t spread(std::uint32_t bits) {
  std::uint64_t x = bits;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFULL;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFULL;
  x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0FULL;
  x = (x | (x << 2)) & 0x3333333333333333ULL;
  x = (x | (x << 1)) & 0x5555555555555555ULL;
  return x;
}

// The bed code of a genotype holding `copies` of allele 2.
std::uint8_t bed_code(int copies) { return copies == 2 ? 0 : copies == 1 ? 2 : 3; }

// The bed rows of one marker word of a two-allele panel: per 64 animals,
// their haplotype words turned so that each marker's bits of those animals
// lie in one word, then the code of each animal interleaved from its bits.
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
    for (std::int32_t first = 1; first <= animals_; first += 64) {
      for (std::size_t w = first_word; w < last_word; ++w) {
        fill_group(w, std::min(kBlockMarkers, markers - w * kBlockMarkers), first,
                   rows + (w - first_word) * block_bytes);
      }
    }
  }

 private:
  void fill_group(std::size_t w, std::size_t markers, std::int32_t first, char* rows) {
    Square none{};
    Square some{};
    Square missing{};
    std::uint64_t lost = 0;
    bool any_missing = false;
    const std::int32_t count = std::min<std::int32_t>(64, animals_ - first + 1);
    for (std::int32_t j = 0; j < count; ++j) {
      const std::int32_t i = first + j;
      const std::uint64_t a = panel_.haplotype(i, 0)[w];
      const std::uint64_t b = panel_.haplotype(i, 1)[w];
      none[j] = ~(a | b);
      some[j] = ~(a & b);
      if (!recorded_) continue;
      if (panel_.lost(i)) lost |= std::uint64_t{1} << j;
      if (panel_.has_missing_mask()) {
        missing[j] = panel_.missing(i)[w];
        any_missing = any_missing || missing[j] != 0;
      }
    }
    transpose(none);
    transpose(some);
    if (any_missing) transpose(missing);
    const std::size_t offset = static_cast<std::size_t>(first - 1) / 4;
    const std::size_t bytes = std::min<std::size_t>(16, row_bytes_ - offset);
    const std::uint64_t present = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    for (std::size_t k = 0; k < markers; ++k) {
      const std::uint64_t absent = lost | missing[k];
      const std::uint64_t low = (none[k] | absent) & present;
      const std::uint64_t high = some[k] & ~absent & present;
      const std::array<std::uint64_t, 2> codes{
          spread(static_cast<std::uint32_t>(low)) | spread(static_cast<std::uint32_t>(high)) << 1,
          spread(static_cast<std::uint32_t>(low >> 32)) |
              spread(static_cast<std::uint32_t>(high >> 32)) << 1};
      std::memcpy(rows + k * row_bytes_ + offset, codes.data(), bytes);
    }
    if (recorded_) patch_altered(w, markers, first, count, rows);
  }

  // The altered genotypes of the group's animals at these markers.
  void patch_altered(std::size_t w, std::size_t markers, std::int32_t first, std::int32_t count,
                     char* rows) {
    const auto start = static_cast<std::int32_t>(w * kBlockMarkers);
    const auto end = static_cast<std::int32_t>(start + static_cast<std::int32_t>(markers));
    for (std::int32_t i = first; i < first + count; ++i) {
      if (next_[static_cast<std::size_t>(i)] >= end) continue;
      const std::span<const AlteredCell> cells = panel_.altered_of(i);
      std::size_t& at = cursor_[static_cast<std::size_t>(i)];
      for (; at < cells.size() && cells[at].marker < end; ++at) {
        const AlteredCell& cell = cells[at];
        // The other core's words.
        if (cell.marker < start) continue;
        const auto k = static_cast<std::size_t>(cell.marker - start);
        const int copies = (cell.first == 2 ? 1 : 0) + (cell.second == 2 ? 1 : 0);
        const std::size_t animal = static_cast<std::size_t>(i - 1);
        auto& byte = reinterpret_cast<std::uint8_t&>(rows[k * row_bytes_ + animal / 4]);
        const int shift = static_cast<int>(animal % 4) * 2;
        byte = static_cast<std::uint8_t>((byte & ~(3 << shift)) | bed_code(copies) << shift);
      }
      next_[static_cast<std::size_t>(i)] = at < cells.size() ? cells[at].marker : kNone;
    }
  }

  static constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max();

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
                 std::vector<char>& rows) {
  const std::size_t block_bytes = kBlockMarkers * blocks.row_bytes();
  rows.resize((last - first) * block_bytes);
  for (std::size_t w = first; w < last; w += kLineWords) {
    blocks.fill(w, std::min(last, w + kLineWords), markers,
                rows.data() + (w - first) * block_bytes);
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
  std::vector<char> rows[2];
  HelperThread helper;
  for (std::size_t w = 0; w < words; w += 2 * stretch) {
    const std::size_t middle = std::min(words, w + stretch);
    const std::size_t last = std::min(words, w + 2 * stretch);
    helper.side_by_side([&] { write_words(blocks[0], w, middle, markers, rows[0]); },
                        [&] { write_words(blocks[1], middle, last, markers, rows[1]); });
    const std::size_t end = std::min(markers, last * kBlockMarkers);
    const std::size_t row_bytes = blocks[0].row_bytes();
    const std::size_t first_bytes = (std::min(markers, middle * kBlockMarkers) - w * kBlockMarkers) * row_bytes;
    out.write({rows[0].data(), first_bytes});
    out.write({rows[1].data(), (end - std::min(end, middle * kBlockMarkers)) * row_bytes});
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
