// A pedigree the user supplies: read, checked and put in an order where
// parents come first.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <functional>
#include <unordered_map>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/diagnostic.hpp"
#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

namespace {

constexpr std::int32_t kUnknownSex = 0;
// A parent the first look-up did not find among the listed animals.
constexpr std::int32_t kNotListed = -1;

bool is_unknown(std::string_view name) { return name == "0" || name == "NA" || name == "."; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The first fields of a line (as many as a row reads) and how many it has.
struct Fields {
  static constexpr std::size_t kKept = 6;
  std::array<std::string_view, kKept> kept;
  std::size_t count = 0;
  // The line holds a control byte other than a tab.
  bool control = false;
  std::string_view operator[](std::size_t k) const { return kept[k]; }
  std::size_t size() const { return count; }
};

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

Fields split_blanks(std::string_view line) {
  Fields fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_blank(line[at])) ++at;
    const std::size_t start = at;
    for (; at < line.size() && !is_blank(line[at]); ++at) fields.control |= is_control(line[at]);
    if (at == start) break;
    if (fields.count < Fields::kKept) fields.kept[fields.count] = line.substr(start, at - start);
    ++fields.count;
  }
  return fields;
}

// Animal numbers by name: open addressing over a power-of-two table of
// numbers (0: empty), each kept with its name's hash.
class NameTable {
 public:
  explicit NameTable(std::size_t names) : slots_(std::bit_ceil(2 * names + 16)) {}

  static std::uint32_t hash_of(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
  }

  // Asks for the memory a search of `hash` will read: first its slot, then
  // (once that has come) the name the slot holds.
  void prefetch_slot(std::uint32_t hash) const { __builtin_prefetch(&slots_[hash & mask()]); }
  template <class NameOf>
  void prefetch_name(std::uint32_t hash, const NameOf& name_of) const {
    const Slot& slot = slots_[hash & mask()];
    if (slot.number != 0) __builtin_prefetch(name_of(slot.number).data());
  }

  // The number of `name` (whose hash is `hash`), 0 when it is not here.
  template <class NameOf>
  std::int32_t find(std::string_view name, std::uint32_t hash, const NameOf& name_of) const {
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      const Slot& slot = slots_[at];
      if (slot.number == 0) return 0;
      if (slot.hash == hash && name_of(slot.number) == name) return slot.number;
    }
  }

  // The number of `name` (whose hash is `hash`), or `next` when the name is
  // new (`added` then). `name_of` gives the name of a number in the table.
  template <class NameOf>
  std::pair<std::int32_t, bool> find_or_add(std::string_view name, std::uint32_t hash,
                                            std::int32_t next, const NameOf& name_of) {
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      Slot& slot = slots_[at];
      if (slot.number == 0) {
        slot = {next, hash};
        if (++used_ * 10 > slots_.size() * 7) grow();
        return {next, true};
      }
      if (slot.hash == hash && name_of(slot.number) == name) return {slot.number, false};
    }
  }

 private:
  struct Slot {
    std::int32_t number = 0;
    std::uint32_t hash = 0;
  };
  std::size_t mask() const { return slots_.size() - 1; }

  void grow() {
    std::vector<Slot> old(2 * slots_.size());
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.number == 0) continue;
      std::size_t at = slot.hash & mask();
      while (slots_[at].number != 0) at = (at + 1) & mask();
      slots_[at] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// An animal's row as the file gives it.
struct Row {
  std::string_view animal;
  std::string_view sire;
  std::string_view dam;
  std::int32_t sex = kUnknownSex;
  std::size_t line = 0;
};

class PedigreeReader {
 public:
  PedigreeReader(std::string_view path, PedigreeFormat format) : path_(path), format_(format) {}

  SuppliedPedigree read(std::string_view text) {
    read_rows(text);
    number_animals();
    check_roles();
    std::vector<std::int32_t> generation = generations();
    if (format_ == PedigreeFormat::kPre) keep_bred_generations(generation);
    return in_order(generation);
  }

