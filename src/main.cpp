// pedsim: simulates an animal pedigree carrying one three-allele marker and
// writes it, with degraded recorded genotypes, to "ped.pre", and the injected
// genotyping errors to "ped.errors".

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"

namespace {

// Standard streams that are closed would otherwise be reused by the output
// files, and console lines would end up inside "ped.pre".
void keep_standard_descriptors_open() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace

int main(int argc, char** argv) {
  keep_standard_descriptors_open();
  // The console only reports progress; a reader that has gone must not stop
  // the run before its files are complete.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes a write fail with the write diagnostic instead
  // of killing the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  // One heap for every thread, so that whether a run fits a memory limit
  // does not depend on how many heaps its helper threads happened to make.
  ::mallopt(M_ARENA_MAX, 1);
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::optional<std::string> seed_variable;
  if (const char* seed = std::getenv("PEDSIM_SEED")) seed_variable = seed;
  return pedsim::run_command_line(args, seed_variable, STDOUT_FILENO, STDERR_FILENO);
}
