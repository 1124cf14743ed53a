// The parts of a run split by chromosome, joined: a table of the files it
// joins, each with its joiner; files the same in every part are copied.

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_map>

#include "formats/bgzf_file.hpp"
#include "io/buffered_writer.hpp"
#include "io/diagnostic.hpp"
#include "io/whole_file.hpp"
#include "pedsim/merge.hpp"

namespace pedsim {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void cannot_read(const std::string& path) {
  stop_usage("merge: cannot read " + path + ": " + std::strerror(errno != 0 ? errno : EIO));
}

// A part's file read line by line (each with its newline).
class Lines {
 public:
  explicit Lines(std::string path)
      : path_(std::move(path)), file_(std::fopen(path_.c_str(), "rb")) {
    if (file_ == nullptr) cannot_read(path_);
  }
  Lines(const Lines&) = delete;
  Lines& operator=(const Lines&) = delete;
  ~Lines() {
    std::free(line_);
    std::fclose(file_);
  }
  // The next line, or nothing at the end.
  std::optional<std::string_view> next() {
    errno = 0;
    const ssize_t got = ::getline(&line_, &capacity_, file_);
    if (got < 0) {
      if (std::ferror(file_) != 0) cannot_read(path_);
      return std::nullopt;
    }
    return std::string_view(line_, static_cast<std::size_t>(got));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_;
  char* line_ = nullptr;
  std::size_t capacity_ = 0;
};

// The field `k` (0-based) of a tab-separated line, without its newline.
std::string_view field(std::string_view line, int k) {
  for (int f = 0; f < k; ++f) line.remove_prefix(line.find('\t') + 1);
  return line.substr(0, line.find_first_of("\t\n"));
}

// The text of a line after its first `fields` whitespace-separated fields,
// the separator before the next included.
std::string_view after_fields(std::string_view line, int fields) {
  std::size_t at = 0;
  for (int f = 0; f < fields; ++f) {
    at = line.find_first_not_of(" \t", at);
    at = line.find_first_of(" \t\n", at);
    if (at == std::string_view::npos) return {};
  }
  return line.substr(at);
}

struct Join {
  const std::vector<std::string>& parts;
  std::string name;
  WholeFile& out;
  int compression_level;
  std::string path(std::size_t part) const { return (fs::path(parts[part]) / name).string(); }
};

// Rows of animals: each part's row after its first `fields` fields (the
// animal, its parents, ...) follows the first part's, newline moved to the
// end.
void join_rows(const Join& join, int fields) {
  std::vector<std::unique_ptr<Lines>> parts;
  for (std::size_t p = 0; p < join.parts.size(); ++p)
    parts.push_back(std::make_unique<Lines>(join.path(p)));
  BufferedWriter out(join.out);
  std::string row;
  for (;;) {
    const std::optional<std::string_view> first = parts[0]->next();
    if (!first) break;
    row.assign(first->substr(0, first->size() - (first->ends_with('\n') ? 1 : 0)));
    for (std::size_t p = 1; p < parts.size(); ++p) {
      const std::optional<std::string_view> line = parts[p]->next();
      if (!line)
        stop_usage("merge: " + parts[p]->path() + " has fewer rows than " + parts[0]->path());
      std::string_view rest = after_fields(*line, fields);
      if (rest.ends_with('\n')) rest.remove_suffix(1);
      row.append(rest);
    }
    out.write(row);
    out.write("\n");
  }
  out.flush();
}

// The place of each animal in the run's order, by the name its rows give:
// ids.tsv's order where the run has names, else its number.
class AnimalOrder {
 public:
  // By number.
  AnimalOrder() = default;
  explicit AnimalOrder(const std::string& part) {
    const std::string ids = (fs::path(part) / "ids.tsv").string();
    if (!fs::exists(ids)) return;
    Lines lines(ids);
    lines.next();
    for (std::int64_t row = 0; const std::optional<std::string_view> line = lines.next(); ++row) {
      std::string_view name = field(*line, 1);
      if (name.ends_with('\n')) name.remove_suffix(1);
      rank_.emplace(std::string(name), row);
    }
  }
  std::int64_t of(std::string_view animal) const {
    if (rank_.empty()) return std::stoll(std::string(animal));
    const auto found = rank_.find(std::string(animal));
    return found == rank_.end() ? -1 : found->second;
  }

