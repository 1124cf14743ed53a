#pragma once

#include <string>
#include <string_view>

// The command line's one way into the library's internals: the files of a
// run (run_files.hpp) and what it will need (run_needs.hpp), the replicate
// table (reports.hpp), diagnostics, the console's echo of the arguments
// (records.hpp), the machine's memory, and the process's interrupts and
// failures below.
#include "formats/design_records.hpp"
#include "io/diagnostic.hpp"
#include "platform/large_memory.hpp"
#include "reports/reports.hpp"
#include "run/run_files.hpp"
#include "run/run_needs.hpp"

namespace pedsim {

// The files being written by this process's runs, which an interrupt tidies
// up after.
FileRegistry& process_files();

// From now on SIGINT and SIGTERM (each unless the process inherited it as
// ignored) remove every unfinished file of the runs in process_files() (and
// the earlier reports and run.tsv of runs whose outputs were emptied), write
// "pedsim: interrupted; <what> are incomplete" to `stderr_fd`, and end the
// process with status 128 + the signal's number. Call before any thread is
// started: the signals are taken by a thread of their own, so that no other
// thread creates or renames a file once the tidying has begun.
void handle_interrupts(int stderr_fd, std::string_view what_is_incomplete);

// The exit status and text of the failure being handled (call inside a
// catch block).
struct Failure {
  int status;
  std::string text;
};
Failure current_failure();

// Writes `text` to the descriptor, ignoring a failure (the console only
// reports).
void write_text(int fd, std::string_view text);

// Says on `stderr_fd` which files of an earlier run a finished run removed
// or, where it cannot tell them from the user's, left in place.
void report_earlier_files(int stderr_fd, const EarlierFiles& earlier);

// Tells on `stderr_fd` which new files a killed run had left and were
// removed.
void report_removed(int stderr_fd, const std::vector<std::string>& removed);

}  // namespace pedsim
