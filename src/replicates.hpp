#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pedsim/pedsim.hpp"

namespace pedsim {

// A replicate study: replicates first..first+count-1 of one seed, each into
// its own folder of `outdir`.
struct ReplicateStudy {
  Parameters parameters;
  Seed seed;
  std::string outdir;
  std::int32_t first = 0;
  std::int32_t count = 0;
  int jobs = 1;
  // Report names, written in each replicate's folder.
  std::optional<std::string> truth;
  std::optional<std::string> summary;
  // The console lines of the arguments, with which every run's console starts.
  std::string echo;
};

// The folder of replicate r in a study's folder: r00000 to r99999.
std::string replicate_folder(const std::string& outdir, std::int32_t replicate);

// Runs the study, `jobs` replicates at a time. Each folder holds what a single
// run with --replicate R --outdir of that folder writes, and console.txt, its
// console; outdir/replicates.tsv gets a line per replicate. A failed replicate
// is reported on `stderr_fd` and in the table, and the others still run.
// Returns 0, or the status of the first replicate that failed.
int run_replicates(const ReplicateStudy& study, int stderr_fd);

// Rebuilds outdir/replicates.tsv from the run.tsv of its replicate folders,
// however they were made. Returns 0 when every folder holds a run that
// succeeded, else 1.
int collect_replicates(const std::string& outdir, int stderr_fd);

}  // namespace pedsim
