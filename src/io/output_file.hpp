#pragma once

#include <string>
#include <string_view>

#include "pedsim/pedsim.hpp"

namespace pedsim {

// A file a run writes, opened as a numbered unit. Every write goes straight
// to the system (callers write in large blocks); a failure stops the run with
// the write diagnostic naming the unit and the file's full path.
class OutputFile : public ByteSink {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() override { close_quietly(); }

  // Creates (or replaces) `name` in folder `dir` (or `name` itself when it is
  // an absolute path); a failure stops the run with the file-open diagnostic
  // of the system's error.
  void open(const std::string& dir, std::string_view name, int unit);
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  void write(std::string_view bytes) override;
  // Closes the file; a failure stops the run with the write diagnostic.
  void close();
  // Used when the run stops: closes, never throws.
  void close_quietly() noexcept;

 private:
  int fd_ = -1;
  int unit_ = 0;
  std::string path_;
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

// The working directory's path; for one that has been removed, the path it
// had; "" when that is unknown.
std::string current_directory();
// The full path by which diagnostics name file `name` of folder `dir`.
std::string full_path(const std::string& dir, std::string_view name);

}  // namespace pedsim
