#pragma once

#include <string>
#include <vector>

#include "pedsim/formats.hpp"

namespace pedsim {

// What merging the parts of a run split by chromosome made of their files.
struct MergeOutcome {
  // Files written in the folder: joined, or the same in every part.
  std::vector<std::string> written;
  // Files of the parts that differ and that merging does not join yet:
  // each part's holds its own chromosomes only.
  std::vector<std::string> not_joined;
};

// Joins the folders of the parts of one run split by chromosome
// (--only-chromosomes), given in the map's order, into `folder` (made if
// missing): the genotype files of every format, recorded and true, are the
// whole run's byte for byte, indexes included; a file that is the same in
// every part is copied. Throws Stop: status 2 for fewer than two parts, a
// part that lacks a file the first has, or parts whose samples differ; the
// file's diagnostic when one cannot be read or written.
MergeOutcome merge_parts(const std::vector<std::string>& parts, const std::string& folder,
                         int compression_level = kDefaultCompressionLevel);

}  // namespace pedsim
