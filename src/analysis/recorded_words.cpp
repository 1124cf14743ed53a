#include "analysis/recorded_words.hpp"

#include <algorithm>

namespace pedsim {

bool RecordedWords::read(const Panel& panel, std::int32_t animal) {
  if (panel.bits() != 1) return false;
  // The same animal again (a parent of consecutive animals) is still here.
  if (&panel == panel_ && animal == animal_) return true;
  panel_ = nullptr;
  const std::size_t words = panel.words();
  first_.resize(words);
  second_.resize(words);
  called_.resize(words);
  if (animal == 0 || panel.lost(animal)) {
    std::fill(first_.begin(), first_.end(), 0);
    std::fill(second_.begin(), second_.end(), 0);
    std::fill(called_.begin(), called_.end(), 0);
    remember(panel, animal);
    return true;
  }
  const std::int32_t source = panel.sample(animal);
  std::copy_n(panel.haplotype(source, 0), words, first_.begin());
  std::copy_n(panel.haplotype(source, 1), words, second_.begin());
  if (panel.has_missing_mask()) {
    const std::uint64_t* missing = panel.missing(animal);
    for (std::size_t w = 0; w < words; ++w) called_[w] = ~missing[w];
  } else {
    std::fill(called_.begin(), called_.end(), ~std::uint64_t{0});
  }
  // A female's Y is not called; past the last marker nothing is.
  for (std::size_t w = 0; w < words && !panel.y_markers().empty(); ++w) {
    called_[w] &= ~panel.absent_bits(source, w);
  }
  const auto tail = static_cast<std::size_t>(panel.markers()) % 64;
  if (tail != 0) called_[words - 1] &= (std::uint64_t{1} << tail) - 1;
  if (std::binary_search(panel.candidates().begin(), panel.candidates().end(), animal)) {
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const std::int32_t code = panel.replacement(animal, m);
      if (code == 0) continue;
      const std::int32_t second =
          panel.copies(source, m) == 1 ? code : panel.true_allele(source, m, 1);
      if (!set(m, code, second)) return false;
    }
  }
  for (const AlteredCell& cell : panel.altered_of(animal)) {
    if (!set(cell.marker, cell.first, cell.second)) return false;
  }
  remember(panel, animal);
  return true;
}

bool RecordedWords::set(std::int32_t marker, std::int32_t first, std::int32_t second) {
  if (first > 2 || second > 2) return false;
  const auto w = static_cast<std::size_t>(marker) / 64;
  const std::uint64_t bit = std::uint64_t{1} << (marker % 64);
  first_[w] = first == 2 ? first_[w] | bit : first_[w] & ~bit;
  second_[w] = second == 2 ? second_[w] | bit : second_[w] & ~bit;
  return true;
}

std::uint64_t trio_conflicts(const RecordedWords& child, const RecordedWords& sire,
                             const RecordedWords& dam, std::size_t w, std::uint64_t sire_passes) {
  const std::uint64_t c1 = child.has_first(w), c2 = child.has_second(w);
  const std::uint64_t s1 = sire.has_first(w), s2 = sire.has_second(w);
  const std::uint64_t d1 = dam.has_first(w), d2 = dam.has_second(w);
  const std::uint64_t only_first = ~c2, only_second = ~c1, both = c1 & c2;
  const std::uint64_t from_both =
      (only_first & s1 & d1) | (only_second & s2 & d2) | (both & ((s1 & d2) | (s2 & d1)));
  const auto from_one = [&](std::uint64_t p1, std::uint64_t p2) {
    return (only_first & p1) | (only_second & p2) | both;
  };
  const std::uint64_t s = sire.called(w) & sire_passes, d = dam.called(w);
  const std::uint64_t fits =
      (s & d & from_both) | (s & ~d & from_one(s1, s2)) | (~s & d & from_one(d1, d2)) | (~s & ~d);
  return child.called(w) & ~fits;
}

bool ConflictWords::of(const Pedigree& pedigree, std::int32_t animal,
                       std::vector<std::uint64_t>& out) {
  if (!child_.read(panel_, animal) || !sire_.read(panel_, pedigree.sire[animal]) ||
      !dam_.read(panel_, pedigree.dam[animal])) {
    return false;
  }
  out.resize(panel_.words());
  for (std::size_t w = 0; w < out.size(); ++w) {
    out[w] = trio_conflicts(child_, sire_, dam_, w, panel_.passed_bits(animal, true, w));
  }
  return true;
}

std::uint64_t exclusions(const RecordedWords& animal, const RecordedWords& parent, std::size_t w,
                         std::uint64_t passed) {
  const std::uint64_t shares_first = animal.has_first(w) & parent.has_first(w);
  const std::uint64_t shares_second = animal.has_second(w) & parent.has_second(w);
  return animal.called(w) & parent.called(w) & passed & ~(shares_first | shares_second);
}

}  // namespace pedsim
