#include "formats/record_formatters.hpp"

#include <algorithm>
#include <system_error>

#include "formats/design_records.hpp"

namespace pedsim {

RecordFormatters::RecordFormatters(const Pedigree& pedigree, const GenotypeStore& genotypes,
                                   ByteSink& out)
    : pedigree_(pedigree),
      marker_(genotypes.marker(0)),
      out_(out),
      chunks_((std::int64_t{pedigree.rows()} + kChunkRows - 1) / kChunkRows) {
  try {
    helper_ = std::thread([this] { format_chunks(helper_buffer_); });
  } catch (const std::system_error&) {
    // No helper: finish() formats every chunk on the caller's thread.
  }
}

RecordFormatters::~RecordFormatters() {
  stop_all();
  if (helper_.joinable()) helper_.join();
}

void RecordFormatters::rows_final(std::int32_t last_row) {
  final_rows_.store(last_row, std::memory_order_release);
  final_rows_.notify_all();
  if (written_.load(std::memory_order_acquire) == kStoppedChunk) finish();
}

void RecordFormatters::finish() {
  all_rows_final();
  format_chunks(own_buffer_);
  if (helper_.joinable()) helper_.join();
  if (failure_) std::rethrow_exception(failure_);
}

void RecordFormatters::all_rows_final() {
  if (final_rows_.load(std::memory_order_acquire) == kStoppedRows) return;
  final_rows_.store(pedigree_.rows(), std::memory_order_release);
  final_rows_.notify_all();
}

// Wakes every waiting thread and makes it give up.
void RecordFormatters::stop_all() {
  final_rows_.store(kStoppedRows, std::memory_order_release);
  final_rows_.notify_all();
  written_.store(kStoppedChunk, std::memory_order_release);
  written_.notify_all();
}

// Waits until rows 1..row are final; false once everything stops.
bool RecordFormatters::wait_for_rows(std::int32_t row) {
  for (;;) {
    const std::int32_t done = final_rows_.load(std::memory_order_acquire);
    if (done == kStoppedRows) return false;
    if (done >= row) return true;
    final_rows_.wait(done, std::memory_order_acquire);
  }
}

// Waits until every chunk before `chunk` is written; false once everything
// stops.
bool RecordFormatters::wait_for_turn(std::int64_t chunk) {
  for (;;) {
    const std::int64_t done = written_.load(std::memory_order_acquire);
    if (done == kStoppedChunk) return false;
    if (done == chunk - 1) return true;
    written_.wait(done, std::memory_order_acquire);
  }
}

void RecordFormatters::format_chunks(RecordBuffer& buffer) {
  try {
    for (;;) {
      const std::int64_t chunk = next_chunk_.fetch_add(1, std::memory_order_relaxed);
      if (chunk >= chunks_) return;
      const auto first = static_cast<std::int32_t>(chunk * kChunkRows + 1);
      const std::int32_t last = std::min(pedigree_.rows(), first + kChunkRows - 1);
      if (!wait_for_rows(last)) return;
      buffer.resize(static_cast<std::size_t>(kChunkRows) * kMaxPedRecord);
      std::size_t size = 0;
      for (std::int32_t i = first; i <= last; ++i) {
        size += format_ped_record(buffer.data() + size, pedigree_.animal(i), pedigree_.sire[i],
                                  pedigree_.dam[i], pedigree_.sex[i], marker_.recorded_first[i],
                                  marker_.recorded_second[i]);
      }
      if (!wait_for_turn(chunk)) return;
      out_.write({buffer.data(), size});
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

}  // namespace pedsim
