#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pedsim {

// The items with `separator` between each two.
inline std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty() || &item != &items.front()) text += separator;
    text += item;
  }
  return text;
}

}  // namespace pedsim
