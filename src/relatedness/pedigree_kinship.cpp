#include "relatedness/pedigree_kinship.hpp"

#include <algorithm>
#include <queue>

namespace pedsim {

PedigreeKinship::PedigreeKinship(std::vector<std::int32_t> sire, std::vector<std::int32_t> dam)
    : sire_(std::move(sire)),
      dam_(std::move(dam)),
      inbreeding_(sire_.size(), 0),
      sampling_(sire_.size(), 0),
      share_(sire_.size(), 0) {
  if (inbreeding_.empty()) return;
  inbreeding_[0] = -1;
  for (std::size_t i = 1; i < sire_.size(); ++i) {
    const auto animal = static_cast<std::int32_t>(i);
    sampling_[i] = 0.5 - 0.25 * (inbreeding_[sire_[i]] + inbreeding_[dam_[i]]);
    // Full sibs listed together share their inbreeding.
    if (i > 1 && sire_[i] == sire_[i - 1] && dam_[i] == dam_[i - 1]) {
      inbreeding_[i] = inbreeding_[i - 1];
      continue;
    }
    double self = 0;
    for (const auto& [ancestor, share] : ancestry(animal)) {
      self += share * share * sampling_[ancestor];
    }
    inbreeding_[i] = self - 1;
  }
}

std::vector<std::pair<std::int32_t, double>> PedigreeKinship::ancestry(std::int32_t animal) const {
  std::vector<std::pair<std::int32_t, double>> out;
  std::priority_queue<std::int32_t> youngest;
  share_[animal] = 1;
  youngest.push(animal);
  while (!youngest.empty()) {
    const std::int32_t j = youngest.top();
    youngest.pop();
    out.emplace_back(j, share_[j]);
    for (const std::int32_t parent : {sire_[j], dam_[j]}) {
      if (parent == 0) continue;
      if (share_[parent] == 0) youngest.push(parent);
      share_[parent] += 0.5 * share_[j];
    }
  }
  for (const auto& [j, share] : out) share_[j] = 0;
  return out;
}

double PedigreeKinship::kinship(std::int32_t a, std::int32_t b) const {
  if (a == 0 || b == 0) return 0;
  auto first = ancestry(a);
  auto second = ancestry(b);
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  double relationship = 0;
  auto x = first.begin();
  for (const auto& [ancestor, share] : second) {
    while (x != first.end() && x->first < ancestor) ++x;
    if (x != first.end() && x->first == ancestor) {
      relationship += x->second * share * sampling_[ancestor];
    }
  }
  return relationship / 2;
}

}  // namespace pedsim
