#pragma once

#include "pedsim/simulation.hpp"

namespace pedsim {

// The sires and dams of the coming generation: position s of `sires` is the
// sire of the s-th sire block; `dams` are mated in list order.
struct ParentLists {
  ParentLists() = default;
  explicit ParentLists(const Parameters& p) : sires(p.males), dams(p.females) {}
  AnimalColumn sires;
  AnimalColumn dams;
};

}  // namespace pedsim