 private:
  std::unordered_map<std::string, std::int64_t> rank_;
};

// Rows by animal, each animal's in the map's order: the parts' rows taken
// animal by animal, each part's in turn. A table (errors.tsv) has one
// header and names its animals in its first tab-separated column; ped.errors
// has no header and numbers them in its first blank-separated one.
void join_animal_rows(const Join& join, bool table) {
  const AnimalOrder order = table ? AnimalOrder(join.parts[0]) : AnimalOrder();
  std::vector<std::unique_ptr<Lines>> parts;
  std::vector<std::string> current(join.parts.size());
  std::vector<bool> has(join.parts.size());
  BufferedWriter out(join.out);
  const auto advance = [&](std::size_t p) {
    const std::optional<std::string_view> line = parts[p]->next();
    has[p] = line.has_value();
    if (line) current[p].assign(*line);
  };
  const auto animal = [&](std::string_view line) {
    if (table) return field(line, 0);
    line.remove_prefix(std::min(line.size(), line.find_first_not_of(' ')));
    return line.substr(0, line.find_first_of(" \t\n"));
  };
  for (std::size_t p = 0; p < join.parts.size(); ++p) {
    parts.push_back(std::make_unique<Lines>(join.path(p)));
    advance(p);
    if (!table) continue;
    if (p == 0 && has[0]) out.write(current[0]);
    advance(p);
  }
  for (;;) {
    std::size_t best = parts.size();
    std::int64_t best_rank = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
      if (!has[p]) continue;
      const std::int64_t rank = order.of(animal(current[p]));
      if (best == parts.size() || rank < best_rank) {
        best = p;
        best_rank = rank;
      }
    }
    if (best == parts.size()) break;
    out.write(current[best]);
    advance(best);
  }
  out.flush();
}

void join_error_table(const Join& join) { join_animal_rows(join, true); }
void join_error_list(const Join& join) { join_animal_rows(join, false); }

// A table whose rows are the same in every part but for one column, a
// count over the markers: the first part's rows with the parts' counts
// summed.
void join_summed_column(const Join& join, int column) {
  std::vector<std::unique_ptr<Lines>> parts;
  for (std::size_t p = 0; p < join.parts.size(); ++p) {
    parts.push_back(std::make_unique<Lines>(join.path(p)));
  }
  BufferedWriter out(join.out);
  for (bool header = true;; header = false) {
    const std::optional<std::string_view> first = parts[0]->next();
    if (!first) break;
    const std::string row(*first);
    std::int64_t sum = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
      const std::optional<std::string_view> line = p == 0 ? first : parts[p]->next();
      if (!line)
        stop_usage("merge: " + parts[p]->path() + " has fewer rows than " + parts[0]->path());
      if (!header)
        sum += std::stoll(std::string(field(p == 0 ? std::string_view(row) : *line, column)));
    }
    if (header) {
      out.write(row);
      continue;
    }
    const std::string_view count = field(row, column);
    const auto at = static_cast<std::size_t>(count.data() - row.data());
    out.write(std::string_view(row).substr(0, at));
    out.write(std::to_string(sum));
    out.write(std::string_view(row).substr(at + count.size()));
  }
  out.flush();
}

// pedigree_truth.tsv: the exclusions of each recorded parent, column 7.
void join_pedigree_truth(const Join& join) { join_summed_column(join, 6); }

void join_pre(const Join& join) { join_rows(join, 4); }
void join_ped(const Join& join) { join_rows(join, 6); }

// The bytes of `path` after its first `skip`, onto `out`.
void copy_bytes(const std::string& path, std::size_t skip, ByteSink& out) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in || std::fseek(in.get(), static_cast<long>(skip), SEEK_SET) != 0) cannot_read(path);
  std::vector<char> buffer(std::size_t{1} << 22);
  for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
    out.write({buffer.data(), got});
  }
  if (std::ferror(in.get()) != 0) cannot_read(path);
}

