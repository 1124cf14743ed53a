#include "sim/panel_errors.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "random/layer_stream.hpp"
#include "random/layer_words.hpp"
#include "sim/error_injection.hpp"
#include "sim/marker_numbers.hpp"
#include "sim/panel_fill.hpp"
#include "sim/panel_kernels.hpp"
#include "sim/panel_words.hpp"

namespace pedsim {

namespace {

std::uint32_t scale_of(std::size_t choices, std::uint64_t threshold) {
  if (threshold == 0) return 0;
  const std::uint64_t scale = (std::uint64_t{choices} << 32) / threshold;
  return scale >> 32 != 0 ? 0 : static_cast<std::uint32_t>(scale);
}

bool all_equal(const std::vector<double>& shares) {
  return std::all_of(shares.begin(), shares.end(), [&](double s) { return s == shares[0]; });
}

// Draws the replacement codes of candidates first..last-1.
class PanelErrors {
 public:
  PanelErrors(const DesignCodes& codes, const Seed& seed, Panel& panel)
      : panel_(panel),
        codes_of_(codes),
        key_(layer_key(seed.value, seed.replicate, Layer::kGenotypeErrors)),
        markers_(panel.markers()),
        numbers_(key_, panel.map()),
        codes_(codes.equal_shares() ? 0 : static_cast<std::size_t>(markers_)) {}

  void draw(std::size_t first, std::size_t last) {
    for (std::size_t c = first; c < last; ++c) {
      const std::int32_t animal = panel_.candidates()[c];
      const std::uint32_t* u = numbers_.of(static_cast<std::uint32_t>(animal), 0);
      // Below the threshold, u / threshold is itself uniform: it picks the
      // replacement.
      if (codes_of_.equal_shares()) {
        codes_below(u, codes_of_.threshold(), codes_of_.scale(), panel_.code_bits(),
                    static_cast<std::size_t>(markers_), PanelFill(panel_).replacements(c));
      } else {
        codes_by_shares(u);
        pack(PanelFill(panel_).replacements(c));
      }
    }
  }

 private:
  void codes_by_shares(const std::uint32_t* u) {
    for (std::int32_t m = 0; m < markers_; ++m) {
      codes_[m] = static_cast<std::uint16_t>(codes_of_.code(u[m]));
    }
  }

  void pack(std::uint64_t* row) const {
    const int bits = panel_.code_bits();
    if (bits == 16) {
      std::memcpy(row, codes_.data(), codes_.size() * sizeof(std::uint16_t));
      return;
    }
    const int per_word = 64 / bits;
    for (std::size_t w = 0; w < panel_.code_words(); ++w) {
      std::uint64_t word = 0;
      const std::size_t first = w * per_word;
      const std::size_t end = std::min(codes_.size(), first + per_word);
      for (std::size_t m = first; m < end; ++m) {
        word |= std::uint64_t{codes_[m]} << ((m - first) * bits);
      }
      row[w] = word;
    }
  }

  Panel& panel_;
  const DesignCodes& codes_of_;
  std::array<std::uint32_t, 2> key_;
  std::int32_t markers_;
  MarkerNumbers numbers_;
  std::vector<std::uint16_t> codes_;
};

// Animals whose records were kept while both their parents' were lost, by
// the lost flags: a supplied pedigree's design marker holds no alleles. On
// Y a dam has no genotype, so a son whose sire's records were lost is a
// candidate there too (`y_only` marks those).
std::vector<std::int32_t> error_candidates(const Pedigree& pedigree, const GenotypeStore& design,
                                           const Panel& panel, std::vector<std::uint8_t>& y_only) {
  std::vector<std::int32_t> candidates;
  const bool y = !panel.y_markers().empty();
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    const std::int32_t sire = pedigree.sire[i];
    const std::int32_t dam = pedigree.dam[i];
    if (design.lost[i] != 0 || sire == 0 || dam == 0 || design.lost[sire] == 0) continue;
    const bool both = design.lost[dam] != 0;
    if (!both && !(y && pedigree.sex[i] == kMale)) continue;
    candidates.push_back(i);
    y_only.push_back(both ? 0 : 1);
  }
  return candidates;
}

// A candidate on Y alone keeps its codes there only.
void keep_y_codes(const std::vector<std::uint8_t>& y_only, Panel& panel) {
  const MarkerRange& y = panel.y_markers();
  for (std::size_t c = 0; c < y_only.size(); ++c) {
    if (y_only[c] == 0) continue;
    std::uint64_t* codes = PanelFill(panel).replacements(c);
    clear_field_range(codes, panel.code_bits(), 0, y.first);
    clear_field_range(codes, panel.code_bits(), y.end, panel.markers());
  }
}

// Marker 1 is the design's marker: its recorded first allele, where an
// error changed it.
void keep_design_errors(const GenotypeStore& design, Panel& panel) {
  const MarkerColumns& marker = design.marker(0);
  for (std::size_t c = 0; c < panel.candidates().size(); ++c) {
    const std::int32_t i = panel.candidates()[c];
    const std::int32_t recorded = marker.recorded_first[i];
    PanelWords(PanelFill(panel).replacements(c), panel.code_bits())
        .set(0, recorded != marker.true_first[i] ? static_cast<std::uint32_t>(recorded) : 0);
  }
}

}  // namespace

DesignCodes::DesignCodes(const Model& model, const std::vector<double>& shares)
    : threshold_(static_cast<std::uint64_t>(std::llround(model.error_probability * 0x1p32))),
      scale_(scale_of(shares.size(), threshold_)),
      equal_shares_(all_equal(shares) && scale_ != 0),
      replacement_(shares) {}

void degrade_panel(const Pedigree& pedigree, const GenotypeStore& design, const Model& model,
                   const std::vector<double>& replacement_shares, const Seed& seed,
                   bool design_marker_first, Panel& panel, HelperThread& helper) {
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    if (design.lost[i] != 0) PanelFill(panel).set_lost(i);
  }
  std::vector<std::uint8_t> y_only;
  PanelFill(panel).set_candidates(error_candidates(pedigree, design, panel, y_only));
  const DesignCodes codes(model, replacement_shares);
  PanelErrors one(codes, seed, panel);
  PanelErrors other(codes, seed, panel);
  const std::size_t candidates = panel.candidates().size();
  helper.side_by_side([&] { one.draw(0, candidates / 2); },
                      [&] { other.draw(candidates / 2, candidates); });
  keep_y_codes(y_only, panel);
  if (design_marker_first) keep_design_errors(design, panel);
}

}  // namespace pedsim
