// BCF2: the VCF's records in htslib's binary form, compressed on every core,
// with the index htslib would make of the file.

#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/bgzf_file.hpp"
#include "formats/vcf.hpp"
#include "io/buffered_writer.hpp"
#include "io/diagnostic.hpp"

namespace pedsim {

namespace {

constexpr std::int32_t kMarkerChunk = 64;

// An open BCF file, its header and a record, closed on every path; a
// failure stops the run with the write diagnostic.
class BcfFile {
 public:
  BcfFile(const IndexedFile& file, std::string header_text, RecordIndex& index)
      : file_(file), index_(index) {
    errno = 0;
    const std::string mode = std::string("wb").append(std::to_string(file.compression_level));
    fp_ = hts_open(file.path.c_str(), mode.c_str());
    if (fp_ == nullptr) stop_writing(file_);
    const int threads = compressing_threads();
    if (threads > 0 && hts_set_threads(fp_, threads) != 0) stop_writing(file_);
    header_ = bcf_hdr_init("r");
    record_ = bcf_init();
    if (header_ == nullptr || record_ == nullptr) stop_writing(file_);
    if (bcf_hdr_parse(header_, header_text.data()) != 0 || bcf_hdr_write(fp_, header_) != 0) {
      stop_writing(file_);
    }
    written_ = header_bytes();
    index_.set_header_end(written_);
    genotype_key_ = bcf_hdr_id2int(header_, BCF_DT_ID, "GT");
  }
  BcfFile(const BcfFile&) = delete;
  BcfFile& operator=(const BcfFile&) = delete;
  ~BcfFile() {
    if (record_ != nullptr) bcf_destroy(record_);
    if (fp_ != nullptr) hts_close(fp_);
    if (header_ != nullptr) bcf_hdr_destroy(header_);
  }

  // One marker's record: its contig, 1-based position, name, alleles
  // ("A,C") and its genotypes, two values per sample.
  void write(const std::string& contig, std::int64_t position, const std::string& name,
             const std::string& alleles, const std::vector<std::int32_t>& genotypes) {
    set_site(contig, position, name, alleles);
    if (bcf_update_genotypes(header_, record_, genotypes.data(),
                             static_cast<int>(genotypes.size())) != 0) {
      stop_writing(file_);
    }
    put();
  }
  // The same with two-allele genotypes already in BCF's 8-bit values, two
  // per sample: the record's sample part is laid out here as htslib would
  // encode them, without a pass over every value to find their type.
  void write_small(const std::string& contig, std::int64_t position, const std::string& name,
                   const std::string& alleles, const std::vector<std::int8_t>& genotypes) {
    set_site(contig, position, name, alleles);
    kstring_t& samples = record_->indiv;
    samples.l = 0;
    if (bcf_enc_int1(&samples, genotype_key_) != 0 || bcf_enc_size(&samples, 2, BCF_BT_INT8) != 0 ||
        kputsn(reinterpret_cast<const char*>(genotypes.data()), genotypes.size(), &samples) < 0) {
      stop_writing(file_);
    }
    record_->n_fmt = 1;
    record_->n_sample = static_cast<std::uint32_t>(bcf_hdr_nsamples(header_));
    put();
  }
  // Writes the last blocks, then the index.
  void close() {
    if (hts_close(std::exchange(fp_, nullptr)) != 0) stop_writing(file_);
    index_.write(file_);
  }

 private:
  void set_site(const std::string& contig, std::int64_t position, const std::string& name,
                const std::string& alleles) {
    bcf_clear(record_);
    record_->rid = bcf_hdr_name2id(header_, contig.c_str());
    record_->pos = position - 1;
    bcf_float_set_missing(record_->qual);
    if (bcf_update_id(header_, record_, name.c_str()) != 0 ||
        bcf_update_alleles_str(header_, record_, alleles.c_str()) != 0) {
      stop_writing(file_);
    }
  }

  void put() {
    if (bcf_write(fp_, header_, record_) != 0) stop_writing(file_);
    // Its lengths, and the shared part's six numbers.
    written_ += 32 + record_->shared.l + record_->indiv.l;
    index_.add(record_->rid, record_->pos, record_->pos + record_->rlen, written_);
  }

  // "BCF\2\2", the text's length and the text with its closing 0.
  std::uint64_t header_bytes() const {
    kstring_t text = KS_INITIALIZE;
    if (bcf_hdr_format(header_, 1, &text) != 0) stop_writing(file_);
    const std::uint64_t bytes = 9 + ks_len(&text) + 1;
    ks_free(&text);
    return bytes;
  }

  const IndexedFile& file_;
  RecordIndex& index_;
  std::uint64_t written_ = 0;
  int genotype_key_ = 0;
  htsFile* fp_ = nullptr;
  bcf_hdr_t* header_ = nullptr;
  bcf1_t* record_ = nullptr;
};

std::string header_text(const GenotypeView& view) {
  StringSink text;
  {
    BufferedWriter out(text);
    write_vcf_header(view, out);
  }
  return text.text;
}

// BCF's value of one allele: allele a (1..) is index a-1; 0 where nothing
// was recorded; the second of a true genotype is phased.
std::int32_t value(std::uint16_t allele, bool phased) {
  return allele == 0 ? bcf_gt_missing : ((allele << 1) | (phased ? 1 : 0));
}

// The records of a run's markers, a chunk at a time.
class BcfRecords {
 public:
  BcfRecords(const GenotypeView& view, Genotypes genotypes, BcfFile& out, const IndexedFile& file)
      : view_(view),
        out_(out),
        file_(file),
        phased_(genotypes == Genotypes::kTrue),
        alleles_(view.run().has_panel() ? view.run().panel.map().alleles : 3) {}