// Each part's bytes after its first `skip` (the first part's whole).
void join_bytes(const Join& join, std::size_t skip) {
  for (std::size_t p = 0; p < join.parts.size(); ++p)
    copy_bytes(join.path(p), p > 0 ? skip : 0, join.out);
}

void join_lines(const Join& join) { join_bytes(join, 0); }
// A .bed's three bytes of magic and mode stand first.
void join_bed(const Join& join) { join_bytes(join, 3); }

// A BGZF part read whole, uncompressed, a block at a time.
class BgzfIn {
 public:
  explicit BgzfIn(std::string path) : path_(std::move(path)), bgzf_(bgzf_open(path_.c_str(), "r")) {
    if (bgzf_ == nullptr) cannot_read(path_);
  }
  BgzfIn(const BgzfIn&) = delete;
  BgzfIn& operator=(const BgzfIn&) = delete;
  ~BgzfIn() { bgzf_close(bgzf_); }
  BGZF* get() const { return bgzf_; }
  const std::string& path() const { return path_; }
  // Exactly `bytes` bytes, or a stop.
  void read(void* to, std::size_t bytes) {
    if (bgzf_read(bgzf_, to, bytes) != static_cast<ssize_t>(bytes)) cannot_read(path_);
  }

 private:
  std::string path_;
  BGZF* bgzf_;
};

// The merged header: the first part's lines, with every part's contigs in
// the place of its own.
std::string merged_header(const std::vector<std::vector<std::string>>& headers) {
  std::string text;
  bool contigs_written = false;
  for (const std::string& line : headers[0]) {
    if (!line.starts_with("##contig=")) {
      text.append(line);
      continue;
    }
    if (contigs_written) continue;
    for (const std::vector<std::string>& part : headers) {
      for (const std::string& contig : part) {
        if (contig.starts_with("##contig=")) text.append(contig);
      }
    }
    contigs_written = true;
  }
  return text;
}

// The header's lines, each with its newline, from a header's text.
std::vector<std::string> header_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

void check_samples(const std::vector<std::vector<std::string>>& headers,
                   const std::vector<std::string>& paths) {
  for (std::size_t p = 1; p < headers.size(); ++p) {
    if (headers[p].empty() || headers[0].empty() || headers[p].back() != headers[0].back()) {
      stop_usage("merge: " + paths[p] + " has other samples than " + paths[0]);
    }
  }
}

// An IndexedFile of the merged file and its index, both WholeFiles.
IndexedFile indexed(const Join& join, WholeFile& index, int unit) {
  return {.path = join.out.new_path(),
          .index_path = index.new_path(),
          .shown_path = join.out.shown_path(),
          .shown_index_path = index.shown_path(),
          .unit = unit,
          .progress = nullptr,
          .stage = "merging",
          .expected_bytes = 0,
          .compression_level = join.compression_level};
}

