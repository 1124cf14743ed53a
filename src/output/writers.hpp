#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pedsim {

// Longest text a file field can take: a blank and an 11-character value.
inline constexpr std::size_t kMaxFieldWidth = 12;

// Writes one file field at `out` and returns its length: the value
// right-justified in eight columns while its text (sign included) has at most
// seven characters, so fields always stay split by blanks; a longer text is
// written as one blank followed by the text. Values 0 to 99999 thus appear as
// three blanks and five right-justified columns.
std::size_t format_file_field(char* out, std::int32_t value);

// Longest "ped.pre" record: six fields and a line feed.
inline constexpr std::size_t kMaxPedRecord = 6 * kMaxFieldWidth + 1;

// Lays out the "ped.pre" record of one animal at `out` (room for
// kMaxPedRecord bytes) and returns its length.
std::size_t format_ped_record(char* out, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                              std::int32_t sex, std::int32_t allele1, std::int32_t allele2);

// A console line of a label and an integer: a blank, the label, the integer
// right-justified in twelve columns, a line feed.
std::string console_line_label_int(std::string_view label, std::int32_t value);
// A console line of an integer alone, in twelve columns, and a line feed.
std::string console_line_int(std::int32_t value);

// Standard output. Lines are buffered and written in blocks; a failed write
// (a closed output, a pipe whose reader has gone) is ignored, because the
// console only reports progress. With no descriptor it keeps every line, so
// tests can read what a phase printed.
class Console {
 public:
  explicit Console(int fd = -1) : fd_(fd) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console() { flush(); }

  void write_line(std::string_view line);
  void flush();
  const std::string& captured() const { return buffer_; }

 private:
  int fd_;
  std::string buffer_;
};

// One output file, opened as a numbered unit and written through a large
// buffer in big blocks; once the buffer has grown to a full block, each block
// is written on a background thread while the next is filled. A failed write
// stops the run with the write diagnostic naming the unit and the file's full
// path, at the next flush or close.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { close_quietly(); }

  // Creates (or replaces) `name` in folder `dir` (or `name` itself when it is
  // an absolute path); a failure stops the run with the file-open diagnostic
  // of the system's error.
  void open(const std::string& dir, std::string_view name, int unit);
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Room for `bytes` more bytes at the end of the buffer; commit what was used.
  char* reserve(std::size_t bytes);
  void commit(std::size_t bytes) { used_ += bytes; }
  void write(std::string_view text);
  // Writes `data` at once, after anything buffered; a failure stops the run
  // with the write diagnostic.
  void write_through(std::string_view data);

  void flush();
  // Flushes and closes; a failure stops the run with the write diagnostic.
  void close();
  // Used when the run stops: writes out what it can, closes, never throws.
  void close_quietly() noexcept;

 private:
  // Waits for the block being written in the background; a failure there
  // stops the run with the write diagnostic.
  void finish_pending_write();

  int fd_ = -1;
  int unit_ = 0;
  std::string path_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::vector<char> in_flight_;
  std::thread pending_;
  int pending_error_ = 0;
};

// "ped.pre" (unit 1) and "ped.errors" (unit 2), and the reports a run may be
// asked for: the truth file (unit 3) and the summary (unit 4).
struct OutputFiles {
  OutputFile pre;
  OutputFile errors;
  OutputFile truth;
  OutputFile summary;
};

inline constexpr std::string_view kPedPreName = "ped.pre";
inline constexpr std::string_view kPedErrorsName = "ped.errors";

// The working directory's path; for one that has been removed, the path it
// had; "" when that is unknown.
std::string current_directory();
// The full path by which diagnostics name file `name` of folder `dir`.
std::string full_path(const std::string& dir, std::string_view name);

// Creates "ped.pre", then "ped.errors", in `dir`; when "ped.pre" fails,
// "ped.errors" is never created.
void open_output_files(OutputFiles& files, const std::string& dir);
void console_label_int(Console& console, std::string_view label, std::int32_t value);
void console_int(Console& console, std::int32_t value);
void write_ped_record(OutputFiles& files, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                      std::int32_t sex, std::int32_t allele1, std::int32_t allele2);
void write_error_record(OutputFiles& files, std::int32_t animal, std::int32_t old_allele);
// Closes "ped.pre", then "ped.errors", keeping both.
void close_output_files(OutputFiles& files);

}  // namespace pedsim
