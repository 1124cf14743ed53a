#pragma once

#include <span>
#include <string>
#include <string_view>

#include "formats/genotype_view.hpp"
#include "pedsim/formats.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// Where a file written by a library that opens files itself goes: the new
// file and its index, and how diagnostics name the file and its unit.
struct IndexedFile {
  std::string path;
  std::string index_path;
  std::string shown_path;
  std::string shown_index_path;
  int unit = 0;
  // Told as the file is written, with its stage's name.
  Progress* progress = nullptr;
  std::string stage;
  double expected_bytes = 0;
  // Deflate's level for a compressed file: 0 (stored) to 9.
  int compression_level = kDefaultCompressionLevel;
};

using GenotypeWriter = void (*)(const Simulation& run, Genotypes genotypes, ByteSink& out);
using IndexedWriter = void (*)(const Simulation& run, Genotypes genotypes, const IndexedFile& file);

// One file of a format: its names for the recorded and the true genotypes
// ("" where the run writes it as it forms, ped.pre) and its writer; or,
// for a file a library writes with an index beside it, the index's names
// and the writer of both.
struct FormatFile {
  std::string_view recorded_name;
  std::string_view true_name;
  GenotypeWriter write = nullptr;
  std::string_view recorded_index = {};
  std::string_view true_index = {};
  IndexedWriter write_indexed = nullptr;
  // About how many bytes its writer gives per genotype, the share of them
  // the file keeps on disk (compressed files keep less) and the time it
  // takes per genotype (bench/, 2 cores): for progress and for what a run
  // will need.
  double bytes_per_genotype = 0;
  double stored_share = 1;
  double nanoseconds_per_genotype = 0;
};

// A format's files, in the order they are written, and the unit number
// their diagnostics give.
struct FormatFiles {
  int unit;
  std::span<const FormatFile> files;
};

}  // namespace pedsim
