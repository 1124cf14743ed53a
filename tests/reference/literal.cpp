#include "reference/literal.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace pedsim::reference {

namespace {

// The stream's next number, one draw at a time.
double draw(UniformStream& stream) { return UniformStream::to_uniform(stream.next_z()); }

}  // namespace

KeyMatrix::KeyMatrix(std::int32_t nrow, std::int32_t ncol)
    : nrow_(std::max(nrow, 0)),
      ncol_(std::max(ncol, 1)),
      data_(static_cast<std::size_t>(nrow_) * static_cast<std::size_t>(ncol_)) {}

void selection_sort_rows(KeyMatrix& matrix, std::int32_t kcol) {
  const std::int32_t nrow = matrix.nrow();
  for (std::int32_t m = 1; m < nrow; ++m) {
    double smallest = std::numeric_limits<double>::infinity();
    for (std::int32_t r = m + 1; r <= nrow; ++r) {
      if (matrix.at(r, kcol) < smallest) smallest = matrix.at(r, kcol);
    }
    std::int32_t j = m + 1;
    while (j <= nrow && matrix.at(j, kcol) != smallest) ++j;
    if (j > nrow || !(matrix.at(j, kcol) < matrix.at(m, kcol))) continue;
    for (std::int32_t c = 1; c <= matrix.ncol(); ++c) std::swap(matrix.at(m, c), matrix.at(j, c));
  }
}

void shuffle_literally(std::span<std::int32_t> list, UniformStream& stream) {
  const auto n = static_cast<std::int32_t>(list.size());
  KeyMatrix keys(n, 2);
  for (std::int32_t k = 1; k <= n; ++k) keys.at(k, 1) = draw(stream);
  for (std::int32_t k = 1; k <= n; ++k) keys.at(k, 2) = static_cast<double>(list[k - 1]);
  selection_sort_rows(keys, 1);
  for (std::int32_t k = 1; k <= n; ++k) {
    list[k - 1] = static_cast<std::int32_t>(std::lround(keys.at(k, 2)));
  }
}

const std::array<TransmissionRow, 36> kTransmissionTable{{
    {11, 11, 0, {11, 11, 11, 11}}, {11, 12, 1, {11, 11, 12, 12}}, {11, 13, 1, {11, 11, 13, 13}},
    {11, 22, 0, {12, 12, 12, 12}}, {11, 23, 1, {12, 12, 13, 13}}, {11, 33, 0, {13, 13, 13, 13}},
    {12, 11, 1, {11, 11, 12, 12}}, {12, 12, 1, {11, 12, 12, 22}}, {12, 13, 1, {11, 13, 12, 23}},
    {12, 22, 1, {12, 12, 22, 22}}, {12, 23, 1, {12, 13, 22, 23}}, {12, 33, 1, {13, 13, 23, 23}},
    {13, 11, 1, {11, 11, 13, 13}}, {13, 12, 1, {11, 13, 12, 23}}, {13, 13, 1, {11, 13, 13, 33}},
    {13, 22, 1, {12, 12, 23, 23}}, {13, 23, 1, {12, 13, 23, 33}}, {13, 33, 1, {13, 13, 33, 33}},
    {22, 11, 0, {12, 12, 12, 12}}, {22, 12, 1, {12, 12, 22, 22}}, {22, 13, 1, {12, 12, 23, 23}},
    {22, 22, 0, {22, 22, 22, 22}}, {22, 23, 1, {22, 22, 23, 23}}, {22, 33, 0, {23, 23, 23, 23}},
    {23, 11, 1, {12, 12, 13, 13}}, {23, 12, 1, {12, 13, 22, 23}}, {23, 13, 1, {12, 13, 23, 33}},
    {23, 22, 1, {22, 22, 23, 23}}, {23, 23, 1, {22, 23, 23, 33}}, {23, 33, 1, {23, 23, 33, 33}},
    {33, 11, 0, {13, 13, 13, 13}}, {33, 12, 1, {13, 13, 23, 23}}, {33, 13, 1, {13, 13, 33, 33}},
    {33, 22, 0, {23, 23, 23, 23}}, {33, 23, 1, {23, 23, 33, 33}}, {33, 33, 0, {33, 33, 33, 33}},
}};

