#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "pedsim/simulation.hpp"
#include "platform/large_memory.hpp"

namespace pedsim {

// Formats and writes the "ped.pre" records of a large pedigree on two
// threads. A helper thread formats the chunks of rows that are final while
// the caller goes on (with error injection); once every row is final, the
// caller formats chunks too. Chunks are taken in order, each formatted into
// its taker's own buffer, and written strictly in order, so the sink receives
// one ordered stream. A row's record depends only on that row, and rows are
// only read once they are final.
class RecordFormatters {
 public:
  // Rows are formatted and written this many at a time.
  static constexpr std::int32_t kChunkRows = 1 << 14;

  RecordFormatters(const Pedigree& pedigree, const GenotypeStore& genotypes, ByteSink& out);
  RecordFormatters(const RecordFormatters&) = delete;
  RecordFormatters& operator=(const RecordFormatters&) = delete;
  // Without finish() (the run is stopping), chunks not yet written never are.
  ~RecordFormatters();

  // Rows 1..last_row are final. Stops the run if writing has failed.
  void rows_final(std::int32_t last_row);

  // Every row is final: formats chunks alongside the helper until all are
  // written, then rethrows a failure of either thread.
  void finish();

 private:
  using RecordBuffer = std::vector<char, ScratchAllocator<char>>;
  static constexpr std::int32_t kStoppedRows = -1;
  static constexpr std::int64_t kStoppedChunk = -2;

  void all_rows_final();
  void stop_all();
  bool wait_for_rows(std::int32_t row);
  bool wait_for_turn(std::int64_t chunk);
  void format_chunks(RecordBuffer& buffer);

  const Pedigree& pedigree_;
  const MarkerColumns& marker_;
  ByteSink& out_;
  const std::int64_t chunks_;
  std::atomic<std::int64_t> next_chunk_{0};
  std::atomic<std::int32_t> final_rows_{0};
  std::atomic<std::int64_t> written_{-1};
  std::mutex failure_mutex_;
  std::exception_ptr failure_;
  RecordBuffer helper_buffer_;
  RecordBuffer own_buffer_;
  std::thread helper_;
};

}  // namespace pedsim
