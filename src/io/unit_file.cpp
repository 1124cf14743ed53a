#include "io/unit_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "io/diagnostic.hpp"

namespace pedsim {

namespace {

// The path a working directory had before it was removed, as the system
// still records it; "" when even that is unknown.
std::string removed_directory_path() {
  std::vector<char> path(4096);
  const ssize_t length = ::readlink("/proc/self/cwd", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  std::string cwd(path.data(), static_cast<std::size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (cwd.size() > kDeleted.size() && cwd.ends_with(kDeleted)) {
    cwd.resize(cwd.size() - kDeleted.size());
  }
  return cwd.front() == '/' ? cwd : std::string();
}

// Writes all of `bytes`; returns 0, or the system's error number.
int write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

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

std::string relative_path(const std::string& dir, std::string_view name) {
  return name.starts_with('/') ? std::string(name) : dir + "/" + std::string(name);
}

void UnitFile::stop_on_open_failure() {
  const int err = errno;
  stop_with_diagnostic(open_failure_code(err), unit_, path_, err);
}

void UnitFile::stop_on_write_failure(int err) {
  if (write_error_ == 0) write_error_ = err;
  stop_with_diagnostic(code::kWriteError, unit_, path_, write_error_);
}

void UnitFile::open(const std::string& dir, std::string_view name, int unit, Existing existing) {
  unit_ = unit;
  write_error_ = 0;
  path_ = full_path(dir, name);
  opened_path_ = relative_path(dir, name);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (existing == Existing::kReplace ? O_TRUNC : 0);
  int fd;
  do {
    fd = ::open(opened_path_.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) stop_on_open_failure();
  fd_ = fd;
}

void UnitFile::open_beside(const std::string& target, const std::string& shown_path, int unit) {
  unit_ = unit;
  write_error_ = 0;
  path_ = shown_path;
  const std::size_t slash = target.rfind('/');
  opened_path_ = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".pedsim-XXXXXX";
  const int fd = ::mkostemp(opened_path_.data(), O_CLOEXEC);
  if (fd < 0) stop_on_open_failure();
  // As a file created by open() would be, within the user's umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  fd_ = fd;
}

void UnitFile::truncate() {
  // Only a regular file with contents has anything to drop; a device or a
  // pipe has none. An empty file is left alone: on ext4, truncating a file
  // marks it to be flushed to disk when it is closed.
  struct stat file {};
  if (fd_ < 0 || ::fstat(fd_, &file) != 0 || !S_ISREG(file.st_mode) || file.st_size == 0) return;
  if (::ftruncate(fd_, 0) != 0) stop_on_write_failure(errno);
}

void UnitFile::write(std::string_view bytes) {
  if (fd_ < 0) return;
  if (write_error_ != 0) stop_on_write_failure(write_error_);
  if (const int err = write_fully(fd_, bytes)) stop_on_write_failure(err);
}

void UnitFile::close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) stop_on_write_failure(errno);
  if (write_error_ != 0) stop_on_write_failure(write_error_);
}

void UnitFile::close_quietly() noexcept {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void Console::write(std::string_view bytes) {
  if (fd_ >= 0) write_fully(fd_, bytes);
}

}  // namespace pedsim
