#include "output/writers.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "output/diagnostic.hpp"

namespace pedsim {

namespace {

// File buffers start small, so that small runs touch little memory, and grow
// up to the block size in which large runs write.
constexpr std::size_t kFirstFileBuffer = std::size_t{1} << 14;
constexpr std::size_t kFileBlock = std::size_t{1} << 20;
constexpr std::size_t kConsoleBufferSize = std::size_t{1} << 16;
constexpr std::size_t kFieldColumns = 8;
constexpr int kConsoleIntColumns = 12;

void append_right_justified(std::string& out, std::int32_t value, int columns) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<int>(end - digits);
  if (length < columns) out.append(static_cast<std::size_t>(columns - length), ' ');
  out.append(digits, end);
}

// The path a working directory had before it was removed, as the system
// still records it; "" when even that is unknown.
std::string removed_directory_path() {
  std::vector<char> path(4096);
  const ssize_t length = ::readlink("/proc/self/cwd", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  std::string cwd(path.data(), static_cast<std::size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (cwd.size() > kDeleted.size() && cwd.ends_with(kDeleted))
    cwd.resize(cwd.size() - kDeleted.size());
  return cwd.front() == '/' ? cwd : std::string();
}

static_assert(std::endian::native == std::endian::little,
              "fields are built as little-endian words");

// The four decimal digits, as characters, of every number below 10000, the
// first digit in the lowest byte (the first in memory).
constexpr std::array<std::uint32_t, 10000> kFourDigits = [] {
  std::array<std::uint32_t, 10000> table{};
  for (std::uint32_t v = 0; v < 10000; ++v) {
    table[v] = ('0' + v / 1000) | ('0' + v / 100 % 10) << 8 | ('0' + v / 10 % 10) << 16 |
               ('0' + v % 10) << 24;
  }
  return table;
}();

// The eight decimal digits, as characters, of v < 10^8, the first in the
// lowest byte.
std::uint64_t decimal_digit_bytes(std::uint32_t v) {
  return kFourDigits[v / 10000] | std::uint64_t{kFourDigits[v % 10000]} << 32;
}

// Values below this fit in eight columns with a blank in front.
constexpr std::uint32_t kCommonFieldLimit = 10000000;

// The eight columns of a field in the common range as one word: the digits
// with their leading zeros (all but the last) turned into blanks. A single
// digit, the commonest field, needs no division.
std::uint64_t common_field(std::uint32_t v) {
  constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
  if (v < 10) return (kBlanks >> 8) | (std::uint64_t{'0' + v} << 56);
  const std::uint64_t digits = decimal_digit_bytes(v);
  const int leading_zeros = std::countr_zero(digits ^ 0x3030303030303030ULL) / 8;
  const std::uint64_t blanks = (std::uint64_t{1} << (8 * leading_zeros)) - 1;
  return (digits & ~blanks) | (kBlanks & blanks);
}

bool is_common_field(std::int32_t value) {
  return static_cast<std::uint32_t>(value) < kCommonFieldLimit;
}

}  // namespace

std::size_t format_file_field(char* out, std::int32_t value) {
  if (is_common_field(value)) {
    const std::uint64_t field = common_field(static_cast<std::uint32_t>(value));
    std::memcpy(out, &field, sizeof field);
    return kFieldColumns;
  }
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<std::size_t>(end - digits);
  const std::size_t width = length < kFieldColumns ? kFieldColumns : length + 1;
  std::memset(out, ' ', width - length);
  std::memcpy(out + (width - length), digits, length);
  return width;
}

std::string console_line_label_int(std::string_view label, std::int32_t value) {
  std::string line(" ");
  line += label;
  append_right_justified(line, value, kConsoleIntColumns);
  line += '\n';
  return line;
}

std::string console_line_int(std::int32_t value) {
  std::string line;
  append_right_justified(line, value, kConsoleIntColumns);
  line += '\n';
  return line;
}

void Console::write_line(std::string_view line) {
  buffer_ += line;
  if (buffer_.size() >= kConsoleBufferSize) flush();
}

void Console::flush() {
  if (fd_ < 0) return;
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

std::string current_directory() {
  std::vector<char> path(4096);
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return removed_directory_path();
    path.resize(path.size() * 2);
  }
  return path.data();
}

std::string full_path(const std::string& dir, std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  std::string base = dir;
  if (dir.empty() || dir.front() != '/') {
    base = current_directory();
    if (base.empty()) return std::string(name);
    if (!dir.empty() && dir != ".") base += "/" + dir;
  }
  return base + "/" + std::string(name);
}

void OutputFile::open(const std::string& dir, std::string_view name, int unit) {
  unit_ = unit;
  path_ = full_path(dir, name);
  const std::string relative =
      name.starts_with('/') ? std::string(name) : dir + "/" + std::string(name);
  int fd;
  do {
    fd = ::open(relative.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    stop_with_diagnostic(open_failure_code(err), unit, path_, err);
  }
  fd_ = fd;
  buffer_.resize(kFirstFileBuffer);
  used_ = 0;
}

char* OutputFile::reserve(std::size_t bytes) {
  if (used_ + bytes > buffer_.size()) {
    if (buffer_.size() < kFileBlock) {
      buffer_.resize(std::max(std::min(2 * buffer_.size(), kFileBlock), used_ + bytes));
    } else {
      flush();
    }
  }
  if (bytes > buffer_.size()) buffer_.resize(bytes);
  return buffer_.data() + used_;
}

void OutputFile::write(std::string_view text) {
  char* out = reserve(text.size());
  std::memcpy(out, text.data(), text.size());
  commit(text.size());
}

namespace {

// Writes all of `size` bytes; returns 0, or the system's error number.
int write_fully(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

void OutputFile::finish_pending_write() {
  if (pending_.joinable()) pending_.join();
  if (pending_error_ != 0) {
    const int err = pending_error_;
    pending_error_ = 0;
    stop_with_diagnostic(code::kWriteError, unit_, path_, err);
  }
}

void OutputFile::write_through(std::string_view data) {
  if (fd_ < 0) return;
  flush();
  finish_pending_write();
  if (const int err = write_fully(fd_, data.data(), data.size())) {
    stop_with_diagnostic(code::kWriteError, unit_, path_, err);
  }
}

void OutputFile::flush() {
  if (fd_ < 0) return;
  finish_pending_write();
  if (used_ == 0) return;
  // The buffer counts as written out even when the write fails, so a stop
  // does not try to write the same block again.
  const std::size_t size = used_;
  used_ = 0;
  if (size < kFileBlock) {
    if (const int err = write_fully(fd_, buffer_.data(), size)) {
      stop_with_diagnostic(code::kWriteError, unit_, path_, err);
    }
    return;
  }
  // A full block goes out on its own thread while the next one is filled.
  std::swap(buffer_, in_flight_);
  buffer_.resize(kFileBlock);
  pending_ =
      std::thread([this, size] { pending_error_ = write_fully(fd_, in_flight_.data(), size); });
}

void OutputFile::close() {
  if (fd_ < 0) return;
  flush();
  finish_pending_write();
  const int fd = fd_;
  fd_ = -1;
  buffer_ = {};
  in_flight_ = {};
  if (::close(fd) != 0 && errno != EINTR) {
    const int err = errno;
    stop_with_diagnostic(code::kWriteError, unit_, path_, err);
  }
}

void OutputFile::close_quietly() noexcept {
  if (fd_ < 0) return;
  try {
    flush();
    finish_pending_write();
  } catch (const Stop&) {
    // The run is already stopping; what could not be written is lost either way.
  }
  if (pending_.joinable()) pending_.join();
  ::close(fd_);
  fd_ = -1;
  used_ = 0;
}

void open_output_files(OutputFiles& files, const std::string& dir) {
  files.pre.open(dir, kPedPreName, unit::kPedPre);
  files.errors.open(dir, kPedErrorsName, unit::kPedErrors);
}

void console_label_int(Console& console, std::string_view label, std::int32_t value) {
  console.write_line(console_line_label_int(label, value));
  // Labelled lines mark the progress of a run: show them at once.
  console.flush();
}

void console_int(Console& console, std::int32_t value) {
  console.write_line(console_line_int(value));
}

std::size_t format_ped_record(char* out, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                              std::int32_t sex, std::int32_t allele1, std::int32_t allele2) {
  if (is_common_field(animal) && is_common_field(sire) && is_common_field(dam) &&
      is_common_field(sex) && is_common_field(allele1) && is_common_field(allele2)) {
    // Each field is stored straight from its word; gathering them first
    // and copying the record would read back what was just written.
    const std::int32_t values[6] = {animal, sire, dam, sex, allele1, allele2};
    for (std::size_t f = 0; f < 6; ++f) {
      const std::uint64_t field = common_field(static_cast<std::uint32_t>(values[f]));
      std::memcpy(out + f * kFieldColumns, &field, sizeof field);
    }
    out[6 * kFieldColumns] = '\n';
    return 6 * kFieldColumns + 1;
  }
  char* p = out;
  p += format_file_field(p, animal);
  p += format_file_field(p, sire);
  p += format_file_field(p, dam);
  p += format_file_field(p, sex);
  p += format_file_field(p, allele1);
  p += format_file_field(p, allele2);
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

void write_ped_record(OutputFiles& files, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                      std::int32_t sex, std::int32_t allele1, std::int32_t allele2) {
  char* out = files.pre.reserve(kMaxPedRecord);
  files.pre.commit(format_ped_record(out, animal, sire, dam, sex, allele1, allele2));
}

void write_error_record(OutputFiles& files, std::int32_t animal, std::int32_t old_allele) {
  char* out = files.errors.reserve(2 * kMaxFieldWidth + 1);
  char* p = out;
  p += format_file_field(p, animal);
  p += format_file_field(p, old_allele);
  *p++ = '\n';
  files.errors.commit(static_cast<std::size_t>(p - out));
}

void close_output_files(OutputFiles& files) {
  files.pre.close();
  files.errors.close();
}

}  // namespace pedsim
