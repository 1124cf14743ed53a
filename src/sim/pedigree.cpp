#include <limits>
#include <new>
#include <utility>

#include "pedsim/simulation.hpp"
#include "platform/large_memory.hpp"

namespace pedsim {

template <typename T>
Column<T>::Column(std::int32_t size) : size_(size < 0 ? 0 : size) {
  // The limit is that of a column of 32-bit values, whatever this one's width.
  if (std::int64_t{size_} * 4 > std::numeric_limits<std::int32_t>::max()) throw TableTooLarge();
  data_ = static_cast<T*>(allocate_zeroed(storage_bytes()));
  if (data_ == nullptr) {
    size_ = 0;
    throw std::bad_alloc();
  }
}

template <typename T>
Column<T>::~Column() {
  release_zeroed(data_, storage_bytes());
}

template class Column<std::int32_t>;
template class Column<std::int8_t>;

Pedigree::Pedigree(std::int32_t rows) : sire(rows), dam(rows), born(rows), sex(rows) {}

GenotypeStore::GenotypeStore(std::int32_t animals, std::vector<std::int32_t> allele_counts)
    : lost(animals), allele_counts_(std::move(allele_counts)) {
  markers_.reserve(allele_counts_.size());
  for (std::size_t m = 0; m < allele_counts_.size(); ++m) {
    markers_.push_back(
        {CodeColumn(animals), CodeColumn(animals), CodeColumn(animals), CodeColumn(animals)});
  }
}

}  // namespace pedsim
