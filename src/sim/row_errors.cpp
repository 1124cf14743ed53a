#include "sim/row_errors.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "models/error_kernels.hpp"
#include "random/distributions.hpp"
#include "random/layer_words.hpp"
#include "sim/error_injection.hpp"
#include "sim/rare_events.hpp"
#include "sim/record_lanes.hpp"

namespace pedsim {

namespace {

LayerStream error_stream(const Seed& seed, std::uint32_t row, std::uint32_t lane) {
  return LayerStream(seed.value, seed.replicate, Layer::kGenotypeErrors, row, lane);
}

const ErrorKernel& kernel_of(const RecordOptions& options) {
  return *find_error_model(options.error_model)->kernel;
}

// Copies of allele 2 in a two-allele genotype, and back.
int copies(std::int32_t a, std::int32_t b) { return (a == 2 ? 1 : 0) + (b == 2 ? 1 : 0); }
constexpr std::uint16_t kGenotypeAlleles[3][2] = {{1, 1}, {1, 2}, {2, 2}};

// A hemizygous genotype (its one allele `a` held twice) that a model
// changed to (first, second) is recorded as the one allele changed: an
// error there is never a heterozygote.
std::int32_t one_copy(std::int32_t first, std::int32_t second, std::int32_t a) {
  return first != a ? first : second;
}

}  // namespace

RowErrors::RowErrors(const Pedigree& pedigree, const Model& model,
                     const std::vector<double>& shares, const RecordOptions& options,
                     const ErrorMatrix& matrix, const std::vector<double>& rates, const Seed& seed,
                     const Panel& panel, std::vector<std::uint32_t>& counts,
                     const GenotypeStore* design_marker)
    : pedigree_(pedigree),
      matrix_(matrix),
      rates_(rates),
      seed_(seed),
      panel_(panel),
      counts_(counts),
      kernel_(kernel_of(options)),
      alleles_(panel.map().alleles),
      design_codes_(model, shares),
      design_marker_(design_marker),
      lowest_rate_(rates.empty() ? 0 : *std::min_element(rates.begin(), rates.end())),
      highest_rate_(rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end())),
      events_(layer_key(seed.value, seed.replicate, Layer::kGenotypeErrors),
              record_lane(RecordDraw::kCells), record_lane(RecordDraw::kCellDraws), true,
              panel.map()) {
  for (int g = 0; g < 3; ++g) change_[g] = 1 - matrix[g][g];
  highest_change_ = *std::max_element(change_.begin(), change_.end());
}

void RowErrors::alter(std::int32_t i) {
  const auto row = static_cast<std::uint32_t>(i);
  switch (kernel_.kind) {
    case ErrorKernel::Kind::kNone:
      return;
    case ErrorKernel::Kind::kDesignRule:
      design_rule(i);
      return;
    case ErrorKernel::Kind::kMatrix:
      events_.for_each(
          row, panel_.markers(), highest_change_,
          [&](std::int32_t m) { return change_[static_cast<std::size_t>(true_copies(i, m))]; },
          [&](std::int32_t m, std::uint32_t draw) { matrix_event(draw, i, m); });
      return;
    case ErrorKernel::Kind::kRate: {
      if (panel_.lost(i)) return;
      const auto on = [&](const std::int32_t* markers, const std::uint32_t* draws,
                          std::size_t count) { alter_batch(i, markers, draws, count); };
      if (lowest_rate_ == highest_rate_) {
        events_.for_each_batch(row, panel_.markers(), highest_rate_, SameForEveryCell{}, on);
      } else {
        events_.for_each_batch(
            row, panel_.markers(), highest_rate_,
            [&](std::int32_t m) { return rates_[panel_.map().in_whole(m)]; }, on);
      }
      return;
    }
  }
}

int RowErrors::true_copies(std::int32_t i, std::int32_t m) const {
  return copies(panel_.true_allele(i, m, 0), panel_.true_allele(i, m, 1));
}

void RowErrors::keep(std::int32_t i, std::int32_t m, std::int32_t first, std::int32_t second,
                     std::int32_t a, std::int32_t b) {
  if (first == a && second == b) return;
  if (panel_.copies(i, m) == 1) first = second = one_copy(first, second, a);
  cells.push_back({m, static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)});
  ++counts_[static_cast<std::size_t>(i)];
}

void RowErrors::event(std::uint32_t draw, std::int32_t i, std::int32_t m) {
  if (!panel_.called(i, m)) return;
  const std::int32_t a = panel_.true_allele(i, m, 0);
  const std::int32_t b = panel_.true_allele(i, m, 1);
  const auto [first, second] = kernel_.change(draw, alleles_, a, b);
  keep(i, m, first, second, a, b);
}

void RowErrors::alter_batch(std::int32_t i, const std::int32_t* markers, const std::uint32_t* draws,
                            std::size_t count) {
  if (batch_.size() < count) batch_.resize(count);
  const RowWords row{panel_.has_missing_mask() ? panel_.missing(i) : nullptr,
                     panel_.haplotype(i, 0), panel_.haplotype(i, 1)};
  const BatchKernel batch = panel_.bits() == 1 ? kernel_.batch_one_bit : kernel_.batch_eight_bits;
  std::size_t kept = batch(row, alleles_, markers, draws, count, batch_.data());
  if (panel_.has_sex_linked_markers()) kept = keep_carried(i, kept);
  cells.insert(cells.end(), batch_.begin(), batch_.begin() + static_cast<std::ptrdiff_t>(kept));
  counts_[static_cast<std::size_t>(i)] += static_cast<std::uint32_t>(kept);
}

