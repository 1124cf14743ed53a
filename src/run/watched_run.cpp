// A run on a thread of its own, watched for an interrupt from the thread
// that asked for it.

#include <chrono>
#include <future>
#include <system_error>
#include <thread>

#include "pedsim/simulation.hpp"

namespace pedsim {

std::optional<Simulation> simulate_watched(
    const std::function<Simulation(const StopRequest*)>& work,
    const std::function<bool()>& interrupted) {
  StopRequest stop;
  std::packaged_task<Simulation()> task([&work, &stop] { return work(&stop); });
  std::future<Simulation> result = task.get_future();
  std::thread worker;
  try {
    worker = std::thread(std::move(task));
  } catch (const std::system_error&) {
    return work(nullptr);
  }
  while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (!stop.requested() && interrupted()) stop.request();
  }
  worker.join();
  if (!stop.requested()) return result.get();
  // Interrupted: the run's own stop (or its finishing first) is dropped.
  try {
    result.get();
  } catch (const Stop&) {
  }
  return std::nullopt;
}

}  // namespace pedsim
