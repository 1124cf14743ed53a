// pedsim: simulates an animal pedigree carrying one three-allele marker and
// writes it, with degraded recorded genotypes, to "ped.pre", and the injected
// genotyping errors to "ped.errors".

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>
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
#include "output/reports.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE\n"
    "       pedsim --help | --version\n"
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
    "Options (before the numbers; they only add files, the run stays the same):\n"
    "  --seed T        seed the random stream with T, as PEDSIM_SEED=T does\n"
    "  --truth FILE    per animal: animal, sire, dam, sex, generation, true alleles,\n"
    "                  lost flag, recorded alleles, altered flag (unit 3)\n"
    "  --summary FILE  a short report of the run, its seed included (unit 4)\n"
    "\n"
    "Environment:\n"
    "  PEDSIM_SEED  a 32-bit integer used as the clock sum that seeds the random\n"
    "               stream; with it set, a run is a pure function of its arguments\n"
    "\n"
    "Exit status: 0 success; 2 an unknown option, arguments outside the limits or\n"
    "an invalid seed; 24, 59, 64 an argument missing or not an integer; 9, 10, 29,\n"
    "30, 42, 43 an output file that cannot be created; 38 a failed write; 41, 179\n"
    "not enough memory or a table too large; 70 an internal error.\n";

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

void run_phases(pedsim::Run& run, const std::vector<std::string_view>& numbers,
                const pedsim::SetupOptions& options) {
  pedsim::set_up(run, numbers, options);
  pedsim::create_founders(run);
  pedsim::breed_generations(run);
  pedsim::randomloss(run);
  pedsim::output_pass(run);
  if (options.truth_path) pedsim::write_truth_file(run);
  if (options.summary_path) pedsim::write_summary_file(run);
}

constexpr int kInternalError = 70;

// Ends a stopped run: the console first, then the diagnostic, then the files
// closed keeping what was written.
int stop_run(pedsim::Run& run, const pedsim::Stop& stop) {
  run.console.flush();
  write_all(STDERR_FILENO, stop.text());
  for (pedsim::OutputFile* file :
       {&run.files.pre, &run.files.errors, &run.files.truth, &run.files.summary}) {
    file->close_quietly();
  }
  return stop.status();
}

}  // namespace

int main(int argc, char** argv) {
  keep_standard_descriptors_open();
  // The console only reports progress; a reader that has gone must not stop
  // the run before its files are complete.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  pedsim::CommandLine line;
  try {
    line = pedsim::parse_command_line(args);
  } catch (const pedsim::Stop& stop) {
    write_all(STDERR_FILENO, stop.text());
    return stop.status();
  }
  if (line.help) {
    write_all(STDOUT_FILENO, kUsage);
    return 0;
  }
  if (line.version) {
    write_all(STDOUT_FILENO, "pedsim " PEDSIM_VERSION "\n");
    return 0;
  }

  pedsim::SetupOptions options;
  if (line.seed) {
    options.seed_text = line.seed;
    options.seed_origin = "--seed";
  } else if (const char* seed = std::getenv("PEDSIM_SEED")) {
    options.seed_text = seed;
  }
  options.truth_path = line.truth_path;
  options.summary_path = line.summary_path;

  pedsim::Console console(STDOUT_FILENO);
  pedsim::Run run(console);
  try {
    run_phases(run, line.numbers, options);
    console.flush();
    return 0;
  } catch (const pedsim::Stop& stop) {
    return stop_run(run, stop);
  } catch (const std::bad_alloc&) {
    return stop_run(run, pedsim::Stop(pedsim::code::kNoMemory,
                                      pedsim::severe_text(pedsim::code::kNoMemory, 0, {}, 0)));
  } catch (const std::exception& error) {
    // Not expected in a run (a thread that could not be started, say); still
    // a stop with a message, never an abort.
    return stop_run(run, pedsim::Stop(kInternalError, std::string("pedsim: internal error: ") +
                                                          error.what() + "\n"));
  }
}
