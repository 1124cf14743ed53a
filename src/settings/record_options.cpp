// The record options as the user gives them: their checks and how reports
// name them.

#include <sstream>
#include <tuple>

#include "input/error_matrix.hpp"
#include "models/error_kernels.hpp"
#include "pedsim/models.hpp"
#include "pedsim/simulation.hpp"
#include "text/lists.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

[[noreturn]] void invalid(const std::string& message) { throw InvalidParameters(message); }

}  // namespace

const ErrorModel& RecordOptions::error_model_row() const { return *find_error_model(error_model); }

const MissingModel& RecordOptions::missing_model_row() const {
  return *find_missing_model(missing_model);
}

std::string RecordOptions::error_model_name() const {
  return std::string(error_model.substr(0, error_model.find(':')));
}

namespace {

void check_error_model(const RecordOptions& o, const MarkerOptions& markers) {
  const ErrorModel* model = find_error_model(o.error_model);
  if (model == nullptr) {
    invalid("the error model is " + error_model_list() + ", got '" + o.error_model + "'");
  }
  const std::string flag = "--error-model " + std::string(model->name);
  if (model->takes_rate && !o.error_rate) invalid(flag + " needs --error-rate");
  if (!model->takes_rate && (o.error_rate || o.error_spread || o.exact_error_count)) {
    invalid("--error-rate, --error-spread and --error-count go with --error-model " +
            listed_names(
                error_models(), [](const ErrorModel& m) { return std::string(m.name); },
                [](const ErrorModel& m) { return m.takes_rate; }));
  }
  if (o.error_spread && o.exact_error_count) {
    invalid(
        "--error-spread and --error-count exact do not go together: an exact count has one "
        "rate");
  }
  if (o.error_spread && (*o.error_rate <= 0 || *o.error_rate >= 1)) {
    invalid("--error-spread needs an --error-rate above 0 and below 1");
  }
  if (model->two_alleles_only && markers.alleles != 2) {
    invalid(flag + " is for two-allele markers (--alleles 2)");
  }
  if (model->kernel->kind == ErrorKernel::Kind::kMatrix) {
    read_error_matrix(std::string(error_model_argument(o.error_model)));
  }
}

void check_missing_model(const RecordOptions& o) {
  const MissingModel* model = find_missing_model(o.missing_model);
  if (model == nullptr) {
    invalid("the missing-data model is " + missing_model_list() + ", got '" + o.missing_model +
            "'");
  }
  if (model->takes_call_rate && !o.call_rate) {
    invalid("--missing-model " + o.missing_model + " needs --call-rate");
  }
  if (!model->takes_call_rate && (o.call_rate || o.call_rate_spread || o.animal_call_rate_spread)) {
    invalid("--call-rate and its spreads go with --missing-model " +
            listed_names(
                missing_models(), [](const MissingModel& m) { return std::string(m.name); },
                [](const MissingModel& m) { return m.takes_call_rate; }));
  }
  if ((o.call_rate_spread || o.animal_call_rate_spread) &&
      (*o.call_rate <= 0 || *o.call_rate >= 1)) {
    invalid("a call-rate spread needs a --call-rate above 0 and below 1");
  }
}

}  // namespace

void RecordOptions::validate(const MarkerOptions& markers) const {
  check_error_model(*this, markers);
  check_missing_model(*this);
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
