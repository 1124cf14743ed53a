#include "io/vcf_writer.hpp"

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "io/diagnostic.hpp"

namespace pedsim {

namespace {

// Markers whose alleles are gathered at once.
constexpr std::int32_t kMarkerChunk = 64;
// CSI bins of 2^14 bases at the finest level, as bcftools index makes.
constexpr int kCsiMinShift = 14;

struct FileCloser {
  void operator()(htsFile* file) const { hts_close(file); }
};
struct HeaderFree {
  void operator()(bcf_hdr_t* header) const { bcf_hdr_destroy(header); }
};
struct RecordFree {
  void operator()(bcf1_t* record) const { bcf_destroy(record); }
};

class VcfOutput {
 public:
  explicit VcfOutput(const IndexedFile& file) : file_(file) {
    file_handle_.reset(hts_open(file.path.c_str(), "wz"));
    if (!file_handle_) fail();
    if (hts_set_threads(file_handle_.get(), cores()) != 0) fail();
  }

  htsFile* get() const { return file_handle_.get(); }
  // A library call that returned `status`: below 0 it failed.
  void check(int status) const {
    if (status < 0) fail();
  }
  // Closes the file, writing its last blocks.
  void close() {
    if (hts_close(file_handle_.release()) != 0) fail();
  }
  static int cores() {
    return static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  }
  [[noreturn]] void fail() const {
    stop_with_diagnostic(code::kWriteError, file_.unit, file_.shown_path, errno != 0 ? errno : EIO);
  }

 private:
  const IndexedFile& file_;
  std::unique_ptr<htsFile, FileCloser> file_handle_;
};

// Each chromosome's contig line, as long as its last marker's position.
void add_contigs(const GenotypeView& view, bcf_hdr_t* header, const VcfOutput& out) {
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    const bool last_of_contig =
        m + 1 == view.markers() || view.chromosome(m + 1) != view.chromosome(m);
    if (!last_of_contig) continue;
    const std::string line = std::string("##contig=<ID=")
                                 .append(view.chromosome(m))
                                 .append(",length=")
                                 .append(std::to_string(view.base_pair(m)))
                                 .append(">");
    out.check(bcf_hdr_append(header, line.c_str()));
  }
}

std::unique_ptr<bcf_hdr_t, HeaderFree> make_header(const GenotypeView& view,
                                                   const VcfOutput& out) {
  std::unique_ptr<bcf_hdr_t, HeaderFree> header(bcf_hdr_init("w"));
  if (!header) out.fail();
  out.check(bcf_hdr_append(header.get(), "##source=pedsim"));
  add_contigs(view, header.get(), out);
  out.check(bcf_hdr_append(header.get(),
                           "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">"));
  for (std::int32_t i = 1; i <= view.animals(); ++i) {
    out.check(bcf_hdr_add_sample(header.get(), std::to_string(i).c_str()));
  }
  out.check(bcf_hdr_sync(header.get()));
  return header;
}

// REF and ALT of a marker whose highest allele is `top`.
std::string alleles_text(const GenotypeView& view, std::int32_t top) {
  std::string text(view.label(1));
  for (std::int32_t a = 2; a <= top; ++a) text.append(",").append(view.label(a));
  return text;
}

// One marker's genotypes (`cells`: per animal, two alleles) as the GT
// values of a record; returns the highest allele among them.
std::int32_t fill_genotypes(const std::uint16_t* cells, std::size_t animals, bool phased,
                            std::vector<std::int32_t>& gt) {
  std::int32_t top = 0;
  for (std::size_t j = 0; j < animals; ++j) {
    const std::int32_t first = cells[2 * j];
    const std::int32_t second = cells[2 * j + 1];
    top = std::max({top, first, second});
    if (first == 0 || second == 0) {
      gt[2 * j] = gt[2 * j + 1] = bcf_gt_missing;
      continue;
    }
    gt[2 * j] = bcf_gt_unphased(first - 1);
    gt[2 * j + 1] = phased ? bcf_gt_phased(second - 1) : bcf_gt_unphased(second - 1);
  }
  return top;
}

}  // namespace

void write_vcf(const Simulation& run, Genotypes genotypes, const IndexedFile& file) {
  const GenotypeView view(run, genotypes);
  VcfOutput out(file);
  const auto header = make_header(view, out);
  out.check(bcf_hdr_write(out.get(), header.get()));
  const std::unique_ptr<bcf1_t, RecordFree> record(bcf_init());
  const auto animals = static_cast<std::size_t>(view.animals());
  const bool phased = genotypes == Genotypes::kTrue;
  const std::int32_t alleles = run.has_panel() ? run.panel.map().alleles : 3;
  std::vector<std::uint16_t> cells;
  std::vector<std::int32_t> gt(2 * animals);
  for (std::int32_t first = 0; first < view.markers(); first += kMarkerChunk) {
    const std::int32_t count = std::min(kMarkerChunk, view.markers() - first);
    view.alleles_of_markers(first, count, cells);
    for (std::int32_t k = 0; k < count; ++k) {
      const std::int32_t m = first + k;
      const std::int32_t top =
          std::max(alleles, fill_genotypes(cells.data() + 2 * animals * std::size_t(k), animals,
                                           phased, gt));
      bcf_clear(record.get());
      record->rid = bcf_hdr_name2id(header.get(), view.chromosome(m).c_str());
      record->pos = view.base_pair(m) - 1;
      out.check(bcf_update_id(header.get(), record.get(), view.name(m).c_str()));
      out.check(bcf_update_alleles_str(header.get(), record.get(), alleles_text(view, top).c_str()));
      out.check(bcf_update_genotypes(header.get(), record.get(), gt.data(),
                                     static_cast<int>(gt.size())));
      out.check(vcf_write(out.get(), header.get(), record.get()));
    }
  }
  out.close();
  // Indexed once written: this htslib (1.16) places index entries wrongly
  // when it indexes as it compresses on several threads.
  out.check(bcf_index_build3(file.path.c_str(), file.index_path.c_str(), kCsiMinShift,
                             VcfOutput::cores()));
}

}  // namespace pedsim
