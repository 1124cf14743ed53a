#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "pedsim/errors.hpp"

namespace pedsim {

// A column of values indexed from 1, allocated once at its final size and
// cleared to 0. Every value is a 32-bit signed integer to its users; codes
// that only take a few small values (sex, alleles, flags) are stored in one
// byte, which keeps the rows that breeding and error injection look up at
// random in the cache. Memory that cannot be had throws std::bad_alloc; a
// size whose bytes (at 4 per row) do not fit in 32 bits, TableTooLarge.
template <typename T>
class Column {
 public:
  Column() = default;
  explicit Column(std::int32_t size);
  Column(Column&& other) noexcept { swap(other); }
  Column& operator=(Column&& other) noexcept {
    swap(other);
    return *this;
  }
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column();

  T& operator[](std::int32_t i) {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t operator[](std::int32_t i) const {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t size() const { return size_; }
  // Elements 1..size() as a contiguous range.
  T* begin() { return data_ + 1; }
  T* end() { return data_ + 1 + size_; }
  const T* begin() const { return data_ + 1; }
  const T* end() const { return data_ + 1 + size_; }

 private:
  // The library's speed machinery reaches the raw storage through this.
  friend struct ColumnStorage;
  std::size_t storage_bytes() const { return (static_cast<std::size_t>(size_) + 1) * sizeof(T); }

  void swap(Column& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  T* data_ = nullptr;
  std::int32_t size_ = 0;
};

// Animal numbers, counts and generations.
using AnimalColumn = Column<std::int32_t>;
// Small codes, -128 to 127: sex, alleles, flags.
using CodeColumn = Column<std::int8_t>;

extern template class Column<std::int32_t>;
extern template class Column<std::int8_t>;

}  // namespace pedsim
