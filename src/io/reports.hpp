#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/counts.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

// The file of a run's line of a replicate table, in its folder.
inline constexpr std::string_view kRunRowName = "run.tsv";

// The table of a replicate study, tab-separated: its header line, and the
// line of one run (counts "NA" for a run that failed). Under a missing-data
// or error model other than the design's, `record_columns` adds the error
// rate, call rate, altered genotypes and detectable errors.
std::string replicate_table_header(bool record_columns = false);
std::string replicate_table_row(std::int32_t replicate, std::int32_t seed,
                                const std::optional<RunCounts>& counts, int status,
                                const std::string& model, bool record_columns = false);

// The text of run.tsv: a run's line of a replicate table, with the table's
// header.
std::string run_row_text(const Seed& seed, const std::optional<RunCounts>& counts, int status,
                         const std::string& model, bool record_columns = false);

// The truth file, tab-separated: a header row naming the columns, then per
// animal (rows never bred are left out) the animal, sire, dam, sex,
// generation, true alleles, lost flag, recorded alleles and altered flag.
void write_truth(const Simulation& run, ByteSink& out);

// The run summary: `key: value` lines and short tables.
void write_summary(const Simulation& run, ByteSink& out);

}  // namespace pedsim
