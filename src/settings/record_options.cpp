// The record options as the user gives them: their checks and how reports
// name them.

#include <sstream>
#include <tuple>

#include "input/error_matrix.hpp"
#include "reports/text.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

namespace {

[[noreturn]] void invalid(const std::string& message) { throw InvalidParameters(message); }

}  // namespace

std::string RecordOptions::error_model_name() const {
  return error_model.starts_with("matrix:") ? "matrix" : error_model;
}

void RecordOptions::validate(const MarkerOptions& markers) const {
  const bool rate_model = error_model == "random-allele" || error_model == "dropout";
  const bool matrix = error_model.starts_with("matrix:");
  if (!rate_model && !matrix && error_model != "design") {
    invalid("the error model is design, random-allele, dropout or matrix:FILE, got '" +
            error_model + "'");
  }
  if (rate_model && !error_rate) invalid("--error-model " + error_model + " needs --error-rate");
  if (!rate_model && (error_rate || error_spread || exact_error_count)) {
    invalid("--error-rate, --error-spread and --error-count go with --error-model random-allele "
            "or dropout");
  }
  if (error_spread && exact_error_count) {
    invalid("--error-spread and --error-count exact do not go together: an exact count has one "
            "rate");
  }
  if (error_spread && (*error_rate <= 0 || *error_rate >= 1)) {
    invalid("--error-spread needs an --error-rate above 0 and below 1");
  }
  if (matrix) {
    if (markers.alleles != 2) invalid("--error-model matrix: is for two-allele markers (--alleles 2)");
    read_error_matrix(error_model.substr(7));
  }
  if (missing_model != "design" && missing_model != "random") {
    invalid("the missing-data model is design or random, got '" + missing_model + "'");
  }
  const bool random = missing_model == "random";
  if (random && !call_rate) invalid("--missing-model random needs --call-rate");
  if (!random && (call_rate || call_rate_spread || animal_call_rate_spread)) {
    invalid("--call-rate and its spreads go with --missing-model random");
  }
  if ((call_rate_spread || animal_call_rate_spread) && (*call_rate <= 0 || *call_rate >= 1)) {
    invalid("a call-rate spread needs a --call-rate above 0 and below 1");
  }
  for (const auto& [parent, wrong, missing] :
       {std::tuple{"sire", wrong_sire, missing_sire}, std::tuple{"dam", wrong_dam, missing_dam}}) {
    if (wrong + missing > 1) {
      invalid(std::string("--wrong-") + parent + " and --missing-" + parent +
              " together are at most 1, got " + number_text(wrong + missing));
    }
  }
  if (wrong_parent_from != "same-generation" && wrong_parent_from != "any") {
    invalid("--wrong-parent-from is same-generation or any, got '" + wrong_parent_from + "'");
  }
}

std::string RecordOptions::describe() const {
  std::string text = "error_model=" + error_model;
  if (error_rate) text += " error_rate=" + number_text(*error_rate);
  if (error_spread) text += " error_spread=beta:" + number_text(*error_spread);
  if (exact_error_count) text += " error_count=exact";
  text += " missing_model=" + missing_model;
  if (call_rate) text += " call_rate=" + number_text(*call_rate);
  if (call_rate_spread) text += " call_rate_spread=beta:" + number_text(*call_rate_spread);
  if (animal_call_rate_spread) {
    text += " animal_call_rate_spread=beta:" + number_text(*animal_call_rate_spread);
  }
  if (ungenotyped_parents) text += " ungenotyped_parents=" + number_text(*ungenotyped_parents);
  for (const auto& [name, share] :
       {std::pair{"wrong_sire", wrong_sire}, std::pair{"wrong_dam", wrong_dam},
        std::pair{"missing_sire", missing_sire}, std::pair{"missing_dam", missing_dam},
        std::pair{"swap", swap}}) {
    if (share > 0) text.append(" ").append(name).append("=").append(number_text(share));
  }
  if (wrong_sire > 0 || wrong_dam > 0) text += " wrong_parent_from=" + wrong_parent_from;
  return text;
}

}  // namespace pedsim
