#include "pedsim/options.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "io/diagnostic.hpp"
#include "pedsim/models.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

namespace {

constexpr double kInt32Low = std::numeric_limits<std::int32_t>::min();
constexpr double kInt32High = std::numeric_limits<std::int32_t>::max();

std::int32_t as_int32(std::string_view value) {
  std::int32_t v = 0;
  std::from_chars(value.data() + (value.starts_with('+') ? 1 : 0), value.data() + value.size(), v);
  return v;
}

std::string text_of(std::string_view value) { return std::string(value); }

// The A of "beta:A" (A > 0); anything else stops naming the option.
double beta_concentration(std::string_view option, std::string_view value) {
  const std::optional<double> a =
      value.starts_with("beta:") ? parse_finite(value.substr(5)) : std::nullopt;
  if (!a || !(*a > 0)) {
    stop_usage(std::string(option)
                   .append(" takes beta:A with A above 0, got '")
                   .append(value)
                   .append("'"));
  }
  return *a;
}

// The models a rate given alone picks: the first of each table that takes one.
std::string rate_error_model() {
  for (const ErrorModel& m : error_models()) {
    if (m.takes_rate) return std::string(m.name);
  }
  return {};
}

std::string rate_missing_model() {
  for (const MissingModel& m : missing_models()) {
    if (m.takes_call_rate) return std::string(m.name);
  }
  return {};
}

std::string rate_error_model_usage() {
  return "(given alone: --error-model " + rate_error_model() + ")\n";
}

std::string rate_missing_model_usage() {
  return "(given alone: --missing-model " + rate_missing_model() + ")\n";
}

constexpr std::array kOptions{
    Option{"--seed", "T", ValueKind::kInteger, kInt32Low, kInt32High,
           "seed the random stream with T, as PEDSIM_SEED=T does", Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.seed = as_int32(v); }},
    Option{"--replicate", "R", ValueKind::kInteger, 0, kMaxReplicate,
           "replicate R (0 to 99999) of the seed: its stream jumped ahead\n"
           "by R x 2^44 numbers; 0 is the seeded stream itself",
           Reach::kSimulate, [](Settings& s, std::string_view v) { s.replicate = as_int32(v); }},
    Option{"--outdir", "DIR", ValueKind::kText, 0, 0,
           "write ped.pre, ped.errors and run.tsv (the run's line of a\n"
           "replicate table) in DIR, made if missing",
           Reach::kCommandLine, [](Settings& s, std::string_view v) { s.outdir = text_of(v); }},
    Option{"--replicates", "K", ValueKind::kInteger, 1, kMaxReplicate + 1,
           "run replicates R0 to R0+K-1 side by side, each in DIR/rNNNNN\n"
           "with its console.txt; DIR/replicates.tsv tabulates them and\n"
           "DIR/study.tsv records the study: the same command resumes it",
           Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.replicates = as_int32(v); }},
    Option{"--jobs", "N", ValueKind::kInteger, 1, 1024,
           "replicates run at once (default: the number of cores)", Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.jobs = as_int32(v); }},
    Option{"--truth", "FILE", ValueKind::kText, 0, 0,
           "per animal, tab-separated: animal, sire, dam, sex, generation,\n"
           "true alleles, lost flag, recorded alleles, altered flag (unit 3)",
           Reach::kCommandLine, [](Settings& s, std::string_view v) { s.truth = text_of(v); }},
    Option{"--summary", "FILE", ValueKind::kText, 0, 0,
           "a short report of the run, its seed included (unit 4)", Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.summary = text_of(v); }},
    Option{"--quiet", "", ValueKind::kFlag, 0, 0,
           "the console keeps the arguments and the two count lines\n"
           "only; no progress line, no estimate of what a run needs",
           Reach::kCommandLine, [](Settings& s, std::string_view) { s.quiet = true; }},
    Option{"--markers", "M", ValueKind::kInteger, 1, kInt32High,
           "markers per animal (default 1), named m1..mM", Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.markers = as_int32(v); }},
    Option{"--alleles", "K", ValueKind::kInteger, 2, 255, "alleles per marker (default 3)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.alleles = as_int32(v); }},
    Option{"--frequencies", "F", ValueKind::kText, 0, 0,
           "each marker's allele frequencies: equal (default),\n"
           "dirichlet:A (symmetric Dirichlet, A > 0) or, for two\n"
           "alleles, maf:LOW-HIGH (minor allele uniform in the range)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.frequencies = text_of(v); }},
    Option{"--chromosomes", "C", ValueKind::kInteger, 1, kMaxChromosomes,
           "spread the markers evenly over C chromosomes, with\n"
           "crossovers by Haldane's map (default: unlinked)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.chromosomes = as_int32(v); }},
    Option{"--chromosome-length", "L", ValueKind::kNumber, 1e-9, kMaxPositionCm,
           "centimorgans per chromosome (default 100)", Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.chromosome_length = *parse_finite(v); }},
    Option{"--sex-chromosomes", "X:M,Y:M,MT:M", ValueKind::kText, 0, 0,
           "after the C chromosomes, an X, a Y and a mitochondrial\n"
           "chromosome (each optional) of M markers each: X passed on\n"
           "as in mammals (males carry one copy), Y from sire to son,\n"
           "MT from dam to offspring",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.sex_chromosomes = text_of(v); }},
    Option{"--only-chromosomes", "LIST", ValueKind::kText, 0, 0,
           "only these chromosomes of the map (names and ranges:\n"
           "1-5,X): one part of a run split by chromosome, each part's\n"
           "genotypes and records those of the whole run there;\n"
           "pedsim merge joins the parts' folders",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.only_chromosomes = text_of(v); }},
    Option{"--marker-file", "FILE", ValueKind::kText, 0, 0,
           "the markers' map, tab-separated: marker, chromosome,\n"
           "position_cm, optionally freq_1..freq_K",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.markers.marker_file = text_of(v); }},
    Option{"--error-model", "E", ValueKind::kText, 0, 0,
           "the error model, one of:", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.error_model = text_of(v);
             s.error_model_named = true;
           },
           error_models_usage},
    Option{"--error-rate", "e", ValueKind::kNumber, 0, 1,
           "the error rate of the models above that take one", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.error_rate = *parse_finite(v);
             if (!s.error_model_named) s.records.error_model = rate_error_model();
           },
           rate_error_model_usage},
    Option{"--error-spread", "beta:A", ValueKind::kText, 0, 0,
           "each marker's error rate from a Beta of mean e and\n"
           "concentration A",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.error_spread = beta_concentration("--error-spread", v);
           }},
    Option{"--error-count", "exact", ValueKind::kText, 0, 0,
           "exactly round(e x genotypes) errors, placed evenly", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             if (v != "exact") stop_usage("--error-count takes exact, got '" + text_of(v) + "'");
             s.records.exact_error_count = true;
           }},
    Option{"--missing-model", "M", ValueKind::kText, 0, 0,
           "the missing-data model, one of:", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.missing_model = text_of(v);
             s.missing_model_named = true;
           },
           missing_models_usage},
    Option{"--call-rate", "c", ValueKind::kNumber, 0, 1,
           "the call rate of the models above that take one", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.call_rate = *parse_finite(v);
             if (!s.missing_model_named) s.records.missing_model = rate_missing_model();
           },
           rate_missing_model_usage},
    Option{"--call-rate-spread", "beta:A", ValueKind::kText, 0, 0,
           "each marker's call rate from a Beta around c", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.call_rate_spread = beta_concentration("--call-rate-spread", v);
           }},
    Option{"--animal-call-rate-spread", "beta:A", ValueKind::kText, 0, 0,
           "each animal's call rate from a Beta around c", Reach::kSimulate,
           [](Settings& s, std::string_view v) {
             s.records.animal_call_rate_spread = beta_concentration("--animal-call-rate-spread", v);
           }},
    Option{
        "--ungenotyped-parents", "p", ValueKind::kNumber, 0, 1,
        "a share p of the parents have no genotype at all (parents\n"
        "lost otherwise count toward it)",
        Reach::kSimulate,
        [](Settings& s, std::string_view v) { s.records.ungenotyped_parents = *parse_finite(v); }},
    Option{"--wrong-sire", "P", ValueKind::kNumber, 0, 1,
           "a share P of the animals with a known sire are recorded\n"
           "with another male (pedigree_truth.tsv lists them)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.wrong_sire = *parse_finite(v); }},
    Option{"--wrong-dam", "P", ValueKind::kNumber, 0, 1,
           "a share P of the animals with a known dam are recorded\n"
           "with another female",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.wrong_dam = *parse_finite(v); }},
    Option{"--missing-sire", "P", ValueKind::kNumber, 0, 1,
           "a share P of the animals with a known sire are recorded\n"
           "with the sire unknown",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.missing_sire = *parse_finite(v); }},
    Option{"--missing-dam", "P", ValueKind::kNumber, 0, 1,
           "a share P of the animals with a known dam are recorded\n"
           "with the dam unknown",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.missing_dam = *parse_finite(v); }},
    Option{"--wrong-parent-from", "F", ValueKind::kText, 0, 0,
           "same-generation (the true parent's; default) or any\n"
           "(any animal of its sex listed before the animal)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.wrong_parent_from = text_of(v); }},
    Option{"--swap", "P", ValueKind::kNumber, 0, 1,
           "a share P of the genotyped animals exchange their records\n"
           "in pairs (sample mix-ups)",
           Reach::kSimulate,
           [](Settings& s, std::string_view v) { s.records.swap = *parse_finite(v); }},
    Option{"--pedigree", "FILE", ValueKind::kText, 0, 0,
           "drop the markers onto the pedigree in FILE (animal sire dam\n"
           "[sex], or the columns a header names; a PLINK .fam or a\n"
           "ped.pre) instead of breeding one: no NGEN N MALE",
           Reach::kCommandLine, [](Settings& s, std::string_view v) { s.pedigree = text_of(v); }},
    Option{"--pedigree-format", "F", ValueKind::kText, 0, 0,
           "the pedigree file's layout (default: by its name):", Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.pedigree_format = &pedigree_format(v); },
           pedigree_formats_usage},
    Option{"--genotyped", "FILE", ValueKind::kText, 0, 0,
           "with --pedigree: only the animals in FILE (one name per\n"
           "line) have records; the missing-data model applies to them",
           Reach::kCommandLine, [](Settings& s, std::string_view v) { s.genotyped = text_of(v); }},
    Option{"--format", "LIST", ValueKind::kText, 0, 0,
           "the files of the recorded genotypes, comma-separated:", Reach::kCommandLine,
           [](Settings& s, std::string_view v) {
             const int level = s.formats.compression_level();
             s.formats = Formats::parse(v);
             s.formats.set_compression_level(level);
           },
           genotype_formats_usage},
    Option{"--compression-level", "L", ValueKind::kInteger, 0, 9,
           "deflate's level for the compressed formats (vcf, bcf): 0\n"
           "stores, 9 packs most; default 1, the fastest",
           Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.formats.set_compression_level(as_int32(v)); }},
    Option{"--ibd", "", ValueKind::kFlag, 0, 0,
           "the relatedness truth of a marker panel: segments.tsv (each\n"
           "stretch of each haplotype and the founder haplotype it comes\n"
           "from) and kinship.tsv (each animal's inbreeding on the\n"
           "recorded and the true pedigree, and realised)",
           Reach::kCommandLine, [](Settings& s, std::string_view) { s.relatedness.ibd = true; }},
    Option{"--pairs", "P", ValueKind::kText, 0, 0,
           "pairs.tsv: kinship and shares identical by descent of\n"
           "parent-offspring, full-sibs, half-sibs (comma-separated)\n"
           "on the recorded pedigree, or of the pairs in file P",
           Reach::kCommandLine,
           [](Settings& s, std::string_view v) { s.relatedness.pairs = text_of(v); }},
    Option{"--true-genotypes", "", ValueKind::kFlag, 0, 0,
           "write the true genotypes of every marker in the same\n"
           "formats, named true (true.pre, true.bed, ...; unit 9)",
           Reach::kCommandLine, [](Settings& s, std::string_view) { s.true_genotypes = true; }},
};

