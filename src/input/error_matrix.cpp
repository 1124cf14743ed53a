#include "input/error_matrix.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

#include "io/diagnostic.hpp"
#include "input/input_file.hpp"
#include "pedsim/options.hpp"

namespace pedsim {

namespace {

constexpr double kRowSumTolerance = 1e-6;

[[noreturn]] void stop_at(std::string_view path, std::size_t line, std::size_t column,
                          const std::string& what) {
  std::string text = "error matrix " + std::string(path);
  if (line != 0) text += ", line " + std::to_string(line);
  if (column != 0) text += ", column " + std::to_string(column);
  stop_usage(text + ": " + what);
}

std::optional<double> probability(std::string_view text) {
  const auto v = parse_finite(text);
  if (!v || !(*v >= 0) || *v > 1) return std::nullopt;
  return v;
}

void read_row(std::string_view line, std::size_t number, std::string_view path,
              std::array<double, 3>& row) {
  std::size_t column = 0;
  double sum = 0;
  for (std::size_t start = 0; start <= line.size(); ++column) {
    std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) tab = line.size();
    const std::string_view field = line.substr(start, tab - start);
    if (column == 3) stop_at(path, number, column + 1, "more than three columns");
    const auto p = probability(field);
    if (!p) {
      stop_at(path, number, column + 1,
              std::string("'").append(field).append("' is not a probability from 0 to 1"));
    }
    sum += row[column] = *p;
    start = tab + 1;
  }
  if (column != 3) stop_at(path, number, 0, "expected three tab-separated probabilities");
  if (std::abs(sum - 1) > kRowSumTolerance) {
    std::ostringstream total;
    total.precision(10);
    total << sum;
    stop_at(path, number, 0, "the row sums to " + total.str() + ", not 1 (within 1e-6)");
  }
}

}  // namespace

ErrorMatrix parse_error_matrix(std::string_view text, std::string_view path) {
  ErrorMatrix matrix{};
  std::size_t rows = 0;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    start = end + 1;
    ++number;
    if (line.empty() || line.starts_with('#')) continue;
    if (rows == 3) stop_at(path, number, 0, "more than three rows");
    read_row(line, number, path, matrix[rows++]);
  }
  if (rows != 3) {
    stop_at(path, 0, 0,
            "needs three rows (true genotypes 0, 1, 2 copies of the second allele), found " +
                std::to_string(rows));
  }
  return matrix;
}

ErrorMatrix read_error_matrix(const std::string& path) {
  return parse_error_matrix(read_input_file(path, "error matrix"), path);
}

}  // namespace pedsim
