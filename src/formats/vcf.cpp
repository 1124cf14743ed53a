#include "formats/vcf.hpp"

#include <htslib/bgzf.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <thread>
#include <vector>

#include "io/buffered_writer.hpp"
#include "io/diagnostic.hpp"
#include "io/progress_sink.hpp"
#include "platform/helper_thread.hpp"

namespace pedsim {

namespace {

// Markers whose alleles are gathered at once.
constexpr std::int32_t kMarkerChunk = 64;
// Deflate level 3: on a two-allele panel 15 % larger than the default
// level 6 and written in a third of its time.
constexpr const char* kCompression = "w3";
// CSI bins of 2^14 bases at the finest level, as bcftools index makes.
constexpr int kCsiMinShift = 14;

unsigned cores() { return std::max(1U, std::thread::hardware_concurrency()); }

// The threads htslib may take: its pool of one per core and its writer.
// Where they cannot all be started (a process or memory limit), none: its
// pool would wait forever for the one that failed.
int compressing_threads() { return threads_can_start(cores() + 1) ? static_cast<int>(cores()) : 0; }

// A BGZF file compressed on every core, as a sink; a failure stops the run
// with the write diagnostic.
class BgzfSink : public ByteSink {
 public:
  explicit BgzfSink(const IndexedFile& file) : file_(file) {
    bgzf_ = bgzf_open(file.path.c_str(), kCompression);
    if (bgzf_ == nullptr) fail();
    const int threads = compressing_threads();
    if (threads > 0 && bgzf_mt(bgzf_, threads, 64) != 0) fail();
  }
  BgzfSink(const BgzfSink&) = delete;
  BgzfSink& operator=(const BgzfSink&) = delete;
  ~BgzfSink() override {
    if (bgzf_ != nullptr) bgzf_close(bgzf_);
  }

