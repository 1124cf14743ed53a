#pragma once

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pedsim {

// The parts of a comma-separated list, empty ones included.
inline std::vector<std::string_view> split_list(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

// Names as messages list them: "a, b or c".
inline std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k != 0) text += k + 1 == names.size() ? " or " : ", ";
    text += names[k];
  }
  return text;
}

// The names of the rows (those for which `keep` holds), listed.
template <typename Row, typename Name, typename Keep>
std::string listed_names(std::span<const Row> rows, Name name, Keep keep) {
  std::vector<std::string> names;
  for (const Row& row : rows) {
    if (keep(row)) names.emplace_back(name(row));
  }
  return listed(names);
}

template <typename Row, typename Name>
std::string listed_names(std::span<const Row> rows, Name name) {
  return listed_names(rows, name, [](const Row&) { return true; });
}

// Rows as usage lines under an option: the name, then its help, each line
// of the help indented alike.
template <typename Row, typename Name>
std::string usage_lines(std::span<const Row> rows, Name name) {
  std::size_t help_column = 0;
  for (const Row& row : rows)
    help_column = std::max(help_column, std::string(name(row)).size() + 4);
  std::string text;
  for (const Row& row : rows) {
    std::string head = "  " + std::string(name(row));
    head.resize(help_column, ' ');
    std::string_view help = row.help;
    for (bool first = true;; first = false) {
      const std::size_t end = help.find('\n');
      text +=
          (first ? head : std::string(help_column, ' ')) + std::string(help.substr(0, end)) + "\n";
      if (end == std::string_view::npos) break;
      help.remove_prefix(end + 1);
    }
  }
  return text;
}

}  // namespace pedsim
