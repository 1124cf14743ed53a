#include "core/run.hpp"

#include <limits>

#include "output/diagnostic.hpp"

namespace pedsim {

Column::Column(std::int32_t size) : size_(size < 0 ? 0 : size) {
  const std::int64_t bytes = std::int64_t{size_} * 4;
  if (bytes > std::numeric_limits<std::int32_t>::max()) stop_with_diagnostic(code::kSizeOverflow);
  data_ = static_cast<std::int32_t*>(allocate_zeroed(this->bytes()));
  if (data_ == nullptr) {
    size_ = 0;
    stop_with_diagnostic(code::kNoMemory);
  }
}

}  // namespace pedsim
