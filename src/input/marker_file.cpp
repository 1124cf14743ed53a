#include "input/marker_file.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "io/diagnostic.hpp"
#include "input/input_file.hpp"
#include "pedsim/options.hpp"

namespace pedsim {

namespace {

constexpr double kFrequencySumTolerance = 1e-6;
constexpr std::string_view kRequired[] = {"marker", "chromosome", "position_cm"};

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}


bool is_chromosome(std::string_view text) {
  if (text == "X" || text == "Y" || text == "XY" || text == "MT") return true;
  std::int32_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  return !text.empty() && text[0] != '0' && error == std::errc{} &&
         end == text.data() + text.size() && n > 0;
}

// Reads the rows of one file, naming it, its lines and its columns in every
// stop.
class MarkerFileReader {
 public:
  MarkerFileReader(std::string_view path, std::int32_t alleles) : path_(path), alleles_(alleles) {
    map_.alleles = alleles;
  }

  MarkerMap read(std::string_view text) {
    std::size_t line_number = 0;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (line.ends_with('\r')) line.remove_suffix(1);
      start = end + 1;
      ++line_number;
      if (line_number == 1) {
        header(line);
      } else if (!line.empty()) {
        row(line_number, line);
      }
    }
    if (line_number == 0) stop(0, "", "is empty; it needs a header row and a row per marker");
    if (map_.names.empty()) stop(0, "", "has a header row but no markers");
    return map_;
  }

 private:
  [[noreturn]] void stop(std::size_t line, std::string_view column, const std::string& what) const {
    std::string text = "marker file " + std::string(path_);
    if (line != 0) text += ", line " + std::to_string(line);
    if (!column.empty()) text.append(", column ").append(column);
    stop_usage(text.append(line != 0 ? ": " : " ").append(what));
  }

  static std::string quoted(std::string_view value) {
    return std::string("'").append(value).append("'");
  }

  void header(std::string_view line) {
    columns_ = split_tabs(line);
    for (std::size_t k = 0; k < columns_.size(); ++k) {
      const std::string_view name = columns_[k];
      if (k < 3) {
        if (name != kRequired[k]) {
          stop(1, name,
               "expected column " + std::to_string(k + 1) + " to be '" + std::string(kRequired[k]) +
                   "', found " + quoted(name));
        }
        continue;
      }
      if (name != "freq_" + std::to_string(k - 2)) {
        stop(1, name,
             "expected column " + std::to_string(k + 1) + " to be 'freq_" + std::to_string(k - 2) +
                 "', found " + quoted(name));
      }
      if (static_cast<std::int32_t>(k - 2) > alleles_) {
        stop(1, name,
             "more frequency columns than the " + std::to_string(alleles_) +
                 " alleles of each marker (--alleles)");
      }
    }
    if (columns_.size() < 3) {
      stop(1, "", "the header needs the columns marker, chromosome and position_cm");
    }
  }

  void row(std::size_t line, std::string_view text) {
    const std::vector<std::string_view> fields = split_tabs(text);
    if (fields.size() != columns_.size()) {
      stop(line, "",
           "expected " + std::to_string(columns_.size()) + " tab-separated columns, found " +
               std::to_string(fields.size()));
    }
    marker_name(line, fields[0]);
    const std::int32_t chromosome = chromosome_of(line, fields[1]);
    position(line, fields[2], chromosome);
    frequencies(line, fields);
  }

  void marker_name(std::size_t line, std::string_view name) {
    if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) {
      stop(line, "marker", quoted(name) + " is not a name: it needs text without blanks");
    }
    if (!names_.insert(std::string(name)).second) {
      stop(line, "marker", quoted(name) + " names an earlier marker too");
    }
    map_.names.emplace_back(name);
  }

  std::int32_t chromosome_of(std::size_t line, std::string_view name) {
    if (!is_chromosome(name)) {
      stop(line, "chromosome",
           quoted(name) + " is not a chromosome: give a positive integer, X, Y, XY or MT");
    }
    auto& names = map_.chromosome_names;
    if (names.empty() || names.back() != name) {
      for (const std::string& seen : names) {
        if (seen == name) {
          stop(line, "chromosome",
               "chromosome " + quoted(name) + " appears again after " + quoted(names.back()) +
                   "; the rows of a chromosome must follow each other");
        }
      }
      if (static_cast<std::int32_t>(names.size()) == kMaxChromosomes) {
        stop(line, "chromosome", "more than 1000000 chromosomes");
      }
      names.emplace_back(name);
    }
    const auto index = static_cast<std::int32_t>(names.size() - 1);
    map_.chromosome.push_back(index);
    return index;
  }

  void position(std::size_t line, std::string_view text, std::int32_t chromosome) {
    const auto cm = parse_finite(text);
    if (!cm || *cm < 0 || *cm > kMaxPositionCm) {
      stop(line, "position_cm", quoted(text) + " is not a number of centimorgans from 0 to 100000");
    }
    const auto& chromosomes = map_.chromosome;
    if (chromosomes.size() > 1 && chromosomes[chromosomes.size() - 2] == chromosome &&
        *cm < map_.position_cm.back()) {
      stop(line, "position_cm",
           quoted(text) + " comes before the position of the row above; give markers in map order");
    }
    map_.position_cm.push_back(*cm);
  }

  void frequencies(std::size_t line, const std::vector<std::string_view>& fields) {
    std::vector<double> f;
    if (fields.size() > 3) f.assign(static_cast<std::size_t>(alleles_), 0.0);
    double sum = 0;
    for (std::size_t k = 3; k < fields.size(); ++k) {
      const auto v = parse_finite(fields[k]);
      if (!v || *v < 0 || *v > 1) {
        stop(line, columns_[k], quoted(fields[k]) + " is not a frequency from 0 to 1");
      }
      sum += f[k - 3] = *v;
    }
    if (!f.empty() && std::abs(sum - 1) > kFrequencySumTolerance) {
      std::ostringstream total;
      total.precision(10);
      total << sum;
      stop(line, columns_[3], "the frequencies sum to " + total.str() + ", not 1 (within 1e-6)");
    }
    map_.frequencies.push_back(std::move(f));
  }

  std::string_view path_;
  std::int32_t alleles_;
  std::vector<std::string_view> columns_;
  std::set<std::string> names_;
  MarkerMap map_;
};

}  // namespace

MarkerMap parse_marker_file(std::string_view text, std::string_view path, std::int32_t alleles) {
  // The header's names are views of `text`, which outlives the reader.
  return MarkerFileReader(path, alleles).read(text);
}

MarkerMap read_marker_file(const std::string& path, std::int32_t alleles) {
  return parse_marker_file(read_input_file(path, "marker file"), path, alleles);
}

}  // namespace pedsim
