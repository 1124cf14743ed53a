#include "core/run.hpp"

#include <limits>

#include "output/diagnostic.hpp"

namespace pedsim {

template <typename T>
BasicColumn<T>::BasicColumn(std::int32_t size) : size_(size < 0 ? 0 : size) {
  // The limit is that of a table of 32-bit columns, whatever this one's width.
  const std::int64_t bytes = std::int64_t{size_} * 4;
  if (bytes > std::numeric_limits<std::int32_t>::max()) stop_with_diagnostic(code::kSizeOverflow);
  data_ = static_cast<T*>(allocate_zeroed(this->bytes()));
  if (data_ == nullptr) {
    size_ = 0;
    stop_with_diagnostic(code::kNoMemory);
  }
}

template class BasicColumn<std::int32_t>;
template class BasicColumn<std::int8_t>;

}  // namespace pedsim
