// A pedigree the user supplies: read, checked and put in an order where
// parents come first.

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <unordered_map>

#include "io/diagnostic.hpp"
#include "input/input_file.hpp"
#include "pedsim/simulation.hpp"
#include "platform/large_memory.hpp"
#include "platform/helper_thread.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

constexpr std::int32_t kUnknownSex = 0;
// A parent the first look-up did not find among the listed animals.
constexpr std::int32_t kNotListed = -1;

bool is_unknown(std::string_view name) { return name == "0" || name == "NA" || name == "."; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The first fields of a line (as many as a row reads) and how many it has.
struct Fields {
  static constexpr std::size_t kKept = 16;
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

// Animal numbers by name: open addressing over a power-of-two table,
// each slot holding a number (0: empty), its name's hash and where the name
// lies in the text every name is a piece of, so that a look-up reads the
// slot and the name and nothing between.
class NameTable {
 public:
  NameTable() = default;
  NameTable(std::size_t names, std::string_view text)
      : slots_(std::bit_ceil(names + names / 2 + 16)), text_(text) {}

  static std::uint32_t hash_of(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
  }

  // Asks for the memory a search of `hash` will read: first its slot, then
  // (once that has come) the name the slot holds.
  void prefetch_slot(std::uint32_t hash) const { __builtin_prefetch(&slots_[hash & mask()]); }
  void prefetch_name(std::uint32_t hash) const {
    const Slot& slot = slots_[hash & mask()];
    if (slot.number != 0) __builtin_prefetch(text_.data() + (slot.place >> kLengthBits));
  }

  // The number of `name` (whose hash is `hash`), 0 when it is not here.
  std::int32_t find(std::string_view name, std::uint32_t hash) const {
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      const Slot& slot = slots_[at];
      if (slot.number == 0) return 0;
      if (holds(slot, name, hash)) return slot.number;
    }
  }

  // The number of `name` (whose hash is `hash`, a piece of the text), or
  // `next` when the name is new (`added` then).
  std::pair<std::int32_t, bool> find_or_add(std::string_view name, std::uint32_t hash,
                                            std::int32_t next) {
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      Slot& slot = slots_[at];
      if (slot.number == 0) {
        const auto offset = static_cast<std::uint64_t>(name.data() - text_.data());
        slot = {next, hash, offset << kLengthBits | name.size()};
        if (++used_ * 4 > slots_.size() * 3) grow();
        return {next, true};
      }
      if (holds(slot, name, hash)) return {slot.number, false};
    }
  }

 private:
  // Names are at most kMaxNameBytes (255) long.
  static constexpr int kLengthBits = 8;
  struct Slot {
    std::int32_t number = 0;
    std::uint32_t hash = 0;
    // The name's offset in the text, then its length in the low bits.
    std::uint64_t place = 0;
  };
  std::size_t mask() const { return slots_.size() - 1; }

  bool holds(const Slot& slot, std::string_view name, std::uint32_t hash) const {
    return slot.hash == hash && (slot.place & ((1U << kLengthBits) - 1)) == name.size() &&
           std::memcmp(text_.data() + (slot.place >> kLengthBits), name.data(), name.size()) == 0;
  }

  void grow() {
    std::vector<Slot, LargeAllocator<Slot>> old(2 * slots_.size());
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.number == 0) continue;
      std::size_t at = slot.hash & mask();
      while (slots_[at].number != 0) at = (at + 1) & mask();
      slots_[at] = slot;
    }
  }

  std::vector<Slot, LargeAllocator<Slot>> slots_;
  std::string_view text_;
  std::size_t used_ = 0;
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool is_comment(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string_view::npos && line[first] == '#';
}

// Where a row's fields are: animal, sire, dam and (when any) sex, by
// column, and how many columns a row needs.
struct Layout {
  static constexpr std::size_t kNone = SIZE_MAX;
  std::size_t animal = 0;
  std::size_t sire = 1;
  std::size_t dam = 2;
  std::size_t sex = 3;
  std::size_t needed = 3;
  // Sex is read only when the row has its column (a table's fourth).
  bool sex_optional = true;
  std::string needed_text = " (animal, sire, dam)";
};