void join_vcf(const Join& join, WholeFile& index_file) {
  std::vector<std::unique_ptr<BgzfIn>> parts;
  std::vector<std::vector<std::string>> headers(join.parts.size());
  std::vector<std::string> paths;
  kstring_t line = KS_INITIALIZE;
  for (std::size_t p = 0; p < join.parts.size(); ++p) {
    paths.push_back(join.path(p));
    parts.push_back(std::make_unique<BgzfIn>(paths.back()));
    while (bgzf_getline(parts[p]->get(), '\n', &line) >= 0) {
      headers[p].push_back(std::string(ks_str(&line), ks_len(&line)).append("\n"));
      if (headers[p].back().starts_with("#CHROM")) break;
    }
  }
  check_samples(headers, paths);
  std::vector<std::string> contigs;
  std::int64_t longest = 0;
  for (const std::vector<std::string>& header : headers) {
    for (const std::string& h : header) {
      if (!h.starts_with("##contig=<ID=")) continue;
      const std::size_t comma = h.find(',');
      contigs.push_back(h.substr(13, comma - 13));
      longest = std::max<std::int64_t>(longest, std::stoll(h.substr(h.find("length=") + 7)));
    }
  }
  const IndexedFile file = indexed(join, index_file, unit::kVcf);
  RecordIndex index(RecordIndex::Records::kText, contigs, longest);
  BgzfSink sink(file);
  {
    BufferedWriter out(sink);
    out.write(merged_header(headers));
    index.set_header_end(sink.written() + out.pending());
    std::int32_t contig = -1;
    std::string last;
    for (std::unique_ptr<BgzfIn>& part : parts) {
      while (bgzf_getline(part->get(), '\n', &line) >= 0) {
        const std::string_view record(ks_str(&line), ks_len(&line));
        if (field(record, 0) != last) {
          last = field(record, 0);
          ++contig;
        }
        out.write(record);
        out.write("\n");
        const std::int64_t begin = std::stoll(std::string(field(record, 1))) - 1;
        index.add(contig, begin, begin + static_cast<std::int64_t>(field(record, 3).size()),
                  sink.written() + out.pending());
      }
    }
    out.flush();
  }
  ks_free(&line);
  sink.close();
  index.write(file);
}

void join_bcf(const Join& join, WholeFile& index_file) {
  std::vector<std::unique_ptr<BgzfIn>> parts;
  std::vector<std::vector<std::string>> headers;
  std::vector<std::string> paths;
  std::vector<bcf_hdr_t*> part_headers;
  const auto release = [&] {
    for (bcf_hdr_t* h : part_headers) bcf_hdr_destroy(h);
  };
  kstring_t text = KS_INITIALIZE;
  for (std::size_t p = 0; p < join.parts.size(); ++p) {
    paths.push_back(join.path(p));
    parts.push_back(std::make_unique<BgzfIn>(paths.back()));
    char magic[5];
    std::uint32_t length = 0;
    parts[p]->read(magic, 5);
    parts[p]->read(&length, 4);
    std::string header(length, '\0');
    parts[p]->read(header.data(), length);
    part_headers.push_back(bcf_hdr_init("r"));
    if (std::memcmp(magic, "BCF\2\2", 5) != 0 ||
        bcf_hdr_parse(part_headers.back(), header.data()) != 0) {
      release();
      stop_usage("merge: " + paths.back() + " is not a BCF file");
    }
    ks_clear(&text);
    bcf_hdr_format(part_headers.back(), 0, &text);
    headers.push_back(header_lines({ks_str(&text), ks_len(&text)}));
  }
  check_samples(headers, paths);
  std::string merged = merged_header(headers);
  bcf_hdr_t* whole = bcf_hdr_init("r");
  ks_clear(&text);
  const bool parsed =
      bcf_hdr_parse(whole, merged.data()) == 0 && bcf_hdr_format(whole, 1, &text) == 0;
  std::string bcf_text(ks_str(&text), ks_len(&text) + 1);
  ks_free(&text);
  std::vector<std::string> contigs;
  std::int64_t longest = 0;
  for (int c = 0; parsed && c < whole->n[BCF_DT_CTG]; ++c) {
    contigs.emplace_back(bcf_hdr_id2name(whole, c));
    longest = std::max<std::int64_t>(
        longest, static_cast<std::int64_t>(whole->id[BCF_DT_CTG][c].val->info[0]));
  }
  if (!parsed) {
    release();
    bcf_hdr_destroy(whole);
    stop_usage("merge: the headers of " + paths[0] + " and its parts do not join");
  }
  const IndexedFile file = indexed(join, index_file, unit::kBcf);
  RecordIndex index(RecordIndex::Records::kBcf, contigs, longest);
  BgzfSink sink(file);
  const auto length = static_cast<std::uint32_t>(bcf_text.size());
  sink.write({"BCF\2\2", 5});
  sink.write({reinterpret_cast<const char*>(&length), 4});
  sink.write(bcf_text);
  index.set_header_end(sink.written());
  std::vector<char> record;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    for (;;) {
      std::uint32_t sizes[2];
      const ssize_t got = bgzf_read(parts[p]->get(), sizes, sizeof sizes);
      if (got == 0) break;
      if (got != static_cast<ssize_t>(sizeof sizes)) cannot_read(paths[p]);
      record.resize(sizeof sizes + sizes[0] + sizes[1]);
      std::memcpy(record.data(), sizes, sizeof sizes);
      parts[p]->read(record.data() + sizeof sizes, sizes[0] + sizes[1]);
      std::int32_t rid = 0;
      std::int32_t position = 0;
      std::int32_t rlen = 0;
      std::memcpy(&rid, record.data() + 8, 4);
      std::memcpy(&position, record.data() + 12, 4);
      std::memcpy(&rlen, record.data() + 16, 4);
      rid = bcf_hdr_name2id(whole, bcf_hdr_id2name(part_headers[p], rid));
      std::memcpy(record.data() + 8, &rid, 4);
      sink.write({record.data(), record.size()});
      index.add(rid, position, position + rlen, sink.written());
    }
  }
  release();
  bcf_hdr_destroy(whole);
  sink.close();
  index.write(file);
}

