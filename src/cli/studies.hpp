#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pedsim/pedsim.hpp"

namespace pedsim {

// A replicate study: replicates first..first+count-1 of one seed, each into
// its own folder of `outdir`.
struct ReplicateStudy {
  // The numbers a pedigree is bred from, or the supplied pedigree (and its
  // file) every replicate drops its markers onto.
  Parameters parameters;
  std::shared_ptr<const SuppliedPedigree> supplied;
  std::string pedigree_file;
  Seed seed;
  std::string outdir;
  std::int32_t first = 0;
  std::int32_t count = 0;
  int jobs = 1;
  // Report names, written in each replicate's folder.
  std::optional<std::string> truth;
  std::optional<std::string> summary;
  bool quiet = false;
  Formats formats;
  bool true_genotypes = false;
  RelatednessOptions relatedness;
  Model model;
  MarkerOptions markers;
  RecordOptions records;
  // The console lines of the arguments, with which every run's console starts.
  std::string echo;
};

// The folder of replicate r in a study's folder: r00000 to r99999.
std::string replicate_folder(const std::string& outdir, std::int32_t replicate);

// Stops with a usage error when standard output or error (`stdout_fd`,
// `stderr_fd`) writes to a file of the study.
void check_study_console(const ReplicateStudy& study, int stdout_fd, int stderr_fd);

// Runs the study, `jobs` replicates at a time, holding the study folder's
// lock. The folder's study.tsv records the study; a folder that holds
// another study is refused, and the same study is resumed: replicates whose
// run.tsv says they finished are left alone. Each replicate's folder holds
// what a single run with --replicate R --outdir of that folder writes, and
// console.txt; outdir/replicates.tsv gets a line per replicate. A failed
// replicate is reported on `stderr_fd` and in the table, and the others
// still run. Returns 0, or the status of the first replicate that failed.
int run_replicates(const ReplicateStudy& study, int stderr_fd);

// What `pedsim collect` is asked for: the folder, and the replicates it
// should hold when no study.tsv says so.
struct CollectRequest {
  std::string outdir;
  std::optional<std::int32_t> first;
  std::optional<std::int32_t> count;
};

// Rebuilds outdir/replicates.tsv from the run.tsv of its replicate folders,
// however they were made: the replicates of its study.tsv, else those asked
// for, else those from the lowest to the highest folder found. Returns 0
// when every replicate is there and succeeded, else 1, naming the missing
// and failed ones on `stderr_fd`.
int collect_replicates(const CollectRequest& request, int stderr_fd);

}  // namespace pedsim
