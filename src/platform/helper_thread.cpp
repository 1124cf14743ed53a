#include "platform/helper_thread.hpp"

#include <system_error>
#include <vector>

namespace pedsim {

bool threads_can_start(unsigned count) noexcept {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::vector<std::thread> threads;
  bool started = true;
  try {
    threads.reserve(count);
    while (threads.size() < count) {
      threads.emplace_back([&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
      });
    }
  } catch (const std::exception&) {
    started = false;
  }
  {
    const std::lock_guard lock(mutex);
    release = true;
  }
  released.notify_all();
  for (std::thread& thread : threads) thread.join();
  return started;
}

HelperThread::~HelperThread() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool HelperThread::hand_over(Task task, void* argument) {
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&HelperThread::serve, this);
    } catch (const std::system_error&) {
      return false;
    }
  }
  {
    const std::lock_guard lock(mutex_);
    task_ = task;
    argument_ = argument;
    has_task_ = true;
  }
  changed_.notify_all();
  return true;
}

void HelperThread::wait_for_task() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !has_task_; });
}

void HelperThread::serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return has_task_ || stopping_; });
    if (!has_task_) return;
    lock.unlock();
    task_(argument_);
    lock.lock();
    has_task_ = false;
    changed_.notify_all();
  }
}

}  // namespace pedsim
