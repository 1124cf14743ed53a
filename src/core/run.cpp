#include "core/run.hpp"

#include <limits>

#include "output/diagnostic.hpp"

namespace pedsim {

Column::Column(std::int32_t size) : size_(size < 0 ? 0 : size) {
  const std::int64_t bytes = std::int64_t{size_} * 4;
  if (bytes > std::numeric_limits<std::int32_t>::max()) stop_with_diagnostic(code::kSizeOverflow);
  auto* memory = static_cast<std::int32_t*>(
      std::calloc(static_cast<std::size_t>(size_) + 1, sizeof(std::int32_t)));
  if (memory == nullptr) stop_with_diagnostic(code::kNoMemory);
  data_.reset(memory);
}

}  // namespace pedsim
