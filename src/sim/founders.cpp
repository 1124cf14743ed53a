#include "sim/founders.hpp"

#include <vector>

#include "random/draw_blocks.hpp"

namespace pedsim {

FounderGenotypes::FounderGenotypes(const std::vector<double>& allele_frequencies) {
  const auto alleles = static_cast<std::int32_t>(allele_frequencies.size());
  const auto p = [&](std::int32_t a) {
    return allele_frequencies[static_cast<std::size_t>(a - 1)];
  };
  double cumulative = 0;
  for (std::int32_t a = 1; a <= alleles; ++a) {
    for (std::int32_t b = a; b <= alleles; ++b) {
      cumulative += a == b ? p(a) * p(a) : 2 * p(a) * p(b);
      classes_.push_back({static_cast<double>(static_cast<float>(cumulative)), {a, b}});
    }
  }
  // The last genotype takes every draw above the bound before it.
  last_ = classes_.back().genotype;
  classes_.pop_back();
}

void create_founders(const Parameters& parameters, const Model& model, Pedigree& pedigree,
                     GenotypeStore& genotypes, UniformStream& stream, ParentLists& parents) {
  const FounderGenotypes founder_genotype(model.allele_frequencies);
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