 private:
  // The name of an animal by number, for the name table.
  struct NameOf {
    const PedigreeReader* reader;
    std::string_view operator()(std::int32_t animal) const { return reader->name(animal); }
  };
  NameOf name_of() const { return {this}; }

  [[noreturn]] void stop(std::size_t line, const std::string& what) const {
    stop_usage(std::string("pedigree file ")
                   .append(path_)
                   .append(", line ")
                   .append(std::to_string(line))
                   .append(": ")
                   .append(what));
  }

  std::string line_of(std::int32_t animal) const {
    const auto a = static_cast<std::size_t>(animal);
    return a < rows_.size() ? "line " + std::to_string(rows_[a].line) : "not listed";
  }

  void read_rows(std::string_view text) {
    rows_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 2);
    rows_.emplace_back();  // animal 0: unknown
    std::size_t line_number = 0;
    bool first_row = true;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::string_view line = text.substr(start, end - start);
      start = end + 1;
      ++line_number;
      if (line.ends_with('\r')) line.remove_suffix(1);
      const Fields fields = split_blanks(line);
      if (fields.control) check_text(line, line_number);
      if (fields.size() == 0) continue;
      const bool header = first_row && format_ == PedigreeFormat::kTable && fields.size() >= 3 &&
                          lower(fields[1]) == "sire" && lower(fields[2]) == "dam";
      first_row = false;
      if (header) continue;
      if (format_ == PedigreeFormat::kPre && fields[0] == "0") continue;
      rows_.push_back(row_of(fields, line_number));
    }
  }

  void check_text(std::string_view line, std::size_t line_number) const {
    for (const char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if (is_control(c)) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", byte);
        stop(line_number, std::string("byte ").append(code).append(" is not text"));
      }
    }
  }

  Row row_of(const Fields& fields, std::size_t line) const {
    const bool fam = format_ == PedigreeFormat::kFam;
    const std::size_t needed = fam ? 5 : format_ == PedigreeFormat::kPre ? 4 : 3;
    if (fields.size() < needed) {
      stop(line, std::to_string(fields.size()) + (fields.size() == 1 ? " column" : " columns") +
                     ", a row needs " + std::to_string(needed) +
                     (fam ? " (family, animal, sire, dam, sex)"
                          : needed == 4 ? " (animal, sire, dam, sex)" : " (animal, sire, dam)"));
    }
    const std::size_t first = fam ? 1 : 0;
    Row row{fields[first], fields[first + 1], fields[first + 2], kUnknownSex, line};
    for (const std::string_view name : {row.animal, row.sire, row.dam}) {
      if (name.size() > kMaxNameBytes) {
        stop(line, "a name of " + std::to_string(name.size()) + " bytes, more than " +
                       std::to_string(kMaxNameBytes));
      }
    }
    if (is_unknown(row.animal)) stop(line, "the animal's name '" + std::string(row.animal) +
                                               "' means an unknown parent");
    if (fields.size() > first + 3) row.sex = sex_of(fields[first + 3], line);
    return row;
  }

  std::int32_t sex_of(std::string_view text, std::size_t line) const {
    const std::string s = lower(text);
    if (s == "1" || s == "m" || s == "male") return kMale;
    if (s == "2" || s == "f" || s == "female") return kFemale;
    // PLINK's other codes (0, -9, ...) are an unknown sex.
    if (format_ != PedigreeFormat::kTable || s == "0" || s == "na" || s == ".") return kUnknownSex;
    stop(line, "sex '" + std::string(text) + "' is not 1, 2, M, F, male, female, 0, NA or '.'");
  }

  // Numbers every animal: the listed in the file's order, then the parents
  // named but not listed, as founders, in the order first named. Names are
  // looked up a batch at a time, their memory asked for ahead: the table and
  // the names lie all over memory.
  void number_animals() {
    const std::size_t listed = rows_.size() - 1;
    number_ = NameTable(listed);
    in_batches(1, listed + 1, 1, [this](std::size_t a, std::size_t) { return rows_[a].animal; },
               [this](std::size_t a, std::size_t, std::string_view name, std::uint32_t hash) {
                 const auto [first, added] =
                     number_.find_or_add(name, hash, static_cast<std::int32_t>(a), name_of());
                 if (!added) {
                   stop(rows_[a].line, "animal " + std::string(name) +
                                           " is listed again (first on " + line_of(first) + ")");
                 }
               });
    // The parents among the listed are found on both cores; the others
    // are then numbered in the order first named.
    parents_.assign(rows_.size(), {0, 0});
    const auto name_at = [this](std::size_t a, std::size_t k) {
      return k == 0 ? rows_[a].sire : rows_[a].dam;
    };
    const auto find_listed = [this, &name_at](std::size_t from, std::size_t to) {
      in_batches(from, to, 2, name_at,
                 [this](std::size_t a, std::size_t k, std::string_view name, std::uint32_t hash) {
                   const std::int32_t found = is_unknown(name) ? 0 : number_.find(name, hash, name_of());
                   (k == 0 ? parents_[a].first : parents_[a].second) =
                       found != 0 || is_unknown(name) ? found : kNotListed;
                 });
    };
    const std::size_t middle = 1 + listed / 2;
    HelperThread helper;
    helper.side_by_side([&] { find_listed(1, middle); }, [&] { find_listed(middle, listed + 1); });
    for (std::size_t a = 1; a <= listed; ++a) {
      for (std::size_t k = 0; k < 2; ++k) {
        std::int32_t& parent = k == 0 ? parents_[a].first : parents_[a].second;
        if (parent != kNotListed) continue;
        const std::string_view name = name_at(a, k);
        parent = parent_number(name, NameTable::hash_of(name));
      }
    }
  }

  // Rows [from, to) and their `per_row` names (`name_at(row, k)`): calls
  // `use(row, k, name, hash)` in order, asking for each batch's memory first.
  template <class NameAt, class Use>
  void in_batches(std::size_t from, std::size_t to, std::size_t per_row, const NameAt& name_at,
                  const Use& use) const {
    constexpr std::size_t kBatch = 32;
    std::array<std::uint32_t, kBatch> hashes{};
    for (std::size_t first = from; first < to; first += kBatch / per_row) {
      const std::size_t last = std::min(to, first + kBatch / per_row);
      for (std::size_t a = first; a < last; ++a) {
        for (std::size_t k = 0; k < per_row; ++k) {
          const std::uint32_t hash = NameTable::hash_of(name_at(a, k));
          hashes[(a - first) * per_row + k] = hash;
          number_.prefetch_slot(hash);
        }
      }
      for (std::size_t j = 0; j < (last - first) * per_row; ++j) {
        number_.prefetch_name(hashes[j], name_of());
      }
      for (std::size_t a = first; a < last; ++a) {
        for (std::size_t k = 0; k < per_row; ++k) {
          use(a, k, name_at(a, k), hashes[(a - first) * per_row + k]);
        }
      }
    }
  }

  std::int32_t parent_number(std::string_view name, std::uint32_t hash) {
    if (is_unknown(name)) return 0;
    const auto [number, added] = number_.find_or_add(
        name, hash, static_cast<std::int32_t>(names_.size() + rows_.size()), name_of());
    if (added) names_.push_back(name);
    return number;
  }

  std::int32_t animals() const {
    return static_cast<std::int32_t>(rows_.size() - 1 + names_.size());
  }

  std::string_view name(std::int32_t animal) const {
    const auto a = static_cast<std::size_t>(animal);
    return a < rows_.size() ? rows_[a].animal : names_[a - rows_.size()];
  }

  std::int32_t recorded_sex(std::int32_t animal) const {
    const auto a = static_cast<std::size_t>(animal);
    return a < rows_.size() ? rows_[a].sex : kUnknownSex;
  }

  // A sire is male and never a dam; a dam female and never a sire.
  void check_roles() {
    sex_.assign(static_cast<std::size_t>(animals()) + 1, kUnknownSex);
    std::vector<std::int32_t> role_child(sex_.size(), 0);
    for (std::int32_t a = 1; a <= animals(); ++a) sex_[static_cast<std::size_t>(a)] = recorded_sex(a);
    for (std::size_t child = 1; child < rows_.size(); ++child) {
      for (const auto& [parent, role] :
           {std::pair{parents_[child].first, kMale}, std::pair{parents_[child].second, kFemale}}) {
        if (parent == 0) continue;
        const auto p = static_cast<std::size_t>(parent);
        const std::int32_t recorded = recorded_sex(parent);
        if (recorded != kUnknownSex && recorded != role) {
          stop(rows_[child].line, std::string(name(parent)) + " is the " +
                                      (role == kMale ? "sire" : "dam") + " of " +
                                      std::string(rows_[child].animal) + " but recorded " +
                                      (recorded == kMale ? "male" : "female") + " (" +
                                      line_of(parent) + ")");
        }
        if (sex_[p] != kUnknownSex && sex_[p] != role && role_child[p] != 0) {
          const auto other = static_cast<std::size_t>(role_child[p]);
          stop(rows_[child].line,
               std::string(name(parent)) + " is the " + (role == kMale ? "sire" : "dam") + " of " +
                   std::string(rows_[child].animal) + " and the " +
                   (role == kMale ? "dam" : "sire") + " of " + std::string(rows_[other].animal) +
                   " (line " + std::to_string(rows_[other].line) + ")");
        }
        sex_[p] = role;
        if (role_child[p] == 0) role_child[p] = static_cast<std::int32_t>(child);
      }
    }
  }

  // Each animal's generation, parents before offspring; an animal among
  // its own ancestors stops, naming the cycle.
  std::vector<std::int32_t> generations() const {
    const auto n = static_cast<std::size_t>(animals());
    std::vector<std::int32_t> waiting(n + 1, 0);
    std::vector<std::int32_t> child_start(n + 2, 0);
    for (std::size_t c = 1; c < rows_.size(); ++c) {
      for (const std::int32_t p : {parents_[c].first, parents_[c].second}) {
        if (p == 0) continue;
        ++waiting[c];
        ++child_start[static_cast<std::size_t>(p) + 1];
      }
    }
    for (std::size_t a = 1; a <= n + 1; ++a) child_start[a] += child_start[a - 1];
    std::vector<std::int32_t> children(static_cast<std::size_t>(child_start[n + 1]));
    std::vector<std::int32_t> next(child_start.begin(), child_start.end() - 1);
    for (std::size_t c = 1; c < rows_.size(); ++c) {
      for (const std::int32_t p : {parents_[c].first, parents_[c].second}) {
        if (p != 0) children[static_cast<std::size_t>(next[static_cast<std::size_t>(p)]++)] = static_cast<std::int32_t>(c);
      }
    }
    std::vector<std::int32_t> generation(n + 1, 0);
    std::vector<std::int32_t> ready;
    for (std::size_t a = 1; a <= n; ++a) {
      if (waiting[a] == 0) ready.push_back(static_cast<std::int32_t>(a));
    }
    std::size_t placed = 0;
    while (!ready.empty()) {
      const auto a = static_cast<std::size_t>(ready.back());
      ready.pop_back();
      ++placed;
      for (std::int32_t k = child_start[a]; k < child_start[a + 1]; ++k) {
        const auto c = static_cast<std::size_t>(children[static_cast<std::size_t>(k)]);
        generation[c] = std::max(generation[c], generation[a] + 1);
        if (--waiting[c] == 0) ready.push_back(static_cast<std::int32_t>(c));
      }
    }
    if (placed < n) stop_on_cycle(waiting);
    return generation;
  }

  // Some animal still waits for a parent: following waiting parents from it
  // must come round to an animal already met.
  [[noreturn]] void stop_on_cycle(const std::vector<std::int32_t>& waiting) const {
    std::int32_t a = 1;
    while (waiting[static_cast<std::size_t>(a)] == 0) ++a;
    std::vector<std::int32_t> path;
    std::vector<std::size_t> seen(waiting.size(), 0);
    while (seen[static_cast<std::size_t>(a)] == 0) {
      seen[static_cast<std::size_t>(a)] = path.size() + 1;
      path.push_back(a);
      const auto [sire, dam] = parents_[static_cast<std::size_t>(a)];
      a = sire != 0 && waiting[static_cast<std::size_t>(sire)] != 0 ? sire : dam;
    }
    const std::vector<std::int32_t> cycle(path.begin() + static_cast<std::ptrdiff_t>(seen[static_cast<std::size_t>(a)] - 1), path.end());
    std::string text = "animal " + std::string(name(cycle.front())) + " is among its own ancestors: ";
    std::string lines;
    for (const std::int32_t animal : cycle) {
      const auto [sire, dam] = parents_[static_cast<std::size_t>(animal)];
      const std::int32_t parent = sire != 0 && waiting[static_cast<std::size_t>(sire)] != 0 ? sire : dam;
      text += std::string(name(animal)) + (parent == sire ? " has sire " : " has dam ");
      lines += (lines.empty() ? "" : ", ") + std::to_string(rows_[static_cast<std::size_t>(animal)].line);
    }
    text += std::string(name(cycle.front())) + " (lines " + lines + ")";
    stop(rows_[static_cast<std::size_t>(cycle.front())].line, text);
  }

  // A ped.pre that pedsim bred lists its founders (the first rows, without
  // parents; the first MALE of them male), then each generation's MALE x
  // floor((N - MALE) / MALE) offspring: their generations are those of
  // birth, which the parents alone do not tell (a parent may come from any
  // earlier generation). A file not laid out so keeps the parents' count.
  void keep_bred_generations(std::vector<std::int32_t>& generation) const {
    const std::size_t listed = rows_.size() - 1;
    std::size_t founders = 0;
    while (founders < listed && parents_[founders + 1] == std::pair{0, 0}) ++founders;
    std::size_t males = 0;
    while (males < founders && rows_[males + 1].sex == kMale) ++males;
    if (males == 0 || !names_.empty()) return;
    const std::size_t per_generation = males * ((founders - males) / males);
    std::vector<std::int32_t> born(generation.size(), 0);
    for (std::size_t a = founders + 1; a <= listed; ++a) {
      if (per_generation == 0) return;
      born[a] = static_cast<std::int32_t>(1 + (a - founders - 1) / per_generation);
      for (const std::int32_t parent : {parents_[a].first, parents_[a].second}) {
        if (parent == 0 || born[static_cast<std::size_t>(parent)] >= born[a] ||
            static_cast<std::size_t>(parent) >= a) {
          return;
        }
      }
    }
    generation = born;
  }

  // The animals numbered by generation, then in their first numbering.
  SuppliedPedigree in_order(const std::vector<std::int32_t>& generation) const {
    const auto n = static_cast<std::size_t>(animals());
    // By generation, each in the first numbering's order.
    std::vector<std::size_t> start(n + 2, 0);
    for (std::size_t a = 1; a <= n; ++a) ++start[static_cast<std::size_t>(generation[a]) + 1];
    for (std::size_t g = 1; g < start.size(); ++g) start[g] += start[g - 1];
    std::vector<std::int32_t> order(n);
    for (std::size_t a = 1; a <= n; ++a) {
      order[start[static_cast<std::size_t>(generation[a])]++] = static_cast<std::int32_t>(a);
    }
    std::vector<std::int32_t> number(n + 1, 0);
    for (std::size_t k = 0; k < n; ++k) number[static_cast<std::size_t>(order[k])] = static_cast<std::int32_t>(k + 1);
    SuppliedPedigree p;
    p.added_founders = static_cast<std::int32_t>(names_.size());
    p.names.reserve(n + 1);
    for (auto* column : {&p.sire, &p.dam, &p.sex, &p.generation}) column->reserve(n + 1);
    for (const std::int32_t a : order) {
      const auto i = static_cast<std::size_t>(a);
      const auto [sire, dam] = i < parents_.size() ? parents_[i] : std::pair{0, 0};
      p.names.emplace_back(name(a));
      p.sire.push_back(number[static_cast<std::size_t>(sire)]);
      p.dam.push_back(number[static_cast<std::size_t>(dam)]);
      p.sex.push_back(sex_[i]);
      p.generation.push_back(generation[i]);
    }
    return p;
  }

  std::string_view path_;
  PedigreeFormat format_;
  // Per listed animal (from 1), its row; then the parents named but not
  // listed, by name.
  std::vector<Row> rows_;
  std::vector<std::string_view> names_;
  NameTable number_{0};
  // Per listed animal, its sire's and dam's first numbers.
  std::vector<std::pair<std::int32_t, std::int32_t>> parents_;
  std::vector<std::int32_t> sex_;
};