std::string limit(double v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return std::string(text, end);
}

void check_value(const Option& option, std::string_view value) {
  const std::string name(option.name);
  const std::string given = std::string("'").append(value).append("'");
  switch (option.kind) {
    case ValueKind::kFlag:
      return;
    case ValueKind::kText:
      if (value.empty()) stop_usage(name + " needs a value that is not empty");
      return;
    case ValueKind::kInteger: {
      const auto v = parse_int32(value);
      if (option.low == kInt32Low && option.high == kInt32High) {
        if (!v) stop_usage(name + " must be a decimal 32-bit signed integer, got " + given);
        return;
      }
      if (!v || *v < option.low || *v > option.high) {
        stop_usage(name + " must be an integer from " + limit(option.low) + " to " +
                   limit(option.high) + ", got " + given);
      }
      return;
    }
    case ValueKind::kNumber: {
      const auto v = parse_finite(value);
      if (!v || *v < option.low || *v > option.high) {
        stop_usage(name + " must be a number from " + limit(option.low) + " to " +
                   limit(option.high) + ", got " + given);
      }
      return;
    }
  }
}

}  // namespace

std::optional<double> parse_finite(std::string_view text) {
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
      !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

std::optional<std::int32_t> parse_int32(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  std::int32_t v = 0;
  if (text.empty() || text.starts_with('+')) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::span<const Option> options() { return kOptions; }

const Option* find_option(std::string_view name) {
  const auto found = std::find_if(kOptions.begin(), kOptions.end(),
                                  [name](const Option& o) { return o.name == name; });
  return found == kOptions.end() ? nullptr : &*found;
}

std::string keyword_of(const Option& option) {
  std::string name(option.name.substr(2));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

namespace {

// Options the bindings take as keywords of another name, or as arguments
// of their write and of simulate(pedigree=...).
constexpr std::pair<std::string_view, std::string_view> kOtherKeywords[] = {
    {"--format", "formats"},     {"--true-genotypes", "true_genotypes"},
    {"--truth", "truth"},        {"--summary", "summary"},
    {"--pedigree", "pedigree"},  {"--pedigree-format", "pedigree_format"},
    {"--genotyped", "genotyped"}};

}  // namespace

std::string in_keywords(std::string_view text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t dashes = text.find("--", at);
    if (dashes == std::string_view::npos) break;
    std::size_t end = dashes + 2;
    while (end < text.size() &&
           (std::islower(static_cast<unsigned char>(text[end])) != 0 || text[end] == '-')) {
      ++end;
    }
    out.append(text.substr(at, dashes - at));
    const std::string_view name = text.substr(dashes, end - dashes);
    const Option* option = find_option(name);
    const auto* other = std::find_if(std::begin(kOtherKeywords), std::end(kOtherKeywords),
                                     [name](const auto& k) { return k.first == name; });
    if (other != std::end(kOtherKeywords)) {
      out.append(other->second);
    } else if (option != nullptr && option->reach == Reach::kSimulate) {
      std::string keyword(option->name.substr(2));
      std::replace(keyword.begin(), keyword.end(), '-', '_');
      out.append(keyword);
    } else {
      out.append(text.substr(dashes, end - dashes));
    }
    at = end;
  }
  return out.append(text.substr(std::min(at, text.size())));
}

const Option* find_keyword(std::string_view keyword) {
  for (const Option& option : kOptions) {
    if (option.reach == Reach::kSimulate && keyword_of(option) == keyword) return &option;
  }
  return nullptr;
}

namespace {

// The fewest single-character insertions, deletions and substitutions that
// turn one text into the other.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string nearest_name(std::string_view name, bool keyword) {
  std::string best;
  // A slip of a few characters, not a different word.
  std::size_t best_distance = std::max<std::size_t>(2, name.size() / 4) + 1;
  for (const Option& option : kOptions) {
    if (keyword && option.reach != Reach::kSimulate) continue;
    const std::string candidate = keyword ? keyword_of(option) : std::string(option.name);
    const std::size_t distance = edit_distance(name, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

void apply_option(const Option& option, std::string_view value, Settings& settings) {
  check_value(option, value);
  option.store(settings, value);
}

void settle_record_defaults(Settings& settings, bool supplied_pedigree) {
  if (settings.markers.is_design() && !supplied_pedigree) return;
  RecordOptions& records = settings.records;
  if (!settings.error_model_named && !records.error_rate) records.error_model = "none";
  if (!settings.missing_model_named && !records.call_rate) records.missing_model = "none";
}

std::string options_usage() {
  constexpr std::size_t kHelpColumn = 18;
  std::string text;
  for (const Option& option : kOptions) {
    std::string head = std::string("  ").append(option.name);
    if (!option.value_name.empty()) head.append(" ").append(option.value_name);
    // A name too long for the column stands on a line of its own.
    if (head.size() >= kHelpColumn) {
      text += head + "\n";
      head.clear();
    }
    head.resize(kHelpColumn, ' ');
    std::string_view help = option.help;
    for (std::size_t line = 0;; ++line) {
      const std::size_t end = help.find('\n');
      text += (line == 0 ? head : std::string(kHelpColumn, ' ')) +
              std::string(help.substr(0, end)) + "\n";
      if (end == std::string_view::npos) break;
      help.remove_prefix(end + 1);
    }
    if (option.choices != nullptr) {
      const std::string choices = option.choices();
      for (std::size_t at = 0; at < choices.size();) {
        const std::size_t end = choices.find('\n', at);
        text += std::string(kHelpColumn, ' ') + choices.substr(at, end + 1 - at);
        at = end + 1;
      }
    }
  }
  return text;
}

}  // namespace pedsim
