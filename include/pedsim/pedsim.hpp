#pragma once

// pedsim: simulates an animal pedigree with genotypes, genotyping errors and
// missing data.
//
// The library's one header for its users: a run's parameters, model,
// options and seed, the pedigree and genotype store it breeds, `simulate`
// to run one in memory, and `write_outputs` and `write_files` to write a
// finished run's files. Each part is defined in the header named after it.
//
//   const pedsim::Parameters parameters = pedsim::Parameters::make(3, 20, 5);
//   const pedsim::Simulation run = pedsim::simulate(parameters, pedsim::Seed{74565});
//   pedsim::StringSink pedigree, errors;
//   pedsim::write_outputs(run, {.pedigree = &pedigree, .errors = &errors});

#include "pedsim/column.hpp"
#include "pedsim/errors.hpp"
#include "pedsim/formats.hpp"
#include "pedsim/genotypes.hpp"
#include "pedsim/marker_statistics.hpp"
#include "pedsim/model.hpp"
#include "pedsim/models.hpp"
#include "pedsim/options.hpp"
#include "pedsim/parameters.hpp"
#include "pedsim/pedigree.hpp"
#include "pedsim/records.hpp"
#include "pedsim/relatedness.hpp"
#include "pedsim/simulation.hpp"
#include "pedsim/supplied_pedigree.hpp"
