#include "sim/missing_data.hpp"

#include <algorithm>
#include <cmath>

#include "pedsim/models.hpp"
#include "random/distributions.hpp"
#include "sim/panel_fill.hpp"
#include "sim/panel_words.hpp"
#include "sim/record_lanes.hpp"

namespace pedsim {

namespace {

LayerStream missing_stream(const Seed& seed, std::uint32_t row, std::uint32_t lane) {
  return LayerStream(seed.value, seed.replicate, Layer::kMissingData, row, lane);
}

// The mean of each factor of a genotype's call probability.
double factor_mean(const RecordOptions& o) {
  const double c = o.call_rate.value_or(1);
  return o.call_rate_spread && o.animal_call_rate_spread ? std::sqrt(c) : c;
}

double animal_call_rate(const RecordOptions& o, const Seed& seed, std::int32_t animal) {
  if (!o.animal_call_rate_spread) return 1;
  LayerStream stream = missing_stream(seed, static_cast<std::uint32_t>(animal),
                                      record_lane(RecordDraw::kAnimalRate));
  return beta_number(stream, factor_mean(o), *o.animal_call_rate_spread);
}

// round(p x parents) of the animals that are parents have no genotype at
// all: those whose records the missing-data model already removed count
// toward them, and the rest are chosen evenly among the parents that still
// have records (a partial shuffle of them in animal order).
void leave_parents_ungenotyped(const Pedigree& pedigree, double share, const Seed& seed,
                               Panel& panel) {
  std::vector<std::uint8_t> is_parent(static_cast<std::size_t>(pedigree.created()) + 1);
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    is_parent[static_cast<std::size_t>(pedigree.sire[i])] = 1;
    is_parent[static_cast<std::size_t>(pedigree.dam[i])] = 1;
  }
  std::vector<std::int32_t> parents;
  std::size_t all = 0;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    if (is_parent[static_cast<std::size_t>(i)] == 0) continue;
    ++all;
    if (!panel.lost(i)) parents.push_back(i);
  }
  const auto wanted = static_cast<std::size_t>(std::llround(share * static_cast<double>(all)));
  const std::size_t already = all - parents.size();
  const std::size_t chosen = wanted > already ? wanted - already : 0;
  LayerStream stream = missing_stream(seed, 0, record_lane(RecordDraw::kParents));
  for (std::size_t k = 0; k < chosen; ++k) {
    const auto left = static_cast<double>(parents.size() - k);
    const std::size_t pick = k + static_cast<std::size_t>(stream.next_uniform() * left);
    std::swap(parents[k], parents[std::min(pick, parents.size() - 1)]);
    PanelFill(panel).set_lost(parents[k]);
  }
}

}  // namespace

void prepare_missing(const Pedigree& pedigree, const GenotypeStore& design,
                     const RecordOptions& options, const Seed& seed, Panel& panel) {
  switch (options.missing_model_row().placement) {
    case MissingPlacement::kNone:
      break;
    case MissingPlacement::kAnimals:
      for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
        if (design.lost[i] != 0) PanelFill(panel).set_lost(i);
      }
      break;
    case MissingPlacement::kGenotypes:
      PanelFill(panel).add_missing_mask();
      break;
  }
  if (options.ungenotyped_parents) {
    leave_parents_ungenotyped(pedigree, *options.ungenotyped_parents, seed, panel);
  }
}

std::vector<double> marker_call_rates(const RecordOptions& o, const Seed& seed,
                                      std::int32_t markers) {
  const double mean = o.animal_call_rate_spread && !o.call_rate_spread ? 1 : factor_mean(o);
  std::vector<double> rates(static_cast<std::size_t>(markers), mean);
  if (!o.call_rate_spread) return rates;
  for (std::int32_t m = 0; m < markers; ++m) {
    LayerStream stream = missing_stream(seed, 0, record_lane(RecordDraw::kMarkerRate, m));
    rates[static_cast<std::size_t>(m)] = beta_number(stream, mean, *o.call_rate_spread);
  }
  return rates;
}

MissingRows::MissingRows(const RecordOptions& options, const Seed& seed,
                         const std::vector<double>& rates, Panel& panel)
    : options_(options),
      seed_(seed),
      rates_(rates),
      low_(*std::min_element(rates.begin(), rates.end())),
      high_(*std::max_element(rates.begin(), rates.end())),
      // Rates that differ across markers need a number per candidate.
      events_(layer_key(seed.value, seed.replicate, Layer::kMissingData),
              record_lane(RecordDraw::kCells), record_lane(RecordDraw::kCellDraws), low_ != high_,
              panel.map()),
      panel_(panel) {
  for (const double r : rates) mean_ += r / static_cast<double>(rates.size());
}

// Each genotype called with probability rates[m] x s: where missing ones
// are the rarer, they are placed; else all are missing and the called ones
// are placed.
void MissingRows::draw(std::int32_t animal) {
  const double s = animal_call_rate(options_, seed_, animal);
  std::uint64_t* row = PanelFill(panel_).missing(animal);
  const std::int32_t markers = panel_.markers();
  const auto r = static_cast<std::uint32_t>(animal);
  const auto place = [&](double p_max, auto&& p, auto&& on) {
    if (low_ == high_) {
      events_.for_each(r, markers, p_max, SameForEveryCell{}, on);
    } else {
      events_.for_each(r, markers, p_max, p, on);
    }
  };
  if (1 - s * mean_ <= 0.5) {
    place(
        1 - s * low_, [&](std::int32_t m) { return 1 - s * rates_[panel_.map().in_whole(m)]; },
        [&](std::int32_t m, std::uint32_t) { row[m / 64] |= std::uint64_t{1} << (m % 64); });
    return;
  }
  set_field_range(row, 1, 0, markers);
  place(
      s * high_, [&](std::int32_t m) { return s * rates_[panel_.map().in_whole(m)]; },
      [&](std::int32_t m, std::uint32_t) { row[m / 64] &= ~(std::uint64_t{1} << (m % 64)); });
}

}  // namespace pedsim
