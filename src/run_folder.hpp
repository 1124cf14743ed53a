#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "io/output_file.hpp"
#include "io/report_file.hpp"
#include "io/reports.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

// Where one run writes, and what it is asked for.
struct RunPlan {
  // The folder of ped.pre and ped.errors, created with its parents when
  // `make_folder` is set and it is missing.
  std::string folder = ".";
  bool make_folder = false;
  // Report paths, as they are opened.
  std::optional<std::string> truth;
  std::optional<std::string> summary;
  // Whether the folder gets run.tsv, the run's line of a replicate table.
  bool run_row = false;
};

// The files of one run, from their opening to the end of the run. The
// outputs are opened at the start but emptied only once the arguments are
// known good; reports replace earlier ones only once complete, and a run that
// fails after emptying its outputs leaves no report of their name.
class RunFolder {
 public:
  // `interrupt_slot` (below kInterruptSlots) is where an interrupt finds
  // the reports this run must not leave behind.
  RunFolder(RunPlan plan, std::size_t interrupt_slot);
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  ~RunFolder();

  // Opens ped.pre and ped.errors, keeping what they hold, and creates the
  // reports' new files; a failure stops with the file-open diagnostic.
  void open();
  // The arguments are known good: takes the folder's lock (a second run
  // writing there stops) and empties the outputs.
  void empty_outputs();
  // Breeds and writes the run: outputs, reports, and run.tsv when asked.
  Simulation run(const Parameters& parameters, const Seed& seed, ByteSink& console);
  // A run that stopped with `status`: removes what must not stay, and
  // writes run.tsv with the status when asked and the outputs were emptied.
  void failed(int status) noexcept;

  const std::string& folder() const { return plan_.folder; }
  // The counts of run.tsv, once a run asked for it has succeeded.
  const std::optional<RunCounts>& counts() const { return counts_; }

 private:
  void forget_interrupt_slot() noexcept;

  RunPlan plan_;
  std::size_t slot_;
  OutputFile pre_;
  OutputFile errors_;
  ReportFile truth_;
  ReportFile summary_;
  bool outputs_emptied_ = false;
  std::optional<Seed> seed_;
  std::optional<RunCounts> counts_;
};

// How many runs at a time an interrupt can tidy up after.
inline constexpr std::size_t kInterruptSlots = 64;

// From now on SIGINT and SIGTERM remove every unfinished report (and the
// earlier reports of runs whose outputs were emptied), write
// "pedsim: interrupted; <what> are incomplete" to `stderr_fd`, and end the
// process with status 128 + the signal's number.
void handle_interrupts(int stderr_fd, std::string_view what_is_incomplete);

// The exit status and text of the failure being handled (call inside a
// catch block).
struct Failure {
  int status;
  std::string text;
};
Failure current_failure();

}  // namespace pedsim
