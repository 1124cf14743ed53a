#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Collects small pieces of output (records, lines) in a buffer and hands them
// to a sink in large blocks. The buffer starts small, so that small runs
// touch little memory, and grows up to the block size.
class BufferedWriter {
 public:
  static constexpr std::size_t kFileBlock = std::size_t{1} << 20;

  explicit BufferedWriter(ByteSink& sink, std::size_t block = kFileBlock)
      : sink_(sink), block_(block), buffer_(std::min(block, kFirstBuffer)) {}
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  // A writer still holding bytes is being left by a stop: what it holds is
  // written if the sink takes it, and a failure is dropped, since the run is
  // stopping with its own diagnostic already.
  ~BufferedWriter() {
    try {
      flush();
    } catch (const Stop&) {
    }
  }

  // Room for `bytes` more bytes at the end of the buffer; commit what was used.
  char* reserve(std::size_t bytes) {
    if (used_ + bytes > buffer_.size()) {
      if (buffer_.size() < block_) {
        buffer_.resize(std::max(std::min(2 * buffer_.size(), block_), used_ + bytes));
      } else {
        flush();
        if (bytes > buffer_.size()) buffer_.resize(bytes);
      }
    }
    return buffer_.data() + used_;
  }
  void commit(std::size_t bytes) { used_ += bytes; }
  // Bytes held, not yet handed to the sink.
  std::size_t pending() const { return used_; }
  void write(std::string_view text) {
    std::copy(text.begin(), text.end(), reserve(text.size()));
    commit(text.size());
  }

  // A large piece goes to the sink as it is, after what is buffered, rather
  // than through the buffer.
  void write_through(std::string_view text) {
    flush();
    sink_.write(text);
  }
  // Hands everything buffered to the sink. The buffer counts as handed over
  // even when the sink fails, so a stop never writes the same bytes twice.
  void flush() {
    const std::size_t size = used_;
    used_ = 0;
    if (size > 0) sink_.write({buffer_.data(), size});
  }

 private:
  static constexpr std::size_t kFirstBuffer = std::size_t{1} << 14;
  ByteSink& sink_;
  std::size_t block_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

}  // namespace pedsim
