// Where each stretch of each animal's genome comes from, and the
// relatedness that follows.

#include <algorithm>
#include <array>
#include <tuple>

#include "io/diagnostic.hpp"
#include "pedsim/relatedness.hpp"
#include "pedsim/simulation.hpp"
#include "random/layer_stream.hpp"
#include "random/layer_words.hpp"
#include "relatedness/pedigree_kinship.hpp"
#include "sim/crossovers.hpp"

namespace pedsim {

namespace {

// The true parents: the recorded ones but where a pedigree error changed them.
std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>> true_parents(
    const Simulation& run) {
  const Pedigree& p = run.pedigree;
  std::vector<std::int32_t> sire(static_cast<std::size_t>(p.created()) + 1, 0);
  std::vector<std::int32_t> dam(sire.size(), 0);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    sire[static_cast<std::size_t>(i)] = p.sire[i];
    dam[static_cast<std::size_t>(i)] = p.dam[i];
  }
  for (const PedigreeChange& change : run.pedigree_changes) {
    sire[static_cast<std::size_t>(change.animal)] = change.true_sire;
    dam[static_cast<std::size_t>(change.animal)] = change.true_dam;
  }
  return {sire, dam};
}

std::vector<std::int32_t> recorded(const Pedigree& p, bool sires) {
  std::vector<std::int32_t> parents(static_cast<std::size_t>(p.created()) + 1, 0);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    parents[static_cast<std::size_t>(i)] = sires ? p.sire[i] : p.dam[i];
  }
  return parents;
}

// Appends the stretch [start, end) of `from` to `out`, joining a stretch of
// the same founder haplotype that it continues.
void copy_stretch(std::span<const Segment> from, double start, double end,
                  std::vector<Segment>& out, std::size_t first_of_haplotype, Segment base) {
  for (const Segment& s : from) {
    const double a = std::max(s.start_cm, start);
    const double b = std::min(s.end_cm, end);
    // Stretches that only touch [start, end) share none of it.
    if (b < a || (b == a && end > start)) continue;
    if (out.size() > first_of_haplotype && out.back().founder == s.founder &&
        out.back().founder_haplotype == s.founder_haplotype) {
      out.back().end_cm = b;
      continue;
    }
    base.start_cm = a;
    base.end_cm = b;
    base.founder = s.founder;
    base.founder_haplotype = s.founder_haplotype;
    out.push_back(base);
  }
}

// Whether two haplotypes' stretches descend from one founder haplotype, as
// a length along [0, length]; a chromosome of length 0 (an unlinked
// marker) counts 1 where they do.
double shared_length(std::span<const Segment> a, std::span<const Segment> b, double length) {
  if (length == 0) {
    return a.front().founder == b.front().founder &&
                   a.front().founder_haplotype == b.front().founder_haplotype
               ? 1
               : 0;
  }
  double shared = 0;
  auto x = a.begin();
  auto y = b.begin();
  while (x != a.end() && y != b.end()) {
    const double start = std::max(x->start_cm, y->start_cm);
    const double end = std::min(x->end_cm, y->end_cm);
    if (end > start && x->founder == y->founder && x->founder_haplotype == y->founder_haplotype) {
      shared += end - start;
    }
    (x->end_cm < y->end_cm) ? ++x : ++y;
  }
  return shared;
}

// The boundaries of four haplotypes' stretches on one chromosome, in order.
std::vector<double> boundaries(const std::array<std::span<const Segment>, 4>& haplotypes,
                               double length) {
  std::vector<double> at{0, length};
  for (const auto& h : haplotypes) {
    for (const Segment& s : h) at.push_back(s.end_cm);
  }
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  return at;
}

const Segment& at_position(std::span<const Segment> h, double x) {
  const auto found = std::lower_bound(h.begin(), h.end(), x,
                                      [](const Segment& s, double v) { return s.end_cm <= v; });
  return found == h.end() ? h.back() : *found;
}

bool same_origin(const Segment& a, const Segment& b) {
  return a.founder == b.founder && a.founder_haplotype == b.founder_haplotype;
}

// How haplotype `side` of an animal comes about on a chromosome of `kind`.
enum class Passing { kMeiosis, kNone, kWholeFirst, kWholeSecond };
Passing passing(Inheritance kind, bool male, int side) {
  switch (kind) {
    case Inheritance::kAutosome:
      return Passing::kMeiosis;
    case Inheritance::kX:
      // A sire's one X is the one from his dam.
      return side == 1 ? Passing::kMeiosis : male ? Passing::kNone : Passing::kWholeSecond;
    case Inheritance::kY:
      return side == 0 && male ? Passing::kWholeFirst : Passing::kNone;
    case Inheritance::kMitochondrial:
      return side == 1 ? Passing::kWholeSecond : Passing::kNone;
  }
  return Passing::kMeiosis;
}

}  // namespace