std::optional<Genotype> transmit(Genotype sire, Genotype dam, UniformStream& stream) {
  for (const TransmissionRow& row : kTransmissionTable) {
    if (row.sire != sire.first * 10 + sire.second || row.dam != dam.first * 10 + dam.second) {
      continue;
    }
    int quarter = 0;
    if (row.draws == 1) {
      const double x = draw(stream);
      quarter = x <= 0.25 ? 0 : x <= 0.5 ? 1 : x <= 0.75 ? 2 : 3;
    }
    const int child = row.offspring[static_cast<std::size_t>(quarter)];
    return Genotype{child / 10, child % 10};
  }
  return std::nullopt;
}

void create_founders(const Parameters& p, Pedigree& pedigree, GenotypeStore& genotypes,
                     UniformStream& stream, ParentLists& parents) {
  MarkerColumns& m = genotypes.marker(0);
  for (std::int32_t i = 1; i <= p.founders; ++i) {
    const double x = draw(stream);
    Genotype g{3, 3};
    if (x <= 0.1111111119389534) {
      g = {1, 1};
    } else if (x <= 0.3333333432674408) {
      g = {1, 2};
    } else if (x <= 0.5555555820465088) {
      g = {1, 3};
    } else if (x <= 0.6666666865348816) {
      g = {2, 2};
    } else if (x <= 0.8888888955116272) {
      g = {2, 3};
    }
    pedigree.sex[i] = static_cast<std::int8_t>(i <= p.males ? 1 : 2);
    m.true_first[i] = static_cast<std::int8_t>(g.first);
    m.true_second[i] = static_cast<std::int8_t>(g.second);
  }
  pedigree.add_created(p.founders);
  for (std::int32_t k = 1; k <= p.males; ++k) parents.sires[k] = k;
  for (std::int32_t k = 1; k <= p.females; ++k) parents.dams[k] = p.males + k;
}

std::int32_t mate_generation(const Parameters& p, Pedigree& pedigree, GenotypeStore& genotypes,
                             const ParentLists& parents, UniformStream& stream, std::int32_t g) {
  MarkerColumns& m = genotypes.marker(0);
  std::int32_t born = 0;
  std::int32_t l = 0;
  for (std::int32_t s = 1; s <= p.males; ++s) {
    for (std::int32_t k = 1; k <= p.dams_per_sire; ++k) {
      const std::int32_t d = parents.dams[++l];
      std::int32_t used = s;
      if (parents.sires[s] == pedigree.sire[d] || d == pedigree.dam[parents.sires[s]]) {
        used = s + 1 > p.males ? 1 : s + 1;
      }
      const std::int32_t sire = parents.sires[used];
      const std::int32_t i = pedigree.created() + 1;
      if (i > pedigree.rows()) return born;
      if (const auto child =
              transmit(genotypes.true_genotype(sire), genotypes.true_genotype(d), stream)) {
        m.true_first[i] = static_cast<std::int8_t>(child->first);
        m.true_second[i] = static_cast<std::int8_t>(child->second);
      }
      pedigree.sex[i] = static_cast<std::int8_t>(draw(stream) > 0.5 ? 2 : 1);
      pedigree.sire[i] = sire;
      pedigree.dam[i] = d;
      pedigree.born[i] = g;
      pedigree.add_created(1);
      ++born;
    }
  }
  return born;
}

void select_parents(const Pedigree& pedigree, ParentLists& parents, UniformStream& stream) {
  std::vector<std::int32_t> males;
  std::vector<std::int32_t> females;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    if (pedigree.sex[i] == 1) males.push_back(i);
    if (pedigree.sex[i] == 2) females.push_back(i);
  }
  shuffle_literally(males, stream);
  for (std::int32_t s = 1; s <= parents.sires.size(); ++s) {
    parents.sires[s] = males[static_cast<std::size_t>(s - 1)];
  }
  shuffle_literally(females, stream);
  for (std::int32_t d = 1; d <= parents.dams.size(); ++d) {
    parents.dams[d] = females[static_cast<std::size_t>(d - 1)];
  }
}