// Of a batch's first `kept` cells, those of markers animal i carries, a
// hemizygous one reduced to its one copy; how many.
std::size_t RowErrors::keep_carried(std::int32_t i, std::size_t kept) {
  std::size_t out = 0;
  for (std::size_t k = 0; k < kept; ++k) {
    AlteredCell cell = batch_[k];
    const int copies = panel_.copies(i, cell.marker);
    if (copies == 0) continue;
    if (copies == 1) {
      cell.first = cell.second = static_cast<std::uint16_t>(
          one_copy(cell.first, cell.second, panel_.true_allele(i, cell.marker, 0)));
    }
    batch_[out++] = cell;
  }
  return out;
}

void RowErrors::matrix_event(std::uint32_t draw, std::int32_t i, std::int32_t m) {
  if (!panel_.called(i, m)) return;
  const int g = true_copies(i, m);
  // Among the other genotypes, by their shares of the change.
  double left = (draw + 0.5) * 0x1p-32 * change_[static_cast<std::size_t>(g)];
  int recorded = g;
  for (int h = 0; h < 3; ++h) {
    if (h == g) continue;
    recorded = h;
    if ((left -= matrix_[static_cast<std::size_t>(g)][static_cast<std::size_t>(h)]) < 0) break;
  }
  keep(i, m, kGenotypeAlleles[recorded][0], kGenotypeAlleles[recorded][1],
       panel_.true_allele(i, m, 0), panel_.true_allele(i, m, 1));
}

// The design's rule on each genotype whose parents are known and missing at
// that marker: the numbers and codes of the design's missing-data model
// (DesignCodes), so that a genotype struck under both models is struck
// alike. Marker 1, when it is the design's marker, keeps the design's own
// error where the design's rule struck it there.
void RowErrors::design_rule(std::int32_t i) {
  const std::int32_t sire = pedigree_.sire[i];
  const std::int32_t dam = pedigree_.dam[i];
  if (sire == 0 || dam == 0) return;
  LayerStream stream =
      error_stream(seed_, static_cast<std::uint32_t>(i), record_lane(RecordDraw::kDesignErrors));
  bool candidate = false;
  const MarkerMap& map = panel_.map();
  for (std::int32_t m = 0; m < panel_.markers(); ++m) {
    // A number per marker of the whole map.
    stream.skip(
        static_cast<std::uint64_t>(map.in_whole(m) - (m == 0 ? 0 : map.in_whole(m - 1) + 1)));
    std::int32_t code = design_codes_.code(stream.next_bits());
    if (!panel_.called(i, m) || panel_.called(sire, m) || panel_.called(dam, m)) continue;
    candidate = true;
    if (m == 0 && design_marker_ != nullptr && is_error_candidate(pedigree_, *design_marker_, i)) {
      code = design_marker_->marker(0).recorded_first[i];
    }
    if (code == 0) continue;
    const std::int32_t b = panel_.true_allele(i, m, 1);
    keep(i, m, code, b, panel_.true_allele(i, m, 0), b);
  }
  candidates += candidate ? 1 : 0;
}

std::vector<double> marker_error_rates(const RecordOptions& o, const Seed& seed,
                                       std::int32_t markers) {
  const double e = o.error_rate.value_or(0);
  std::vector<double> rates(static_cast<std::size_t>(markers), e);
  if (!o.error_spread) return rates;
  for (std::int32_t m = 0; m < markers; ++m) {
    LayerStream stream = error_stream(seed, 0, record_lane(RecordDraw::kMarkerRate, m));
    rates[static_cast<std::size_t>(m)] = beta_number(stream, e, *o.error_spread);
  }
  return rates;
}

namespace {

// Whether the model can alter (i, m): called, and a genotype it changes.
bool can_alter(const Panel& panel, const ErrorKernel& kernel, std::int32_t i, std::int32_t m) {
  return panel.called(i, m) &&
         kernel.alters(panel.true_allele(i, m, 0), panel.true_allele(i, m, 1));
}

}  // namespace

void exact_errors(const RecordOptions& options, const Seed& seed, RowErrors& errors,
                  const Panel& panel) {
  const ErrorKernel& kernel = kernel_of(options);
  std::uint64_t eligible = 0;
  for (std::int32_t i = 1; i <= panel.bred(); ++i) {
    for (std::int32_t m = 0; m < panel.markers(); ++m) eligible += can_alter(panel, kernel, i, m);
  }
  const auto count = static_cast<std::uint64_t>(
      std::llround(options.error_rate.value_or(0) * static_cast<double>(eligible)));
  LayerStream places = error_stream(seed, 0, record_lane(RecordDraw::kExactPlaces));
  std::unordered_set<std::uint64_t> chosen;
  for (std::uint64_t j = eligible - count; j < eligible; ++j) {
    const auto t = static_cast<std::uint64_t>(places.next_uniform() * static_cast<double>(j + 1));
    if (!chosen.insert(std::min(t, j)).second) chosen.insert(j);
  }
  std::vector<std::uint64_t> order(chosen.begin(), chosen.end());
  std::sort(order.begin(), order.end());
  std::uint64_t index = 0;
  auto next = order.begin();
  for (std::int32_t i = 1; i <= panel.bred() && next != order.end(); ++i) {
    LayerStream stream =
        error_stream(seed, static_cast<std::uint32_t>(i), record_lane(RecordDraw::kExactErrors));
    for (std::int32_t m = 0; m < panel.markers() && next != order.end(); ++m) {
      if (!can_alter(panel, kernel, i, m)) continue;
      if (index++ == *next) {
        errors.event(stream.next_bits(), i, m);
        ++next;
      }
    }
  }
}

}  // namespace pedsim
