#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pedsim {

// The most chromosomes a panel spreads its markers over, and the furthest
// a marker lies along one (centimorgans): each meiosis draws every crossover
// of every chromosome.
inline constexpr std::int32_t kMaxChromosomes = 1000000;
inline constexpr double kMaxPositionCm = 100000;
// The longest genome, over all chromosomes (10^4 Morgans: about 300 times a
// mammal's), so that a run's crossovers stay in proportion to its animals.
inline constexpr double kMaxGenomeCm = 1e6;

// The markers a run is asked for. At their defaults (one marker of three
// equally frequent alleles, unlinked, no marker file) a run is the design's:
// one marker bred on the design's stream, written as it always was.
struct MarkerOptions {
  std::int32_t markers = 1;
  std::int32_t alleles = 3;
  // "equal", "dirichlet:A" or "maf:LOW-HIGH".
  std::string frequencies = "equal";
  // Markers spread evenly over this many chromosomes; none: unlinked.
  std::optional<std::int32_t> chromosomes;
  double chromosome_length = 100;
  // A map of the markers (tab-separated: marker, chromosome, position_cm,
  // optionally freq_1..freq_K); it overrides the count, spread and
  // frequencies above.
  std::optional<std::string> marker_file;
  // Sex chromosomes after the spread chromosomes: "X:M,Y:M,MT:M", each
  // optional, M markers each (beyond `markers`).
  std::string sex_chromosomes;
  // Only these chromosomes of the map ("1-5,X"; empty: all): a part of a
  // run split by chromosome, whose genotypes and records there are the
  // whole run's.
  std::string only_chromosomes;

  // Every marker like the design's: three alleles, equal frequencies,
  // unlinked. The design's marker is then marker 1 of the panel.
  bool is_design_marker_model() const {
    return alleles == 3 && frequencies == "equal" && !chromosomes && !marker_file;
  }
  // Nothing beyond the design's one marker.
  bool is_design() const {
    return markers == 1 && is_design_marker_model() && sex_chromosomes.empty();
  }
  // How reports name the marker model: "markers=1000 alleles=2 ...".
  std::string describe() const;
  // Throws InvalidParameters naming a value that cannot be used, and Stop
  // (status 2, naming the line and column) for a marker file that cannot be
  // read or used.
  void validate() const;

  friend bool operator==(const MarkerOptions&, const MarkerOptions&) = default;
};

// The markers of a panel in map order: names, places and alleles. A map
// without chromosomes is unlinked: each meiosis passes on each marker
// independently.
struct MarkerMap {
  std::vector<std::string> names;
  // Per marker, an index into chromosome_names; empty when unlinked.
  std::vector<std::int32_t> chromosome;
  std::vector<std::string> chromosome_names;
  // Per marker, centimorgans from the start of its chromosome.
  std::vector<double> position_cm;
  // Alleles per marker (every marker of a panel has as many).
  std::int32_t alleles = 3;
  // Per marker, the frequencies of alleles 1..alleles.
  std::vector<std::vector<double>> frequencies;

  // A map that is a part of a whole one (--only-chromosomes): per marker,
  // its number in the whole map, and per chromosome (each run of markers on
  // one), its number there. Empty for a whole map. Every number a marker or
  // chromosome draws is had by its number in the whole map, so that a part's
  // genotypes and records are the whole run's.
  std::vector<std::int32_t> whole_marker;
  std::vector<std::int32_t> whole_chromosome_run;
  std::int32_t whole_markers = 0;

  std::int32_t size() const { return static_cast<std::int32_t>(names.size()); }
  bool linked() const { return !chromosome.empty(); }
  bool is_part() const { return !whole_marker.empty(); }
  // Marker m's number in the whole map.
  std::int32_t in_whole(std::int32_t m) const {
    return whole_marker.empty() ? m : whole_marker[static_cast<std::size_t>(m)];
  }
  // The whole map's markers, and the run c of this map's chromosomes there.
  std::int32_t markers_in_whole() const { return is_part() ? whole_markers : size(); }
  std::int32_t chromosome_run_in_whole(std::int32_t c) const {
    return whole_chromosome_run.empty() ? c : whole_chromosome_run[static_cast<std::size_t>(c)];
  }
};

// How a chromosome is passed on, by its name: X from a dam to all her
// offspring and from a sire (who carries one copy) to his daughters only; Y
// from a sire to his sons (females carry none); MT from a dam to all her
// offspring (one copy each). Every other name, XY included, is an autosome.
enum class Inheritance : std::uint8_t { kAutosome, kX, kY, kMitochondrial };
Inheritance inheritance_of(std::string_view chromosome);

