// The R binding: simulate() returns a run held by an external pointer;
// its tables and genotype slices are copied into R's vectors when asked.

#include "pedsim/pedsim.hpp"

#include <Rcpp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using RunPointer = Rcpp::XPtr<pedsim::Simulation>;

// An R condition's message from a stop: its last line, options named as
// the R arguments.
[[noreturn]] void raise_stop(const pedsim::Stop& stop) {
  std::string text = stop.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  text = text.substr(text.rfind('\n') + 1);
  constexpr std::string_view kPrefix = "pedsim: ";
  if (std::string_view(text).starts_with(kPrefix)) text = text.substr(kPrefix.size());
  throw Rcpp::exception(pedsim::in_keywords(text).c_str(), false);
}

// The exception in flight as an R condition: the library's stops and
// refusals in the words of R's arguments; others as they are.
[[noreturn]] void raise_current() {
  try {
    throw;
  } catch (const pedsim::Stop& stop) {
    raise_stop(stop);
  } catch (const pedsim::InvalidParameters& invalid) {
    throw Rcpp::exception(pedsim::in_keywords(invalid.what()).c_str(), false);
  }
}

// An argument's value as the command line would give it: text for text, a
// whole number for integers, the shortest exact decimal for numbers.
std::string option_text(const std::string& name, pedsim::ValueKind kind, SEXP value) {
  const auto wrong = [&](const char* wanted) {
    throw Rcpp::exception((name + " = takes " + wanted).c_str(), false);
  };
  if (kind == pedsim::ValueKind::kText) {
    if (TYPEOF(value) != STRSXP || Rf_length(value) != 1 || STRING_ELT(value, 0) == NA_STRING) {
      wrong("one string");
    }
    return CHAR(STRING_ELT(value, 0));
  }
  if ((TYPEOF(value) != REALSXP && TYPEOF(value) != INTSXP) || Rf_length(value) != 1) {
    wrong(kind == pedsim::ValueKind::kInteger ? "one whole number" : "one number");
  }
  const double x = Rf_asReal(value);
  if (!std::isfinite(x)) wrong("a finite number");
  if (kind == pedsim::ValueKind::kInteger) {
    if (x != std::floor(x) || std::abs(x) > 9e15) wrong("one whole number");
    return std::to_string(static_cast<long long>(x));
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", x);
  return text;
}

pedsim::Settings settings_of(Rcpp::List options, bool supplied) {
  pedsim::Settings settings;
  const Rcpp::CharacterVector names =
      options.size() == 0 ? Rcpp::CharacterVector() : Rcpp::CharacterVector(options.names());
  for (R_xlen_t k = 0; k < options.size(); ++k) {
    const std::string name(names[k]);
    const pedsim::Option* option = pedsim::find_keyword(name);
    if (option == nullptr) {
      const std::string nearest = pedsim::nearest_name(name, true);
      throw Rcpp::exception(("simulate() has no argument '" + name + "'" +
                             (nearest.empty() ? "" : "; did you mean " + nearest + "?"))
                                .c_str(),
                            false);
    }
    try {
      pedsim::apply_option(*option, option_text(name, option->kind, options[k]), settings);
    } catch (const pedsim::Stop& stop) {
      raise_stop(stop);
    }
  }
  pedsim::settle_record_defaults(settings, supplied);
  return settings;
}

// Whether R has an interrupt pending, asked without leaving this frame.
void check_interrupt(void*) { R_CheckUserInterrupt(); }
bool interrupt_pending() { return R_ToplevelExec(check_interrupt, nullptr) == FALSE; }

// Runs `work` on a thread of its own while this one looks for an interrupt
// every tenth of a second: Esc or Ctrl-C stops the run within a second.
template <class Work>
pedsim::Simulation interruptibly(Work work) {
  std::optional<pedsim::Simulation> run = pedsim::simulate_watched(work, interrupt_pending);
  if (!run) throw Rcpp::internal::InterruptedException();
  return std::move(*run);
}

pedsim::Seed seed_of(const pedsim::Settings& settings) {
  pedsim::Seed seed =
      settings.seed ? pedsim::Seed{*settings.seed, "R"} : pedsim::Seed::from_clocks();
  seed.replicate = settings.replicate;
  return seed;
}

SEXP held(pedsim::Simulation run) {
  return RunPointer(new pedsim::Simulation(std::move(run)), true);
}

const pedsim::Simulation& run_of(SEXP pointer) {
  RunPointer run(pointer);
  if (run.get() == nullptr) throw Rcpp::exception("the run is gone (a saved session?)", false);
  return *run;
}

Rcpp::IntegerVector int_column(std::size_t n) {
  return Rcpp::IntegerVector(static_cast<R_xlen_t>(n));
}

// The numbers (1..animals or 1..markers) that an R index names, each
// checked.
std::vector<std::int32_t> picked(SEXP index, std::int32_t count, const char* what) {
  std::vector<std::int32_t> out;
  if (Rf_isNull(index)) {
    for (std::int32_t k = 1; k <= count; ++k) out.push_back(k);
    return out;
  }
  const Rcpp::NumericVector numbers(index);
  for (const double x : numbers) {
    if (!(x >= 1 && x <= count) || x != std::floor(x)) {
      throw Rcpp::exception((std::string(what) + " = holds " + std::to_string(x) +
                             ", not a number from 1 to " + std::to_string(count))
                                .c_str(),
                            false);
    }
    out.push_back(static_cast<std::int32_t>(x));
  }
  return out;
}

}  // namespace

