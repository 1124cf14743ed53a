#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "pedsim/markers.hpp"

namespace pedsim {

struct Simulation;

// The relatedness truth a run is asked for.
struct RelatednessOptions {
  // segments.tsv and kinship.tsv.
  bool ibd = false;
  // pairs.tsv: "parent-offspring", "full-sibs", "half-sibs" (comma-separated),
  // or a file of pairs, two names a line.
  std::optional<std::string> pairs;

  bool asked() const { return ibd || pairs.has_value(); }
  // Stops (status 2) when asked of a run without a marker panel, whose one
  // marker passes on by the classic rule and has no crossovers to trace.
  void check(const MarkerOptions& markers) const;
  friend bool operator==(const RelatednessOptions&, const RelatednessOptions&) = default;
};

// A maximal stretch of one haplotype of an animal descending from one
// haplotype of one founder (an animal, or a parent the pedigree does not
// know, whose haplotype is drawn afresh). Haplotypes are 1 (from the sire)
// and 2 (from the dam); positions are centimorgans.
struct Segment {
  std::int32_t animal = 0;
  std::int32_t haplotype = 0;
  std::int32_t chromosome = 0;  // an index into Relatedness::chromosome_names()
  double start_cm = 0;
  double end_cm = 0;
  std::int32_t founder = 0;
  std::int32_t founder_haplotype = 0;
};

// The truth of a pair of animals: pedigree kinship (on the recorded and on
// the true pedigree), realised kinship, and the shares of the genome where
// they share 0, 1 and 2 haplotypes identical by descent.
struct PairTruth {
  std::int32_t first = 0;
  std::int32_t second = 0;
  std::string relationship;  // "parent-offspring", ... or "listed"
  double kinship_recorded = 0;
  double kinship_true = 0;
  double kinship_realised = 0;
  double ibd0 = 0;
  double ibd1 = 0;
  double ibd2 = 0;
};

// Where every stretch of every animal's genome comes from, traced through
// the crossovers the gene drop drew (time and memory in proportion to the
// crossovers, not the markers), and what follows from it. On a linked map
// each chromosome runs from 0 to its last marker's position; each unlinked
// marker is a chromosome of its own, named as the marker, of length 0. With
// the classic marker as marker 1 (three equally common unlinked alleles),
// marker 1 was passed on by the classic run's rule and has no segments.
// On X, Y and MT only the copies an animal carries have stretches (a
// male's X: haplotype 2; Y: a male's haplotype 1; MT: haplotype 2), each
// taken whole from the parent's one copy but for a dam's X; the realised
// coefficients, like the pedigree's, are of the autosomes (XY included).
class Relatedness {
 public:
  explicit Relatedness(const Simulation& run);

  const std::vector<Segment>& segments() const { return segments_; }
  const std::vector<std::string>& chromosome_names() const { return names_; }
  // Per animal (index animal - 1): pedigree inbreeding on the recorded and
  // on the true pedigree, and the realised share of the genome where the
  // two haplotypes descend from one founder haplotype.
  const std::vector<double>& inbreeding_recorded() const { return inbreeding_recorded_; }
  const std::vector<double>& inbreeding_true() const { return inbreeding_true_; }
  const std::vector<double>& inbreeding_realised() const { return inbreeding_realised_; }
  // The truth of each pair (animal numbers), with its relationship's name.
  std::vector<PairTruth> pairs(std::span<const std::pair<std::int32_t, std::int32_t>> pairs,
                               std::span<const std::string> relationships) const;

 private:
  std::span<const Segment> of(std::int32_t animal, int side, std::int32_t chromosome) const;

  const Simulation& run_;
  std::vector<std::string> names_;
  std::vector<double> lengths_;
  // Per chromosome, whether it is an autosome; and the autosomes' length
  // (an unlinked marker counting 1).
  std::vector<std::uint8_t> autosome_;
  double genome_ = 0;
  std::int32_t first_chromosome_ = 0;
  std::vector<Segment> segments_;
  // Where the segments of (animal, side, chromosome) start in segments_.
  std::vector<std::size_t> starts_;
  std::vector<std::int32_t> true_sire_, true_dam_;
  std::vector<double> inbreeding_recorded_, inbreeding_true_, inbreeding_realised_;
};

// The pairs `asked` names: kinds of relatives ("parent-offspring",
// "full-sibs", "half-sibs", comma-separated) on the recorded pedigree, or
// else a file that lists pairs (two names a line; a name the run lacks stops
// with status 2 naming the line); each with the name of its relationship.
struct PairList {
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  std::vector<std::string> relationships;
};
PairList pairs_of(const Simulation& run, const std::string& asked);

}  // namespace pedsim
