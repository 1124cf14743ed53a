#include "input/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/diagnostic.hpp"
#include "platform/large_memory.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

[[noreturn]] void stop_reading(std::string_view what, const std::string& path,
                               const std::string& why, int error = 0) {
  throw Stop(code::kUsage,
             "pedsim: cannot read " + std::string(what) + " " + path + ": " + why + "\n", error,
             path);
}

// A descriptor that is closed however the reading ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO; give a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device; give a regular file";
  return "it is not a regular file";
}

}  // namespace

std::string read_input_file(const std::string& path, std::string_view what) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) stop_reading(what, path, std::strerror(errno), errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) stop_reading(what, path, std::strerror(errno), errno);
  if (!S_ISREG(info.st_mode)) stop_reading(what, path, kind_of(info.st_mode));
  // Read straight into memory of the file's size (huge pages: a pedigree's
  // names are looked up all over it).
  std::string text;
  text.reserve(static_cast<std::size_t>(info.st_size) + 1);
  prefer_huge_pages(text.data(), text.capacity());
  std::size_t size = 0;
  for (;;) {
    if (size == text.size()) text.resize(std::max(text.capacity(), size + (1 << 16)));
    const ssize_t got = ::read(file.get(), text.data() + size, text.size() - size);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      stop_reading(what, path, std::strerror(errno), errno);
    }
    size += static_cast<std::size_t>(got);
  }
  text.resize(size);
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    const auto at = static_cast<const char*>(nul) - text.data();
    const auto line = 1 + std::count(text.data(), text.data() + at, '\n');
    throw Stop(code::kUsage,
               "pedsim: " + std::string(what) + " " + path + ", line " + std::to_string(line) +
                   ": byte 0x00 is not text\n",
               0, path);
  }
  if (std::string_view(text).starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
  return text;
}

}  // namespace pedsim