PedigreeFormat format_of_name(std::string_view path) {
  if (path.ends_with(".fam")) return PedigreeFormat::kFam;
  if (path.ends_with(".pre")) return PedigreeFormat::kPre;
  return PedigreeFormat::kTable;
}

}  // namespace

bool SuppliedPedigree::names_are_numbers() const {
  for (std::size_t a = 1; a < names.size(); ++a) {
    if (names[a] != std::to_string(a)) return false;
  }
  return true;
}

PedigreeFormat pedigree_format(std::string_view name) {
  if (name == "table") return PedigreeFormat::kTable;
  if (name == "fam") return PedigreeFormat::kFam;
  if (name == "pre") return PedigreeFormat::kPre;
  stop_usage(std::string("--pedigree-format is table, fam or pre, got '").append(name).append("'"));
}

SuppliedPedigree parse_pedigree(std::string_view text, std::string_view path,
                                PedigreeFormat format) {
  if (format == PedigreeFormat::kDetect) format = format_of_name(path);
  return PedigreeReader(path, format).read(text);
}

namespace {

[[noreturn]] void stop_reading(const std::string& path, int error) {
  throw Stop(code::kUsage,
             "pedsim: cannot read pedigree file " + path + ": " + std::strerror(error) + "\n",
             error, path);
}

// The whole file, read in one piece where its size is known.
std::string whole_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) stop_reading(path, errno);
  struct stat info {};
  std::string text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    text.reserve(static_cast<std::size_t>(info.st_size));
  }
  char block[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      stop_reading(path, error);
    }
    text.append(block, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return text;
}

}  // namespace

