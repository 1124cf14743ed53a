#pragma once

#include <string>
#include <string_view>

#include "pedsim/markers.hpp"
#include "pedsim/records.hpp"

namespace pedsim {

// A file format that holds a run's recorded genotypes and pedigree.
enum class Format : unsigned {
  kPre = 1,        // ped.pre (and ped.errors, written whatever the format)
  kPlink = 2,      // PLINK 1 binary: ped.bed, ped.bim, ped.fam
  kPlinkText = 4,  // PLINK text: ped.ped, ped.map
  kVcf = 8,        // ped.vcf.gz, BGZF with a CSI index (ped.vcf.gz.csi)
};

// The formats a run writes; ped.pre alone by default.
class Formats {
 public:
  Formats() = default;
  // A comma-separated list of "pre", "plink", "plink-text" and "vcf"; an
  // unknown or empty name stops (status 2) naming --format.
  static Formats parse(std::string_view list);
  bool has(Format format) const { return (set_ & static_cast<unsigned>(format)) != 0; }
  void add(Format format) { set_ |= static_cast<unsigned>(format); }
  bool is_default() const { return set_ == static_cast<unsigned>(Format::kPre); }
  // The list in a fixed order: "pre,plink,plink-text,vcf".
  std::string text() const;
  // Stops (status 2) before anything is written when a format cannot hold
  // the genotypes the options give: PLINK's binary files hold two alleles
  // per marker, and the design's error rule can record a third.
  void check(const MarkerOptions& markers, const RecordOptions& records) const;

  friend bool operator==(const Formats&, const Formats&) = default;

 private:
  unsigned set_ = static_cast<unsigned>(Format::kPre);
};

}  // namespace pedsim