  void write() {
    for (std::int32_t first = 0; first < view_.markers(); first += kMarkerChunk) {
      const std::int32_t count = std::min(kMarkerChunk, view_.markers() - first);
      const bool coded = view_.has_codes(first, count);
      if (coded) {
        gather_codes(first, count);
      } else {
        gather_cells(first, count);
      }
      for (std::int32_t k = 0; k < count; ++k) put(first + k, k, coded);
      if (file_.progress != nullptr) {
        file_.progress->at(file_.stage, static_cast<double>(first + count) / view_.markers());
      }
    }
  }

 private:
  std::size_t animals() const { return static_cast<std::size_t>(view_.animals()); }

  // Two alleles, two copies: each animal's codes, each pair of 8-bit values
  // in its place.
  void gather_codes(std::int32_t first, std::int32_t count) {
    const std::int8_t values[5][2] = {
        {static_cast<std::int8_t>(bcf_gt_missing), static_cast<std::int8_t>(bcf_gt_missing)},
        {static_cast<std::int8_t>(value(1, false)), static_cast<std::int8_t>(value(1, phased_))},
        {static_cast<std::int8_t>(value(1, false)), static_cast<std::int8_t>(value(2, phased_))},
        {static_cast<std::int8_t>(value(2, false)), static_cast<std::int8_t>(value(1, phased_))},
        {static_cast<std::int8_t>(value(2, false)), static_cast<std::int8_t>(value(2, phased_))}};
    small_.resize(static_cast<std::size_t>(count));
    for (std::vector<std::int8_t>& marker : small_) marker.resize(2 * animals());
    std::uint8_t codes[64];
    const auto word = static_cast<std::size_t>(first) / 64;
    for (std::int32_t i = 1; i <= view_.animals(); ++i) {
      view_.codes_of_animal(i, word, codes);
      for (std::int32_t k = 0; k < count; ++k) {
        std::memcpy(small_[static_cast<std::size_t>(k)].data() + 2 * std::size_t(i - 1),
                    values[codes[k]], 2);
      }
    }
    top_.assign(static_cast<std::size_t>(count), 2);
  }

  // Any genotypes: a haploid one ends its two values early, one the animal
  // does not carry is missing.
  void gather_cells(std::int32_t first, std::int32_t count) {
    view_.alleles_of_markers(first, count, cells_);
    gathered_.resize(static_cast<std::size_t>(count));
    for (std::vector<std::int32_t>& marker : gathered_) marker.resize(2 * animals());
    top_.assign(static_cast<std::size_t>(count), alleles_);
    for (std::int32_t k = 0; k < count; ++k) {
      const std::int32_t m = first + k;
      const std::uint16_t* cell = cells_.data() + 2 * animals() * std::size_t(k);
      std::vector<std::int32_t>& out = gathered_[static_cast<std::size_t>(k)];
      for (std::size_t j = 0; j < animals(); ++j, cell += 2) {
        const int copies = view_.copies(static_cast<std::int32_t>(j) + 1, m);
        out[2 * j] = value(copies == 0 ? 0 : cell[0], false);
        out[2 * j + 1] = copies == 2 ? value(cell[1], phased_) : bcf_int32_vector_end;
        top_[static_cast<std::size_t>(k)] =
            std::max<std::int32_t>(top_[static_cast<std::size_t>(k)], std::max(cell[0], cell[1]));
      }
    }
  }

  void put(std::int32_t m, std::int32_t k, bool coded) {
    std::string alleles(view_.label(1));
    const auto at = static_cast<std::size_t>(k);
    for (std::int32_t a = 2; a <= top_[at]; ++a) alleles.append(",").append(view_.label(a));
    if (coded) {
      out_.write_small(view_.chromosome(m), view_.base_pair(m), view_.name(m), alleles, small_[at]);
    } else {
      out_.write(view_.chromosome(m), view_.base_pair(m), view_.name(m), alleles, gathered_[at]);
    }
  }

  const GenotypeView& view_;
  BcfFile& out_;
  const IndexedFile& file_;
  bool phased_;
  std::int32_t alleles_;
  std::vector<std::uint16_t> cells_;
  std::vector<std::vector<std::int32_t>> gathered_;
  std::vector<std::vector<std::int8_t>> small_;
  std::vector<std::int32_t> top_;
};

}  // namespace

void write_bcf(const Simulation& run, Genotypes genotypes, const IndexedFile& file) {
  const GenotypeView view(run, genotypes);
  RecordIndex index = record_index(view, RecordIndex::Records::kBcf);
  BcfFile out(file, header_text(view), index);
  BcfRecords(view, genotypes, out, file).write();
  out.close();
}

namespace {

constexpr FormatFile kBcfFileList[] = {
    {.recorded_name = "ped.bcf",
     .true_name = "true.bcf",
     .recorded_index = "ped.bcf.csi",
     .true_index = "true.bcf.csi",
     .write_indexed = write_bcf,
     .bytes_per_genotype = 2,
     .stored_share = 0.18,
     .nanoseconds_per_genotype = 6},
};

}  // namespace

extern const FormatFiles kBcfFiles{.unit = unit::kBcf, .files = kBcfFileList};

}  // namespace pedsim