extern "C" {

SEXP pedsim_simulate(SEXP numbers, SEXP options) {
  BEGIN_RCPP
  const pedsim::Settings settings = settings_of(Rcpp::List(options), false);
  const Rcpp::IntegerVector n(numbers);
  const pedsim::Seed seed = seed_of(settings);
  try {
    const pedsim::Parameters parameters = pedsim::Parameters::make(n[0], n[1], n[2]);
    return held(interruptibly([&](const pedsim::StopRequest* stop) {
      return pedsim::simulate(parameters, seed, {.stop = stop}, settings.model, settings.markers,
                              settings.records);
    }));
  } catch (...) {
    raise_current();
  }
  END_RCPP
}

SEXP pedsim_simulate_on_pedigree(SEXP source, SEXP is_text, SEXP format, SEXP genotyped,
                                 SEXP options) {
  BEGIN_RCPP
  const pedsim::Settings settings = settings_of(Rcpp::List(options), true);
  const pedsim::Seed seed = seed_of(settings);
  const std::string text = Rcpp::as<std::string>(source);
  const std::string format_name = Rcpp::as<std::string>(format);
  try {
    const pedsim::PedigreeFormat* chosen =
        format_name.empty() ? nullptr : &pedsim::pedigree_format(format_name);
    pedsim::SuppliedPedigree supplied =
        Rcpp::as<bool>(is_text)
            ? pedsim::parse_pedigree(text, "<data.frame>",
                                     chosen != nullptr ? chosen : &pedsim::pedigree_formats()[0])
            : pedsim::read_pedigree(text, chosen);
    if (!Rf_isNull(genotyped)) {
      pedsim::parse_genotyped(Rcpp::as<std::string>(genotyped), "<genotyped>", supplied);
    }
    return held(interruptibly([&](const pedsim::StopRequest* stop) {
      return pedsim::simulate(supplied, seed, {.stop = stop}, settings.model, settings.markers,
                              settings.records);
    }));
  } catch (...) {
    raise_current();
  }
  END_RCPP
}

SEXP pedsim_pedigree(SEXP pointer) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  const pedsim::Pedigree& p = run.pedigree;
  const auto n = static_cast<std::size_t>(p.created());
  Rcpp::IntegerVector animal = int_column(n), sire = int_column(n), dam = int_column(n),
                      sex = int_column(n), generation = int_column(n);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    const auto k = static_cast<R_xlen_t>(i - 1);
    animal[k] = i;
    sire[k] = p.sire[i];
    dam[k] = p.dam[i];
    sex[k] = p.sex[i];
    generation[k] = p.born[i];
  }
  Rcpp::List columns = Rcpp::List::create(
      Rcpp::Named("animal") = animal, Rcpp::Named("sire") = sire, Rcpp::Named("dam") = dam,
      Rcpp::Named("sex") = sex, Rcpp::Named("generation") = generation);
  if (run.is_supplied()) {
    Rcpp::CharacterVector name(static_cast<R_xlen_t>(n));
    for (std::int32_t i = 1; i <= p.created(); ++i) {
      name[static_cast<R_xlen_t>(i - 1)] = run.animal_name(i);
    }
    columns["name"] = name;
  }
  return columns;
  END_RCPP
}

