#pragma once

#include <string>
#include <string_view>

namespace pedsim {

// The whole text of a file the user gives as input, `what` naming its kind
// in messages ("pedigree file"). A byte-order mark at its start is left
// out. A usage error (status 2) names the file when it cannot be opened or
// read, is not a regular file (a folder, a device, a FIFO: nothing to read
// whole), or holds a NUL byte (with its line).
std::string read_input_file(const std::string& path, std::string_view what);

}  // namespace pedsim