// A file joined, by its name: its unit, its joiner and, for a file with an
// index, the index's name.
struct Joined {
  std::string_view name;
  int unit;
  void (*join)(const Join&) = nullptr;
  void (*join_indexed)(const Join&, WholeFile&) = nullptr;
  std::string_view index = {};
};

constexpr Joined kJoined[] = {
    {"ped.pre", unit::kPedPre, join_pre},
    {"true.pre", unit::kTrueGenotypes, join_pre},
    {"ped.bed", unit::kPlink, join_bed},
    {"true.bed", unit::kPlink, join_bed},
    {"ped.bim", unit::kPlink, join_lines},
    {"true.bim", unit::kPlink, join_lines},
    {"ped.ped", unit::kPlinkText, join_ped},
    {"true.ped", unit::kPlinkText, join_ped},
    {"ped.map", unit::kPlinkText, join_lines},
    {"true.map", unit::kPlinkText, join_lines},
    {"ped.vcf.gz", unit::kVcf, nullptr, join_vcf, "ped.vcf.gz.csi"},
    {"true.vcf.gz", unit::kVcf, nullptr, join_vcf, "true.vcf.gz.csi"},
    {"ped.bcf", unit::kBcf, nullptr, join_bcf, "ped.bcf.csi"},
    {"true.bcf", unit::kBcf, nullptr, join_bcf, "true.bcf.csi"},
    {"errors.tsv", unit::kErrorTable, join_error_table},
    {"ped.errors", unit::kPedErrors, join_error_list},
    {"pedigree_truth.tsv", unit::kPedigreeTruth, join_pedigree_truth},
};

const Joined* joined(std::string_view name) {
  for (const Joined& j : kJoined) {
    if (j.name == name || j.index == name) return &j;
  }
  return nullptr;
}

std::vector<std::string> files_of(const std::string& folder) {
  std::error_code error;
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && !name.starts_with(".")) names.push_back(name);
  }
  if (error) stop_usage("merge: cannot read the folder " + folder + ": " + error.message());
  std::sort(names.begin(), names.end());
  return names;
}

bool same_in_every_part(const std::vector<std::string>& parts, const std::string& name) {
  std::string first;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const std::string path = (fs::path(parts[p]) / name).string();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!in) cannot_read(path);
    std::string text;
    std::vector<char> buffer(std::size_t{1} << 20);
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
      text.append(buffer.data(), got);
    }
    if (p == 0) {
      first = std::move(text);
    } else if (text != first) {
      return false;
    }
  }
  return true;
}

