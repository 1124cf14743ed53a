#include "formats/bgzf_file.hpp"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include "io/diagnostic.hpp"
#include "platform/helper_thread.hpp"

namespace pedsim {

namespace {

unsigned cores() { return std::max(1U, std::thread::hardware_concurrency()); }

// CSI bins of 2^14 bases at the finest level, as bcftools index makes, and
// as many levels as the longest contig needs: for text records at least
// tabix's six.
constexpr int kCsiMinShift = 14;
int csi_levels(RecordIndex::Records records, std::int64_t longest) {
  int levels = records == RecordIndex::Records::kText ? (31 - kCsiMinShift + 2) / 3 : 0;
  for (std::int64_t span = std::int64_t{1} << (kCsiMinShift + 3 * levels); longest + 256 > span;
       span <<= 3) {
    ++levels;
  }
  return levels;
}

// Where each BGZF block of a closed file starts, compressed and not.
struct Blocks {
  std::vector<std::uint64_t> compressed;
  std::vector<std::uint64_t> stream;

  // The virtual offset of `position` of the stream, a record's end: in the
  // block holding the byte before it, as a reader stands after reading it.
  std::uint64_t virtual_offset(std::uint64_t position) const {
    const auto after = std::lower_bound(stream.begin(), stream.end(), position);
    const auto k = static_cast<std::size_t>(after - stream.begin()) - (position > 0 ? 1 : 0);
    return compressed[k] << 16 | (position - stream[k]);
  }
};

std::uint32_t little_endian(const unsigned char* at, int bytes) {
  std::uint32_t value = 0;
  for (int b = bytes - 1; b >= 0; --b) value = value << 8 | at[b];
  return value;
}

// Reads each block's header and uncompressed size (its last 4 bytes).
Blocks blocks_of(const IndexedFile& file) {
  const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) stop_writing(file);
  Blocks blocks;
  std::uint64_t compressed = 0;
  std::uint64_t stream = 0;
  std::array<unsigned char, 18> header{};
  for (;;) {
    const ssize_t got = ::pread(fd, header.data(), header.size(), static_cast<off_t>(compressed));
    if (got == 0) break;
    std::array<unsigned char, 4> size{};
    const bool bgzf = got == static_cast<ssize_t>(header.size()) && header[0] == 31 &&
                      header[1] == 139 && header[12] == 'B' && header[13] == 'C';
    const std::uint64_t length = little_endian(&header[16], 2) + std::uint64_t{1};
    if (!bgzf || ::pread(fd, size.data(), size.size(),
                         static_cast<off_t>(compressed + length - size.size())) != 4) {
      ::close(fd);
      stop_writing(file);
    }
    blocks.compressed.push_back(compressed);
    blocks.stream.push_back(stream);
    compressed += length;
    stream += little_endian(size.data(), 4);
  }
  ::close(fd);
  return blocks;
}

// tabix's description of VCF records and the contigs' names, which a CSI
// index of text records carries.
std::vector<std::uint8_t> tabix_meta(const std::vector<std::string>& contigs) {
  std::array<std::int32_t, 7> conf{};
  std::memcpy(conf.data(), &tbx_conf_vcf, sizeof(tbx_conf_t));
  std::vector<std::uint8_t> names;
  for (const std::string& contig : contigs) {
    names.insert(names.end(), contig.begin(), contig.end());
    names.push_back(0);
  }
  conf[6] = static_cast<std::int32_t>(names.size());
  std::vector<std::uint8_t> meta(sizeof conf);
  std::memcpy(meta.data(), conf.data(), sizeof conf);
  meta.insert(meta.end(), names.begin(), names.end());
  return meta;
}

}  // namespace

int compressing_threads() { return threads_can_start(cores() + 1) ? static_cast<int>(cores()) : 0; }

void stop_writing(const IndexedFile& file, bool index) {
  if (errno == ENOMEM) stop_with_diagnostic(code::kNoMemory);
  stop_with_diagnostic(code::kWriteError, file.unit,
                       index ? file.shown_index_path : file.shown_path, errno != 0 ? errno : EIO);
}

BgzfSink::BgzfSink(const IndexedFile& file) : file_(file) {
  const std::string mode = std::string("w").append(std::to_string(file.compression_level));
  bgzf_ = bgzf_open(file.path.c_str(), mode.c_str());
  if (bgzf_ == nullptr) stop_writing(file_);
  const int threads = compressing_threads();
  if (threads > 0 && bgzf_mt(bgzf_, threads, 64) != 0) stop_writing(file_);
}

BgzfSink::~BgzfSink() {
  if (bgzf_ != nullptr) bgzf_close(bgzf_);
}

void BgzfSink::write(std::string_view bytes) {
  if (bgzf_write(bgzf_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    stop_writing(file_);
  }
  written_ += bytes.size();
}

void BgzfSink::close() {
  BGZF* const bgzf = std::exchange(bgzf_, nullptr);
  if (bgzf_close(bgzf) != 0) stop_writing(file_);
}

RecordIndex::RecordIndex(Records records, std::vector<std::string> contigs, std::int64_t longest)
    : kind_(records), contigs_(std::move(contigs)), longest_(longest) {}

void RecordIndex::write(const IndexedFile& file) const {
  errno = 0;
  const Blocks blocks = blocks_of(file);
  hts_idx_t* const index =
      hts_idx_init(static_cast<int>(contigs_.size()), HTS_FMT_CSI,
                   blocks.virtual_offset(header_end_), kCsiMinShift, csi_levels(kind_, longest_));
  if (index == nullptr) stop_writing(file, true);
  bool good = true;
  for (const Record& r : records_) {
    good = good && hts_idx_push(index, r.contig, r.begin, r.end,
                                blocks.virtual_offset(r.stream_end), 1) == 0;
  }
  if (kind_ == Records::kText) {
    std::vector<std::uint8_t> meta = tabix_meta(contigs_);
    good = good &&
           hts_idx_set_meta(index, static_cast<std::uint32_t>(meta.size()), meta.data(), 1) == 0;
  }
  // A reader at the end stands at the start of the end-of-file block.
  good = good && hts_idx_finish(index, blocks.compressed.back() << 16) == 0;
  good = good && hts_idx_save_as(index, nullptr, file.index_path.c_str(), HTS_FMT_CSI) == 0;
  hts_idx_destroy(index);
  if (!good) stop_writing(file, true);
}

}  // namespace pedsim
