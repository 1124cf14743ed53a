#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pedsim/pedsim.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"

namespace pedsim::test {

// A stream whose next draw yields exactly the integer z (1..kZMax).
UniformStream stream_with_next_z(std::int32_t z);

// The smallest z whose number is strictly above x, and the largest whose
// number is at most x.
std::int32_t first_z_above(double x);
std::int32_t last_z_at_or_below(double x);

// A temporary folder, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);
std::vector<std::string> split_lines(const std::string& text);
std::vector<std::int64_t> fields_of(const std::string& line);

// The whitespace-separated words of a text.
std::vector<std::string> words(const std::string& text);

// One reference run: its folder, arguments and seed.
struct GoldenCase {
  std::string name;
  std::filesystem::path dir;
  std::vector<std::string> args;
  std::string seed;
};
GoldenCase golden_case(const std::string& name);
inline const std::vector<std::string> kGoldenCases{"3-20-5", "2-10-3", "12-40-8", "0-7-7"};

// The numbers of a run as they stand in the middle of it, for driving its
// phases in-process: parameters, table, parent lists and stream.
struct State {
  State(std::int32_t generations, std::int32_t founders, std::int32_t males, std::int32_t seed);
  Parameters parameters;
  Pedigree pedigree;
  GenotypeStore genotypes;
  ParentLists parents;
  UniformStream stream;
};

// A name for a parameterised test case from any text.
std::string case_name(const std::string& text);

struct ProcessResult {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::filesystem::path cwd;
  std::optional<std::string> seed;  // PEDSIM_SEED; unset when empty
  bool close_stdout = false;
  // Standard output is a pipe whose reader has already gone.
  bool broken_pipe_stdout = false;
  // The working directory is removed before the program starts.
  bool remove_cwd = false;
  // Limit of the program's address space in bytes; 0: none.
  std::size_t address_space = 0;
  // No thread can be started: the program runs as a user (nobody, when the
  // tests run as root) allowed no further process or thread.
  bool no_threads = false;
  // Limit of the size of files the program writes, in bytes; 0: none.
  std::size_t file_size = 0;
  // A signal sent to the program this many milliseconds after it starts.
  int signal = 0;
  int signal_after_ms = 0;
  // The program starts with SIGINT ignored, as a background job of a script.
  bool ignore_sigint = false;
  // Standard output appends to this file (relative to cwd) instead of
  // being captured.
  std::string stdout_file = {};
  // Every write to the file of this name (or to the new file written
  // beside it) fails as on a full disk; "": none.
  std::string fail_writes_to = {};
};

// Runs the built pedsim binary with `args` and waits for it.
ProcessResult run_pedsim(const std::vector<std::string>& args, const ProcessOptions& options);

}  // namespace pedsim::test
