#pragma once

#include <cstddef>
#include <cstdint>

#include "pedsim/column.hpp"

namespace pedsim {

// A column's raw storage, for the library's speed machinery only.
struct ColumnStorage {
  // Element i is by_row(column)[i]: for loops that keep a column's address
  // in a local, where stores of one-byte codes elsewhere cannot change it.
  template <typename T>
  static T* by_row(Column<T>& column) {
    return column.data_;
  }
  template <typename T>
  static const T* by_row(const Column<T>& column) {
    return column.data_;
  }
  // Asks for element i to be fetched into the cache ahead of its use.
  template <typename T>
  static void prefetch(const Column<T>& column, std::int32_t i) {
    __builtin_prefetch(column.data_ + i);
  }
  // The whole allocation, element 0 (allocated, never used) included.
  template <typename T>
  static void* storage(const Column<T>& column) {
    return column.data_;
  }
  template <typename T>
  static std::size_t bytes(const Column<T>& column) {
    return column.storage_bytes();
  }
};

}  // namespace pedsim
