#include "cli/process.hpp"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "io/diagnostic.hpp"

namespace pedsim {

namespace {

// The command line owns the process, and an interrupt has nowhere else to
// look; the library keeps no such state.
struct InterruptState {
  FileRegistry files;
  int stderr_fd = 2;
  char message[256] = {};
};
InterruptState interrupt_state;

[[noreturn]] void stop_process(int signal_number, bool wait_for_writers) {
  InterruptState& s = interrupt_state;
  // Held until the process ends: no file is created or renamed after this.
  const auto held = s.files.abandon_all(wait_for_writers);
  [[maybe_unused]] const ssize_t written = ::write(s.stderr_fd, s.message, std::strlen(s.message));
  ::_exit(128 + signal_number);
}

// Where no thread can be started, the signal is handled on the thread it
// interrupts, which may hold the registry's lock: then nothing is tidied.
extern "C" void on_interrupt(int signal_number) { stop_process(signal_number, false); }

}  // namespace

FileRegistry& process_files() { return interrupt_state.files; }

void handle_interrupts(int stderr_fd, std::string_view what_is_incomplete) {
  InterruptState& s = interrupt_state;
  s.stderr_fd = stderr_fd;
  const std::string message =
      "pedsim: interrupted; " + std::string(what_is_incomplete) + " are incomplete\n";
  const std::size_t length = std::min(message.size(), sizeof s.message - 1);
  message.copy(s.message, length);
  s.message[length] = '\0';
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal_number : {SIGINT, SIGTERM}) {
    struct sigaction inherited {};
    ::sigaction(signal_number, nullptr, &inherited);
    // A script that starts pedsim in the background with SIGINT ignored
    // keeps it ignored.
    if (inherited.sa_handler != SIG_IGN) ::sigaddset(&signals, signal_number);
  }
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    std::thread([signals] {
      int signal_number = 0;
      if (::sigwait(&signals, &signal_number) == 0) stop_process(signal_number, true);
    }).detach();
  } catch (const std::system_error&) {
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    ::sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM}) {
      if (::sigismember(&signals, signal_number) == 1) ::sigaction(signal_number, &action, nullptr);
    }
  }
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
  } catch (const std::filesystem::filesystem_error& error) {
    // A folder that could not be read or searched: the status of the
    // system's error, as for a file that cannot be opened.
    const int err = error.code().value();
    return {open_failure_code(err), "pedsim: cannot read " + error.path1().string() + ": " +
                                        std::strerror(err) + "\n"};
  } catch (const std::exception& error) {
    // Not expected in a run; still a stop with a message, never an abort.
    return {code::kInternalError, std::string("pedsim: internal error: ") + error.what() + "\n"};
  }
}

void write_text(int fd, std::string_view text) { Console(fd).write(text); }

void report_removed(int stderr_fd, const std::vector<std::string>& removed) {
  if (removed.empty()) return;
  std::string text = "pedsim: removed " + std::to_string(removed.size()) + " unfinished file" +
                     (removed.size() == 1 ? "" : "s") + " left by a run that was killed:";
  for (const std::string& path : removed) text += " " + path;
  write_text(stderr_fd, text + "\n");
}

void report_earlier_files(int stderr_fd, const EarlierFiles& earlier) {
  const auto list = [](const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) text += " " + path;
    return text;
  };
  const std::size_t removed = earlier.removed.size();
  if (removed != 0) {
    write_text(stderr_fd, "pedsim: removed " + std::to_string(removed) +
                              (removed == 1 ? " file" : " files") +
                              " of an earlier run that this run does not write:" +
                              list(earlier.removed) + "\n");
  }
  if (!earlier.kept.empty()) {
    write_text(stderr_fd, "pedsim: warning: this run does not write" + list(earlier.kept) +
                              (earlier.kept.size() == 1
                                   ? ", which is from before it and does not describe it\n"
                                   : ", which are from before it and do not describe it\n"));
  }
}

}  // namespace pedsim
