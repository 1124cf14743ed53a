#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace pedsim {

// Whether `count` threads can run at once now: each is started and they
// end together. For a library whose thread pool cannot stand a thread that
// fails to start (it waits for it forever), asked just before the pool is.
bool threads_can_start(unsigned count) noexcept;

// A second thread kept for the length of a run, to which pieces of work are
// handed one at a time: starting a thread for every piece would cost tens of
// microseconds each time, as much as a small generation's share of the work.
// The thread starts with the first piece. One piece at a time: work handed
// over must not hand over work itself.
class HelperThread {
 public:
  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  ~HelperThread();

  // Runs two pieces of work side by side, `second` on the helper and `first`
  // on this thread, and waits for both. `first` may wait for something
  // `second` does, never the reverse: when no thread can be started (a
  // process or memory limit), `second` runs before `first` on this thread,
  // the same work with the same result. A failure of either is rethrown once
  // both have ended, the first's before the second's.
  template <class First, class Second>
  void side_by_side(First&& first, Second&& second);

  // Work on a stretch of a random stream split in two halves: `first(stream)`
  // draws the first half's `first_draws` numbers on this thread, while
  // `second(copy)` draws the rest on the helper from a copy of the stream
  // jumped past them. The halves must not depend on each other. Afterwards
  // `stream` stands where the second half left it, exactly as if both halves
  // had been drawn one after the other.
  template <class Stream, class First, class Second>
  void halves_side_by_side(Stream& stream, std::uint64_t first_draws, First&& first,
                           Second&& second);

 private:
  using Task = void (*)(void*);
  // Hands task(argument) to the helper, starting it first if need be; false
  // when no thread can be started.
  bool hand_over(Task task, void* argument);
  // Waits until the task handed over has ended.
  void wait_for_task();
  void serve();

  std::mutex mutex_;
  std::condition_variable changed_;
  Task task_ = nullptr;
  void* argument_ = nullptr;
  bool has_task_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

template <class First, class Second>
void HelperThread::side_by_side(First&& first, Second&& second) {
  std::exception_ptr second_failure;
  auto run_second = [&second, &second_failure] {
    try {
      second();
    } catch (...) {
      second_failure = std::current_exception();
    }
  };
  using RunSecond = decltype(run_second);
  if (!hand_over([](void* task) { (*static_cast<RunSecond*>(task))(); }, &run_second)) {
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
  wait_for_task();
  if (first_failure) std::rethrow_exception(first_failure);
  if (second_failure) std::rethrow_exception(second_failure);
}

template <class Stream, class First, class Second>
void HelperThread::halves_side_by_side(Stream& stream, std::uint64_t first_draws, First&& first,
                                       Second&& second) {
  Stream second_stream = stream;
  second_stream.jump(first_draws);
  side_by_side([&] { first(stream); }, [&] { second(second_stream); });
  stream = second_stream;
}

}  // namespace pedsim
