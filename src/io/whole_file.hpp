#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/unit_file.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// How a file that is a symbolic link is replaced.
enum class Links {
  kFollow,   // the file the link points to is replaced (names the user gave)
  kReplace,  // the link itself is replaced by the file (names pedsim picks)
};

// A file that is complete or absent: it is written to a new file beside its
// target (".NAME.pedsim-XXXXXX"), which replaces the target only once
// complete, so that no half-written file is ever read for a whole one.
class WholeFile : public ByteSink {
 public:
  WholeFile() = default;
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;
  ~WholeFile() override { discard(); }

  // Sets the target, `name` in folder `dir`; diagnostics name its unit.
  void aim(const std::string& dir, std::string_view name, int unit, Links links);
  // Creates the new file; a failure stops the run with the file-open
  // diagnostic naming the unit and the target's full path.
  void create();
  bool is_open() const { return file_.is_open(); }
  void write(std::string_view bytes) override { file_.write(bytes); }
  // Closes the file and puts it in place of its target.
  void commit();
  // Removes the unfinished file, and with `target_too` an earlier file of
  // the target's name as well. Never throws.
  void discard(bool target_too = false) noexcept;
  // Removes the same files as discard() but leaves the descriptor alone:
  // for another thread, while this one may still be writing.
  void unlink_files(bool target_too) const noexcept;

  const std::string& new_path() const { return file_.opened_path(); }
  // The full path by which diagnostics name the target, once created.
  const std::string& shown_path() const { return file_.path(); }
  const std::string& target_path() const { return target_; }

 private:
  void release_claim() noexcept;

  UnitFile file_;
  std::string dir_;
  std::string name_;
  std::string target_;
  int unit_ = 0;
  bool pending_ = false;
  // Held on the new file until it is in place or gone: a run that finds it
  // locked knows it is another live run's, not one a killed run left.
  int claim_ = -1;
};

// Writes `text` as the complete file `name` of folder `dir`, replacing a
// link of that name.
void write_whole_file(const std::string& dir, std::string_view name, int unit,
                      std::string_view text);

// Removes the new files of `names` in folder `dir` that a process killed
// while writing them left behind (those no live run holds), except `keep`;
// returns their paths.
std::vector<std::string> remove_unfinished_files(const std::string& dir,
                                                 const std::vector<std::string>& names,
                                                 const std::vector<std::string>& keep = {});

}  // namespace pedsim