  void write(std::string_view bytes) override {
    if (bgzf_write(bgzf_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      fail();
    }
  }
  // Writes the last blocks and the end-of-file block.
  void close() {
    BGZF* const bgzf = std::exchange(bgzf_, nullptr);
    if (bgzf_close(bgzf) != 0) fail();
  }
  [[noreturn]] void fail() const {
    if (errno == ENOMEM) stop_with_diagnostic(code::kNoMemory);
    stop_with_diagnostic(code::kWriteError, file_.unit, file_.shown_path, errno != 0 ? errno : EIO);
  }

 private:
  const IndexedFile& file_;
  BGZF* bgzf_ = nullptr;
};

void write_header(const GenotypeView& view, BufferedWriter& out) {
  out.write(
      "##fileformat=VCFv4.2\n##FILTER=<ID=PASS,Description=\"All filters passed\">\n"
      "##source=pedsim\n");
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    const bool last_of_contig =
        m + 1 == view.markers() || view.chromosome(m + 1) != view.chromosome(m);
    if (!last_of_contig) continue;
    out.write("##contig=<ID=");
    out.write(view.chromosome(m));
    out.write(",length=");
    out.write(std::to_string(view.base_pair(m)));
    out.write(">\n");
  }
  out.write(
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT");
  for (std::int32_t i = 1; i <= view.animals(); ++i) {
    out.write("\t");
    out.write(view.animal_name(i));
  }
  out.write("\n");
}

char* put(char* at, std::string_view text) { return std::copy(text.begin(), text.end(), at); }

// The fixed fields of a marker whose highest allele is `top`.
char* put_marker(const GenotypeView& view, std::int32_t m, std::int32_t top, char* at) {
  at = put(at, view.chromosome(m));
  *at++ = '\t';
  at = std::to_chars(at, at + 24, view.base_pair(m)).ptr;
  *at++ = '\t';
  at = put(at, view.name(m));
  *at++ = '\t';
  at = put(at, view.label(1));
  *at++ = '\t';
  if (top < 2) *at++ = '.';
  for (std::int32_t a = 2; a <= top; ++a) {
    if (a > 2) *at++ = ',';
    at = put(at, view.label(a));
  }
  return put(at, "\t.\t.\t.\tGT");
}

// One genotype: allele a is index a-1; "./." where nothing was recorded.
char* put_genotype(char* at, std::uint16_t first, std::uint16_t second, char separator) {
  *at++ = '\t';
  if (first == 0 || second == 0) return put(at, "./.");
  if (first <= 10 && second <= 10) {
    at[0] = static_cast<char>('0' + first - 1);
    at[1] = separator;
    at[2] = static_cast<char>('0' + second - 1);
    return at + 3;
  }
  at = std::to_chars(at, at + 4, first - 1).ptr;
  *at++ = separator;
  return std::to_chars(at, at + 4, second - 1).ptr;
}

// A genotype of a marker some animals carry once: haploid ("0", or "."
// where nothing was recorded) for one copy, "." for none.
char* put_carried(char* at, std::uint16_t first, std::uint16_t second, char separator, int copies) {
  if (copies == 2) return put_genotype(at, first, second, separator);
  *at++ = '\t';
  if (copies == 0 || first == 0) return put(at, ".");
  return std::to_chars(at, at + 4, first - 1).ptr;
}

}  // namespace

void write_vcf(const Simulation& run, Genotypes genotypes, const IndexedFile& file) {
  const GenotypeView view(run, genotypes);
  BgzfSink compressed(file);
  {
    ProgressSink sink(compressed, file.progress, file.stage, file.expected_bytes);
    BufferedWriter out(sink);
    write_header(view, out);
    const auto animals = static_cast<std::size_t>(view.animals());
    const char separator = genotypes == Genotypes::kTrue ? '|' : '/';
    const std::int32_t alleles = run.has_panel() ? run.panel.map().alleles : 3;
    const std::size_t widest = view.label(view.allele_limit()).size() + 1;
    const std::size_t line_bytes =
        256 + view.allele_limit() * widest + std::size_t{8} * (animals + 1);
    std::vector<std::uint16_t> cells;
    for (std::int32_t first = 0; first < view.markers(); first += kMarkerChunk) {
      const std::int32_t count = std::min(kMarkerChunk, view.markers() - first);
      view.alleles_of_markers(first, count, cells);
      for (std::int32_t k = 0; k < count; ++k) {
        const std::uint16_t* marker = cells.data() + 2 * animals * std::size_t(k);
        const std::int32_t top =
            std::max<std::int32_t>(alleles, *std::max_element(marker, marker + 2 * animals));
        char* const start = out.reserve(line_bytes);
        char* at = put_marker(view, first + k, top, start);
        if (view.sex_linked(first + k)) {
          for (std::size_t j = 0; j < animals; ++j) {
            at = put_carried(at, marker[2 * j], marker[2 * j + 1], separator,
                             view.copies(static_cast<std::int32_t>(j) + 1, first + k));
          }
        } else {
          for (std::size_t j = 0; j < animals; ++j) {
            at = put_genotype(at, marker[2 * j], marker[2 * j + 1], separator);
          }
        }
        *at++ = '\n';
        out.commit(static_cast<std::size_t>(at - start));
      }
    }
    out.flush();
  }
  compressed.close();
  // Indexed once written: this htslib (1.16) places index entries wrongly
  // when it indexes as it compresses on several threads.
  errno = 0;
  if (bcf_index_build3(file.path.c_str(), file.index_path.c_str(), kCsiMinShift,
                       compressing_threads()) != 0) {
    stop_with_diagnostic(code::kWriteError, file.unit, file.shown_index_path,
                         errno != 0 ? errno : EIO);
  }
}

namespace {

constexpr FormatFile kVcfFileList[] = {
    {.recorded_name = "ped.vcf.gz",
     .true_name = "true.vcf.gz",
     .recorded_index = "ped.vcf.gz.csi",
     .true_index = "true.vcf.gz.csi",
     .write_indexed = write_vcf,
     .bytes_per_genotype = 4,
     .stored_share = 0.12,
     .nanoseconds_per_genotype = 25},
};

}  // namespace

extern const FormatFiles kVcfFiles{.unit = 13, .files = kVcfFileList};

}  // namespace pedsim
