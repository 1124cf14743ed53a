#pragma once

#include <cmath>
#include <cstdio>
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

// A time as the progress line and estimates give it: "25 s", "3 min", "2.1 h".
inline std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 90) {
    std::snprintf(text, sizeof text, "%.0f s", std::ceil(seconds));
  } else if (seconds < 5400) {
    std::snprintf(text, sizeof text, "%.0f min", std::ceil(seconds / 60));
  } else {
    std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  }
  return text;
}

}  // namespace pedsim
