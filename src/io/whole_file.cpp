#include "io/whole_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "io/diagnostic.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kNewFileMark = ".pedsim-";

// Where a link that the user named points, as a path to open: the file it
// names, resolved through further links; `path` itself when it is no link.
std::string followed(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

}  // namespace

void WholeFile::aim(const std::string& dir, std::string_view name, int unit, Links links) {
  dir_ = dir;
  name_ = std::string(name);
  unit_ = unit;
  target_ = relative_path(dir, name);
  if (links == Links::kFollow) target_ = followed(target_);
}

void WholeFile::create() {
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
    stop_with_diagnostic(code::kOpenFailure, unit_, full_path(dir_, name_), EISDIR);
  }
  file_.open_beside(target_, full_path(dir_, name_), unit_);
  pending_ = true;
  claim_ = ::open(file_.opened_path().c_str(), O_RDONLY | O_CLOEXEC);
  if (claim_ >= 0) ::flock(claim_, LOCK_EX | LOCK_NB);
}

void WholeFile::commit() {
  file_.close();
  if (std::rename(file_.opened_path().c_str(), target_.c_str()) != 0) {
    const int err = errno;
    release_claim();
    stop_with_diagnostic(open_failure_code(err), unit_, file_.path(), err);
  }
  release_claim();
  pending_ = false;
}

void WholeFile::discard(bool target_too) noexcept {
  file_.close_quietly();
  unlink_files(target_too);
  release_claim();
  pending_ = false;
}

void WholeFile::release_claim() noexcept {
  if (claim_ >= 0) ::close(claim_);
  claim_ = -1;
}

void WholeFile::unlink_files(bool target_too) const noexcept {
  if (pending_) ::unlink(file_.opened_path().c_str());
  if (target_too && !target_.empty()) ::unlink(target_.c_str());
}

void write_whole_file(const std::string& dir, std::string_view name, int unit,
                      std::string_view text) {
  WholeFile file;
  file.aim(dir, name, unit, Links::kReplace);
  file.create();
  file.write(text);
  file.commit();
}

namespace {

// Whether a live run holds the new file `path` (see WholeFile::claim_).
bool is_claimed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool claimed = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return claimed;
}

}  // namespace

std::vector<std::string> remove_unfinished_files(const std::string& dir,
                                                 const std::vector<std::string>& names,
                                                 const std::vector<std::string>& keep) {
  std::vector<std::string> removed;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir.empty() ? "." : dir, error)) {
    const std::string file = entry.path().filename().string();
    const bool unfinished = std::any_of(names.begin(), names.end(), [&file](const auto& name) {
      const std::string prefix = "." + name + std::string(kNewFileMark);
      return file.size() == prefix.size() + 6 && file.starts_with(prefix);
    });
    const std::string path = relative_path(dir, file);
    if (!unfinished || std::find(keep.begin(), keep.end(), path) != keep.end()) continue;
    if (is_claimed(path)) continue;
    if (::unlink(path.c_str()) == 0) removed.push_back(full_path(dir, file));
  }
  return removed;
}

}  // namespace pedsim
