#include "sim/gene_drop.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "random/layer_stream.hpp"
#include "random/layer_words.hpp"
#include "sim/crossovers.hpp"
#include "sim/marker_numbers.hpp"
#include "sim/panel_fill.hpp"
#include "sim/panel_kernels.hpp"
#include "sim/panel_lanes.hpp"
#include "sim/panel_words.hpp"

namespace pedsim {

namespace {

// What one thread needs to breed rows of the panel.
class PanelBreeder {
 public:
  PanelBreeder(const Pedigree& pedigree, const GenotypeStore* design, const Seed& seed,
               Panel& panel, RowObserver* observer, int half, const StopRequest* stop)
      : pedigree_(pedigree),
        stop_(stop),
        design_(design),
        observer_(observer),
        half_(half),
        panel_(panel),
        key_(layer_key(seed.value, seed.replicate, Layer::kMarkers)),
        seed_(seed),
        markers_(panel.markers()),
        numbers_((static_cast<std::size_t>(markers_) + 3) / 4 * 2),
        mask_(panel.words()),
        founder_numbers_(key_, panel.map()),
        bounds_(founder_bounds(panel.map())),
        chromosome_starts_(chromosome_starts(panel.map())) {}

  // Rows first..last-1; a stop request ends it early (the run then stops).
  void breed(std::int32_t first, std::int32_t last) {
    for (std::int32_t i = first; i < last; ++i) {
      if (stop_ != nullptr && (i - first) % kRowsBetweenChecks == 0 && stop_->requested()) return;
      // A haplotype whose parent is unknown is drawn as a founder's.
      const std::int32_t sire = pedigree_.sire[i];
      const std::int32_t dam = pedigree_.dam[i];
      if (sire == 0) draw_founder(i, 0);
      if (dam == 0) draw_founder(i, 1);
      if (sire != 0) pass_on(i, 0, sire, PanelDraw::kFromSire);
      if (dam != 0) pass_on(i, 1, dam, PanelDraw::kFromDam);
      if (panel_.has_sex_linked_markers()) keep_one_copy(i);
      if (design_ != nullptr) copy_design_marker(i);
      if (observer_ != nullptr) observer_->row_bred(i, half_);
    }
  }

 private:
  // Marker by marker, the bounds that a founder's 32-bit number must reach
  // to take each allele after the first: the cumulative frequencies x 2^32.
  static std::vector<std::uint64_t> founder_bounds(const MarkerMap& map) {
    std::vector<std::uint64_t> bounds;
    for (const std::vector<double>& f : map.frequencies) {
      double cumulative = 0;
      for (std::size_t a = 0; a + 1 < f.size(); ++a) {
        cumulative += f[a];
        bounds.push_back(
            static_cast<std::uint64_t>(std::llround(std::min(cumulative, 1.0) * 0x1p32)));
      }
    }
    return bounds;
  }

  // The first marker of each run of markers on one chromosome, and one
  // past the last marker.
  static std::vector<std::int32_t> chromosome_starts(const MarkerMap& map) {
    std::vector<std::int32_t> starts;
    for (std::int32_t m = 0; m < map.size(); ++m) {
      if (m == 0 ||
          map.chromosome[static_cast<std::size_t>(m)] !=
              map.chromosome[static_cast<std::size_t>(m - 1)] ||
          map.in_whole(m) != map.in_whole(m - 1) + 1) {
        starts.push_back(m);
      }
      if (!map.linked()) break;
    }
    starts.push_back(map.size());
    return starts;
  }

  // The first `blocks` blocks of a stream of row `row`.
  const std::uint64_t* numbers(std::int32_t row, std::uint32_t lane, std::size_t blocks) {
    fill_layer_words(key_, static_cast<std::uint32_t>(row), lane, 0, numbers_.data(), blocks);
    return numbers_.data();
  }

  // Haplotype `side` of row i drawn from the markers' frequencies.
  void draw_founder(std::int32_t i, int side) {
    const std::uint32_t* u = founder_numbers_.of(
        static_cast<std::uint32_t>(i),
        panel_lane(side == 0 ? PanelDraw::kFounderFirst : PanelDraw::kFounderSecond));
    std::uint64_t* haplotype = PanelFill(panel_).haplotype(i, side);
    const auto markers = static_cast<std::size_t>(markers_);
    if (panel_.bits() == 1) {
      bits_at_or_above(u, bounds_.data(), markers, haplotype);
    } else {
      bytes_counting_bounds(u, bounds_.data(), panel_.map().alleles, markers,
                            reinterpret_cast<std::uint8_t*>(haplotype));
    }
  }

  void pass_on(std::int32_t child, int side, std::int32_t parent, PanelDraw draw) {
    if (panel_.map().linked()) {
      crossover_mask(child, draw);
    } else {
      random_mask(child, draw);
    }
    select_bits(PanelFill(panel_).haplotype(parent, 0), PanelFill(panel_).haplotype(parent, 1),
                mask_.data(), mask_.size(), PanelFill(panel_).haplotype(child, side));
  }

  // Unlinked: marker m comes from the second haplotype when bit m of the
  // meiosis's numbers is set.
  void random_mask(std::int32_t child, PanelDraw draw) {
    const std::uint64_t* bits = numbers(child, panel_lane(draw), (markers_ + 127) / 128);
    spread_bits(bits, panel_.bits(), markers_, mask_.data());
  }

