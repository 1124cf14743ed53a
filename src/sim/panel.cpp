#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "pedsim/pedsim.hpp"
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

std::uint32_t field(const std::uint64_t* words, std::int32_t index, int bits) {
  const auto bit = static_cast<std::size_t>(index) * static_cast<std::size_t>(bits);
  return static_cast<std::uint32_t>(words[bit / 64] >> (bit % 64)) &
         ((std::uint32_t{1} << bits) - 1);
}

}  // namespace

Panel::Panel(std::int32_t animals, MarkerMap map)
    : map_(std::move(map)),
      animals_(animals),
      bits_(map_.alleles == 2 ? 1 : 8),
      words_(words_for(static_cast<std::size_t>(map_.size()), bits_)),
      haplotypes_((static_cast<std::size_t>(animals) + 1) * 2 * words_),
      lost_(static_cast<std::size_t>(animals) + 1),
      candidate_of_(static_cast<std::size_t>(animals) + 1),
      // Replacement codes run to K+1: two bits for two alleles, else a byte
      // while K+1 fits one.
      code_bits_(map_.alleles == 2 ? 2 : (map_.alleles < 255 ? 8 : 16)),
      code_words_(words_for(static_cast<std::size_t>(map_.size()), code_bits_)) {}

std::int32_t Panel::candidate_row(std::int32_t animal) const {
  return candidate_of_[static_cast<std::size_t>(animal)] - 1;
}

std::int32_t Panel::replacement(std::int32_t animal, std::int32_t marker) const {
  const std::int32_t c = candidate_row(animal);
  if (c < 0) return 0;
  return static_cast<std::int32_t>(
      field(replacements(static_cast<std::size_t>(c)), marker, code_bits_));
}

std::int32_t Panel::recorded_allele(std::int32_t animal, std::int32_t marker, int side) const {
  if (!called(animal, marker)) return 0;
  if (side == 0) {
    const std::int32_t code = replacement(animal, marker);
    if (code != 0) return code;
  }
  if (const AlteredCell* cell = altered_at(animal, marker)) {
    return side == 0 ? cell->first : cell->second;
  }
  return true_allele(animal, marker, side);
}

void Panel::set_altered(std::vector<AlteredCell> cells) {
  altered_ = std::move(cells);
  altered_start_.assign(static_cast<std::size_t>(animals_) + 2, 0);
  for (const AlteredCell& cell : altered_) ++altered_start_[static_cast<std::size_t>(cell.animal) + 1];
  for (std::size_t i = 1; i < altered_start_.size(); ++i) altered_start_[i] += altered_start_[i - 1];
}

const AlteredCell* Panel::altered_at(std::int32_t animal, std::int32_t marker) const {
  const std::span<const AlteredCell> cells = altered_of(animal);
  const auto found = std::lower_bound(
      cells.begin(), cells.end(), marker,
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
         altered_.size() * sizeof(AlteredCell) + altered_start_.size() * sizeof(std::size_t);
}

}  // namespace pedsim
