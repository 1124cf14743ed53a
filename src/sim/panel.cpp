#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

#include "pedsim/simulation.hpp"
#include "platform/large_memory.hpp"

namespace pedsim {

WordBlock::WordBlock(std::size_t words) : size_(words) {
  if (words == 0) return;
  words_ = static_cast<std::uint64_t*>(allocate_zeroed(words * sizeof(std::uint64_t)));
  if (words_ == nullptr) throw std::bad_alloc();
}

WordBlock::WordBlock(const WordBlock& other) : WordBlock(other.size_) {
  if (size_ != 0) std::memcpy(words_, other.words_, size_ * sizeof(std::uint64_t));
}

WordBlock::WordBlock(WordBlock&& other) noexcept
    : words_(std::exchange(other.words_, nullptr)), size_(std::exchange(other.size_, 0)) {}

WordBlock& WordBlock::operator=(WordBlock other) noexcept {
  std::swap(words_, other.words_);
  std::swap(size_, other.size_);
  return *this;
}

WordBlock::~WordBlock() {
  if (words_ != nullptr) release_zeroed(words_, size_ * sizeof(std::uint64_t));
}

namespace {

std::size_t words_for(std::size_t fields, int bits) { return (fields * bits + 63) / 64; }

// Rows of 64 words and more start on a cache line (at most 1/9 more
// memory); shorter ones are packed.
std::size_t row_words_for(std::size_t words) { return words < 64 ? words : (words + 7) / 8 * 8; }

std::uint32_t field(const std::uint64_t* words, std::int32_t index, int bits) {
  const auto bit = static_cast<std::size_t>(index) * static_cast<std::size_t>(bits);
  return static_cast<std::uint32_t>(words[bit / 64] >> (bit % 64)) &
         ((std::uint32_t{1} << bits) - 1);
}

// Per word of `markers` markers, the bits of the markers in `ranges`.
std::vector<std::uint64_t> range_words(std::int32_t markers,
                                       std::initializer_list<MarkerRange> ranges) {
  std::vector<std::uint64_t> words((static_cast<std::size_t>(markers) + 63) / 64, 0);
  for (const MarkerRange& range : ranges) {
    for (std::int32_t m = range.first; m < range.end; ++m) {
      words[static_cast<std::size_t>(m) / 64] |= std::uint64_t{1} << (m % 64);
    }
  }
  return words;
}

}  // namespace

Panel::Panel(std::int32_t animals, MarkerMap map)
    : map_(std::move(map)),
      animals_(animals),
      bits_(map_.alleles == 2 ? 1 : 8),
      words_(words_for(static_cast<std::size_t>(map_.size()), bits_)),
      row_words_(row_words_for(words_)),
      mask_row_words_(row_words_for(words_for(static_cast<std::size_t>(map_.size()), 1))),
      haplotypes_((static_cast<std::size_t>(animals) + 1) * 2 * row_words_),
      lost_(static_cast<std::size_t>(animals) + 1),
      candidate_of_(static_cast<std::size_t>(animals) + 1),
      // Replacement codes run to K+1: two bits for two alleles, else a byte
      // while K+1 fits one.
      code_bits_(map_.alleles == 2 ? 2 : (map_.alleles < 255 ? 8 : 16)),
      code_words_(words_for(static_cast<std::size_t>(map_.size()), code_bits_)) {
  x_ = markers_of(map_, Inheritance::kX);
  y_ = markers_of(map_, Inheritance::kY);
  mt_ = markers_of(map_, Inheritance::kMitochondrial);
  if (!y_.empty()) y_words_ = range_words(map_.size(), {y_});
  if (has_sex_linked_markers()) {
    unpaternal_words_[0] = range_words(map_.size(), {mt_});
    unpaternal_words_[1] = range_words(map_.size(), {mt_, x_});
    one_copy_words_[0] = range_words(map_.size(), {mt_});
    one_copy_words_[1] = range_words(map_.size(), {mt_, x_, y_});
  }
}

std::int32_t Panel::candidate_row(std::int32_t animal) const {
  return candidate_of_[static_cast<std::size_t>(animal)] - 1;
}

std::int32_t Panel::replacement(std::int32_t animal, std::int32_t marker) const {
  const std::int32_t c = candidate_row(animal);
  // No error strikes a genotype the sample does not have (a female's Y).
  if (c < 0 || copies(sample(animal), marker) == 0) return 0;
  return static_cast<std::int32_t>(
      field(replacements(static_cast<std::size_t>(c)), marker, code_bits_));
}

std::int32_t Panel::recorded_allele(std::int32_t animal, std::int32_t marker, int side) const {
  if (!called(animal, marker)) return 0;
  // The design's rule replaces the first allele; a hemizygous record has
  // only that one.
  if (side == 0 || copies(sample(animal), marker) == 1) {
    const std::int32_t code = replacement(animal, marker);
    if (code != 0) return code;
  }
  if (const AlteredCell* cell = altered_at(animal, marker)) {
    return side == 0 ? cell->first : cell->second;
  }
  return true_allele(sample(animal), marker, side);
}

void Panel::recorded_alleles(std::int32_t animal, std::int32_t first, std::int32_t count,
                             std::uint16_t* out, std::size_t stride) const {
  const auto cell = [out, stride](std::int32_t k) { return out + std::size_t(k) * stride; };
  if (lost(animal)) {
    for (std::int32_t k = 0; k < count; ++k) cell(k)[0] = cell(k)[1] = 0;
    return;
  }
  const std::int32_t source = sample(animal);
  stored_alleles(source, first, count, out, stride);
  if (candidate_row(animal) >= 0) {
    for (std::int32_t k = 0; k < count; ++k) {
      const std::int32_t code = replacement(animal, first + k);
      if (code == 0) continue;
      cell(k)[0] = static_cast<std::uint16_t>(code);
      if (copies(source, first + k) == 1) cell(k)[1] = cell(k)[0];
    }
  }
  const std::span<const AlteredCell> cells = altered_of(animal);
  auto c = std::lower_bound(cells.begin(), cells.end(), first,
                            [](const AlteredCell& a, std::int32_t m) { return a.marker < m; });
  for (; c != cells.end() && c->marker < first + count; ++c) {
    cell(c->marker - first)[0] = c->first;
    cell(c->marker - first)[1] = c->second;
  }
  if (!has_missing_mask() && y_.empty()) return;
  for (std::int32_t k = 0; k < count; ++k) {
    if (!called(animal, first + k)) cell(k)[0] = cell(k)[1] = 0;
  }
}

void Panel::true_alleles(std::int32_t animal, std::int32_t first, std::int32_t count,
                         std::uint16_t* out, std::size_t stride) const {
  if (animal > bred_) {
    for (std::int32_t k = 0; k < count; ++k)
      out[std::size_t(k) * stride] = out[std::size_t(k) * stride + 1] = 0;
    return;
  }
  stored_alleles(animal, first, count, out, stride);
  if (!male(animal)) {
    for (std::int32_t m = std::max(first, y_.first); m < std::min(first + count, y_.end); ++m) {
      out[std::size_t(m - first) * stride] = out[std::size_t(m - first) * stride + 1] = 0;
    }
  }
}

void Panel::genotype_codes(std::int32_t animal, std::size_t word, bool recorded,
                           std::uint8_t* codes) const {
  const bool none = recorded ? lost(animal) : animal > bred_;
  const std::int32_t source = recorded ? sample(animal) : animal;
  const std::uint64_t sire = none ? 0 : haplotype(source, 0)[word];
  const std::uint64_t dam = none ? 0 : haplotype(source, 1)[word];
  const std::uint64_t called = none                             ? 0
                               : recorded && has_missing_mask() ? ~missing(animal)[word]
                                                                : ~std::uint64_t{0};
  // Eight markers at a time: each bit of a byte spread to a byte of its own.
  static constexpr auto kSpread = [] {
    std::array<std::uint64_t, 256> spread{};
    for (std::size_t b = 0; b < 256; ++b) {
      for (int k = 0; k < 8; ++k) spread[b] |= std::uint64_t{(b >> k) & 1} << (8 * k);
    }
    return spread;
  }();
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  for (int k = 0; k < 64; k += 8) {
    const std::uint64_t eight =
        kOnes + 2 * kSpread[(sire >> k) & 0xff] + kSpread[(dam >> k) & 0xff];
    const std::uint64_t kept = eight & (kSpread[(called >> k) & 0xff] * 0xff);
    std::memcpy(codes + k, &kept, 8);
  }
  if (!recorded || none) return;
  const auto first = static_cast<std::int32_t>(word * 64);
  const std::span<const AlteredCell> cells = altered_of(animal);
  auto c = std::lower_bound(cells.begin(), cells.end(), first,
                            [](const AlteredCell& a, std::int32_t m) { return a.marker < m; });
  for (; c != cells.end() && c->marker < first + 64; ++c) {
    const int k = c->marker - first;
    if (codes[k] != 0) codes[k] = static_cast<std::uint8_t>(1 + 2 * (c->first - 1) + c->second - 1);
  }
}

void Panel::stored_alleles(std::int32_t animal, std::int32_t first, std::int32_t count,
                           std::uint16_t* out, std::size_t stride) const {
  for (int side = 0; side < 2; ++side) {
    for (std::int32_t k = 0; k < count; ++k) {
      out[std::size_t(k) * stride + side] =
          static_cast<std::uint16_t>(stored_allele(animal, first + k, side));
    }
  }
}

void Panel::swap_records(std::span<const std::pair<std::int32_t, std::int32_t>> pairs) {
  if (pairs.empty()) return;
  if (samples_.empty()) {
    samples_.resize(static_cast<std::size_t>(animals_) + 1);
    std::iota(samples_.begin(), samples_.end(), 0);
  }
  std::vector<std::int32_t> moved_to(samples_.size());
  std::iota(moved_to.begin(), moved_to.end(), 0);
  for (const auto& [a, b] : pairs) {
    const auto i = static_cast<std::size_t>(a);
    const auto j = static_cast<std::size_t>(b);
    std::swap(samples_[i], samples_[j]);
    std::swap(lost_[i], lost_[j]);
    std::swap(candidate_of_[i], candidate_of_[j]);
    if (has_missing_mask()) std::swap_ranges(missing(a), missing(a) + mask_words(), missing(b));
    moved_to[i] = b;
    moved_to[j] = a;
  }
  candidates_.clear();
  for (std::size_t i = 0; i < candidate_of_.size(); ++i) {
    if (candidate_of_[i] != 0) candidates_.push_back(static_cast<std::int32_t>(i));
  }
  if (altered_.empty()) return;
  std::vector<AlteredCell> cells;
  cells.reserve(altered_.size());
  std::vector<std::uint32_t> counts(static_cast<std::size_t>(animals_) + 1, 0);
  for (std::int32_t label = 1; label <= animals_; ++label) {
    const std::span<const AlteredCell> moved =
        altered_of(moved_to[static_cast<std::size_t>(label)]);
    cells.insert(cells.end(), moved.begin(), moved.end());
    counts[static_cast<std::size_t>(label)] = static_cast<std::uint32_t>(moved.size());
  }
  set_altered(std::move(cells), counts);
}

void Panel::set_altered(std::vector<AlteredCell> cells, std::span<const std::uint32_t> counts) {
  altered_ = std::move(cells);
  altered_start_.assign(static_cast<std::size_t>(animals_) + 2, 0);
  for (std::size_t i = 0; i < counts.size() && i + 1 < altered_start_.size(); ++i) {
    altered_start_[i + 1] = counts[i];
  }
  for (std::size_t i = 1; i < altered_start_.size(); ++i)
    altered_start_[i] += altered_start_[i - 1];
}

const AlteredCell* Panel::altered_at(std::int32_t animal, std::int32_t marker) const {
  const std::span<const AlteredCell> cells = altered_of(animal);
  const auto found =
      std::lower_bound(cells.begin(), cells.end(), marker,
                       [](const AlteredCell& c, std::int32_t m) { return c.marker < m; });
  return found != cells.end() && found->marker == marker ? &*found : nullptr;
}

std::span<const AlteredCell> Panel::altered_of(std::int32_t animal) const {
  if (altered_.empty()) return {};
  return {altered_.data() + altered_start_[static_cast<std::size_t>(animal)],
          altered_.data() + altered_start_[static_cast<std::size_t>(animal) + 1]};
}

void Panel::set_candidates(const std::vector<std::int32_t>& animals) {
  candidates_ = animals;
  std::fill(candidate_of_.begin(), candidate_of_.end(), 0);
  for (std::size_t c = 0; c < animals.size(); ++c) {
    candidate_of_[static_cast<std::size_t>(animals[c])] = static_cast<std::int32_t>(c + 1);
  }
  codes_ = WordBlock(animals.size() * code_words_);
}

std::size_t Panel::bytes() const {
  return (haplotypes_.size() + codes_.size() + missing_.size()) * sizeof(std::uint64_t) +
         lost_.size() + candidate_of_.size() * sizeof(std::int32_t) +
         altered_.size() * sizeof(AlteredCell) + altered_start_.size() * sizeof(std::size_t) +
         samples_.size() * sizeof(std::int32_t) + males_.size();
}

}  // namespace pedsim
