#pragma once

#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>

namespace pedsim {

// Runs two pieces of work side by side, `second` on a helper thread and
// `first` on this one, and waits for both. `first` may wait for something
// `second` does, never the reverse: when no thread can be started (a process
// or memory limit), `second` runs before `first` on this thread, the same
// work with the same result. A failure of either is rethrown once both have
// ended, the first's before the second's.
template <class First, class Second>
void side_by_side(First&& first, Second&& second) {
  std::exception_ptr second_failure;
  std::thread helper;
  try {
    helper = std::thread([&second, &second_failure] {
      try {
        second();
      } catch (...) {
        second_failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    second();
    first();
    return;
  }
  std::exception_ptr first_failure;
  try {
    first();
  } catch (...) {
    first_failure = std::current_exception();
  }
  helper.join();
  if (first_failure) std::rethrow_exception(first_failure);
  if (second_failure) std::rethrow_exception(second_failure);
}

// Work on a stretch of a random stream split in two halves: `first(stream)`
// draws the first half's `first_draws` numbers on this thread, while
// `second(copy)` draws the rest on a helper thread from a copy of the stream
// jumped past them. The halves must not depend on each other. Afterwards `stream` stands where the
// second half left it, exactly as if both halves had been drawn one after the other.
template <class Stream, class First, class Second>
void halves_side_by_side(Stream& stream, std::uint64_t first_draws, First&& first,
                         Second&& second) {
  Stream second_stream = stream;
  second_stream.jump(first_draws);
  side_by_side([&] { first(stream); }, [&] { second(second_stream); });
  stream = second_stream;
}

}  // namespace pedsim
