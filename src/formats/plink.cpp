#include "formats/plink.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <span>
#include <vector>

#include "formats/format_files.hpp"
#include "io/buffered_writer.hpp"
#include "platform/code_columns.hpp"
#include "platform/helper_thread.hpp"
#include "platform/large_memory.hpp"

namespace pedsim {

namespace {

constexpr std::array<char, 3> kBedMagic{0x6c, 0x1b, 0x01};
// A block is the bed rows of the 64 markers of one haplotype word. A round
// fills the blocks of a cache line of words (eight: 512 markers) on both
// cores, each animal's line read once, while the last round is written.
constexpr std::size_t kBlockMarkers = 64;
constexpr std::size_t kLineWords = 8;
// The altered genotypes are regrouped for this many words at a time.
constexpr std::size_t kBatchWords = 8 * kLineWords;

// An altered genotype as the bed rows take it: its animal, its marker's bit
// in the marker word, and the copies of allele 2 recorded (a 64-bit word).
struct WordCell {
  std::int32_t animal;
  std::uint8_t bit;
  std::uint8_t copies;
};

// The altered genotypes of a panel regrouped by marker word, each word's in
// animal order: the rows are filled a word at a time across the animals,
// and the panel's list runs animal by animal. A batch of words is gathered
// at a time into memory that the next batch uses again, so regrouping all
// of them costs no more fresh memory than one batch.
class CellsByWord {
 public:
  // `all`: the panel's list (empty for the true genotypes).
  CellsByWord(const Panel& panel, std::int32_t animals, std::size_t words,
              std::span<const AlteredCell> all, HelperThread& helper)
      : panel_(panel), all_(all), animals_(all.empty() ? 0 : animals), cut_(animals_ / 2 + 1) {
    next_.resize(static_cast<std::size_t>(animals_) + 1);
    for (std::int32_t i = 1; i <= animals_; ++i) next_[static_cast<std::size_t>(i)] = first_of(i);
    // Each half's count per word, in one pass over the list.
    const auto count = [&](std::int32_t from, std::int32_t to, std::vector<std::size_t>& c) {
      c.assign(words, 0);
      const std::size_t end = first_of(to);
      for (std::size_t k = first_of(from); k < end; ++k) {
        ++c[static_cast<std::size_t>(all_[k].marker) / 64];
      }
    };
    helper.side_by_side([&] { count(1, cut_, counts_[0]); },
                        [&] { count(cut_, animals_ + 1, counts_[1]); });
  }

  // Gathers the cells of words [first, last), after those of the words
  // before first.
  void gather(std::size_t first, std::size_t last, HelperThread& helper) {
    first_word_ = first;
    const std::size_t words = last - first;
    start_.assign(words + 1, 0);
    if (animals_ == 0) return;
    // Each word's cells: the first half's animals', then the second half's.
    std::vector<std::size_t> at[2] = {std::vector<std::size_t>(words),
                                      std::vector<std::size_t>(words)};
    for (std::size_t w = 0; w < words; ++w) {
      at[0][w] = start_[w];
      at[1][w] = start_[w] + counts_[0][first + w];
      start_[w + 1] = at[1][w] + counts_[1][first + w];
    }
    if (start_[words] > cells_.capacity()) cells_.reserve(start_[words] + start_[words] / 4);
    cells_.resize(start_[words]);
    const auto end_marker = static_cast<std::int32_t>(last * 64);
    const auto place = [&](std::int32_t from, std::int32_t to, std::vector<std::size_t>& next) {
      for (std::int32_t i = from; i < to; ++i) {
        // The animals' cells lie far apart: ask for one a few animals ahead.
        if (i + kAhead < to)
          __builtin_prefetch(all_.data() + next_[static_cast<std::size_t>(i + kAhead)]);
        std::size_t k = next_[static_cast<std::size_t>(i)];
        const std::size_t end = first_of(i + 1);
        for (; k < end && all_[k].marker < end_marker; ++k) {
          const AlteredCell& cell = all_[k];
          cells_[next[static_cast<std::size_t>(cell.marker) / 64 - first]++] = {
              i, static_cast<std::uint8_t>(cell.marker % 64),
              static_cast<std::uint8_t>((cell.first == 2 ? 1 : 0) + (cell.second == 2 ? 1 : 0))};
        }
        next_[static_cast<std::size_t>(i)] = k;
      }
    };
    helper.side_by_side([&] { place(1, cut_, at[0]); }, [&] { place(cut_, animals_ + 1, at[1]); });
  }

  std::span<const WordCell> of(std::size_t w) const {
    const std::size_t b = w - first_word_;
    return {cells_.data() + start_[b], cells_.data() + start_[b + 1]};
  }

 private:
  static constexpr std::int32_t kAhead = 16;

  // Where animal i's cells start in the list (i up to animals + 1).
  std::size_t first_of(std::int32_t i) const {
    if (i > animals_) return all_.size();
    return static_cast<std::size_t>(panel_.altered_of(i).data() - all_.data());
  }