SEXP pedsim_markers(SEXP pointer) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  const pedsim::MarkerMap& map = run.panel.map();
  const auto n = static_cast<R_xlen_t>(run.has_panel() ? map.size() : 1);
  Rcpp::CharacterVector name(n), chromosome(n);
  Rcpp::NumericVector position(n);
  Rcpp::IntegerVector alleles(n);
  for (R_xlen_t m = 0; m < n; ++m) {
    const auto k = static_cast<std::size_t>(m);
    name[m] = run.has_panel() ? map.names[k] : "m1";
    chromosome[m] = run.has_panel() && map.linked()
                        ? map.chromosome_names[static_cast<std::size_t>(map.chromosome[k])]
                        : "1";
    position[m] = run.has_panel() && map.linked() ? map.position_cm[k] : 0.0;
    alleles[m] = run.has_panel() ? map.alleles : run.model.alleles();
  }
  return Rcpp::List::create(Rcpp::Named("marker") = name, Rcpp::Named("chromosome") = chromosome,
                            Rcpp::Named("position_cm") = position,
                            Rcpp::Named("alleles") = alleles);
  END_RCPP
}

// One chosen genotype into the output: its alleles (NA where none), or the
// copies of allele 2.
struct GenotypeOut {
  int* out;
  R_xlen_t animals;
  R_xlen_t cells;  // animals x markers
  bool counts;
  void put(R_xlen_t i, R_xlen_t j, int first, int second) const {
    const R_xlen_t at = i + animals * j;
    if (counts) {
      out[at] = first == 0 ? NA_INTEGER : (first == 2) + (second == 2);
      return;
    }
    out[at] = first == 0 ? NA_INTEGER : first;
    out[at + cells] = second == 0 ? NA_INTEGER : second;
  }
};

// A run of consecutive markers, a block at a time and within a block
// animal by animal: each animal's alleles of the block are read in one
// call, and the block's columns of the output are filled together.
void put_marker_run(const pedsim::Panel& panel, const std::vector<std::int32_t>& rows,
                    std::int32_t first, R_xlen_t count, bool recorded, const GenotypeOut& out) {
  constexpr std::int32_t kBlock = 256;
  std::vector<std::uint16_t> cells(2 * kBlock);
  for (R_xlen_t start = 0; start < count; start += kBlock) {
    const auto n = static_cast<std::int32_t>(std::min<R_xlen_t>(kBlock, count - start));
    const std::int32_t from = first + static_cast<std::int32_t>(start);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::int32_t animal = rows[i];
      if (recorded) {
        panel.recorded_alleles(animal, from, n, cells.data(), 2);
      } else {
        for (std::int32_t k = 0; k < n; ++k) {
          cells[2 * static_cast<std::size_t>(k)] =
              static_cast<std::uint16_t>(panel.true_allele(animal, from + k, 0));
          cells[2 * static_cast<std::size_t>(k) + 1] =
              static_cast<std::uint16_t>(panel.true_allele(animal, from + k, 1));
        }
      }
      for (std::int32_t k = 0; k < n; ++k) {
        out.put(static_cast<R_xlen_t>(i), start + k, cells[2 * static_cast<std::size_t>(k)],
                cells[2 * static_cast<std::size_t>(k) + 1]);
      }
    }
  }
}

