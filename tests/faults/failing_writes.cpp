// Preloaded into a dynamically linked pedsim: every write to the file named
// by PEDSIM_FAIL_WRITES_TO fails as on a full disk. The file is matched by
// its name in its folder, or by the name of the new file written beside it
// (".NAME.pedsim-XXXXXX"), so that each file of a run can be failed alone.
#include <dlfcn.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool fails(int fd) {
  const char* target = std::getenv("PEDSIM_FAIL_WRITES_TO");
  if (target == nullptr || *target == '\0') return false;
  char link[64];
  char path[4096];
  const int n = std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (n <= 0) return false;
  const ssize_t length = ::readlink(link, path, sizeof path);
  if (length <= 0) return false;
  std::string_view name(path, static_cast<std::size_t>(length));
  name.remove_prefix(name.rfind('/') + 1);
  const std::string_view wanted(target);
  if (name == wanted) return true;
  const std::string_view mark = ".pedsim-";
  return name.size() == 1 + wanted.size() + mark.size() + 6 && name.front() == '.' &&
         name.substr(1, wanted.size()) == wanted && name.substr(1 + wanted.size(), mark.size()) == mark;
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fails(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  static const auto real = next<ssize_t (*)(int, const struct iovec*, int)>("writev");
  if (fails(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, parts, count);
}

}  // extern "C"