  const Panel& panel_;
  std::span<const AlteredCell> all_;
  std::int32_t animals_;
  // The first animal of the second half.
  std::int32_t cut_;
  std::vector<std::size_t> counts_[2];
  // Per animal, its first cell not yet gathered.
  std::vector<std::size_t> next_;
  std::size_t first_word_ = 0;
  std::vector<std::size_t> start_;
  std::vector<WordCell, ScratchAllocator<WordCell>> cells_;
};

// The bed rows of a two-allele panel, a marker word at a time. Per animal,
// the two code bits of each of the word's markers (low: no allele 2 or not
// recorded, high: recorded and not two copies of allele 2); then 64
// animals' codes are turned into the markers' rows.
class BedBlocks {
 public:
  BedBlocks(const Panel& panel, std::int32_t animals, Genotypes genotypes, const CellsByWord& cells)
      : panel_(panel),
        recorded_(genotypes == Genotypes::kRecorded),
        row_bytes_((static_cast<std::size_t>(animals) + 3) / 4),
        cells_(cells) {}

  std::size_t row_bytes() const { return row_bytes_; }

  // The columns of animals [from, to) (from 1 past a multiple of 64) in the
  // rows of the markers of words [first_word, last_word), a block per word.
  // Two threads may fill animals apart.
  void fill(std::size_t first_word, std::size_t last_word, std::size_t markers, std::int32_t from,
            std::int32_t to, char* rows) const {
    const std::size_t block_bytes = kBlockMarkers * row_bytes_;
    // Per word, the next altered genotype to place.
    std::array<const WordCell*, kLineWords> next{};
    for (std::size_t w = first_word; w < last_word; ++w) {
      const std::span<const WordCell> cells = cells_.of(w);
      next[w - first_word] = std::lower_bound(
          cells.data(), cells.data() + cells.size(), from,
          [](const WordCell& c, std::int32_t animal) { return c.animal < animal; });
    }
    for (std::int32_t first = from; first < to; first += 64) {
      const std::int32_t count = std::min(64, to - first);
      if (first + 64 < to)
        ask_for_group(first + 64, std::min(64, to - first - 64), first_word, last_word);
      for (std::size_t w = first_word; w < last_word; ++w) {
        fill_group(w, std::min(kBlockMarkers, markers - w * kBlockMarkers), first, count,
                   next[w - first_word], rows + (w - first_word) * block_bytes);
      }
    }
  }

 private:
  // Asks for the words of the next group's animals: they lie a row apart,
  // a stride the processor does not foresee.
  void ask_for_group(std::int32_t first, std::int32_t count, std::size_t first_word,
                     std::size_t last_word) const {
    for (std::int32_t i = first; i < first + count; ++i) {
      const std::int32_t source = recorded_ ? panel_.sample(i) : i;
      for (int side = 0; side < 2; ++side) {
        __builtin_prefetch(panel_.haplotype(source, side) + first_word);
        __builtin_prefetch(panel_.haplotype(source, side) + last_word - 1);
      }
      if (recorded_ && panel_.has_missing_mask()) {
        __builtin_prefetch(panel_.missing(i) + first_word);
        __builtin_prefetch(panel_.missing(i) + last_word - 1);
      }
    }
  }

  void fill_group(std::size_t w, std::size_t markers, std::int32_t first, std::int32_t count,
                  const WordCell*& next, char* rows) const {
    std::array<std::uint64_t, 64> low;
    std::array<std::uint64_t, 64> high;
    std::fill(low.begin() + count, low.end(), 0);
    std::fill(high.begin() + count, high.end(), 0);
    for (std::int32_t j = 0; j < count; ++j) {
      const std::int32_t i = first + j;
      const std::int32_t source = recorded_ ? panel_.sample(i) : i;
      const std::uint64_t a = panel_.haplotype(source, 0)[w];
      const std::uint64_t b = panel_.haplotype(source, 1)[w];
      // A female's Y is no genotype, as is a record not kept.
      std::uint64_t absent = panel_.absent_bits(source, w);
      if (recorded_) {
        absent |= panel_.lost(i)              ? ~std::uint64_t{0}
                  : panel_.has_missing_mask() ? panel_.missing(i)[w]
                                              : 0;
      }
      low[j] = ~(a | b) | absent;
      high[j] = ~(a & b) & ~absent;
    }
    if (recorded_) {
      const WordCell* const end = cells_.of(w).data() + cells_.of(w).size();
      for (; next != end && next->animal < first + count; ++next) {
        const std::uint64_t bit = std::uint64_t{1} << next->bit;
        const auto j = static_cast<std::size_t>(next->animal - first);
        low[j] = next->copies == 0 ? low[j] | bit : low[j] & ~bit;
        high[j] = next->copies == 2 ? high[j] & ~bit : high[j] | bit;
      }
    }
    const std::size_t offset = static_cast<std::size_t>(first - 1) / 4;
    write_code_columns(low.data(), high.data(), markers, rows + offset, row_bytes_,
                       std::min<std::size_t>(16, row_bytes_ - offset));
  }

