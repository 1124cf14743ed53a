#pragma once

#include <string>

#include "formats/bgzf_file.hpp"
#include "formats/format_files.hpp"
#include "io/buffered_writer.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// VCF 4.2, BGZF-compressed on every core by htslib, with a CSI index: one sample per
// animal (named by its number), one record per marker at its chromosome and
// base pair, ID its name, REF allele 1 and ALT alleles 2 up to the highest
// the marker holds (letters as in every format). Recorded genotypes are
// unphased, "./." where nothing was recorded; true genotypes are phased,
// the sire's allele first.
void write_vcf(const Simulation& run, Genotypes genotypes, const IndexedFile& file);

// An index of records of these markers: their chromosomes, in their
// order, and the longest's last base.
RecordIndex record_index(const GenotypeView& view, RecordIndex::Records records);

// The header of the VCF of these genotypes.
void write_vcf_header(const GenotypeView& view, BufferedWriter& out);

}  // namespace pedsim
