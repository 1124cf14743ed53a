#include "output/output_pass.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
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
  if (run.IV2[i] != 0) run.GE1.prefetch(run.IV2[i]);
  if (run.IV3[i] != 0) run.GE1.prefetch(run.IV3[i]);
}

void inject_error(Run& run, std::int32_t i) {
  if (run.stream.draw_uniform() > 0.5) return;
  const std::int32_t old = run.GE1[i];
  run.GE1[i] = replacement_allele(run.stream.draw_uniform());
  if (run.GE1[i] == old) return;
  console_int(run.console, run.IV1[i]);
  write_error_record(run.files, run.IV1[i], old);
}

// The error injection finishes rows, and the records of "ped.pre" are
// formatted and written, in chunks of this many rows.
constexpr std::int32_t kRecordChunk = 1 << 14;
// From this many rows on, the records are formatted on two threads.
constexpr std::int32_t kThreadedRecordRows = 1 << 18;

// Formats and writes the "ped.pre" records of large runs. A helper thread
// formats the chunks that the error injection has finished while the
// injection goes on; once it is done, the calling thread formats chunks too.
// Chunks are taken in order, each formatted into its taker's own buffer, and
// written strictly in order, so the file grows as one ordered stream. A
// row's record depends only on that row, and the injection never goes back
// to a finished row, so no row is read while it can still change.
class RecordFormatters {
  using RecordBuffer = std::vector<char, ScratchAllocator<char>>;

 public:
  explicit RecordFormatters(Run& run)
      : run_(run),
        chunks_((std::int64_t{run.ntot} + kRecordChunk - 1) / kRecordChunk),
        helper_([this] { format_chunks(helper_buffer_); }) {}
  RecordFormatters(const RecordFormatters&) = delete;
  RecordFormatters& operator=(const RecordFormatters&) = delete;
  // Without finish() (the run is stopping), chunks not yet written never are.
  ~RecordFormatters() {
    stop_all();
    if (helper_.joinable()) helper_.join();
  }

  // Rows 1..row are final. Stops the run if writing has failed.
  void rows_injected(std::int32_t row) {
    injected_.store(row, std::memory_order_release);
    injected_.notify_all();
    if (written_.load(std::memory_order_acquire) == kStoppedChunk) finish();
  }

  // Every row is final: formats chunks alongside the helper until all are
  // written, then rethrows a failure of either thread.
  void finish() {
    rows_injected_all();
    format_chunks(own_buffer_);
    if (helper_.joinable()) helper_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  static constexpr std::int32_t kStoppedRows = -1;
  static constexpr std::int64_t kStoppedChunk = -2;

  void rows_injected_all() {
    if (injected_.load(std::memory_order_acquire) == kStoppedRows) return;
    injected_.store(run_.ntot, std::memory_order_release);
    injected_.notify_all();
  }

  // Wakes every waiting thread and makes it give up.
  void stop_all() {
    injected_.store(kStoppedRows, std::memory_order_release);
    injected_.notify_all();
    written_.store(kStoppedChunk, std::memory_order_release);
    written_.notify_all();
  }

  // Waits until rows 1..row are final; false once everything stops.
  bool wait_for_rows(std::int32_t row) {
    for (;;) {
      const std::int32_t done = injected_.load(std::memory_order_acquire);
      if (done == kStoppedRows) return false;
      if (done >= row) return true;
      injected_.wait(done, std::memory_order_acquire);
    }
  }

  // Waits until every chunk before `chunk` is written; false once
  // everything stops.
  bool wait_for_turn(std::int64_t chunk) {
    for (;;) {
      const std::int64_t done = written_.load(std::memory_order_acquire);
      if (done == kStoppedChunk) return false;
      if (done == chunk - 1) return true;
      written_.wait(done, std::memory_order_acquire);
    }
  }

  void format_chunks(RecordBuffer& buffer) {
    try {
      for (;;) {
        const std::int64_t chunk = next_chunk_.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= chunks_) return;
        const auto first = static_cast<std::int32_t>(chunk * kRecordChunk + 1);
        const std::int32_t last = std::min(run_.ntot, first + kRecordChunk - 1);
        if (!wait_for_rows(last)) return;
        buffer.resize(static_cast<std::size_t>(kRecordChunk) * kMaxPedRecord);
        std::size_t size = 0;
        for (std::int32_t i = first; i <= last; ++i) {
          size += format_ped_record(buffer.data() + size, run_.IV1[i], run_.IV2[i], run_.IV3[i],
                                    run_.IV4[i], run_.GE1[i], run_.GE2[i]);
        }
        if (!wait_for_turn(chunk)) return;
        run_.files.pre.write_through({buffer.data(), size});
        written_.store(chunk, std::memory_order_release);
        written_.notify_all();
      }
    } catch (...) {
      {
        const std::lock_guard lock(failure_mutex_);
        if (!failure_) failure_ = std::current_exception();
      }
      stop_all();
    }
  }

  Run& run_;
  const std::int64_t chunks_;
  std::atomic<std::int64_t> next_chunk_{0};
  std::atomic<std::int32_t> injected_{0};
  std::atomic<std::int64_t> written_{-1};
  std::mutex failure_mutex_;
  std::exception_ptr failure_;
  RecordBuffer helper_buffer_;
  RecordBuffer own_buffer_;
  std::thread helper_;
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
      write_ped_record(run.files, run.IV1[i], run.IV2[i], run.IV3[i], run.IV4[i], run.GE1[i],
                       run.GE2[i]);
    }
  } else {
    RecordFormatters formatters(run);
    for (std::int32_t first = 1; first <= run.ntot; first += kRecordChunk) {
      const std::int32_t last = std::min(run.ntot, first + kRecordChunk - 1);
      inject_errors(run, first, last);
      formatters.rows_injected(last);
    }
    formatters.finish();
  }
  close_output_files(run.files);
}

}  // namespace pedsim