void RelatednessOptions::check(const MarkerOptions& markers) const {
  if (asked() && markers.is_design()) {
    stop_usage(
        "the relatedness truth (--ibd, --pairs) traces a marker panel's inheritance; add --markers "
        "M (and "
        "--chromosomes C for linked markers)");
  }
}

Relatedness::Relatedness(const Simulation& run) : run_(run) {
  const MarkerMap& map = run.panel.map();
  const bool linked = map.linked();
  // The classic marker, passed on by the classic rule, has no stretches.
  first_chromosome_ = !linked && run.markers.is_design_marker_model() && !run.is_supplied() ? 1 : 0;
  if (linked) {
    names_ = map.chromosome_names;
    lengths_.assign(names_.size(), 0);
    for (std::int32_t m = 0; m < map.size(); ++m) {
      const auto c = static_cast<std::size_t>(map.chromosome[static_cast<std::size_t>(m)]);
      lengths_[c] = std::max(lengths_[c], map.position_cm[static_cast<std::size_t>(m)]);
    }
  } else {
    names_.assign(map.names.begin() + first_chromosome_, map.names.end());
    lengths_.assign(names_.size(), 0);
  }
  std::vector<Inheritance> kinds;
  for (std::size_t c = 0; c < names_.size(); ++c) {
    kinds.push_back(linked ? inheritance_of(names_[c]) : Inheritance::kAutosome);
    autosome_.push_back(kinds.back() == Inheritance::kAutosome ? 1 : 0);
    if (autosome_.back() != 0) genome_ += lengths_[c] == 0 ? 1 : lengths_[c];
  }
  std::tie(true_sire_, true_dam_) = true_parents(run);
  // A parent's stretches, copied out before the child's are appended to
  // the same list.
  std::vector<Segment> scratch;
  const auto parental = [this, &scratch](std::int32_t parent, int side, std::int32_t c) {
    const std::span<const Segment> from = of(parent, side, c);
    scratch.assign(from.begin(), from.end());
    return std::span<const Segment>(scratch);
  };
  const auto chromosomes = static_cast<std::int32_t>(names_.size());
  const std::int32_t animals = run.pedigree.created();
  const auto key = layer_key(run.seed.value, run.seed.replicate, Layer::kMarkers);
  std::vector<std::uint64_t> sides((static_cast<std::size_t>(map.size()) + 127) / 128 * 2);
  starts_.reserve(static_cast<std::size_t>(animals + 1) * 2 * chromosomes + 1);
  starts_.assign(static_cast<std::size_t>(2 * chromosomes), 0);  // animal 0: none
  for (std::int32_t i = 1; i <= animals; ++i) {
    for (int side = 0; side < 2; ++side) {
      const std::int32_t parent = (side == 0 ? true_sire_ : true_dam_)[static_cast<std::size_t>(i)];
      const PanelDraw meiosis = side == 0 ? PanelDraw::kFromSire : PanelDraw::kFromDam;
      if (!linked && parent != 0) {
        fill_layer_words(key, static_cast<std::uint32_t>(i), panel_lane(meiosis), 0, sides.data(),
                         sides.size() / 2);
      }
      for (std::int32_t c = 0; c < chromosomes; ++c) {
        starts_.push_back(segments_.size());
        const std::size_t first = segments_.size();
        const Segment base{.animal = i, .haplotype = side + 1, .chromosome = c};
        const double length = lengths_[static_cast<std::size_t>(c)];
        const Passing how =
            passing(kinds[static_cast<std::size_t>(c)], run.pedigree.sex[i] == kMale, side);
        if (how == Passing::kNone) continue;
        if (parent == 0) {
          Segment own = base;
          own.end_cm = length;
          own.founder = i;
          own.founder_haplotype = side + 1;
          segments_.push_back(own);
          continue;
        }
        if (how != Passing::kMeiosis) {
          copy_stretch(parental(parent, how == Passing::kWholeFirst ? 0 : 1, c), 0, length,
                       segments_, first, base);
          continue;
        }
        if (!linked) {
          const std::int32_t m = c + first_chromosome_;
          const int from =
              static_cast<int>((sides[static_cast<std::size_t>(m) / 64] >> (m % 64)) & 1);
          copy_stretch(parental(parent, from, c), 0, 0, segments_, first, base);
          continue;
        }
        Crossovers crossovers(run.seed, i, meiosis, c);
        int from = crossovers.starts_on_second() ? 1 : 0;
        double start = 0;
        for (;;) {
          const double crossover = crossovers.next();
          const double end = std::min(crossover, length);
          if (end > start || length == 0) {
            copy_stretch(parental(parent, from, c), start, end, segments_, first, base);
          }
          if (crossover > length) break;
          start = crossover;
          from = 1 - from;
        }
      }
    }
  }
  starts_.push_back(segments_.size());
  const std::vector<std::int32_t> recorded_sire = recorded(run.pedigree, true);
  const std::vector<std::int32_t> recorded_dam = recorded(run.pedigree, false);
  const PedigreeKinship on_record(recorded_sire, recorded_dam);
  const PedigreeKinship on_truth(true_sire_, true_dam_);
  for (std::int32_t i = 1; i <= animals; ++i) {
    inbreeding_recorded_.push_back(on_record.inbreeding(i));
    inbreeding_true_.push_back(on_truth.inbreeding(i));
    double shared = 0;
    for (std::int32_t c = 0; c < chromosomes; ++c) {
      if (autosome_[static_cast<std::size_t>(c)] == 0) continue;
      shared += shared_length(of(i, 0, c), of(i, 1, c), lengths_[static_cast<std::size_t>(c)]);
    }
    inbreeding_realised_.push_back(genome_ > 0 ? shared / genome_ : 0);
  }
}