bool consecutive(const std::vector<std::int32_t>& numbers) {
  for (std::size_t k = 1; k < numbers.size(); ++k) {
    if (numbers[k] != numbers[k - 1] + 1) return false;
  }
  return true;
}

// Genotypes of the chosen animals at the chosen markers: animals x markers x
// 2 alleles (NA where none), or with `counts` the copies of allele 2 of a
// two-allele panel, animals x markers (NA where none). Only the chosen
// genotypes are copied, into R's integers.
SEXP pedsim_genotypes(SEXP pointer, SEXP animals, SEXP markers, SEXP recorded, SEXP counts) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  const bool panel = run.has_panel();
  const std::vector<std::int32_t> rows = picked(animals, run.pedigree.created(), "animals");
  const std::vector<std::int32_t> columns =
      picked(markers, panel ? run.panel.markers() : 1, "markers");
  const bool as_recorded = Rcpp::as<bool>(recorded);
  const bool as_counts = Rcpp::as<bool>(counts);
  if (as_counts && (!panel || run.panel.map().alleles != 2)) {
    throw Rcpp::exception("counts = TRUE is for two-allele panels (alleles = 2)", false);
  }
  const auto a = static_cast<R_xlen_t>(rows.size());
  const auto m = static_cast<R_xlen_t>(columns.size());
  Rcpp::IntegerVector result(Rcpp::no_init(a * m * (as_counts ? 1 : 2)));
  const GenotypeOut out{result.begin(), a, a * m, as_counts};
  if (panel && m > 0 && consecutive(columns)) {
    put_marker_run(run.panel, rows, columns[0] - 1, m, as_recorded, out);
  } else {
    for (R_xlen_t j = 0; j < m; ++j) {
      const std::int32_t marker = columns[static_cast<std::size_t>(j)] - 1;
      for (R_xlen_t i = 0; i < a; ++i) {
        const std::int32_t animal = rows[static_cast<std::size_t>(i)];
        pedsim::Genotype g;
        if (panel) {
          const auto allele = [&](int side) {
            return as_recorded ? run.panel.recorded_allele(animal, marker, side)
                               : run.panel.true_allele(animal, marker, side);
          };
          g = {allele(0), allele(1)};
        } else {
          g = as_recorded ? run.genotypes.recorded_genotype(animal)
                          : run.genotypes.true_genotype(animal);
        }
        out.put(i, j, g.first, g.second);
      }
    }
  }
  result.attr("dim") =
      as_counts ? Rcpp::IntegerVector::create(a, m) : Rcpp::IntegerVector::create(a, m, 2);
  return result;
  END_RCPP
}

// errors.tsv's columns: each genotype an error model other than the
// design's altered.
SEXP pedsim_errors(SEXP pointer) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  const pedsim::Panel& panel = run.panel;
  const std::size_t n = run.records.is_design_errors() ? 0 : panel.altered().size();
  Rcpp::IntegerVector animal = int_column(n), true1 = int_column(n), true2 = int_column(n),
                      recorded1 = int_column(n), recorded2 = int_column(n);
  Rcpp::CharacterVector marker(static_cast<R_xlen_t>(n));
  Rcpp::LogicalVector detectable(static_cast<R_xlen_t>(n));
  if (n > 0) {
    const std::vector<std::uint8_t> flags = pedsim::detectable_errors(run);
    R_xlen_t k = 0;
    panel.for_each_altered([&](std::int32_t i, const pedsim::AlteredCell& c) {
      animal[k] = i;
      marker[k] = panel.map().names[static_cast<std::size_t>(c.marker)];
      true1[k] = panel.true_allele(panel.sample(i), c.marker, 0);
      true2[k] = panel.true_allele(panel.sample(i), c.marker, 1);
      recorded1[k] = c.first;
      recorded2[k] = c.second;
      detectable[k] = flags[static_cast<std::size_t>(k)] != 0;
      ++k;
    });
  }
  return Rcpp::List::create(
      Rcpp::Named("animal") = animal, Rcpp::Named("marker") = marker,
      Rcpp::Named("true_allele1") = true1, Rcpp::Named("true_allele2") = true2,
      Rcpp::Named("recorded_allele1") = recorded1, Rcpp::Named("recorded_allele2") = recorded2,
      Rcpp::Named("detectable") = detectable);
  END_RCPP
}

