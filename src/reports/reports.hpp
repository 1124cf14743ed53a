#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/counts.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// The file of a run's line of a replicate table, in its folder.
inline constexpr std::string_view kRunRowName = "run.tsv";

// The columns of a replicate table beyond the design's: under a
// missing-data or error model other than the design's, the error rate, call
// rate, altered genotypes and detectable errors; with pedigree errors, also
// the wrong and missing sires and dams; with --ibd, the mean inbreeding.
struct TableColumns {
  enum Layout { kDesign, kRecords, kPedigree };
  // A layout alone: without the relatedness columns.
  TableColumns(Layout layout = kDesign, bool relatedness = false)  // NOLINT: a layout is columns
      : layout(layout), relatedness(relatedness) {}

  Layout layout;
  bool relatedness;
  friend bool operator==(const TableColumns&, const TableColumns&) = default;
};
// Every layout a table can have.
std::vector<TableColumns> every_table_columns();
TableColumns table_columns(const RecordOptions& records);
// The same from how reports name a model ("... error_model=... wrong_sire=...").
TableColumns table_columns(const std::string& model);

// The table of a replicate study, tab-separated: its header line, and the
// line of one run (counts "NA" for a run that failed).
std::string replicate_table_header(TableColumns columns = TableColumns::kDesign);
std::string replicate_table_row(std::int32_t replicate, std::int32_t seed,
                                const std::optional<RunCounts>& counts, int status,
                                const std::string& model,
                                TableColumns columns = TableColumns::kDesign);
// A row of "NA" counts for a run that left no line.
std::string na_table_row(std::int32_t replicate, const std::string& seed, const std::string& model,
                         TableColumns columns);

// The text of run.tsv: a run's line of a replicate table, with the table's
// header.
std::string run_row_text(const Seed& seed, const std::optional<RunCounts>& counts, int status,
                         const std::string& model, TableColumns columns = TableColumns::kDesign);

// The truth file, tab-separated: a header row naming the columns, then per
// animal (rows never bred are left out) the animal, sire, dam, sex,
// generation, true alleles, lost flag, recorded alleles and altered flag.
void write_truth(const Simulation& run, ByteSink& out);

// The run summary: `key: value` lines and short tables; with the run's
// checks, when other outputs share them.
void write_summary(const Simulation& run, ByteSink& out);
void write_summary(const Simulation& run, RunChecks& checks, ByteSink& out);

}  // namespace pedsim
