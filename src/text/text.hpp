#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace pedsim {

// A number as reports and messages give it: up to ten significant digits.
inline std::string number_text(double v) {
  std::ostringstream text;
  text.precision(10);
  text << v;
  return text.str();
}

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