// The animals whose recorded parents or sample differ from the truth.
SEXP pedsim_pedigree_truth(SEXP pointer) {
  BEGIN_RCPP
  const std::vector<pedsim::PedigreeChange>& changes = run_of(pointer).pedigree_changes;
  const std::size_t n = changes.size();
  Rcpp::IntegerVector animal = int_column(n), true_sire = int_column(n), true_dam = int_column(n),
                      recorded_sire = int_column(n), recorded_dam = int_column(n),
                      swapped_with = int_column(n);
  for (std::size_t k = 0; k < n; ++k) {
    const pedsim::PedigreeChange& c = changes[k];
    const auto r = static_cast<R_xlen_t>(k);
    animal[r] = c.animal;
    true_sire[r] = c.true_sire;
    true_dam[r] = c.true_dam;
    recorded_sire[r] = c.recorded_sire;
    recorded_dam[r] = c.recorded_dam;
    swapped_with[r] = c.sample != c.animal ? c.sample : 0;
  }
  return Rcpp::List::create(
      Rcpp::Named("animal") = animal, Rcpp::Named("true_sire") = true_sire,
      Rcpp::Named("true_dam") = true_dam, Rcpp::Named("recorded_sire") = recorded_sire,
      Rcpp::Named("recorded_dam") = recorded_dam, Rcpp::Named("swapped_with") = swapped_with);
  END_RCPP
}

// The run's figures, as its summary gives them.
SEXP pedsim_figures(SEXP pointer) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  std::int64_t inconsistent = 0;
  if (run.has_panel()) {
    for (const std::int64_t c : pedsim::inconsistencies_by_marker(run)) inconsistent += c;
  }
  Rcpp::List figures = Rcpp::List::create(
      Rcpp::Named("seed") = run.seed.value, Rcpp::Named("replicate") = run.seed.replicate,
      Rcpp::Named("animals") = run.pedigree.created(),
      Rcpp::Named("markers") = run.has_panel() ? run.panel.markers() : 1,
      Rcpp::Named("model") = pedsim::model_text(run.model, run.markers, run.records),
      Rcpp::Named("error_candidates") = static_cast<double>(run.error_candidates),
      Rcpp::Named("inconsistent_genotypes") = static_cast<double>(inconsistent));
  if (run.has_panel() && !run.records.has_design_records()) {
    const pedsim::RecordSummary s = pedsim::summarize_records(run);
    figures["call_rate"] = s.call_rate;
    figures["call_rate_marker_min"] = s.call_rate_marker_min;
    figures["call_rate_marker_max"] = s.call_rate_marker_max;
    figures["error_rate"] = s.error_rate;
    figures["error_rate_marker_min"] = s.error_rate_marker_min;
    figures["error_rate_marker_max"] = s.error_rate_marker_max;
    figures["altered_genotypes"] = static_cast<double>(s.altered_genotypes);
    figures["detectable_errors"] = static_cast<double>(s.detectable_errors);
  }
  return figures;
  END_RCPP
}

