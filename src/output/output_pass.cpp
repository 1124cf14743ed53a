#include "output/output_pass.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace pedsim {

bool is_error_candidate(const Run& run, std::int32_t i) {
  return run.GE1[i] != 0 && run.IV2[i] != 0 && run.IV3[i] != 0 && run.GE1[run.IV2[i]] == 0 &&
         run.GE1[run.IV3[i]] == 0;
}

std::int32_t replacement_allele(double y) {
  if (y <= 0.25) return 1;
  if (y <= 0.5) return 2;
  if (y < 0.75) return 3;
  return 4;
}

namespace {

// How many rows ahead the parents' recorded alleles are fetched into the
// cache: parents lie anywhere in the table.
constexpr std::int32_t kPrefetchDistance = 16;

void prefetch_parents_record(Run& run, std::int32_t i) {
  if (run.IV2[i] != 0) __builtin_prefetch(&run.GE1[run.IV2[i]]);
  if (run.IV3[i] != 0) __builtin_prefetch(&run.GE1[run.IV3[i]]);
}

void inject_error(Run& run, std::int32_t i) {
  if (run.stream.draw_uniform() > 0.5) return;
  const std::int32_t old = run.GE1[i];
  run.GE1[i] = replacement_allele(run.stream.draw_uniform());
  if (run.GE1[i] == old) return;
  console_int(run.console, run.IV1[i]);
  write_error_record(run.files, run.IV1[i], old);
}

void write_ped_records(Run& run, std::int32_t first, std::int32_t last) {
  for (std::int32_t i = first; i <= last; ++i) {
    write_ped_record(run.files, run.IV1[i], run.IV2[i], run.IV3[i], run.IV4[i], run.GE1[i],
                     run.GE2[i]);
  }
}

// Rows are handed to the record writer in batches of this many.
constexpr std::int32_t kRecordBatch = 1 << 14;
// From this many rows on, the records of "ped.pre" are formatted and written
// on a thread of their own, following the error injection batch by batch.
constexpr std::int32_t kThreadedRecordRows = 1 << 18;

// Writes the "ped.pre" records of the rows that the error injection has
// finished, on its own thread. A row's record depends only on that row, and
// the injection never goes back to a finished row, so the two threads never
// touch the same row at the same time.
class RecordWriter {
 public:
  explicit RecordWriter(Run& run) : run_(run), thread_([this] { write_finished_rows(); }) {}
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;
  // Without finish() (the run is stopping), rows not yet finished are never
  // written.
  ~RecordWriter() {
    cancelled_.store(true, std::memory_order_release);
    announce(kCancelled);
    if (thread_.joinable()) thread_.join();
  }

  // Rows 1..row are final. Stops the run if writing has failed.
  void rows_finished(std::int32_t row) {
    announce(row);
    if (failed_.load(std::memory_order_acquire)) finish();
  }

  // Every row is final: waits for the last record and rethrows a failure.
  void finish() {
    announce(run_.ntot);
    if (thread_.joinable()) thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  static constexpr std::int32_t kCancelled = -1;

  void announce(std::int32_t row) {
    finished_.store(row, std::memory_order_release);
    finished_.notify_one();
  }

  void write_finished_rows() {
    try {
      for (std::int32_t written = 0; written < run_.ntot;) {
        finished_.wait(written, std::memory_order_acquire);
        if (cancelled_.load(std::memory_order_acquire)) return;
        const std::int32_t ready = finished_.load(std::memory_order_acquire);
        write_ped_records(run_, written + 1, ready);
        written = ready;
      }
    } catch (...) {
      failure_ = std::current_exception();
      failed_.store(true, std::memory_order_release);
    }
  }

  Run& run_;
  std::atomic<std::int32_t> finished_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> failed_{false};
  std::exception_ptr failure_;
  std::thread thread_;
};

void inject_errors(Run& run, std::int32_t first, std::int32_t last) {
  for (std::int32_t i = first; i <= last; ++i) {
    if (i + kPrefetchDistance <= run.ntot) prefetch_parents_record(run, i + kPrefetchDistance);
    if (is_error_candidate(run, i)) inject_error(run, i);
  }
}

}  // namespace

void output_pass(Run& run) {
  console_label_int(run.console, "n\xB0 of founders=", run.n);
  console_label_int(run.console, "n\xB0 of animals=", run.ntot);
  if (run.ntot < kThreadedRecordRows) {
    for (std::int32_t i = 1; i <= run.ntot; ++i) {
      inject_errors(run, i, i);
      write_ped_records(run, i, i);
    }
  } else {
    RecordWriter writer(run);
    for (std::int32_t first = 1; first <= run.ntot; first += kRecordBatch) {
      const std::int32_t last = std::min(run.ntot, first + kRecordBatch - 1);
      inject_errors(run, first, last);
      writer.rows_finished(last);
    }
    writer.finish();
  }
  close_output_files(run.files);
}

}  // namespace pedsim
