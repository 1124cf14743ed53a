#pragma once

#include <cstdint>
#include <optional>

#include "formats/record_formatters.hpp"
#include "io/buffered_writer.hpp"
#include "pedsim/simulation.hpp"
#include "sim/error_injection.hpp"

namespace pedsim {

// Writes a run's outputs in their fixed order: a console line as each
// generation begins, the two count lines, then, as error injection goes on,
// each altered animal (its console line and its "ped.errors" record) and the
// "ped.pre" records of the rows that are final. Fed by the injection while it
// runs, or afterwards from a finished run; the bytes are the same.
class DesignOutputs final : public InjectionObserver {
 public:
  DesignOutputs(const OutputSinks& sinks, const Pedigree& pedigree, const GenotypeStore& genotypes);

  void generation_begins(std::int32_t g);
  // The "n° of founders=" and "n° of animals=" lines.
  void counts(std::int32_t founders, std::int32_t rows);
  void altered(const AlteredAnimal& animal) override;
  void rows_final(std::int32_t last_row) override;
  // Every row is final: writes what is left and hands everything over.
  void finish();

 private:
  // Console lines that mark the progress of a run are shown at once.
  void progress_line(const std::string& line);

  const OutputSinks sinks_;
  const Pedigree& pedigree_;
  const GenotypeStore& genotypes_;
  StringSink unused_;
  // The console lines of altered animals are written in blocks.
  BufferedWriter console_;
  BufferedWriter errors_;
  // "ped.pre" of small pedigrees, formatted here row by row.
  BufferedWriter records_;
  std::int32_t rows_written_ = 0;
  // "ped.pre" of large pedigrees, formatted on two threads.
  std::optional<RecordFormatters> formatters_;
};

}  // namespace pedsim