void lose_genotypes(std::int32_t generations, const Pedigree& pedigree, GenotypeStore& genotypes,
                    UniformStream& stream) {
  MarkerColumns& m = genotypes.marker(0);
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    m.recorded_first[i] = m.true_first[i];
    m.recorded_second[i] = m.true_second[i];
  }
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    const double x = draw(stream);
    const std::int32_t k = generations - pedigree.born[i] + 1;
    const double t = static_cast<double>(k) * 0.10000000149011612;
    if (x <= t && genotypes.lost[i] == 0) {
      genotypes.lost[i] = 1;
      m.recorded_first[i] = 0;
      m.recorded_second[i] = 0;
    }
  }
}

std::vector<AlteredAnimal> inject_errors(const Pedigree& pedigree, GenotypeStore& genotypes,
                                         UniformStream& stream) {
  MarkerColumns& m = genotypes.marker(0);
  std::vector<AlteredAnimal> altered;
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    if (m.recorded_first[i] == 0 || pedigree.sire[i] == 0 || pedigree.dam[i] == 0 ||
        m.recorded_first[pedigree.sire[i]] != 0 || m.recorded_first[pedigree.dam[i]] != 0) {
      continue;
    }
    if (draw(stream) > 0.5) continue;
    const std::int32_t old = m.recorded_first[i];
    const double y = draw(stream);
    const std::int32_t replacement = y <= 0.25 ? 1 : y <= 0.5 ? 2 : y < 0.75 ? 3 : 4;
    m.recorded_first[i] = static_cast<std::int8_t>(replacement);
    if (replacement != old) altered.push_back({i, old});
  }
  return altered;
}

Simulation simulate(const Parameters& p, std::int32_t seed) {
  UniformStream stream;
  stream.seed_from_sum(seed);
  Simulation run = simulate(p, stream);
  run.seed = {seed, "PEDSIM_SEED"};
  return run;
}

Simulation simulate(const Parameters& p, UniformStream stream) {
  Simulation run;
  run.parameters = p;
  run.pedigree = Pedigree(p.rows);
  run.genotypes = GenotypeStore(p.rows, {3});
  ParentLists parents(p);
  create_founders(p, run.pedigree, run.genotypes, stream, parents);
  run.animals_born.push_back(p.founders);
  for (std::int32_t g = 1; g <= p.generations; ++g) {
    run.animals_born.push_back(mate_generation(p, run.pedigree, run.genotypes, parents, stream, g));
    select_parents(run.pedigree, parents, stream);
  }
  lose_genotypes(p.generations, run.pedigree, run.genotypes, stream);
  run.altered = inject_errors(run.pedigree, run.genotypes, stream);
  return run;
}

namespace {

// A field: the value right-justified in eight columns, or a blank and the
// value when it is longer than seven characters.
std::string field(std::int32_t value) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%d", value);
  return std::string(length < 8 ? static_cast<std::size_t>(8 - length) : 1, ' ') + text;
}

std::string console_int(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%12d\n", value);
  return text;
}

}  // namespace

std::string ped_pre(const Pedigree& pedigree, const GenotypeStore& genotypes) {
  const MarkerColumns& m = genotypes.marker(0);
  std::string out;
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    const std::int32_t animal = i <= pedigree.created() ? i : 0;
    out += field(animal) + field(pedigree.sire[i]) + field(pedigree.dam[i]) +
           field(pedigree.sex[i]) + field(m.recorded_first[i]) + field(m.recorded_second[i]) + "\n";
  }
  return out;
}

std::string ped_errors(const std::vector<AlteredAnimal>& altered) {
  std::string out;
  for (const AlteredAnimal& a : altered) out += field(a.animal) + field(a.old_allele) + "\n";
  return out;
}

std::string console(const Simulation& run) {
  std::string out;
  for (std::int32_t g = 1; g <= run.parameters.generations; ++g) {
    out += " generation " + console_int(g);
  }
  out += " n\xB0 of founders=" + console_int(run.parameters.founders);
  out += " n\xB0 of animals=" + console_int(run.parameters.rows);
  for (const AlteredAnimal& a : run.altered) out += console_int(a.animal);
  return out;
}

}  // namespace pedsim::reference