SuppliedPedigree read_pedigree(const std::string& path, PedigreeFormat format) {
  return parse_pedigree(whole_file(path), path, format);
}

void read_genotyped(const std::string& path, SuppliedPedigree& pedigree) {
  parse_genotyped(whole_file(path), path, pedigree);
}

void parse_genotyped(std::string_view text, std::string_view path, SuppliedPedigree& pedigree) {
  std::unordered_map<std::string_view, std::int32_t> number;
  for (std::int32_t a = 1; a <= pedigree.animals(); ++a) {
    number.emplace(pedigree.names[static_cast<std::size_t>(a)], a);
  }
  pedigree.genotyped.assign(pedigree.names.size(), 0);
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const Fields fields = split_blanks(line);
    start = end + 1;
    ++line_number;
    if (fields.size() == 0) continue;
    const std::string_view name = fields[0];
    const auto found = number.find(name);
    if (fields.size() > 1 || found == number.end()) {
      stop_usage(std::string("genotyped file ")
                     .append(path)
                     .append(", line ")
                     .append(std::to_string(line_number))
                     .append(": ")
                     .append(fields.size() > 1 ? "one animal per line"
                                               : std::string(name.substr(0, kMaxNameBytes))
                                                     .append(" is not an animal of the pedigree")));
    }
    pedigree.genotyped[static_cast<std::size_t>(found->second)] = 1;
  }
}

}  // namespace pedsim
