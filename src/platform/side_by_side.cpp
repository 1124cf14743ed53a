#include "platform/side_by_side.hpp"

#include <system_error>

namespace pedsim {

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
