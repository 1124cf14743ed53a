// Writes the manual page, pedsim(1), to standard output.

#include <cstdio>

#include "cli/command_line.hpp"

int main() {
  const std::string page = pedsim::manual_page();
  return std::fwrite(page.data(), 1, page.size(), stdout) == page.size() ? 0 : 1;
}
