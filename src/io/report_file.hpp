#pragma once

#include <string>
#include <string_view>

#include "io/output_file.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

// A report that is complete or absent: it is written to a new file beside
// its target, which it replaces only once complete, so that no half-written
// report is ever read for a whole one.
class ReportFile : public ByteSink {
 public:
  ReportFile() = default;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  ~ReportFile() override { discard(); }

  // Creates the new file; a failure stops the run with the file-open
  // diagnostic naming the report's unit and full path.
  void create(const std::string& dir, std::string_view name, int unit);
  bool is_open() const { return file_.is_open(); }
  void write(std::string_view bytes) override { file_.write(bytes); }
  // Closes the report and puts it in place of its target.
  void commit();
  // Removes the unfinished report, and with `target_too` an earlier report
  // of the target's name as well. Never throws.
  void discard(bool target_too = false) noexcept;

  const std::string& new_path() const { return file_.opened_path(); }
  const std::string& target_path() const { return target_; }

 private:
  OutputFile file_;
  std::string target_;
  int unit_ = 0;
  bool pending_ = false;
};

}  // namespace pedsim
