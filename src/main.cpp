// pedsim: simulates an animal pedigree carrying one three-allele marker and
// writes it, with degraded recorded genotypes, to "ped.pre", and the injected
// genotyping errors to "ped.errors".

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/breeding.hpp"
#include "core/founders.hpp"
#include "core/setup.hpp"
#include "output/diagnostic.hpp"
#include "output/loss.hpp"
#include "output/output_pass.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: pedsim NGEN N MALE\n"
    "\n"
    "Breeds N founders (the first MALE of them male) and NGEN overlapping\n"
    "generations by random mating, passing one three-allele marker by Mendelian\n"
    "inheritance; then removes recorded genotypes at an age-dependent rate and\n"
    "injects genotyping errors into animals whose parents are both ungenotyped.\n"
    "\n"
    "Writes, in the working directory (replacing existing files):\n"
    "  ped.pre     animal, sire, dam, sex, recorded allele 1, recorded allele 2\n"
    "  ped.errors  animal, recorded allele 1 before the injected error\n"
    "\n"
    "Environment:\n"
    "  PEDSIM_SEED  a 32-bit integer used as the clock sum that seeds the random\n"
    "               stream; with it set, a run is a pure function of its arguments\n"
    "\n"
    "Exit status: 0 success; 2 arguments outside the limits or invalid PEDSIM_SEED;\n"
    "24, 59, 64 an argument missing or not an integer; 9, 10, 29, 30, 42, 43 an\n"
    "output file that cannot be created; 38 a failed write; 41, 179 not enough\n"
    "memory or a table too large.\n";

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Standard streams that are closed would otherwise be reused by the output
// files, and console lines would end up inside "ped.pre".
void keep_standard_descriptors_open() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

void run_phases(pedsim::Run& run, const std::vector<std::string_view>& args,
                const pedsim::SetupOptions& options) {
  pedsim::set_up(run, args, options);
  pedsim::create_founders(run);
  pedsim::breed_generations(run);
  pedsim::randomloss(run);
  pedsim::output_pass(run);
}

}  // namespace

int main(int argc, char** argv) {
  keep_standard_descriptors_open();
  // The console only reports progress; a reader that has gone must not stop
  // the run before its files are complete.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    write_all(STDOUT_FILENO, kUsage);
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    write_all(STDOUT_FILENO, "pedsim " PEDSIM_VERSION "\n");
    return 0;
  }

  pedsim::SetupOptions options;
  if (const char* seed = std::getenv("PEDSIM_SEED")) options.seed_text = seed;

  pedsim::Console console(STDOUT_FILENO);
  pedsim::Run run(console);
  try {
    run_phases(run, args, options);
    console.flush();
    return 0;
  } catch (const pedsim::Stop& stop) {
    console.flush();
    write_all(STDERR_FILENO, stop.text());
    run.files.pre.close_quietly();
    run.files.errors.close_quietly();
    return stop.status();
  }
}