  // Linked: along each chromosome, a first number picks the haplotype the
  // meiosis starts on, then exponential gaps place the crossovers.
  void crossover_mask(std::int32_t child, PanelDraw draw) {
    std::fill(mask_.begin(), mask_.end(), 0);
    const std::vector<double>& position = panel_.map().position_cm;
    for (std::size_t c = 0; c + 1 < chromosome_starts_.size(); ++c) {
      Crossovers meiosis(seed_, child, draw,
                         panel_.map().chromosome_run_in_whole(static_cast<std::int32_t>(c)));
      bool second = meiosis.starts_on_second();
      const std::int32_t end = chromosome_starts_[c + 1];
      for (std::int32_t m = chromosome_starts_[c]; m < end;) {
        const double crossover = meiosis.next();
        const auto next = static_cast<std::int32_t>(
            std::lower_bound(position.begin() + m, position.begin() + end, crossover) -
            position.begin());
        if (second) set_field_range(mask_.data(), panel_.bits(), m, next);
        second = !second;
        m = next;
      }
    }
  }

  // Where row i carries one copy, both haplotypes hold it: on X a male's
  // from his dam, on Y a male's from his sire (a female's Y is cleared), on
  // MT the dam's. The other copy was drawn or passed on as an autosome's;
  // a parent's two copies being alike, what it passes on is its one copy.
  void keep_one_copy(std::int32_t i) {
    std::uint64_t* from_sire = PanelFill(panel_).haplotype(i, 0);
    std::uint64_t* from_dam = PanelFill(panel_).haplotype(i, 1);
    const int bits = panel_.bits();
    const MarkerRange& x = panel_.x_markers();
    const MarkerRange& y = panel_.y_markers();
    const MarkerRange& mt = panel_.mt_markers();
    copy_field_range(from_dam, from_sire, bits, mt.first, mt.end);
    if (panel_.male(i)) {
      copy_field_range(from_dam, from_sire, bits, x.first, x.end);
      copy_field_range(from_sire, from_dam, bits, y.first, y.end);
    } else {
      clear_field_range(from_sire, bits, y.first, y.end);
      clear_field_range(from_dam, bits, y.first, y.end);
    }
  }

  // Marker 1 is the design's marker, as it was bred.
  void copy_design_marker(std::int32_t i) {
    const MarkerColumns& marker = design_->marker(0);
    PanelWords(PanelFill(panel_).haplotype(i, 0), panel_.bits()).set(0, marker.true_first[i] - 1);
    PanelWords(PanelFill(panel_).haplotype(i, 1), panel_.bits()).set(0, marker.true_second[i] - 1);
  }

  // A long panel's generation takes seconds: a stop is looked for every so
  // many rows.
  static constexpr std::int32_t kRowsBetweenChecks = 64;

  const Pedigree& pedigree_;
  const StopRequest* stop_;
  const GenotypeStore* design_;
  RowObserver* observer_;
  int half_;
  Panel& panel_;
  std::array<std::uint32_t, 2> key_;
  Seed seed_;
  std::int32_t markers_;
  std::vector<std::uint64_t> numbers_;
  std::vector<std::uint64_t> mask_;
  MarkerNumbers founder_numbers_;
  std::vector<std::uint64_t> bounds_;
  std::vector<std::int32_t> chromosome_starts_;
};

// Rows first..last-1 bred in two halves side by side.
void breed_rows(PanelBreeder& one, PanelBreeder& other, HelperThread& helper, std::int32_t first,
                std::int32_t last) {
  const std::int32_t middle = first + (last - first) / 2;
  helper.side_by_side([&] { one.breed(first, middle); }, [&] { other.breed(middle, last); });
}

// Per row, 1 for a male. The X and Y follow the sexes: every animal bred
// needs one.
std::vector<std::uint8_t> males_of(const Pedigree& pedigree) {
  std::vector<std::uint8_t> males(static_cast<std::size_t>(pedigree.rows()) + 1, 0);
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    males[static_cast<std::size_t>(i)] = pedigree.sex[i] == kMale ? 1 : 0;
  }
  return males;
}

}  // namespace

void drop_genes(const Pedigree& pedigree, const GenotypeStore& design, const Seed& seed,
                bool design_marker_first, Panel& panel, HelperThread& helper, RowObserver* observer,
                const StopRequest* stop, Progress* progress) {
  const std::int32_t bred = pedigree.created();
  PanelFill(panel).set_bred(bred);
  if (panel.has_sex_linked_markers()) PanelFill(panel).set_sexes(males_of(pedigree));
  const GenotypeStore* marker_one = design_marker_first ? &design : nullptr;
  PanelBreeder one(pedigree, marker_one, seed, panel, observer, 0, stop);
  PanelBreeder other(pedigree, marker_one, seed, panel, observer, 1, stop);
  // Rows of one generation follow each other and their parents all come
  // before them: each generation's rows are bred side by side.
  for (std::int32_t first = 1; first <= bred;) {
    std::int32_t last = first;
    while (last <= bred && pedigree.born[last] == pedigree.born[first]) ++last;
    breed_rows(one, other, helper, first, last);
    if (stop != nullptr) stop->check();
    if (observer != nullptr) observer->generation_bred();
    if (progress != nullptr) {
      progress->at("dropping the markers", static_cast<double>(last - 1) / bred);
    }
    first = last;
  }
}

}  // namespace pedsim
