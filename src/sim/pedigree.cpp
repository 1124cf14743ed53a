#include <limits>
#include <new>

#include "pedsim/pedsim.hpp"
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

Pedigree::Pedigree(std::int32_t rows)
    : sire(rows),
      dam(rows),
      born(rows),
      sex(rows),
      true_allele1(rows),
      true_allele2(rows),
      lost(rows),
      recorded_allele1(rows),
      recorded_allele2(rows) {}

}  // namespace pedsim
