#include "io/report_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "io/diagnostic.hpp"

namespace pedsim {

void ReportFile::create(const std::string& dir, std::string_view name, int unit) {
  target_ = relative_path(dir, name);
  unit_ = unit;
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
    stop_with_diagnostic(code::kOpenFailure, unit, full_path(dir, name), EISDIR);
  }
  file_.open_beside(dir, name, unit);
  pending_ = true;
}

void ReportFile::commit() {
  file_.close();
  if (std::rename(file_.opened_path().c_str(), target_.c_str()) != 0) {
    const int err = errno;
    stop_with_diagnostic(open_failure_code(err), unit_, file_.path(), err);
  }
  pending_ = false;
}

void ReportFile::discard(bool target_too) noexcept {
  file_.close_quietly();
  if (pending_) ::unlink(file_.opened_path().c_str());
  pending_ = false;
  if (target_too && !target_.empty()) ::unlink(target_.c_str());
}

}  // namespace pedsim