Layout layout_of(const PedigreeFormat& format) {
  return {
      format.animal,
      format.sire,
      format.dam,
      format.sex,
      1 + (format.sex_optional ? std::max({format.animal, format.sire, format.dam})
                               : std::max({format.animal, format.sire, format.dam, format.sex})),
      format.sex_optional,
      std::string(format.columns_text)};
}

// What a header's column names: the words of the field (lower case, marks
// such as '_' left out, a closing "id" dropped: "Sire_ID" is "sire").
enum class Column { kOther, kAnimal, kSire, kDam, kSex };

Column column_named(std::string_view field) {
  std::string word;
  for (const char c : field) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  if (word.size() > 2 && word.ends_with("id")) word.resize(word.size() - 2);
  for (const std::string_view animal :
       {"animal", "id", "individual", "indiv", "ind", "iid", "name"})
    if (word == animal) return Column::kAnimal;
  if (word == "sire" || word == "father") return Column::kSire;
  if (word == "dam" || word == "mother") return Column::kDam;
  if (word == "sex" || word == "gender") return Column::kSex;
  return Column::kOther;
}

// An animal's row as the file gives it: its three names (pieces of the
// file's text, each at most kMaxNameBytes), sex and line, in 32 bytes.
class Row {
 public:
  Row() = default;
  Row(std::string_view animal, std::string_view sire, std::string_view dam, std::size_t line)
      : at_{animal.data(), sire.data(), dam.data()},
        size_{static_cast<std::uint8_t>(animal.size()), static_cast<std::uint8_t>(sire.size()),
              static_cast<std::uint8_t>(dam.size())},
        line_(static_cast<std::uint32_t>(line)) {}
  std::string_view animal() const { return {at_[0], size_[0]}; }
  std::string_view sire() const { return {at_[1], size_[1]}; }
  std::string_view dam() const { return {at_[2], size_[2]}; }
  std::size_t line() const { return line_; }

  std::int8_t sex = kUnknownSex;

 private:
  std::array<const char*, 3> at_{};
  std::array<std::uint8_t, 3> size_{};
  std::uint32_t line_ = 0;
};

class PedigreeReader {
 public:
  PedigreeReader(std::string_view path, const PedigreeFormat& format)
      : path_(path), format_(format) {}

  SuppliedPedigree read(std::string_view text) {
    text_ = text;
    read_rows(text);
    number_animals();
    check_roles();
    std::vector<std::int32_t> generation = generations();
    if (format_.unbred_rows) keep_bred_generations(generation);
    return in_order(generation);
  }

