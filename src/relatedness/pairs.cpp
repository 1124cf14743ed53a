// The pairs whose relatedness a run tells: kinds of relatives on the
// recorded pedigree, or a file of pairs.

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>

#include "input/input_file.hpp"
#include "io/diagnostic.hpp"
#include "pedsim/relatedness.hpp"
#include "pedsim/simulation.hpp"
#include "text/lists.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kKinds[] = {"parent-offspring", "full-sibs", "half-sibs"};

void add_parent_offspring(const Pedigree& p, PairList& list) {
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    for (const std::int32_t parent : {p.sire[i], p.dam[i]}) {
      if (parent == 0) continue;
      list.pairs.emplace_back(parent, i);
      list.relationships.emplace_back("parent-offspring");
    }
  }
}

// Every pair of a family: the animals with the same key.
template <class Key, class Keep>
void add_families(const Pedigree& p, Key key, Keep keep, std::string_view kind, PairList& list) {
  std::map<std::pair<std::int32_t, std::int32_t>, std::vector<std::int32_t>> families;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    const auto k = key(i);
    if (k.first != 0) families[k].push_back(i);
  }
  for (const auto& [k, members] : families) {
    for (std::size_t x = 0; x < members.size(); ++x) {
      for (std::size_t y = x + 1; y < members.size(); ++y) {
        if (!keep(members[x], members[y])) continue;
        list.pairs.emplace_back(members[x], members[y]);
        list.relationships.emplace_back(kind);
      }
    }
  }
}

void add_kind(const Pedigree& p, std::string_view kind, PairList& list) {
  if (kind == "parent-offspring") return add_parent_offspring(p, list);
  if (kind == "full-sibs") {
    return add_families(
        p,
        [&p](std::int32_t i) {
          return std::pair{p.dam[i] != 0 ? p.sire[i] : 0, p.dam[i]};
        },
        [](std::int32_t, std::int32_t) { return true; }, kind, list);
  }
  // Half sibs: one known parent in common, and not the other.
  add_families(
      p,
      [&p](std::int32_t i) {
        return std::pair{p.sire[i], 0};
      },
      [&p](std::int32_t a, std::int32_t b) { return p.dam[a] != p.dam[b] || p.dam[a] == 0; }, kind,
      list);
  add_families(
      p,
      [&p](std::int32_t i) {
        return std::pair{p.dam[i], 0};
      },
      [&p](std::int32_t a, std::int32_t b) { return p.sire[a] != p.sire[b] || p.sire[a] == 0; },
      kind, list);
}

bool is_kind_list(std::string_view asked) {
  for (const std::string_view kind : split_list(asked)) {
    if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) return false;
  }
  return true;
}

PairList listed_pairs(const Simulation& run, const std::string& path) {
  const std::string text = read_input_file(path, "pairs file");
  std::unordered_map<std::string, std::int32_t> number;
  for (std::int32_t a = 1; a <= run.pedigree.created(); ++a) number.emplace(run.animal_name(a), a);
  PairList list;
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> names;
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t first = line.find_first_not_of(" \t", at);
      if (first == std::string::npos) break;
      const std::size_t last = std::min(line.find_first_of(" \t", first), line.size());
      names.push_back(line.substr(first, last - first));
      at = last;
    }
    if (names.empty()) continue;
    const std::string where = "pairs file " + path + ", line " + std::to_string(line_number) + ": ";
    if (names.size() != 2) stop_usage(where + "two animals per line");
    std::array<std::int32_t, 2> pair{};
    for (std::size_t k = 0; k < 2; ++k) {
      const auto found = number.find(names[k]);
      if (found == number.end()) stop_usage(where + names[k] + " is not an animal of the run");
      pair[k] = found->second;
    }
    list.pairs.emplace_back(pair[0], pair[1]);
    list.relationships.emplace_back("listed");
  }
  return list;
}

}  // namespace

PairList pairs_of(const Simulation& run, const std::string& asked) {
  if (!is_kind_list(asked)) return listed_pairs(run, asked);
  PairList list;
  for (const std::string_view kind : split_list(asked)) add_kind(run.pedigree, kind, list);
  return list;
}

}  // namespace pedsim