// Markers first..end-1 of a map.
struct MarkerRange {
  std::int32_t first = 0;
  std::int32_t end = 0;
  bool contains(std::int32_t marker) const { return marker >= first && marker < end; }
  bool empty() const { return end <= first; }
};

// The markers of the map's chromosome passed on as `kind` (one chromosome
// of each kind at most); empty when it has none.
MarkerRange markers_of(const MarkerMap& map, Inheritance kind);

// The sex chromosomes asked for ("X:M,Y:M,MT:M"), in that text's order:
// each name and its number of markers. Throws InvalidParameters naming a
// part that is not one.
std::vector<std::pair<std::string, std::int32_t>> parse_sex_chromosomes(std::string_view text);

// Zero-filled 64-bit words in memory of their own, mapped as they are first
// touched (a panel's words run to gigabytes).
class WordBlock {
 public:
  WordBlock() = default;
  explicit WordBlock(std::size_t words);
  WordBlock(const WordBlock& other);
  WordBlock(WordBlock&& other) noexcept;
  WordBlock& operator=(WordBlock other) noexcept;
  ~WordBlock();
  std::uint64_t* data() { return words_; }
  const std::uint64_t* data() const { return words_; }
  std::size_t size() const { return size_; }

 private:
  std::uint64_t* words_ = nullptr;
  std::size_t size_ = 0;
};

// A genotype an error model changed: its marker and recorded alleles (the
// animal is the one whose list holds it).
struct AlteredCell {
  std::int32_t marker = 0;
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  friend bool operator==(const AlteredCell&, const AlteredCell&) = default;
};

// The genotypes of a panel: per animal two haplotypes, the first allele of
// each marker from the sire and the second from the dam (founders: in the
// order drawn; the design's marker, when it is marker 1, in its own order),
// and what was recorded. A two-allele panel is held as bit planes (a bit per
// allele); more alleles take a byte each. The recorded genotypes are the
// true ones except where records were lost (every marker of an animal),
// where a genotype was not called (a bit per genotype, when the missing-data
// model is not the design's), where the design's error rule replaced an
// error candidate's first allele (only candidates hold room for that), and
// at the altered genotypes of another error model, held as a list; after a
// sample mix-up, the true ones of the animal whose sample was typed. Read
// only: the rules that fill it are the library's.
class Panel {
 public:
  Panel() = default;
  Panel(std::int32_t animals, MarkerMap map);