// The model a part's run.tsv names, and the chromosomes it was asked for
// (empty when it is not a part).
std::pair<std::string, std::string> part_model(const std::string& part) {
  const std::string path = (fs::path(part) / "run.tsv").string();
  Lines lines(path);
  const std::optional<std::string_view> first = lines.next();
  const std::string header(first.value_or(""));
  const std::optional<std::string_view> row = first ? lines.next() : std::nullopt;
  if (!row) stop_usage("merge: " + path + " holds no run");
  const auto names = static_cast<int>(std::count(header.begin(), header.end(), '\t')) + 1;
  int column = 0;
  while (column < names && field(header, column) != "model") ++column;
  if (column == names) stop_usage("merge: " + path + " names no model");
  std::string model(field(*row, column));
  constexpr std::string_view kOnly = " only_chromosomes=";
  const std::size_t at = model.find(kOnly);
  if (at == std::string::npos) return {model, ""};
  const std::size_t end = model.find(' ', at + kOnly.size());
  std::string list = model.substr(at + kOnly.size(), end - at - kOnly.size());
  model.erase(at, (end == std::string::npos ? model.size() : end) - at);
  return {model, list};
}

// Parts of one run, each with chromosomes of its own: by their run.tsv,
// where they have one.
void check_parts(const std::vector<std::string>& parts) {
  std::string first_model;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    if (!fs::exists(fs::path(parts[p]) / "run.tsv")) continue;
    const auto [model, list] = part_model(parts[p]);
    if (list.empty()) {
      stop_usage("merge: " + parts[p] +
                 " holds a whole run, not a part of one (--only-chromosomes)");
    }
    if (p > 0 && model != first_model) {
      stop_usage("merge: " + parts[p] + " is a part of another run than " + parts[0] + " (" +
                 model + " there, " + first_model + " here)");
    }
    first_model = model;
  }
}

// The lock a run holds on its folder's ped.pre while it writes there: held
// while merging into the folder, so that a run and a merge never write one
// folder at once. -1 where the folder has no ped.pre yet.
int lock_folder(const std::string& folder) {
  const std::string path = (fs::path(folder) / "ped.pre").string();
  const int lock = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (lock < 0) return -1;
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock);
    stop_usage("merge: another pedsim run is writing " + path +
               "; wait for it to end, or merge into another folder");
  }
  return lock;
}

}  // namespace

MergeOutcome merge_parts(const std::vector<std::string>& parts, const std::string& folder,
                         int compression_level) {
  if (parts.size() < 2) stop_usage("merge joins two parts or more");
  for (const std::string& part : parts) {
    std::error_code error;
    if (fs::equivalent(folder, part, error)) {
      stop_usage("merge: --outdir " + folder + " is the part " + part +
                 "; the whole run goes to a folder of its own");
    }
  }
  check_parts(parts);
  const std::vector<std::string> names = files_of(parts[0]);
  for (std::size_t p = 1; p < parts.size(); ++p) {
    const std::vector<std::string> others = files_of(parts[p]);
    for (const std::string& name : names) {
      if (!std::binary_search(others.begin(), others.end(), name)) {
        stop_usage("merge: " + parts[p] + " has no " + name + ", which " + parts[0] + " has");
      }
    }
  }
  std::error_code error;
  fs::create_directories(folder, error);
  const std::unique_ptr<int, void (*)(int*)> lock(new int(lock_folder(folder)), [](int* fd) {
    if (*fd >= 0) ::close(*fd);
    delete fd;
  });
  MergeOutcome outcome;
  for (const std::string& name : names) {
    const Joined* row = joined(name);
    if (row != nullptr && row->index == name) continue;
    WholeFile out;
    out.aim(folder, name, row != nullptr ? row->unit : 0, Links::kFollow);
    if (row == nullptr) {
      if (!same_in_every_part(parts, name)) {
        outcome.not_joined.push_back(name);
        continue;
      }
      out.create();
      copy_bytes((fs::path(parts[0]) / name).string(), 0, out);
    } else if (row->join != nullptr) {
      out.create();
      row->join({parts, name, out, compression_level});
    } else {
      WholeFile index;
      index.aim(folder, row->index, row->unit, Links::kFollow);
      out.create();
      index.create();
      row->join_indexed({parts, name, out, compression_level}, index);
      index.commit();
      outcome.written.emplace_back(row->index);
    }
    out.commit();
    outcome.written.push_back(name);
  }
  return outcome;
}

}  // namespace pedsim