  const Panel& panel_;
  bool recorded_;
  std::size_t row_bytes_;
  const CellsByWord& cells_;
};

// The animals split between this thread, which also writes, and the helper,
// the share moved after each round toward equal times.
class AnimalSplit {
 public:
  explicit AnimalSplit(std::int32_t animals) : animals_(animals) {}

  template <class First, class Second>
  void time_side_by_side(HelperThread& helper, First&& first, Second&& second) {
    const std::int32_t cut = this->cut();
    double first_seconds = 0;
    double second_seconds = 0;
    helper.side_by_side([&] { first_seconds = timed([&] { first(1, cut); }); },
                        [&] { second_seconds = timed([&] { second(cut, animals_ + 1); }); });
    // Shares in proportion to speed, so that both take as long next round.
    const double first_rate = share_ / std::max(first_seconds, 1e-9);
    const double second_rate = (1 - share_) / std::max(second_seconds, 1e-9);
    share_ = std::clamp(first_rate / (first_rate + second_rate), 0.05, 0.95);
  }

 private:
  template <class Work>
  static double timed(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // The first animal of the helper's share: past a multiple of 256, so that
  // the two never write one cache line of a row.
  std::int32_t cut() const {
    const auto share = static_cast<std::int32_t>(share_ * animals_);
    return std::min(animals_ + 1, 1 + share / 256 * 256);
  }

  std::int32_t animals_;
  double share_ = 0.5;
};

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
  const std::size_t words = (markers + kBlockMarkers - 1) / kBlockMarkers;
  HelperThread helper;
  CellsByWord cells(panel, animals, words,
                    genotypes == Genotypes::kRecorded
                        ? std::span<const AlteredCell>(panel.altered())
                        : std::span<const AlteredCell>(),
                    helper);
  const BedBlocks blocks(panel, animals, genotypes, cells);
  const std::size_t block_bytes = std::max<std::size_t>(1, kBlockMarkers * blocks.row_bytes());
  // Two rounds' rows, in memory of their own (huge pages: a group's 64 rows
  // lie far apart, and each 4 KiB page would cost a translation): one is
  // written while the next is filled.
  const std::size_t round_words = (kLineWords * block_bytes + 7) / 8;
  WordBlock rows[2] = {WordBlock(round_words), WordBlock(round_words)};
  const auto rows_of = [&rows](std::size_t round) {
    return reinterpret_cast<char*>(rows[round % 2].data());
  };
  const auto bytes_of = [&](std::size_t round) {
    const std::size_t first = round * kLineWords * kBlockMarkers;
    return (std::min(markers, first + kLineWords * kBlockMarkers) - first) * blocks.row_bytes();
  };
  AnimalSplit split(animals);
  for (std::size_t round = 0; round * kLineWords < words; ++round) {
    const std::size_t w = round * kLineWords;
    if (w % kBatchWords == 0) cells.gather(w, std::min(words, w + kBatchWords), helper);
    const auto fill = [&](std::int32_t from, std::int32_t to) {
      blocks.fill(w, std::min(words, w + kLineWords), markers, from, to, rows_of(round));
    };
    // This thread writes the last round's rows, then fills its share of
    // the animals; the helper fills the rest.
    split.time_side_by_side(
        helper,
        [&](std::int32_t from, std::int32_t to) {
          if (round > 0) out.write({rows_of(round - 1), bytes_of(round - 1)});
          fill(from, to);
        },
        fill);
  }
  if (words > 0) {
    const std::size_t last_round = (words - 1) / kLineWords;
    out.write({rows_of(last_round), bytes_of(last_round)});
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

void write_fam(const Simulation& run, Genotypes genotypes, ByteSink& sink) {
  const GenotypeView view(run, genotypes);
  const Pedigree& p = run.pedigree;
  BufferedWriter out(sink);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    write_line(out, {kFamilyId, view.animal_name(i), view.animal_name(p.sire[i]),
                     view.animal_name(p.dam[i]), std::to_string(p.sex[i]), "-9"});
  }
}

namespace {

constexpr FormatFile kPlinkFileList[] = {
    {.recorded_name = "ped.bed",
     .true_name = "true.bed",
     .write = write_bed,
     .bytes_per_genotype = 0.25,
     .nanoseconds_per_genotype = 1},
    {.recorded_name = "ped.bim", .true_name = "true.bim", .write = write_bim},
    {.recorded_name = "ped.fam", .true_name = "true.fam", .write = write_fam},
};

}  // namespace

extern const FormatFiles kPlinkFiles{.unit = 11, .files = kPlinkFileList};

}  // namespace pedsim