  const MarkerMap& map() const { return map_; }
  std::int32_t markers() const { return map_.size(); }
  std::int32_t animals() const { return animals_; }
  // Animals 1..bred have genotypes; later rows were never bred (0/0).
  std::int32_t bred() const { return bred_; }
  // Allele 1..K of `animal` at `marker` on haplotype `side` (0: from the
  // sire, 1: from the dam); 0 for a row never bred.
  // On a hemizygous marker (X in a male, Y in a male, MT) both sides hold
  // the one copy; on Y a female has none (0).
  std::int32_t true_allele(std::int32_t animal, std::int32_t marker, int side) const {
    if (animal > bred_ || carries_none(animal, marker)) return 0;
    return stored_allele(animal, marker, side);
  }
  // As recorded: 0 when the animal's records were lost or the genotype was
  // not called; K+1 is an allele only the design's error rule makes.
  std::int32_t recorded_allele(std::int32_t animal, std::int32_t marker, int side) const;
  // `animal`'s recorded alleles at markers [first, first + count): marker
  // k's two at out + k * stride.
  void recorded_alleles(std::int32_t animal, std::int32_t first, std::int32_t count,
                        std::uint16_t* out, std::size_t stride) const;
  // A two-allele panel's genotypes of `animal` at the 64 markers of word
  // `word` (fewer in the last), recorded or true, as codes: 0 where nothing
  // was recorded, else 1 + 2 (first - 1) + (second - 1). For markers every
  // animal carries twice.
  void genotype_codes(std::int32_t animal, std::size_t word, bool recorded,
                      std::uint8_t* codes) const;
  // The true alleles of markers [first, first + count) likewise.
  void true_alleles(std::int32_t animal, std::int32_t first, std::int32_t count, std::uint16_t* out,
                    std::size_t stride) const;
  // The animal whose sample `animal`'s records were typed from: itself,
  // unless a mix-up exchanged the two animals' records.
  std::int32_t sample(std::int32_t animal) const {
    return samples_.empty() ? animal : samples_[static_cast<std::size_t>(animal)];
  }
  bool lost(std::int32_t animal) const {
    return animal > bred_ || lost_[static_cast<std::size_t>(animal)] != 0;
  }
  // The first allele an error put in place at `marker`, or 0 (always, where
  // the sample carries no copy).
  std::int32_t replacement(std::int32_t animal, std::int32_t marker) const;
  // The markers of the X, Y and mitochondrial chromosomes (empty when the
  // map has none).
  const MarkerRange& x_markers() const { return x_; }
  const MarkerRange& y_markers() const { return y_; }
  const MarkerRange& mt_markers() const { return mt_; }
  // Whether the panel holds markers that only some animals carry twice.
  bool has_sex_linked_markers() const { return !x_.empty() || !y_.empty() || !mt_.empty(); }
  bool sex_linked(std::int32_t marker) const {
    return x_.contains(marker) || y_.contains(marker) || mt_.contains(marker);
  }
  bool male(std::int32_t animal) const {
    return !males_.empty() && males_[static_cast<std::size_t>(animal)] != 0;
  }
  // Whether `animal` carries no copy of `marker` (a female's Y).
  bool carries_none(std::int32_t animal, std::int32_t marker) const {
    return y_.contains(marker) && !male(animal);
  }
  // The copies of `marker` that `animal` carries: 2; 1 on X or Y in a male
  // and on MT; 0 on Y in a female.
  int copies(std::int32_t animal, std::int32_t marker) const {
    if (!has_sex_linked_markers()) return 2;
    if (mt_.contains(marker)) return 1;
    if (y_.contains(marker)) return male(animal) ? 1 : 0;
    return x_.contains(marker) && male(animal) ? 1 : 2;
  }
  // Of the 64 markers of word w, those `animal` carries no copy of.
  std::uint64_t absent_bits(std::int32_t animal, std::size_t w) const {
    return y_words_.empty() || male(animal) ? 0 : y_words_[w];
  }
  // Of the 64 markers of word w, those `animal` carries one copy of.
  std::uint64_t one_copy_bits(std::int32_t animal, std::size_t w) const {
    return one_copy_words_[0].empty() ? 0 : one_copy_words_[male(animal) ? 1 : 0][w];
  }
  // Whether `parent` passes the markers of word w, set in the result, to
  // `child`: a sire passes no MT, and no X to a son.
  std::uint64_t passed_bits(std::int32_t child, bool from_sire, std::size_t w) const {
    if (!from_sire || unpaternal_words_[0].empty()) return ~std::uint64_t{0};
    return ~unpaternal_words_[male(child) ? 1 : 0][w];
  }
  bool passes(std::int32_t child, bool from_sire, std::int32_t marker) const {
    return !from_sire || !(mt_.contains(marker) || (male(child) && x_.contains(marker)));
  }

  // Memory the genotypes take, in bytes.
  std::size_t bytes() const;

  // Storage, for the writers that read it.
  // Haplotype `side` of `animal`: `words()` 64-bit words holding the
  // markers' alleles minus 1, at `bits()` bits each from the low bits up.
  const std::uint64_t* haplotype(std::int32_t animal, int side) const {
    return haplotypes_.data() + (std::size_t(animal) * 2 + side) * row_words_;
  }
  std::size_t words() const { return words_; }
  int bits() const { return bits_; }
  // The error candidates (animals whose parents' records were both lost
  // while their own were kept): they hold a row of replacement codes. After
  // a mix-up, the animals whose records hold such a row.
  const std::vector<std::int32_t>& candidates() const { return candidates_; }
  // Candidate number `c`'s replacement codes, as the errors are drawn (a
  // mix-up moves rows between animals): `code_bits()` bits per marker from
  // the low bits up, 0 where no error struck.
  const std::uint64_t* replacements(std::size_t c) const { return codes_.data() + c * code_words_; }
  std::size_t code_words() const { return code_words_; }
  int code_bits() const { return code_bits_; }

  // Whether `animal`'s genotype at `marker` was called: its records were
  // kept and the genotype is not missing.
  bool called(std::int32_t animal, std::int32_t marker) const {
    if (lost(animal) || carries_none(sample(animal), marker)) return false;
    if (missing_.size() == 0) return true;
    const std::uint64_t* row = missing(animal);
    return ((row[marker / 64] >> (marker % 64)) & 1) == 0;
  }
  bool has_missing_mask() const { return missing_.size() != 0; }
  std::size_t mask_words() const { return (static_cast<std::size_t>(map_.size()) + 63) / 64; }
  const std::uint64_t* missing(std::int32_t animal) const {
    return missing_.data() + std::size_t(animal) * mask_row_words_;
  }
  const std::vector<AlteredCell>& altered() const { return altered_; }
  // visit(animal, cell) for each altered genotype, in the list's order.
  template <class Visit>
  void for_each_altered(Visit&& visit) const {
    for (std::int32_t i = 1; i <= animals_ && !altered_.empty(); ++i) {
      for (const AlteredCell& cell : altered_of(i)) visit(i, cell);
    }
  }
  // The altered genotype of `animal` at `marker`, or null.
  const AlteredCell* altered_at(std::int32_t animal, std::int32_t marker) const;
  // `animal`'s altered genotypes, in marker order.
  std::span<const AlteredCell> altered_of(std::int32_t animal) const;