std::span<const Segment> Relatedness::of(std::int32_t animal, int side,
                                         std::int32_t chromosome) const {
  const std::size_t k =
      (static_cast<std::size_t>(animal) * 2 + static_cast<std::size_t>(side)) * names_.size() +
      static_cast<std::size_t>(chromosome);
  const std::size_t end = k + 1 < starts_.size() ? starts_[k + 1] : segments_.size();
  return {segments_.data() + starts_[k], end - starts_[k]};
}

std::vector<PairTruth> Relatedness::pairs(
    std::span<const std::pair<std::int32_t, std::int32_t>> pairs,
    std::span<const std::string> relationships) const {
  const PedigreeKinship on_record(recorded(run_.pedigree, true), recorded(run_.pedigree, false));
  const PedigreeKinship on_truth(true_sire_, true_dam_);
  const double genome = genome_;
  std::vector<PairTruth> out;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const auto [a, b] = pairs[k];
    PairTruth t{.first = a, .second = b, .relationship = relationships[k]};
    t.kinship_recorded = on_record.kinship(a, b);
    t.kinship_true = on_truth.kinship(a, b);
    std::array<double, 3> ibd{};
    double crossed = 0;
    for (std::int32_t c = 0; c < static_cast<std::int32_t>(names_.size()); ++c) {
      if (autosome_[static_cast<std::size_t>(c)] == 0) continue;
      const std::array<std::span<const Segment>, 4> h{of(a, 0, c), of(a, 1, c), of(b, 0, c),
                                                      of(b, 1, c)};
      const double length = lengths_[static_cast<std::size_t>(c)];
      const std::vector<double> at = boundaries(h, length);
      const auto weigh = [&](double x, double width) {
        const Segment& a0 = at_position(h[0], x);
        const Segment& a1 = at_position(h[1], x);
        const Segment& b0 = at_position(h[2], x);
        const Segment& b1 = at_position(h[3], x);
        const int matches =
            same_origin(a0, b0) + same_origin(a0, b1) + same_origin(a1, b0) + same_origin(a1, b1);
        crossed += matches * width;
        const bool two = (same_origin(a0, b0) && same_origin(a1, b1)) ||
                         (same_origin(a0, b1) && same_origin(a1, b0));
        ibd[two ? 2 : matches > 0 ? 1 : 0] += width;
      };
      if (length == 0) {
        weigh(0, 1);
        continue;
      }
      for (std::size_t j = 0; j + 1 < at.size(); ++j) {
        weigh((at[j] + at[j + 1]) / 2, at[j + 1] - at[j]);
      }
    }
    t.kinship_realised = crossed / 4 / genome;
    t.ibd0 = ibd[0] / genome;
    t.ibd1 = ibd[1] / genome;
    t.ibd2 = ibd[2] / genome;
    out.push_back(t);
  }
  return out;
}

}  // namespace pedsim
