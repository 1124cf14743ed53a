#include "formats/design_outputs.hpp"

#include "formats/design_records.hpp"

namespace pedsim {

namespace {

constexpr std::size_t kConsoleBlock = std::size_t{1} << 16;

// From this many rows on, "ped.pre" is formatted on two threads.
constexpr std::int32_t kRowsOnTwoThreads = 1 << 15;

}  // namespace

DesignOutputs::DesignOutputs(const OutputSinks& sinks, const Pedigree& pedigree,
                             const GenotypeStore& genotypes)
    : sinks_(sinks),
      pedigree_(pedigree),
      genotypes_(genotypes),
      console_(sinks.console != nullptr ? *sinks.console : unused_, kConsoleBlock),
      errors_(sinks.errors != nullptr ? *sinks.errors : unused_),
      records_(sinks.pedigree != nullptr ? *sinks.pedigree : unused_) {}

void DesignOutputs::progress_line(const std::string& line) {
  if (sinks_.console == nullptr) return;
  console_.write(line);
  console_.flush();
}

void DesignOutputs::generation_begins(std::int32_t g) {
  if (sinks_.quiet_console) return;
  progress_line(console_line_label_int("generation ", g));
}

void DesignOutputs::counts(std::int32_t founders, std::int32_t rows) {
  progress_line(console_line_label_int("n\xB0 of founders=", founders));
  progress_line(console_line_label_int("n\xB0 of animals=", rows));
}

void DesignOutputs::altered(const AlteredAnimal& animal) {
  if (sinks_.console != nullptr && !sinks_.quiet_console) {
    console_.write(console_line_int(animal.animal));
  }
  if (sinks_.errors != nullptr) {
    errors_.commit(
        format_error_record(errors_.reserve(kMaxErrorRecord), animal.animal, animal.old_allele));
  }
}

void DesignOutputs::rows_final(std::int32_t last_row) {
  if (sinks_.pedigree == nullptr) return;
  if (pedigree_.rows() >= kRowsOnTwoThreads) {
    if (!formatters_) formatters_.emplace(pedigree_, genotypes_, *sinks_.pedigree);
    formatters_->rows_final(last_row);
    return;
  }
  const MarkerColumns& marker = genotypes_.marker(0);
  for (std::int32_t i = rows_written_ + 1; i <= last_row; ++i) {
    records_.commit(format_ped_record(records_.reserve(kMaxPedRecord), pedigree_.animal(i),
                                      pedigree_.sire[i], pedigree_.dam[i], pedigree_.sex[i],
                                      marker.recorded_first[i], marker.recorded_second[i]));
  }
  rows_written_ = last_row;
}

void DesignOutputs::finish() {
  rows_final(pedigree_.rows());
  if (formatters_) formatters_->finish();
  records_.flush();
  errors_.flush();
  console_.flush();
}

}  // namespace pedsim
