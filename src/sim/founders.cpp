#include "sim/founders.hpp"

#include <array>
#include <vector>

#include "random/draw_blocks.hpp"

namespace pedsim {

namespace {

struct FounderClass {
  double upper;  // the class takes every draw up to and including this value
  Genotype genotype;
};

// Cumulative shares 1/9, 1/3, 5/9, 2/3, 8/9, each the single-precision value
// of the fraction widened to double (slightly above the exact fraction).
constexpr std::array<FounderClass, 5> kFounderClasses{{
    {static_cast<double>(1.0F / 9.0F), {1, 1}},
    {static_cast<double>(1.0F / 3.0F), {1, 2}},
    {static_cast<double>(5.0F / 9.0F), {1, 3}},
    {static_cast<double>(2.0F / 3.0F), {2, 2}},
    {static_cast<double>(8.0F / 9.0F), {2, 3}},
}};

}  // namespace

Genotype founder_genotype(double x) {
  for (const auto& c : kFounderClasses) {
    if (x <= c.upper) return c.genotype;
  }
  return {3, 3};
}

void create_founders(const Parameters& parameters, Pedigree& pedigree, GenotypeStore& genotypes,
                     UniformStream& stream, ParentLists& parents) {
  MarkerColumns& marker = genotypes.marker(0);
  std::vector<std::uint32_t> buffer;
  draw_in_blocks(stream, static_cast<std::size_t>(parameters.founders), buffer,
                 [&](std::size_t first, std::span<const std::uint32_t> z) {
                   for (std::size_t j = 0; j < z.size(); ++j) {
                     const auto founder = static_cast<std::int32_t>(first + j + 1);
                     const Genotype g = founder_genotype(
                         UniformStream::to_uniform(static_cast<std::int32_t>(z[j])));
                     pedigree.sex[founder] = founder <= parameters.males ? kMale : kFemale;
                     marker.true_first[founder] = static_cast<std::int8_t>(g.first);
                     marker.true_second[founder] = static_cast<std::int8_t>(g.second);
                   }
                 });
  pedigree.add_created(parameters.founders);
  for (std::int32_t k = 1; k <= parameters.males; ++k) parents.sires[k] = k;
  for (std::int32_t k = 1; k <= parameters.females; ++k) parents.dams[k] = parameters.males + k;
}

}  // namespace pedsim
