// The marker options as the user gives them: their checks and how reports
// name them.

#include <cmath>
#include <limits>
#include <sstream>

#include "input/marker_file.hpp"
#include "pedsim/simulation.hpp"
#include "sim/marker_map.hpp"
#include "text/text.hpp"

namespace pedsim {

void MarkerOptions::validate() const {
  if (markers < 1) throw InvalidParameters("the panel needs at least one marker");
  if (alleles < 2 || alleles > 255) {
    throw InvalidParameters("a marker has from 2 to 255 alleles, got " + std::to_string(alleles));
  }
  const auto rule = parse_frequency_rule(frequencies);
  if (!rule) {
    throw InvalidParameters(
        "frequencies are equal, dirichlet:A (A > 0) or maf:LOW-HIGH (0 <= LOW "
        "<= HIGH <= 0.5), got '" +
        frequencies + "'");
  }
  if (rule->kind == FrequencyRule::Kind::kMinorAllele && alleles != 2) {
    throw InvalidParameters("maf: frequencies are for two-allele markers (--alleles 2)");
  }
  if (!only_chromosomes.empty() && !marker_file && !chromosomes) {
    throw InvalidParameters(
        "--only-chromosomes picks chromosomes of a linked panel: give --chromosomes or "
        "--marker-file");
  }
  if (marker_file) {
    if (!sex_chromosomes.empty()) {
      throw InvalidParameters(
          "--sex-chromosomes adds chromosomes to a spread panel; a marker "
          "file names its own (X, Y, MT)");
    }
    read_marker_file(*marker_file, alleles);
    return;
  }
  if (!sex_chromosomes.empty()) {
    if (!chromosomes) {
      throw InvalidParameters(
          "--sex-chromosomes needs --chromosomes: the markers on the "
          "autosomes are then linked as the sex chromosomes' are");
    }
    std::int64_t added = 0;
    for (const auto& [name, count] : parse_sex_chromosomes(sex_chromosomes)) added += count;
    if (markers + added > std::numeric_limits<std::int32_t>::max()) {
      throw InvalidParameters("--markers and --sex-chromosomes ask for more than " +
                              std::to_string(std::numeric_limits<std::int32_t>::max()) +
                              " markers");
    }
  }
  if (chromosomes && (*chromosomes < 1 || *chromosomes > markers)) {
    throw InvalidParameters("the markers are spread over 1 to " + std::to_string(markers) +
                            " chromosomes (one marker each at least), got " +
                            std::to_string(*chromosomes));
  }
  if (!(chromosome_length > 0) || !(chromosome_length <= kMaxPositionCm)) {
    throw InvalidParameters("a chromosome's length is above 0 and at most 100000 centimorgans");
  }
  // Each meiosis draws a crossover per Morgan of the genome.
  const double genome_cm = chromosome_length * chromosomes.value_or(0);
  if (genome_cm > kMaxGenomeCm) {
    throw InvalidParameters(
        "--chromosomes x --chromosome-length, the genome's length, is at most 1000000 cM (each "
        "meiosis draws a crossover per Morgan); got " +
        number_text(genome_cm) + " cM");
  }
}

std::string MarkerOptions::describe() const {
  std::ostringstream text;
  text.precision(10);
  if (marker_file) {
    text << "marker_file=" << *marker_file;
  } else {
    text << "markers=" << markers;
  }
  text << " alleles=" << alleles << " frequencies=" << frequencies;
  if (!marker_file) {
    if (chromosomes) {
      text << " chromosomes=" << *chromosomes << " chromosome_length=" << chromosome_length;
      if (!sex_chromosomes.empty()) text << " sex_chromosomes=" << sex_chromosomes;
    } else {
      text << " unlinked";
    }
  }
  if (!only_chromosomes.empty()) text << " only_chromosomes=" << only_chromosomes;
  return text.str();
}

}  // namespace pedsim