 private:
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
    return a < rows_.size() ? "line " + std::to_string(rows_[a].line()) : "not listed";
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
      if (++line_number > UINT32_MAX) stop(line_number, "more lines than a pedigree can hold");
      if (line.ends_with('\r')) line.remove_suffix(1);
      const Fields fields = split_blanks(line);
      if (fields.control) check_text(line, line_number);
      if (fields.size() == 0 || is_comment(line)) continue;
      const bool header = first_row && format_.header && read_header(fields, line_number);
      first_row = false;
      if (header) continue;
      if (format_.unbred_rows && fields[0] == "0") continue;
      rows_.push_back(row_of(fields, line_number));
    }
    if (rows_.size() == 1) {
      stop_usage("pedigree file " + std::string(path_) +
                 " lists no animal (no row of data: it is empty, or holds only blank lines, "
                 "comments, a header or unbred rows)");
    }
  }

  // A table's first row, when it names its columns: the layout they give
  // (in any order; other columns are ignored and noted). A row that names
  // some columns but not the animal's, sire's and dam's stops.
  bool read_header(const Fields& fields, std::size_t line) {
    std::array<std::size_t, 5> at;
    at.fill(Layout::kNone);
    std::vector<std::string> others;
    bool named = false;
    for (std::size_t k = 0; k < std::min(fields.size(), Fields::kKept); ++k) {
      const Column column = column_named(fields[k]);
      named |= column != Column::kOther;
      std::size_t& place = at[static_cast<std::size_t>(column)];
      if (column == Column::kOther) {
        others.emplace_back(fields[k]);
      } else if (place != Layout::kNone) {
        stop(line, "the header names two " + lower(fields[k]) + " columns ('" +
                       std::string(fields[place]) + "' and '" + std::string(fields[k]) + "')");
      } else {
        place = k;
      }
    }
    if (!named) return false;
    const auto animal = static_cast<std::size_t>(Column::kAnimal);
    // "calf sire dam": the first column, unnamed, is the animal's.
    if (at[animal] == Layout::kNone && column_named(fields[0]) == Column::kOther) {
      at[animal] = 0;
      others.erase(others.begin());
    }
    std::string missing;
    for (const auto& [column, word] : {std::pair{Column::kAnimal, "animal (or id)"},
                                       std::pair{Column::kSire, "sire (or father)"},
                                       std::pair{Column::kDam, "dam (or mother)"}}) {
      if (at[static_cast<std::size_t>(column)] != Layout::kNone) continue;
      missing += (missing.empty() ? "" : ", ") + std::string(word);
    }
    if (!missing.empty()) {
      stop(line,
           "the first row is neither a row of data nor a header naming the animal, sire "
           "and dam columns: it has no column " +
               missing);
    }
    layout_.animal = at[animal];
    layout_.sire = at[static_cast<std::size_t>(Column::kSire)];
    layout_.dam = at[static_cast<std::size_t>(Column::kDam)];
    layout_.sex = at[static_cast<std::size_t>(Column::kSex)];
    layout_.needed = 1 + std::max({layout_.animal, layout_.sire, layout_.dam});
    layout_.sex_optional = true;
    layout_.needed_text = " (as the header on line " + std::to_string(line) + " names them)";
    ignored_columns_ = std::move(others);
    return true;
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
    const Layout& l = layout_;
    if (fields.size() < l.needed) {
      stop(line, std::to_string(fields.size()) + (fields.size() == 1 ? " column" : " columns") +
                     ", a row needs " + std::to_string(l.needed) + l.needed_text);
    }
    for (const std::string_view name : {fields[l.animal], fields[l.sire], fields[l.dam]}) {
      if (name.size() > kMaxNameBytes) {
        stop(line, "a name of " + std::to_string(name.size()) + " bytes, more than " +
                       std::to_string(kMaxNameBytes));
      }
    }
    Row row(fields[l.animal], fields[l.sire], fields[l.dam], line);
    if (is_unknown(row.animal()))
      stop(line, "the animal's name '" + std::string(row.animal()) + "' means an unknown parent");
    if (l.sex != Layout::kNone && fields.size() > l.sex)
      row.sex = static_cast<std::int8_t>(sex_of(fields[l.sex], line));
    return row;
  }

  std::int32_t sex_of(std::string_view text, std::size_t line) const {
    const std::string s = lower(text);
    if (s == "1" || s == "m" || s == "male") return kMale;
    if (s == "2" || s == "f" || s == "female") return kFemale;
    // PLINK's other codes (0, -9, ...) are an unknown sex.
    if (format_.any_code_unknown_sex || s == "0" || s == "na" || s == ".") return kUnknownSex;
    stop(line, "sex '" + std::string(text) + "' is not 1, 2, M, F, male, female, 0, NA or '.'");
  }

  // Numbers every animal: the listed in the file's order, then the parents
  // named but not listed, as founders, in the order first named. Names are
  // looked up a batch at a time, their memory asked for ahead: the table and
  // the names lie all over memory.
  void number_animals() {
    const std::size_t listed = rows_.size() - 1;
    number_ = NameTable(listed, text_);
    in_batches(
        1, listed + 1, 1, [this](std::size_t a, std::size_t) { return rows_[a].animal(); },
        [this](std::size_t a, std::size_t, std::string_view name, std::uint32_t hash) {
          const auto [first, added] = number_.find_or_add(name, hash, static_cast<std::int32_t>(a));
          if (!added) {
            stop(rows_[a].line(), "animal " + std::string(name) + " is listed again (first on " +
                                      line_of(first) + ")");
          }
        });
    // The parents among the listed are found on both cores; the others
    // are then numbered in the order first named.
    parents_.assign(rows_.size(), {0, 0});
    const auto name_at = [this](std::size_t a, std::size_t k) {
      return k == 0 ? rows_[a].sire() : rows_[a].dam();
    };
    const auto find_listed = [this, &name_at](std::size_t from, std::size_t to) {
      in_batches(from, to, 2, name_at,
                 [this](std::size_t a, std::size_t k, std::string_view name, std::uint32_t hash) {
                   const std::int32_t found = is_unknown(name) ? 0 : number_.find(name, hash);
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
  // `use(row, k, name, hash)` in order. The memory each use reads is asked
  // for ahead, in two steps: a name's slot, and (once the slot has come)
  // the name the slot holds.
  template <class NameAt, class Use>
  void in_batches(std::size_t from, std::size_t to, std::size_t per_row, const NameAt& name_at,
                  const Use& use) const {
    constexpr std::size_t kSlotAhead = 96;
    constexpr std::size_t kNameAhead = 48;
    constexpr std::size_t kRing = 128;
    std::array<std::uint32_t, kRing> hashes{};
    const std::size_t total = (to - from) * per_row;
    const auto name_of_index = [&](std::size_t t) {
      return name_at(from + t / per_row, t % per_row);
    };
    for (std::size_t t = 0; t < total + kSlotAhead; ++t) {
      if (t < total) {
        hashes[t % kRing] = NameTable::hash_of(name_of_index(t));
        number_.prefetch_slot(hashes[t % kRing]);
      }
      if (t >= kSlotAhead - kNameAhead && t - (kSlotAhead - kNameAhead) < total) {
        number_.prefetch_name(hashes[(t - (kSlotAhead - kNameAhead)) % kRing]);
      }
      if (t >= kSlotAhead) {
        const std::size_t u = t - kSlotAhead;
        use(from + u / per_row, u % per_row, name_of_index(u), hashes[u % kRing]);
      }
    }
  }

  std::int32_t parent_number(std::string_view name, std::uint32_t hash) {
    if (is_unknown(name)) return 0;
    const auto [number, added] =
        number_.find_or_add(name, hash, static_cast<std::int32_t>(names_.size() + rows_.size()));
    if (added) names_.push_back(name);
    return number;
  }

  std::int32_t animals() const {
    return static_cast<std::int32_t>(rows_.size() - 1 + names_.size());
  }

  std::string_view name(std::int32_t animal) const {
    const auto a = static_cast<std::size_t>(animal);
    return a < rows_.size() ? rows_[a].animal() : names_[a - rows_.size()];
  }

  std::int32_t recorded_sex(std::int32_t animal) const {
    const auto a = static_cast<std::size_t>(animal);
    return a < rows_.size() ? rows_[a].sex : kUnknownSex;
  }

  // A sire is male and never a dam; a dam female and never a sire.
  void check_roles() {
    sex_.assign(static_cast<std::size_t>(animals()) + 1, kUnknownSex);
    std::vector<std::int32_t> role_child(sex_.size(), 0);
    std::vector<std::int8_t> recorded_sexes(sex_.size(), kUnknownSex);
    for (std::int32_t a = 1; a <= animals(); ++a) {
      sex_[static_cast<std::size_t>(a)] = recorded_sex(a);
      recorded_sexes[static_cast<std::size_t>(a)] = static_cast<std::int8_t>(recorded_sex(a));
    }
    constexpr std::size_t kAhead = 16;
    for (std::size_t child = 1; child < rows_.size(); ++child) {
      if (child + kAhead < rows_.size()) {
        for (const std::int32_t parent :
             {parents_[child + kAhead].first, parents_[child + kAhead].second}) {
          const auto p = static_cast<std::size_t>(parent);
          __builtin_prefetch(&sex_[p]);
          __builtin_prefetch(&role_child[p]);
          __builtin_prefetch(&recorded_sexes[p]);
        }
      }
      for (const auto& [parent, role] :
           {std::pair{parents_[child].first, kMale}, std::pair{parents_[child].second, kFemale}}) {
        if (parent == 0) continue;
        const auto p = static_cast<std::size_t>(parent);
        const std::int32_t recorded = recorded_sexes[p];
        if (recorded != kUnknownSex && recorded != role) {
          stop(rows_[child].line(),
               std::string(name(parent)) + " is the " + (role == kMale ? "sire" : "dam") + " of " +
                   std::string(rows_[child].animal()) + " but recorded " +
                   (recorded == kMale ? "male" : "female") + " (" + line_of(parent) + ")");
        }
        if (sex_[p] != kUnknownSex && sex_[p] != role && role_child[p] != 0) {
          const auto other = static_cast<std::size_t>(role_child[p]);
          stop(rows_[child].line(),
               std::string(name(parent)) + " is the " + (role == kMale ? "sire" : "dam") + " of " +
                   std::string(rows_[child].animal()) + " and the " +
                   (role == kMale ? "dam" : "sire") + " of " + std::string(rows_[other].animal()) +
                   " (line " + std::to_string(rows_[other].line()) + ")");
        }
        sex_[p] = role;
        if (role_child[p] == 0) role_child[p] = static_cast<std::int32_t>(child);
      }
    }
  }

  // Each animal's generation, parents before offspring; an animal among
  // its own ancestors stops, naming the cycle.
  std::vector<std::int32_t> generations() const {
    if (auto generation = generations_in_file_order()) return *std::move(generation);
    return generations_by_waiting_parents();
  }

  // Most files list parents before their offspring: then one pass in the
  // file's order gives every generation (the parents' memory asked for
  // ahead). Nothing when a listed parent comes after its offspring.
  std::optional<std::vector<std::int32_t>> generations_in_file_order() const {
    constexpr std::size_t kAhead = 16;
    const std::size_t listed = rows_.size() - 1;
    std::vector<std::int32_t> generation(static_cast<std::size_t>(animals()) + 1, 0);
    for (std::size_t a = 1; a <= listed; ++a) {
      if (a + kAhead <= listed) {
        __builtin_prefetch(&generation[static_cast<std::size_t>(parents_[a + kAhead].first)]);
        __builtin_prefetch(&generation[static_cast<std::size_t>(parents_[a + kAhead].second)]);
      }
      const auto [sire, dam] = parents_[a];
      for (const std::int32_t parent : {sire, dam}) {
        if (static_cast<std::size_t>(parent) >= a && static_cast<std::size_t>(parent) <= listed) {
          return std::nullopt;
        }
      }
      generation[a] = 1 + std::max(generation[static_cast<std::size_t>(sire)],
                                   generation[static_cast<std::size_t>(dam)]);
      if (sire == 0 && dam == 0) generation[a] = 0;
    }
    return generation;
  }

  std::vector<std::int32_t> generations_by_waiting_parents() const {
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
        if (p != 0)
          children[static_cast<std::size_t>(next[static_cast<std::size_t>(p)]++)] =
              static_cast<std::int32_t>(c);
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
    const std::vector<std::int32_t> cycle(
        path.begin() + static_cast<std::ptrdiff_t>(seen[static_cast<std::size_t>(a)] - 1),
        path.end());
    std::string text =
        "animal " + std::string(name(cycle.front())) + " is among its own ancestors: ";
    std::string lines;
    // A long cycle is named by its first links and its length.
    constexpr std::size_t kShown = 20;
    for (std::size_t k = 0; k < cycle.size(); ++k) {
      if (k == kShown) {
        text += "... (" + std::to_string(cycle.size() - kShown) + " more) ... ";
        lines += ", ...";
        break;
      }
      const std::int32_t animal = cycle[k];
      const auto [sire, dam] = parents_[static_cast<std::size_t>(animal)];
      const std::int32_t parent =
          sire != 0 && waiting[static_cast<std::size_t>(sire)] != 0 ? sire : dam;
      text += std::string(name(animal)) + (parent == sire ? " has sire " : " has dam ");
      lines += (lines.empty() ? "" : ", ") +
               std::to_string(rows_[static_cast<std::size_t>(animal)].line());
    }
    text += std::string(name(cycle.front())) + " (lines " + lines + ")";
    stop(rows_[static_cast<std::size_t>(cycle.front())].line(), text);
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
    for (std::size_t k = 0; k < n; ++k)
      number[static_cast<std::size_t>(order[k])] = static_cast<std::int32_t>(k + 1);
    SuppliedPedigree p;
    p.added_founders = static_cast<std::int32_t>(names_.size());
    const std::size_t named = std::min(names_.size(), SuppliedPedigree::kAddedFoundersNamed);
    p.added_founder_names.assign(names_.begin(),
                                 names_.begin() + static_cast<std::ptrdiff_t>(named));
    p.ignored_columns = ignored_columns_;
    p.names.reserve(n + 1);
    for (auto* column : {&p.sire, &p.dam, &p.sex, &p.generation}) column->reserve(n + 1);
    constexpr std::size_t kAhead = 16;
    const auto parents_of = [this](std::size_t a) {
      return a < parents_.size() ? parents_[a] : std::pair{0, 0};
    };
    for (std::size_t k = 0; k < n; ++k) {
      if (k + 2 * kAhead < n) {
        const auto later = static_cast<std::size_t>(order[k + 2 * kAhead]);
        if (later < rows_.size()) __builtin_prefetch(&rows_[later]);
        if (later < parents_.size()) __builtin_prefetch(&parents_[later]);
        __builtin_prefetch(&sex_[later]);
        __builtin_prefetch(&generation[later]);
      }
      if (k + kAhead < n) {
        const auto soon = static_cast<std::size_t>(order[k + kAhead]);
        __builtin_prefetch(name(static_cast<std::int32_t>(soon)).data());
        __builtin_prefetch(&number[static_cast<std::size_t>(parents_of(soon).first)]);
        __builtin_prefetch(&number[static_cast<std::size_t>(parents_of(soon).second)]);
      }
      const std::int32_t a = order[k];
      const auto i = static_cast<std::size_t>(a);
      const auto [sire, dam] = parents_of(i);
      p.names.emplace_back(name(a));
      p.sire.push_back(number[static_cast<std::size_t>(sire)]);
      p.dam.push_back(number[static_cast<std::size_t>(dam)]);
      p.sex.push_back(sex_[i]);
      p.generation.push_back(generation[i]);
    }
    return p;
  }

  std::string_view path_;
  const PedigreeFormat& format_;
  Layout layout_ = layout_of(format_);
  std::vector<std::string> ignored_columns_;
  // The file's text: every name is a piece of it.
  std::string_view text_;
  // Per listed animal (from 1), its row; then the parents named but not
  // listed, by name.
  std::vector<Row, LargeAllocator<Row>> rows_;
  std::vector<std::string_view> names_;
  NameTable number_;
  // Per listed animal, its sire's and dam's first numbers.
  std::vector<std::pair<std::int32_t, std::int32_t>,
              LargeAllocator<std::pair<std::int32_t, std::int32_t>>>
      parents_;
  std::vector<std::int32_t> sex_;
};

}  // namespace

std::string reading_notes(const SuppliedPedigree& pedigree, std::string_view path) {
  const std::string file = "pedsim: pedigree file " + std::string(path) + ": ";
  std::string notes;
  const std::size_t ignored = pedigree.ignored_columns.size();
  if (ignored != 0) {
    notes += file + (ignored == 1 ? "column " : "columns ") +
             joined(pedigree.ignored_columns, ", ") + " ignored\n";
  }
  const auto added = static_cast<std::size_t>(pedigree.added_founders);
  if (added != 0) {
    notes +=
        file + std::to_string(added) + (added == 1 ? " parent" : " parents") +
        " named but not listed, added as founders: " + joined(pedigree.added_founder_names, ", ") +
        (added > pedigree.added_founder_names.size() ? ", ..." : "") + "\n";
  }
  return notes;
}

SuppliedPedigree parse_pedigree(std::string_view text, std::string_view path,
                                const PedigreeFormat* format) {
  return PedigreeReader(path, format != nullptr ? *format : pedigree_format_of_path(path))
      .read(text);
}

SuppliedPedigree read_pedigree(const std::string& path, const PedigreeFormat* format) {
  return parse_pedigree(read_input_file(path, "pedigree file"), path, format);
}

void read_genotyped(const std::string& path, SuppliedPedigree& pedigree) {
  parse_genotyped(read_input_file(path, "genotyped file"), path, pedigree);
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
