#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace pedsim {

// Arguments that no pedigree can be bred from (no male, fewer founders than
// males, a negative number of generations, fewer dams than sires).
class InvalidParameters : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A table whose size in bytes does not fit in 32 bits.
class TableTooLarge : public std::length_error {
 public:
  TableTooLarge() : std::length_error("the table's size in bytes does not fit in 32 bits") {}
};

// A failed run's diagnostic: the text for standard error and the exit
// status the command line ends with; for a file that failed, the system's
// error number and the file's full path.
class Stop : public std::runtime_error {
 public:
  Stop(int status, std::string text, int error_number = 0, std::string path = {})
      : std::runtime_error(text),
        status_(status),
        text_(std::move(text)),
        error_number_(error_number),
        path_(std::move(path)) {}
  int status() const { return status_; }
  const std::string& text() const { return text_; }
  int error_number() const { return error_number_; }
  const std::string& path() const { return path_; }

 private:
  int status_;
  std::string text_;
  int error_number_;
  std::string path_;
};

}  // namespace pedsim
