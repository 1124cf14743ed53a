#include "support.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pedsim::test {

namespace {

std::int64_t power_mod(std::int64_t base, std::int64_t exponent, std::int64_t modulus) {
  std::int64_t result = 1;
  base %= modulus;
  while (exponent > 0) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1;
  }
  return result;
}

// The state one step before `s` of a component with multiplier a, modulus m.
std::int32_t step_back(std::int32_t s, std::int64_t a, std::int64_t m) {
  return static_cast<std::int32_t>(s * power_mod(a, m - 2, m) % m);
}

}  // namespace

UniformStream stream_with_next_z(std::int32_t z) {
  // After the step the state must be (s1, s2) with s1 - s2 = z (or s1 = s2 for
  // the largest z, which the stream reaches by adding kZMax to 0).
  const std::int32_t s2 = 1;
  const std::int32_t s1 = z < UniformStream::kZMax ? z + 1 : 1;
  return UniformStream(step_back(s1, UniformStream::kA1, UniformStream::kM1),
                       step_back(s2, UniformStream::kA2, UniformStream::kM2));
}

std::int32_t first_z_above(double x) {
  auto z = static_cast<std::int32_t>(std::floor(x / UniformStream::kScale)) - 2;
  while (UniformStream::to_uniform(z) <= x) ++z;
  return z;
}

std::int32_t last_z_at_or_below(double x) { return first_z_above(x) - 1; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pedsim-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::int64_t> fields_of(const std::string& line) {
  std::vector<std::int64_t> fields;
  std::istringstream in(line);
  for (std::int64_t v; in >> v;) fields.push_back(v);
  return fields;
}

State::State(std::int32_t generations, std::int32_t founders, std::int32_t males, std::int32_t seed)
    : parameters(Parameters::make(generations, founders, males)),
      pedigree(parameters.rows),
      genotypes(parameters.rows, {Model{}.alleles()}),
      parents(parameters) {
  stream.seed_from_sum(seed);
}

std::string case_name(const std::string& text) {
  std::string name;
  for (const char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

GoldenCase golden_case(const std::string& name) {
  const auto dir = std::filesystem::path(PEDSIM_GOLDEN_DIR) / name;
  return {name, dir, words(read_file(dir / "args")), words(read_file(dir / "seed")).at(0)};
}

ProcessResult run_pedsim(const std::vector<std::string>& args, const ProcessOptions& options) {
  TempDir capture;
  const std::string out_path = (capture.path() / "stdout").string();
  const std::string err_path = (capture.path() / "stderr").string();
  int broken[2] = {-1, -1};
  if (options.broken_pipe_stdout) {
    if (::pipe(broken) != 0) throw std::runtime_error("pipe failed");
    ::close(broken[0]);
  }
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(120);
    if (options.remove_cwd && ::rmdir(options.cwd.c_str()) != 0) ::_exit(121);
    if (options.file_size != 0) {
      const rlimit limit{options.file_size, options.file_size};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(125);
    }
    if (options.address_space != 0) {
      const rlimit limit{options.address_space, options.address_space};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(122);
    }
    if (options.seed) {
      ::setenv("PEDSIM_SEED", options.seed->c_str(), 1);
    } else {
      ::unsetenv("PEDSIM_SEED");
    }
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.ignore_sigint) std::signal(SIGINT, SIG_IGN);
    if (!options.stdout_file.empty()) {
      const int file = ::open(options.stdout_file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
      ::dup2(file, STDOUT_FILENO);
      ::close(file);
    } else if (options.close_stdout) {
      ::close(STDOUT_FILENO);
    } else if (options.broken_pipe_stdout) {
      ::dup2(broken[1], STDOUT_FILENO);
      ::close(broken[1]);
    } else {
      ::dup2(out, STDOUT_FILENO);
    }
    ::dup2(err, STDERR_FILENO);
    ::close(out);
    ::close(err);
    std::vector<char*> argv;
    std::string binary = PEDSIM_BINARY;
    if (!options.fail_writes_to.empty()) {
      binary = PEDSIM_DYNAMIC_BINARY;
      ::setenv("LD_PRELOAD", PEDSIM_FAILING_WRITES, 1);
      ::setenv("PEDSIM_FAIL_WRITES_TO", options.fail_writes_to.c_str(), 1);
      // A sanitizer build wants its runtime first among the libraries, and
      // htslib leaks on the failed writes made here.
      ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
      ::setenv("LSAN_OPTIONS", "suppressions=" PEDSIM_HTSLIB_LEAKS, 1);
    }
    argv.push_back(binary.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (options.no_threads) {
      // The leak checker of a sanitizer build needs a thread of its own.
      ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(123);
      const rlimit one{1, 1};
      if (::setrlimit(RLIMIT_NPROC, &one) != 0) ::_exit(124);
    }
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  if (broken[1] >= 0) ::close(broken[1]);
  if (options.signal != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(options.signal_after_ms));
    ::kill(pid, options.signal);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  ProcessResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

}  // namespace pedsim::test
