#pragma once

#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// A file a run writes, opened as a numbered unit. Every write goes straight
// to the system (callers write in large blocks); a failure stops the run with
// the write diagnostic naming the unit and the file's full path. A failure is
// kept: the file takes no further bytes and close() stops with it again, so
// a writer that dropped the stop (a buffer flushed while it was left) cannot
// make the file pass for complete.
class UnitFile : public ByteSink {
 public:
  UnitFile() = default;
  UnitFile(const UnitFile&) = delete;
  UnitFile& operator=(const UnitFile&) = delete;
  ~UnitFile() override { close_quietly(); }

  // How an existing file of the name is treated when it is opened.
  enum class Existing {
    kReplace,  // emptied at once
    kKeep,     // kept until truncate()
  };

  // Creates `name` in folder `dir` (or `name` itself when it is an absolute
  // path), or opens the existing file; a failure stops the run with the
  // file-open diagnostic of the system's error.
  void open(const std::string& dir, std::string_view name, int unit,
            Existing existing = Existing::kReplace);
  // Creates a new file with a unique name beside `target`, to become
  // `target` later; diagnostics name the file by `shown_path`.
  void open_beside(const std::string& target, const std::string& shown_path, int unit);
  bool is_open() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  // The full path diagnostics give, and the path the file was opened by.
  const std::string& path() const { return path_; }
  const std::string& opened_path() const { return opened_path_; }

  // Empties the file; a failure stops the run with the write diagnostic.
  void truncate();
  void write(std::string_view bytes) override;
  // Closes the file; a failure, now or of an earlier write, stops the run
  // with the write diagnostic.
  void close();
  // Used when the run stops: closes, never throws.
  void close_quietly() noexcept;

 private:
  void stop_on_open_failure();
  [[noreturn]] void stop_on_write_failure(int err);

  int fd_ = -1;
  // The system's error of the first write that failed; 0: none.
  int write_error_ = 0;
  int unit_ = 0;
  std::string path_;
  std::string opened_path_;
};

// Standard output. A failed write (a closed output, a pipe whose reader has
// gone) is ignored, because the console only reports progress.
class Console : public ByteSink {
 public:
  explicit Console(int fd) : fd_(fd) {}
  void write(std::string_view bytes) override;

 private:
  int fd_;
};

inline constexpr std::string_view kPedPreName = "ped.pre";
inline constexpr std::string_view kPedErrorsName = "ped.errors";

// The path by which a file `name` of folder `dir` is opened.
std::string relative_path(const std::string& dir, std::string_view name);

// The working directory's path; for one that has been removed, the path it
// had; "" when that is unknown.
std::string current_directory();
// The full path by which diagnostics name file `name` of folder `dir`.
std::string full_path(const std::string& dir, std::string_view name);

}  // namespace pedsim
