#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/format_files.hpp"
#include "pedsim/simulation.hpp"

typedef struct BGZF BGZF;

namespace pedsim {

// The threads htslib may take to compress: one per core, or none where they
// cannot all be started (a process or memory limit), since its pool would
// wait forever for the one that failed.
int compressing_threads();

// Stops the run with the write diagnostic of `file`'s data (or, with
// `index`, of its index), or with the memory diagnostic when memory ran out.
[[noreturn]] void stop_writing(const IndexedFile& file, bool index = false);

// A BGZF file compressed by htslib on every core at the file's compression
// level, as a sink that counts what it was given; a failure stops the run
// with the write diagnostic.
class BgzfSink : public ByteSink {
 public:
  explicit BgzfSink(const IndexedFile& file);
  BgzfSink(const BgzfSink&) = delete;
  BgzfSink& operator=(const BgzfSink&) = delete;
  ~BgzfSink() override;

  void write(std::string_view bytes) override;
  // Bytes given so far: the uncompressed stream's offset.
  std::uint64_t written() const { return written_; }
  // Writes the last blocks and the end-of-file block.
  void close();

 private:
  const IndexedFile& file_;
  BGZF* bgzf_ = nullptr;
  std::uint64_t written_ = 0;
};

// A CSI index of a BGZF file of records in order, made as the records are
// written from where each ends in the uncompressed stream, and placed once
// the file is closed by the blocks' own headers: the file is not read back
// record by record. It is the index htslib would make of the file.
class RecordIndex {
 public:
  // VCF's text records, indexed as tabix does, or BCF's.
  enum class Records { kText, kBcf };
  // Records on `contigs` (by number) whose longest is `longest` bases.
  RecordIndex(Records records, std::vector<std::string> contigs, std::int64_t longest);
  // The header ends at `end` of the stream.
  void set_header_end(std::uint64_t end) { header_end_ = end; }
  // A record on contig `contig` at bases [begin, end) (0-based) ending at
  // `stream_end`.
  void add(std::int32_t contig, std::int64_t begin, std::int64_t end, std::uint64_t stream_end) {
    records_.push_back({contig, begin, end, stream_end});
  }
  // Writes the index of the closed file.
  void write(const IndexedFile& file) const;

 private:
  struct Record {
    std::int32_t contig;
    std::int64_t begin;
    std::int64_t end;
    std::uint64_t stream_end;
  };
  Records kind_;
  std::vector<std::string> contigs_;
  std::int64_t longest_;
  std::uint64_t header_end_ = 0;
  std::vector<Record> records_;
};

}  // namespace pedsim
