// The error models: a row each, with the rule of a rate model beside it.

#include <algorithm>

#include "models/error_kernels.hpp"
#include "text/lists.hpp"

namespace pedsim {

namespace {

// random-allele: one allele (either, evenly, by the number's low bit) is
// replaced by another of the marker's alleles, evenly (by the other 31).
struct RandomAllele {
  static std::array<std::int32_t, 2> change(std::uint32_t draw, std::int32_t alleles,
                                            std::int32_t a, std::int32_t b) {
    const bool second_side = (draw & 1) != 0;
    const std::int32_t old = either(second_side, b, a);
    auto other =
        1 + static_cast<std::int32_t>(
                (std::uint64_t{draw >> 1} * static_cast<std::uint64_t>(alleles - 1)) >> 31);
    other += static_cast<std::int32_t>(other >= old);
    return {either(second_side, a, other), either(second_side, other, b)};
  }
  static bool alters(std::int32_t, std::int32_t) { return true; }
};

// dropout: a heterozygote is recorded as a homozygote of one of its
// alleles, evenly (by the number's low bit).
struct Dropout {
  static std::array<std::int32_t, 2> change(std::uint32_t draw, std::int32_t, std::int32_t a,
                                            std::int32_t b) {
    const std::int32_t kept = either((draw & 1) != 0, b, a);
    return {kept, kept};
  }
  static bool alters(std::int32_t a, std::int32_t b) { return a != b; }
};

constexpr ErrorKernel kNoErrors{ErrorKernel::Kind::kNone};
constexpr ErrorKernel kDesignRule{ErrorKernel::Kind::kDesignRule};
constexpr ErrorKernel kMatrix{ErrorKernel::Kind::kMatrix};
constexpr ErrorKernel kRandomAllele = rate_kernel<RandomAllele>();
constexpr ErrorKernel kDropout = rate_kernel<Dropout>();

constexpr ErrorModel kErrorModels[] = {
    {.name = "design",
     .argument = "",
     .help = "(default of NGEN N MALE with one marker) a\n"
             "genotype whose parents are both known and\n"
             "missing may take a new first allele, 1..K+1",
     .takes_rate = false,
     .two_alleles_only = false,
     .adds_allele = true,
     .kernel = &kDesignRule},
    {.name = "none",
     .argument = "",
     .help = "(default of a panel or --pedigree) no errors",
     .takes_rate = false,
     .two_alleles_only = false,
     .adds_allele = false,
     .kernel = &kNoErrors},
    {.name = "random-allele",
     .argument = "",
     .help = "with rate e, one allele becomes another of\n"
             "the marker's",
     .takes_rate = true,
     .two_alleles_only = false,
     .adds_allele = false,
     .kernel = &kRandomAllele},
    {.name = "dropout",
     .argument = "",
     .help = "with rate e, a heterozygote becomes a\n"
             "homozygote of one of its alleles",
     .takes_rate = true,
     .two_alleles_only = false,
     .adds_allele = false,
     .kernel = &kDropout},
    {.name = "matrix",
     .argument = "FILE",
     .help = "two alleles: P(recorded | true) over 0, 1\n"
             "and 2 copies of allele 2, 3 x 3, in FILE",
     .takes_rate = false,
     .two_alleles_only = true,
     .adds_allele = false,
     .kernel = &kMatrix},
};

}  // namespace

std::string ErrorModel::usage_name() const {
  return argument.empty() ? std::string(name) : std::string(name) + ":" + std::string(argument);
}

std::span<const ErrorModel> error_models() { return kErrorModels; }

const ErrorModel* find_error_model(std::string_view model) {
  const std::string_view name = model.substr(0, model.find(':'));
  const bool has_argument = name.size() != model.size();
  const auto* row = std::find_if(std::begin(kErrorModels), std::end(kErrorModels),
                                 [&](const ErrorModel& m) { return m.name == name; });
  if (row == std::end(kErrorModels) || has_argument != !row->argument.empty()) return nullptr;
  return row;
}

std::string_view error_model_argument(std::string_view model) {
  const std::size_t colon = model.find(':');
  return colon == std::string_view::npos ? std::string_view{} : model.substr(colon + 1);
}

std::string error_model_list() {
  return listed_names(error_models(), [](const ErrorModel& m) { return m.usage_name(); });
}

std::string error_models_usage() {
  return usage_lines(error_models(), [](const ErrorModel& m) { return m.usage_name(); });
}

}  // namespace pedsim
