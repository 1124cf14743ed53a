// The missing-data models: a row each.

#include <algorithm>

#include "pedsim/models.hpp"
#include "text/lists.hpp"

namespace pedsim {

namespace {

constexpr MissingModel kMissingModels[] = {
    {.name = "design",
     .help = "(default of NGEN N MALE with one marker) the\n"
             "age schedule: older animals lose their\n"
             "records more often",
     .takes_call_rate = false,
     .placement = MissingPlacement::kAnimals},
    {.name = "none",
     .help = "(default of a panel or --pedigree) every\n"
             "genotype called",
     .takes_call_rate = false,
     .placement = MissingPlacement::kNone},
    {.name = "random",
     .help = "each genotype called with probability c",
     .takes_call_rate = true,
     .placement = MissingPlacement::kGenotypes},
};

}  // namespace

std::span<const MissingModel> missing_models() { return kMissingModels; }

const MissingModel* find_missing_model(std::string_view name) {
  const auto* row = std::find_if(std::begin(kMissingModels), std::end(kMissingModels),
                                 [&](const MissingModel& m) { return m.name == name; });
  return row == std::end(kMissingModels) ? nullptr : row;
}

std::string missing_model_list() {
  return listed_names(missing_models(), [](const MissingModel& m) { return std::string(m.name); });
}

std::string missing_models_usage() {
  return usage_lines(missing_models(), [](const MissingModel& m) { return std::string(m.name); });
}

}  // namespace pedsim