// The relatedness truth of a run, traced once and kept beside it.
const pedsim::Relatedness& relatedness_of(SEXP pointer) {
  RunPointer run(pointer);
  SEXP kept = R_ExternalPtrProtected(pointer);
  if (TYPEOF(kept) != EXTPTRSXP) {
    pedsim::RelatednessOptions{.ibd = true, .pairs = std::nullopt}.check(run->markers);
    Rcpp::XPtr<pedsim::Relatedness> truth(new pedsim::Relatedness(*run), true);
    R_SetExternalPtrProtected(pointer, truth);
    kept = truth;
  }
  return *Rcpp::XPtr<pedsim::Relatedness>(kept);
}

SEXP pedsim_segments(SEXP pointer) {
  BEGIN_RCPP
  try {
    const pedsim::Relatedness& truth = relatedness_of(pointer);
    const std::vector<pedsim::Segment>& segments = truth.segments();
    const std::size_t n = segments.size();
    Rcpp::IntegerVector animal = int_column(n), haplotype = int_column(n), founder = int_column(n),
                        founder_haplotype = int_column(n);
    Rcpp::CharacterVector chromosome(static_cast<R_xlen_t>(n));
    Rcpp::NumericVector start(static_cast<R_xlen_t>(n)), end(static_cast<R_xlen_t>(n));
    for (std::size_t k = 0; k < n; ++k) {
      const pedsim::Segment& s = segments[k];
      const auto r = static_cast<R_xlen_t>(k);
      animal[r] = s.animal;
      haplotype[r] = s.haplotype;
      chromosome[r] = truth.chromosome_names()[static_cast<std::size_t>(s.chromosome)];
      start[r] = s.start_cm;
      end[r] = s.end_cm;
      founder[r] = s.founder;
      founder_haplotype[r] = s.founder_haplotype;
    }
    return Rcpp::List::create(Rcpp::Named("animal") = animal, Rcpp::Named("haplotype") = haplotype,
                              Rcpp::Named("chromosome") = chromosome,
                              Rcpp::Named("start_cm") = start, Rcpp::Named("end_cm") = end,
                              Rcpp::Named("founder") = founder,
                              Rcpp::Named("founder_haplotype") = founder_haplotype);
  } catch (...) {
    raise_current();
  }
  END_RCPP
}

SEXP pedsim_inbreeding(SEXP pointer) {
  BEGIN_RCPP
  try {
    const pedsim::Relatedness& truth = relatedness_of(pointer);
    return Rcpp::List::create(
        Rcpp::Named("animal") =
            Rcpp::seq_len(static_cast<R_xlen_t>(truth.inbreeding_true().size())),
        Rcpp::Named("inbreeding_recorded") = Rcpp::wrap(truth.inbreeding_recorded()),
        Rcpp::Named("inbreeding_true") = Rcpp::wrap(truth.inbreeding_true()),
        Rcpp::Named("inbreeding_realised") = Rcpp::wrap(truth.inbreeding_realised()));
  } catch (...) {
    raise_current();
  }
  END_RCPP
}

