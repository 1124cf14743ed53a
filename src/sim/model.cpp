#include <cmath>
#include <string>

#include "pedsim/simulation.hpp"

namespace pedsim {

namespace {

constexpr double kSumTolerance = 1e-6;

bool is_probability(double p) { return p >= 0 && p <= 1; }

void check_distribution(const std::vector<double>& shares, const std::string& name) {
  double sum = 0;
  for (const double p : shares) {
    if (!is_probability(p)) {
      throw InvalidParameters(name + " must lie between 0 and 1, got " + std::to_string(p));
    }
    sum += p;
  }
  if (std::fabs(sum - 1) > kSumTolerance) {
    throw InvalidParameters(name + " must sum to 1, got " + std::to_string(sum));
  }
}

std::string listed(const std::vector<double>& values) {
  std::string text;
  for (const double v : values) {
    if (!text.empty()) text.push_back(',');
    text.append(std::to_string(v));
  }
  return text;
}

}  // namespace

void Model::validate() const {
  if (alleles() < 2 || alleles() > 127) {
    throw InvalidParameters("a marker must have 2 to 127 alleles, got " +
                            std::to_string(alleles()));
  }
  check_distribution(allele_frequencies, "allele frequencies");
  if (static_cast<std::int32_t>(replacement_shares.size()) != alleles() + 1) {
    throw InvalidParameters("the replacement allele's distribution needs " +
                            std::to_string(alleles() + 1) + " shares");
  }
  check_distribution(replacement_shares, "replacement allele shares");
  for (const ModelRate& rate : kModelRates) {
    if (!is_probability(this->*rate.value)) {
      throw InvalidParameters(std::string(rate.name) + " must lie between 0 and 1, got " +
                              std::to_string(this->*rate.value));
    }
  }
}

double Model::expected_altered_share() const {
  double unchanged = 0;
  for (std::size_t a = 0; a < allele_frequencies.size(); ++a) {
    unchanged += allele_frequencies[a] * replacement_shares[a];
  }
  return error_probability * (1 - unchanged);
}

std::string Model::describe() const {
  if (is_design()) return "model: design\n";
  std::string text = "model: custom\nmodel_allele_frequencies: " + listed(allele_frequencies) +
                     "\nmodel_replacement_shares: " + listed(replacement_shares) + "\n";
  for (const ModelRate& rate : kModelRates) {
    text.append("model_").append(rate.name).append(": ");
    text.append(std::to_string(this->*rate.value)).append("\n");
  }
  return text;
}

}  // namespace pedsim
