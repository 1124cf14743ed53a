#include "sim/marker_map.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "pedsim/options.hpp"
#include "random/distributions.hpp"
#include "random/layer_stream.hpp"
#include "sim/panel_lanes.hpp"
#include "text/lists.hpp"

namespace pedsim {

namespace {

std::vector<double> drawn_frequencies(const FrequencyRule& rule, std::int32_t alleles,
                                      LayerStream stream) {
  std::vector<double> f(static_cast<std::size_t>(alleles), 1.0 / alleles);
  switch (rule.kind) {
    case FrequencyRule::Kind::kEqual:
      break;
    case FrequencyRule::Kind::kDirichlet: {
      double sum = 0;
      for (double& x : f) sum += x = gamma_number(stream, rule.concentration);
      // Every draw so small that they underflow: no allele is favoured.
      for (double& x : f) x = sum > 0 ? x / sum : 1.0 / alleles;
      break;
    }
    case FrequencyRule::Kind::kMinorAllele: {
      const double minor = rule.low + (rule.high - rule.low) * stream.next_uniform();
      const std::size_t which = stream.next_uniform() < 0.5 ? 0 : 1;
      f[which] = minor;
      f[1 - which] = 1 - minor;
      break;
    }
  }
  return f;
}

// `markers` markers on `chromosomes` chromosomes of `length` cM: the first
// markers % chromosomes chromosomes take one more, and the n markers of a
// chromosome sit at (j + 1/2) x length / n.
void spread(MarkerMap& map, std::int32_t markers, std::int32_t chromosomes, double length) {
  for (std::int32_t c = 0; c < chromosomes; ++c) {
    map.chromosome_names.push_back(std::to_string(c + 1));
    const std::int32_t n = markers / chromosomes + (c < markers % chromosomes ? 1 : 0);
    for (std::int32_t j = 0; j < n; ++j) {
      map.chromosome.push_back(c);
      map.position_cm.push_back((j + 0.5) * length / n);
    }
  }
}

// A chromosome `name` of `markers` markers after the others, spread as
// above and named on after them.
void append_chromosome(MarkerMap& map, const std::string& name, std::int32_t markers,
                       double length) {
  const auto index = static_cast<std::int32_t>(map.chromosome_names.size());
  map.chromosome_names.push_back(name);
  for (std::int32_t j = 0; j < markers; ++j) {
    map.names.push_back(std::string("m").append(std::to_string(map.names.size() + 1)));
    map.chromosome.push_back(index);
    map.position_cm.push_back((j + 0.5) * length / markers);
  }
}

}  // namespace

std::optional<FrequencyRule> parse_frequency_rule(std::string_view text) {
  if (text == "equal") return FrequencyRule{};
  if (text.starts_with("dirichlet:")) {
    const auto a = parse_finite(text.substr(10));
    if (!a || *a <= 0) return std::nullopt;
    return FrequencyRule{.kind = FrequencyRule::Kind::kDirichlet, .concentration = *a};
  }
  if (text.starts_with("maf:")) {
    const std::string_view range = text.substr(4);
    const std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto low = parse_finite(range.substr(0, dash));
    const auto high = parse_finite(range.substr(dash + 1));
    if (!low || !high || *low < 0 || *low > *high || *high > 0.5) return std::nullopt;
    return FrequencyRule{.kind = FrequencyRule::Kind::kMinorAllele, .low = *low, .high = *high};
  }
  return std::nullopt;
}

MarkerMap spread_markers(const MarkerOptions& options) {
  MarkerMap map;
  map.alleles = options.alleles;
  for (std::int32_t m = 1; m <= options.markers; ++m) {
    map.names.push_back(std::string("m").append(std::to_string(m)));
  }
  if (options.chromosomes) {
    spread(map, options.markers, *options.chromosomes, options.chromosome_length);
  }
  for (const auto& [name, markers] : parse_sex_chromosomes(options.sex_chromosomes)) {
    append_chromosome(map, name, markers, options.chromosome_length);
  }
  return map;
}

void choose_frequencies(MarkerMap& map, const MarkerOptions& options, const Model& model,
                        const Seed& seed) {
  if (options.is_design_marker_model()) {
    map.alleles = model.alleles();
    map.frequencies.assign(static_cast<std::size_t>(map.size()), model.allele_frequencies);
    return;
  }
  const FrequencyRule rule = *parse_frequency_rule(options.frequencies);
  map.frequencies.resize(static_cast<std::size_t>(map.size()));
  for (std::int32_t m = 0; m < map.size(); ++m) {
    auto& f = map.frequencies[static_cast<std::size_t>(m)];
    if (f.empty()) {
      f = drawn_frequencies(
          rule, map.alleles,
          LayerStream(seed.value, seed.replicate, Layer::kMarkers, 0, frequency_lane(m)));
    }
  }
}

namespace {

// The chromosome names `list` asks for, each checked against the map's.
std::vector<std::string> asked_chromosomes(const std::vector<std::string>& names,
                                           std::string_view list) {
  const auto known = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  const auto missing = [&](std::string_view name) {
    std::string have;
    for (std::size_t k = 0; k < names.size() && k < 8; ++k)
      have.append(k ? ", " : "").append(names[k]);
    if (names.size() > 8) have.append(", ...");
    return InvalidParameters(std::string("--only-chromosomes names chromosome '")
                                 .append(name)
                                 .append("', which the map does not have (it has ")
                                 .append(have)
                                 .append(")"));
  };
  std::vector<std::string> asked;
  for (const std::string_view part : split_list(list)) {
    const std::size_t dash = part.find('-');
    if (dash == std::string_view::npos) {
      if (!known(std::string(part))) throw missing(part);
      asked.emplace_back(part);
      continue;
    }
    const auto low = parse_int32(part.substr(0, dash));
    const auto high = parse_int32(part.substr(dash + 1));
    if (!low || !high || *low > *high) {
      throw InvalidParameters(std::string("--only-chromosomes takes names and ranges of numbered "
                                          "chromosomes (1-5,X), got '")
                                  .append(part)
                                  .append("'"));
    }
    for (std::int32_t c = *low; c <= *high; ++c) {
      if (!known(std::to_string(c))) throw missing(std::to_string(c));
      asked.push_back(std::to_string(c));
    }
  }
  return asked;
}

}  // namespace

MarkerMap only_chromosomes(const MarkerMap& whole, std::string_view list) {
  const std::vector<std::string> asked = asked_chromosomes(whole.chromosome_names, list);
  MarkerMap part;
  part.alleles = whole.alleles;
  part.chromosome_names = whole.chromosome_names;
  part.whole_markers = whole.size();
  std::int32_t run = -1;
  for (std::int32_t m = 0; m < whole.size(); ++m) {
    const auto at = static_cast<std::size_t>(m);
    const std::int32_t c = whole.chromosome[at];
    if (m == 0 || c != whole.chromosome[at - 1]) ++run;
    const std::string& name = whole.chromosome_names[static_cast<std::size_t>(c)];
    if (std::find(asked.begin(), asked.end(), name) == asked.end()) continue;
    const bool starts_run =
        part.chromosome.empty() || part.chromosome.back() != c || part.whole_marker.back() != m - 1;
    if (starts_run) part.whole_chromosome_run.push_back(run);
    part.names.push_back(whole.names[at]);
    part.chromosome.push_back(c);
    part.position_cm.push_back(whole.position_cm[at]);
    part.frequencies.push_back(whole.frequencies[at]);
    part.whole_marker.push_back(m);
  }
  return part;
}

Inheritance inheritance_of(std::string_view chromosome) {
  if (chromosome == "X") return Inheritance::kX;
  if (chromosome == "Y") return Inheritance::kY;
  if (chromosome == "MT") return Inheritance::kMitochondrial;
  return Inheritance::kAutosome;
}

MarkerRange markers_of(const MarkerMap& map, Inheritance kind) {
  MarkerRange range;
  for (std::int32_t m = 0; m < map.size() && map.linked(); ++m) {
    const std::string& name =
        map.chromosome_names[static_cast<std::size_t>(map.chromosome[static_cast<std::size_t>(m)])];
    if (inheritance_of(name) != kind) continue;
    if (range.empty()) range.first = m;
    range.end = m + 1;
  }
  return range;
}

std::vector<std::pair<std::string, std::int32_t>> parse_sex_chromosomes(std::string_view text) {
  std::vector<std::pair<std::string, std::int32_t>> asked;
  if (text.empty()) return asked;
  for (const std::string_view part : split_list(text)) {
    const std::size_t colon = part.find(':');
    const std::string_view name = part.substr(0, colon);
    std::int32_t markers = 0;
    const std::string_view count =
        colon == std::string_view::npos ? std::string_view{} : part.substr(colon + 1);
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), markers);
    const bool known = name == "X" || name == "Y" || name == "MT";
    if (!known || error != std::errc{} || end != count.data() + count.size() || markers < 1) {
      throw InvalidParameters(
          "--sex-chromosomes takes X:M, Y:M and MT:M (M markers, at least 1), "
          "comma-separated; got '" +
          std::string(part) + "'");
    }
    for (const auto& [seen, n] : asked) {
      if (seen == name) {
        throw InvalidParameters("--sex-chromosomes names " + std::string(name) + " twice");
      }
    }
    asked.emplace_back(name, markers);
  }
  return asked;
}

}  // namespace pedsim