 private:
  // The library's rules fill the panel through PanelFill; users read it.
  friend class PanelFill;
  std::int32_t candidate_row(std::int32_t animal) const;
  // The allele held at `marker` on haplotype `side`, carried or not.
  std::int32_t stored_allele(std::int32_t animal, std::int32_t marker, int side) const {
    const auto bit = static_cast<std::size_t>(marker) * static_cast<std::size_t>(bits_);
    const std::uint64_t word = haplotype(animal, side)[bit / 64] >> (bit % 64);
    return static_cast<std::int32_t>(word & ((std::uint64_t{1} << bits_) - 1)) + 1;
  }
  // The stored alleles of markers [first, first + count), both sides.
  void stored_alleles(std::int32_t animal, std::int32_t first, std::int32_t count,
                      std::uint16_t* out, std::size_t stride) const;
  void set_bred(std::int32_t animals) { bred_ = animals; }
  // Exchanges the records of each pair (sample mix-ups): afterwards the
  // records under one animal's number are the other's sample, with its
  // missing genotypes and errors.
  void swap_records(std::span<const std::pair<std::int32_t, std::int32_t>> pairs);
  std::uint64_t* haplotype(std::int32_t animal, int side) {
    return haplotypes_.data() + (std::size_t(animal) * 2 + side) * row_words_;
  }
  void set_candidates(const std::vector<std::int32_t>& animals);
  std::uint64_t* replacements(std::size_t c) { return codes_.data() + c * code_words_; }
  void set_lost(std::int32_t animal) { lost_[static_cast<std::size_t>(animal)] = 1; }
  // Makes room for a bit per genotype, set where the genotype is missing.
  void add_missing_mask() { missing_ = WordBlock((std::size_t(animals_) + 1) * mask_row_words_); }
  std::uint64_t* missing(std::int32_t animal) {
    return missing_.data() + std::size_t(animal) * mask_row_words_;
  }
  // The genotypes another error model altered, in animal and marker order:
  // counts[i] of them are animal i's (counts: one per animal, 0 first).
  void set_altered(std::vector<AlteredCell> cells, std::span<const std::uint32_t> counts);

  MarkerMap map_;
  std::int32_t animals_ = 0;
  std::int32_t bred_ = 0;
  int bits_ = 8;
  std::size_t words_ = 0;
  // The distance between rows: whole cache lines once rows are long, so
  // that a line of one row's words never holds another row's.
  std::size_t row_words_ = 0;
  std::size_t mask_row_words_ = 0;
  MarkerRange x_;
  MarkerRange y_;
  MarkerRange mt_;
  // Per animal, 1 for a male; empty without sex-linked markers.
  std::vector<std::uint8_t> males_;
  // Per word of markers, the bits of Y's markers; empty without them.
  std::vector<std::uint64_t> y_words_;
  // Per word of markers, the bits of the markers a sire does not pass to a
  // daughter (0) and to a son (1); empty without sex-linked markers.
  std::array<std::vector<std::uint64_t>, 2> unpaternal_words_;
  // Per word of markers, the bits of the markers a female (0) and a male
  // (1) carries one copy of; empty without sex-linked markers.
  std::array<std::vector<std::uint64_t>, 2> one_copy_words_;
  WordBlock haplotypes_;
  std::vector<std::uint8_t> lost_;
  std::vector<std::int32_t> candidates_;
  // Per animal, its candidate number plus 1, or 0.
  std::vector<std::int32_t> candidate_of_;
  int code_bits_ = 2;
  std::size_t code_words_ = 0;
  WordBlock codes_;
  WordBlock missing_;
  std::vector<AlteredCell> altered_;
  // Per animal, where its altered genotypes start in `altered_`.
  std::vector<std::size_t> altered_start_;
  // Per animal, whose sample its records are; empty when none was swapped.
  std::vector<std::int32_t> samples_;
};

}  // namespace pedsim
