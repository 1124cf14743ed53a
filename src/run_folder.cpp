#include "run_folder.hpp"

#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <new>

#include "io/diagnostic.hpp"
#include "io/reports.hpp"

namespace pedsim {

namespace {

// What an interrupt must tidy up after one run, kept where a signal handler
// can read it: the reports being written, and the earlier reports of the
// same names, which describe results that no longer exist once the run's
// outputs have been emptied.
struct InterruptSlot {
  static constexpr std::size_t kPathBytes = 4096;
  char new_reports[2][kPathBytes];
  char earlier_reports[2][kPathBytes];
  volatile std::sig_atomic_t outputs_emptied;
};

struct InterruptCleanup {
  std::array<InterruptSlot, kInterruptSlots> slots;
  int stderr_fd;
  char message[256];
};

// The command line owns the process, and a signal handler has nowhere else to
// look; the library keeps no such state.
InterruptCleanup interrupt_cleanup;

void remember_path(char (&slot)[InterruptSlot::kPathBytes], const std::string& path) {
  if (path.size() >= InterruptSlot::kPathBytes) return;
  path.copy(slot, path.size());
  slot[path.size()] = '\0';
}

extern "C" void on_interrupt(int signal_number) {
  InterruptCleanup& c = interrupt_cleanup;
  for (const InterruptSlot& slot : c.slots) {
    for (const char* path : slot.new_reports) {
      if (path[0] != '\0') ::unlink(path);
    }
    if (slot.outputs_emptied == 0) continue;
    for (const char* path : slot.earlier_reports) {
      if (path[0] != '\0') ::unlink(path);
    }
  }
  [[maybe_unused]] const ssize_t written = ::write(c.stderr_fd, c.message, std::strlen(c.message));
  ::_exit(128 + signal_number);
}

void create_report(ReportFile& report, const std::optional<std::string>& path, int unit,
                   char (&new_path)[InterruptSlot::kPathBytes],
                   char (&earlier_path)[InterruptSlot::kPathBytes]) {
  if (!path) return;
  report.create(".", *path, unit);
  remember_path(new_path, report.new_path());
  remember_path(earlier_path, report.target_path());
}

}  // namespace

void handle_interrupts(int stderr_fd, std::string_view what_is_incomplete) {
  InterruptCleanup& c = interrupt_cleanup;
  c.stderr_fd = stderr_fd;
  const std::string message =
      "pedsim: interrupted; " + std::string(what_is_incomplete) + " are incomplete\n";
  const std::size_t length = std::min(message.size(), sizeof c.message - 1);
  message.copy(c.message, length);
  c.message[length] = '\0';
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

Failure current_failure() {
  try {
    throw;
  } catch (const Stop& stop) {
    return {stop.status(), stop.text()};
  } catch (const InvalidParameters& invalid) {
    return {code::kUsage, "pedsim: " + std::string(invalid.what()) + "\n"};
  } catch (const TableTooLarge&) {
    return {code::kSizeOverflow, severe_text(code::kSizeOverflow, 0, {}, 0)};
  } catch (const std::bad_alloc&) {
    return {code::kNoMemory, severe_text(code::kNoMemory, 0, {}, 0)};
  } catch (const std::exception& error) {
    // Not expected in a run; still a stop with a message, never an abort.
    return {code::kInternalError, std::string("pedsim: internal error: ") + error.what() + "\n"};
  }
}

RunFolder::RunFolder(RunPlan plan, std::size_t interrupt_slot)
    : plan_(std::move(plan)), slot_(interrupt_slot) {
  forget_interrupt_slot();
}

RunFolder::~RunFolder() { forget_interrupt_slot(); }

void RunFolder::forget_interrupt_slot() noexcept {
  InterruptSlot& slot = interrupt_cleanup.slots[slot_];
  slot.outputs_emptied = 0;
  for (auto* path : {slot.new_reports, slot.earlier_reports}) {
    path[0][0] = '\0';
    path[1][0] = '\0';
  }
}

void RunFolder::open() {
  if (plan_.make_folder) {
    // A folder that cannot be made shows as a file that cannot be created.
    std::error_code ignored;
    std::filesystem::create_directories(plan_.folder, ignored);
  }
  pre_.open(plan_.folder, kPedPreName, unit::kPedPre, OutputFile::Existing::kKeep);
  errors_.open(plan_.folder, kPedErrorsName, unit::kPedErrors, OutputFile::Existing::kKeep);
  InterruptSlot& slot = interrupt_cleanup.slots[slot_];
  create_report(truth_, plan_.truth, unit::kTruth, slot.new_reports[0], slot.earlier_reports[0]);
  create_report(summary_, plan_.summary, unit::kSummary, slot.new_reports[1],
                slot.earlier_reports[1]);
}

void RunFolder::empty_outputs() {
  if (::flock(pre_.descriptor(), LOCK_EX | LOCK_NB) != 0) {
    stop_usage("another pedsim run is writing " + pre_.path() +
               "; wait for it to end, or run in another folder");
  }
  pre_.truncate();
  errors_.truncate();
  outputs_emptied_ = true;
  interrupt_cleanup.slots[slot_].outputs_emptied = 1;
}

Simulation RunFolder::run(const Parameters& parameters, const Seed& seed, ByteSink& console) {
  seed_ = seed;
  Simulation run =
      simulate(parameters, seed, {.console = &console, .pedigree = &pre_, .errors = &errors_});
  pre_.close();
  errors_.close();
  if (truth_.is_open()) {
    write_truth(run, truth_);
    truth_.commit();
  }
  if (summary_.is_open()) {
    write_summary(run, summary_);
    summary_.commit();
  }
  forget_interrupt_slot();
  if (plan_.run_row) {
    counts_ = count_run(run.pedigree);
    write_run_row(plan_.folder, seed, counts_, 0);
  }
  return run;
}

void RunFolder::failed(int status) noexcept {
  truth_.discard(outputs_emptied_);
  summary_.discard(outputs_emptied_);
  forget_interrupt_slot();
  if (!plan_.run_row || !outputs_emptied_ || !seed_) return;
  try {
    write_run_row(plan_.folder, *seed_, std::nullopt, status);
  } catch (const std::exception&) {
    // The run has failed already; its own diagnostic says why.
  }
}

}  // namespace pedsim