// The truth of pairs: kinds of relatives or a file of pairs (`asked`), or
// two columns of animal numbers.
SEXP pedsim_kinship(SEXP pointer, SEXP asked, SEXP first, SEXP second) {
  BEGIN_RCPP
  try {
    const pedsim::Simulation& run = run_of(pointer);
    const pedsim::Relatedness& truth = relatedness_of(pointer);
    pedsim::PairList list;
    if (!Rf_isNull(asked)) {
      list = pedsim::pairs_of(run, Rcpp::as<std::string>(asked));
    } else {
      const std::vector<std::int32_t> a = picked(first, run.pedigree.created(), "pairs");
      const std::vector<std::int32_t> b = picked(second, run.pedigree.created(), "pairs");
      for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
        list.pairs.emplace_back(a[k], b[k]);
        list.relationships.emplace_back("listed");
      }
    }
    const std::vector<pedsim::PairTruth> rows = truth.pairs(list.pairs, list.relationships);
    const std::size_t n = rows.size();
    Rcpp::IntegerVector animal_1 = int_column(n), animal_2 = int_column(n);
    Rcpp::CharacterVector relationship(static_cast<R_xlen_t>(n));
    std::vector<Rcpp::NumericVector> values;
    for (int c = 0; c < 6; ++c) values.emplace_back(static_cast<R_xlen_t>(n));
    for (std::size_t k = 0; k < n; ++k) {
      const pedsim::PairTruth& p = rows[k];
      const auto r = static_cast<R_xlen_t>(k);
      animal_1[r] = p.first;
      animal_2[r] = p.second;
      relationship[r] = p.relationship;
      const double row[] = {
          p.kinship_recorded, p.kinship_true, p.kinship_realised, p.ibd0, p.ibd1, p.ibd2};
      for (std::size_t c = 0; c < values.size(); ++c) values[c][r] = row[c];
    }
    return Rcpp::List::create(
        Rcpp::Named("animal_1") = animal_1, Rcpp::Named("animal_2") = animal_2,
        Rcpp::Named("relationship") = relationship, Rcpp::Named("kinship_recorded") = values[0],
        Rcpp::Named("kinship_true") = values[1], Rcpp::Named("kinship_realised") = values[2],
        Rcpp::Named("ibd0") = values[3], Rcpp::Named("ibd1") = values[4],
        Rcpp::Named("ibd2") = values[5]);
  } catch (...) {
    raise_current();
  }
  END_RCPP
}

SEXP pedsim_write(SEXP pointer, SEXP folder, SEXP formats, SEXP truth, SEXP summary,
                  SEXP true_genotypes, SEXP ibd, SEXP pairs) {
  BEGIN_RCPP
  const pedsim::Simulation& run = run_of(pointer);
  const auto name = [](SEXP value) {
    return Rf_isNull(value) ? std::optional<std::string>()
                            : std::optional<std::string>(Rcpp::as<std::string>(value));
  };
  try {
    const pedsim::Formats chosen = pedsim::Formats::parse(Rcpp::as<std::string>(formats));
    pedsim::write_files(run, Rcpp::as<std::string>(folder), name(truth), name(summary),
                        Rcpp::as<bool>(true_genotypes), chosen,
                        {.ibd = Rcpp::as<bool>(ibd), .pairs = name(pairs)});
  } catch (const pedsim::Stop& stop) {
    raise_stop(stop);
  }
  return R_NilValue;
  END_RCPP
}

static const R_CallMethodDef kCalls[] = {
    {"pedsim_simulate", reinterpret_cast<DL_FUNC>(&pedsim_simulate), 2},
    {"pedsim_simulate_on_pedigree", reinterpret_cast<DL_FUNC>(&pedsim_simulate_on_pedigree), 5},
    {"pedsim_pedigree", reinterpret_cast<DL_FUNC>(&pedsim_pedigree), 1},
    {"pedsim_markers", reinterpret_cast<DL_FUNC>(&pedsim_markers), 1},
    {"pedsim_genotypes", reinterpret_cast<DL_FUNC>(&pedsim_genotypes), 5},
    {"pedsim_errors", reinterpret_cast<DL_FUNC>(&pedsim_errors), 1},
    {"pedsim_pedigree_truth", reinterpret_cast<DL_FUNC>(&pedsim_pedigree_truth), 1},
    {"pedsim_figures", reinterpret_cast<DL_FUNC>(&pedsim_figures), 1},
    {"pedsim_segments", reinterpret_cast<DL_FUNC>(&pedsim_segments), 1},
    {"pedsim_inbreeding", reinterpret_cast<DL_FUNC>(&pedsim_inbreeding), 1},
    {"pedsim_kinship", reinterpret_cast<DL_FUNC>(&pedsim_kinship), 4},
    {"pedsim_write", reinterpret_cast<DL_FUNC>(&pedsim_write), 8},
    {nullptr, nullptr, 0}};

void R_init_pedsim(DllInfo* info) {
  R_registerRoutines(info, nullptr, kCalls, nullptr, nullptr);
  R_useDynamicSymbols(info, FALSE);
}

}  // extern "C"
