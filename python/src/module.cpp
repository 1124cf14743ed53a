// The Python binding: pedsim.simulate returns a Run whose arrays are views of
// the library's own columns.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "pedsim/pedsim.hpp"

namespace py = pybind11;

namespace {

// A finished run, shared by the Run object and every array viewing it.
using SharedRun = std::shared_ptr<const pedsim::Simulation>;

// The run's arrays are read-only: what `write` writes is the run itself.
py::array read_only(py::array array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

// A one-dimensional view of a column's rows 1..animals.
template <typename T>
py::array column_view(const pedsim::Column<T>& column, std::int32_t animals, py::handle owner) {
  return read_only(py::array(py::dtype::of<T>(), {static_cast<py::ssize_t>(animals)},
                             {static_cast<py::ssize_t>(sizeof(T))}, column.begin(), owner));
}

// Two allele columns as one (animals, 2) view: the second index steps from
// one column's storage to the other's.
py::array allele_pairs_view(const pedsim::CodeColumn& first, const pedsim::CodeColumn& second,
                            std::int32_t animals, py::handle owner) {
  const auto distance = static_cast<py::ssize_t>(reinterpret_cast<const char*>(second.begin()) -
                                                 reinterpret_cast<const char*>(first.begin()));
  return read_only(py::array(py::dtype::of<std::int8_t>(),
                             {static_cast<py::ssize_t>(animals), py::ssize_t{2}},
                             {py::ssize_t{1}, distance}, first.begin(), owner));
}

// A stop as Python's own exception: a file that failed as OSError with its
// errno and file name (so PermissionError and the like can be caught), a
// usage error as ValueError, anything else as OSError with the last line of
// the diagnostic.
void raise_stop(const pedsim::Stop& stop) {
  std::string text = stop.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  text = text.substr(text.rfind('\n') + 1);
  if (stop.error_number() != 0) {
    const py::object error = py::reinterpret_steal<py::object>(
        PyObject_CallFunction(PyExc_OSError, "isO", stop.error_number(),
                              std::strerror(stop.error_number()), py::str(stop.path()).ptr()));
    if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    return;
  }
  constexpr std::string_view kUsagePrefix = "pedsim: ";
  if (stop.status() == 2 && text.starts_with(kUsagePrefix)) {
    PyErr_SetString(PyExc_ValueError,
                    pedsim::in_keywords(text.substr(kUsagePrefix.size())).c_str());
    return;
  }
  PyErr_SetString(PyExc_OSError, text.c_str());
}

class Run {
 public:
  explicit Run(pedsim::Simulation simulation)
      : run_(std::make_shared<const pedsim::Simulation>(std::move(simulation))) {}

  const pedsim::Simulation& simulation() const { return *run_; }
  std::int32_t animals() const { return run_->pedigree.created(); }

  // The relatedness truth, traced once, when first asked for.
  const pedsim::Relatedness& relatedness() const {
    if (!relatedness_) {
      pedsim::RelatednessOptions{.ibd = true, .pairs = std::nullopt}.check(run_->markers);
      py::gil_scoped_release unlocked;
      relatedness_ = std::make_shared<const pedsim::Relatedness>(*run_);
    }
    return *relatedness_;
  }

  void write(const std::filesystem::path& folder, const py::object& truth,
             const py::object& summary, bool true_genotypes,
             const std::vector<std::string>& formats, bool ibd,
             const std::optional<std::string>& pairs) const {
    const auto name = [](const py::object& option, const char* default_name) {
      if (option.is_none() || (py::isinstance<py::bool_>(option) && !option.cast<bool>())) {
        return std::optional<std::string>();
      }
      if (py::isinstance<py::bool_>(option)) return std::optional<std::string>(default_name);
      return std::optional<std::string>(option.cast<std::filesystem::path>().string());
    };
    const auto truth_name = name(truth, "truth.txt");
    const auto summary_name = name(summary, "summary.txt");
    std::string list;
    for (const std::string& format : formats) list.append(list.empty() ? "" : ",").append(format);
    const pedsim::Formats chosen = pedsim::Formats::parse(list);
    py::gil_scoped_release unlocked;
    pedsim::write_files(*run_, folder.string(), truth_name, summary_name, true_genotypes, chosen,
                        {.ibd = ibd, .pairs = pairs});
  }

 private:
  SharedRun run_;
  // Kept beside the run it reads.
  mutable std::shared_ptr<const pedsim::Relatedness> relatedness_;
};

py::dict segment_table(const Run& r) {
  const pedsim::Relatedness& truth = r.relatedness();
  const std::vector<pedsim::Segment>& segments = truth.segments();
  const auto n = static_cast<py::ssize_t>(segments.size());
  py::array_t<std::int32_t> animal(n), haplotype(n), founder(n), founder_haplotype(n);
  py::array_t<double> start(n), end(n);
  py::list chromosome;
  for (py::ssize_t k = 0; k < n; ++k) {
    const pedsim::Segment& s = segments[static_cast<std::size_t>(k)];
    animal.mutable_at(k) = s.animal;
    haplotype.mutable_at(k) = s.haplotype;
    chromosome.append(truth.chromosome_names()[static_cast<std::size_t>(s.chromosome)]);
    start.mutable_at(k) = s.start_cm;
    end.mutable_at(k) = s.end_cm;
    founder.mutable_at(k) = s.founder;
    founder_haplotype.mutable_at(k) = s.founder_haplotype;
  }
  py::dict table;
  table["animal"] = read_only(animal);
  table["haplotype"] = read_only(haplotype);
  table["chromosome"] = read_only(py::module_::import("numpy").attr("array")(chromosome, "str"));
  table["start_cm"] = read_only(start);
  table["end_cm"] = read_only(end);
  table["founder"] = read_only(founder);
  table["founder_haplotype"] = read_only(founder_haplotype);
  return table;
}

py::dict inbreeding_table(const Run& r) {
  const pedsim::Relatedness& truth = r.relatedness();
  py::dict table;
  table["inbreeding_recorded"] =
      read_only(py::array_t<double>(static_cast<py::ssize_t>(truth.inbreeding_recorded().size()),
                                    truth.inbreeding_recorded().data()));
  table["inbreeding_true"] = read_only(py::array_t<double>(
      static_cast<py::ssize_t>(truth.inbreeding_true().size()), truth.inbreeding_true().data()));
  table["inbreeding_realised"] =
      read_only(py::array_t<double>(static_cast<py::ssize_t>(truth.inbreeding_realised().size()),
                                    truth.inbreeding_realised().data()));
  return table;
}

// The pairs' truth: `pairs` is "parent-offspring,full-sibs,half-sibs" (any
// of them), a file of pairs, or a sequence of pairs of animal numbers.
py::dict kinship_table(const Run& r, const py::object& pairs) {
  const pedsim::Relatedness& truth = r.relatedness();
  pedsim::PairList list;
  if (py::isinstance<py::str>(pairs)) {
    list = pedsim::pairs_of(r.simulation(), pairs.cast<std::string>());
  } else {
    for (const py::handle pair : pairs) {
      const auto [a, b] = pair.cast<std::pair<std::int32_t, std::int32_t>>();
      for (const std::int32_t x : {a, b}) {
        if (x < 1 || x > r.animals()) {
          throw py::value_error("pairs: " + std::to_string(x) +
                                " is not an animal's number (1 to " + std::to_string(r.animals()) +
                                ")");
        }
      }
      list.pairs.emplace_back(a, b);
      list.relationships.emplace_back("listed");
    }
  }
  std::vector<pedsim::PairTruth> rows;
  {
    py::gil_scoped_release unlocked;
    rows = truth.pairs(list.pairs, list.relationships);
  }
  const auto n = static_cast<py::ssize_t>(rows.size());
  py::array_t<std::int32_t> first(n), second(n);
  py::array_t<double> recorded(n), true_kinship(n), realised(n), ibd0(n), ibd1(n), ibd2(n);
  py::list relationship;
  for (py::ssize_t k = 0; k < n; ++k) {
    const pedsim::PairTruth& p = rows[static_cast<std::size_t>(k)];
    first.mutable_at(k) = p.first;
    second.mutable_at(k) = p.second;
    relationship.append(p.relationship);
    recorded.mutable_at(k) = p.kinship_recorded;
    true_kinship.mutable_at(k) = p.kinship_true;
    realised.mutable_at(k) = p.kinship_realised;
    ibd0.mutable_at(k) = p.ibd0;
    ibd1.mutable_at(k) = p.ibd1;
    ibd2.mutable_at(k) = p.ibd2;
  }
  py::dict table;
  table["animal_1"] = read_only(first);
  table["animal_2"] = read_only(second);
  table["relationship"] =
      read_only(py::module_::import("numpy").attr("array")(relationship, "str"));
  table["kinship_recorded"] = read_only(recorded);
  table["kinship_true"] = read_only(true_kinship);
  table["kinship_realised"] = read_only(realised);
  table["ibd0"] = read_only(ibd0);
  table["ibd1"] = read_only(ibd1);
  table["ibd2"] = read_only(ibd2);
  return table;
}

// A property viewing one column of the run.
template <typename T>
auto column_property(const pedsim::Column<T> pedsim::Pedigree::*column) {
  return [column](const py::object& self) {
    const Run& r = self.cast<const Run&>();
    return column_view(r.simulation().pedigree.*column, r.animals(), self);
  };
}

// A property viewing two allele columns of marker 0 as one (animals, 2) array.
// A run with a marker panel: its animals' first-marker truth as the files
// hold it (copied out: the panel keeps no such columns).
py::array truth_pairs(const std::vector<std::int32_t>& first,
                      const std::vector<std::int32_t>& second) {
  py::array_t<std::int32_t> pairs({static_cast<py::ssize_t>(first.size()), py::ssize_t{2}});
  auto out = pairs.mutable_unchecked<2>();
  for (std::size_t k = 0; k < first.size(); ++k) {
    out(static_cast<py::ssize_t>(k), 0) = first[k];
    out(static_cast<py::ssize_t>(k), 1) = second[k];
  }
  return read_only(pairs);
}

// The alleles of the first marker: views of the design's columns, or a
// panel's marker 1 as its files hold it.
auto alleles_property(const pedsim::CodeColumn pedsim::MarkerColumns::*first,
                      const pedsim::CodeColumn pedsim::MarkerColumns::*second, bool recorded) {
  return [first, second, recorded](const py::object& self) -> py::array {
    const Run& r = self.cast<const Run&>();
    if (r.simulation().has_panel()) {
      const pedsim::AnimalTruth t = pedsim::animal_truth(r.simulation());
      return recorded ? truth_pairs(t.recorded_first, t.recorded_second)
                      : truth_pairs(t.true_first, t.true_second);
    }
    const pedsim::MarkerColumns& m = r.simulation().genotypes.marker(0);
    return allele_pairs_view(m.*first, m.*second, r.animals(), self);
  };
}

// Every animal's genotypes at every marker, (animals, markers, 2): alleles
// as ped.pre writes them, true or as recorded. A run without a panel has
// the design's one marker.
py::array genotype_array(const pedsim::Simulation& run, std::int32_t animals, bool recorded) {
  const bool panel = run.has_panel();
  const std::int32_t markers = panel ? run.panel.markers() : 1;
  const std::int32_t alleles = panel ? run.panel.map().alleles : run.model.alleles();
  const auto fill = [&](auto* out) {
    for (std::int32_t i = 1; i <= animals; ++i) {
      for (std::int32_t m = 0; m < markers; ++m, out += 2) {
        pedsim::Genotype g;
        if (panel) {
          g = recorded ? pedsim::Genotype{run.panel.recorded_allele(i, m, 0),
                                          run.panel.recorded_allele(i, m, 1)}
                       : pedsim::Genotype{run.panel.true_allele(i, m, 0),
                                          run.panel.true_allele(i, m, 1)};
        } else {
          g = recorded ? run.genotypes.recorded_genotype(i) : run.genotypes.true_genotype(i);
        }
        out[0] = static_cast<std::remove_pointer_t<decltype(out)>>(g.first);
        out[1] = static_cast<std::remove_pointer_t<decltype(out)>>(g.second);
      }
    }
  };
  const std::vector<py::ssize_t> shape{animals, markers, 2};
  // An error's allele K+1 must fit too.
  if (alleles + 1 <= 255) {
    py::array_t<std::uint8_t> array(shape);
    fill(array.mutable_data());
    return read_only(array);
  }
  py::array_t<std::uint16_t> array(shape);
  fill(array.mutable_data());
  return read_only(array);
}

// The columns of errors.tsv as arrays: one element per altered genotype of
// an error model other than the design's.
py::dict error_table(const pedsim::Simulation& run) {
  const std::vector<pedsim::AlteredCell>& cells = run.panel.altered();
  const auto n = static_cast<py::ssize_t>(run.records.is_design_errors() ? 0 : cells.size());
  py::array_t<std::int32_t> animal(n), marker(n), true1(n), true2(n), recorded1(n), recorded2(n);
  py::array_t<bool> detectable(n);
  py::list names;
  const std::vector<std::uint8_t> flags =
      n == 0 ? std::vector<std::uint8_t>{} : pedsim::detectable_errors(run);
  py::ssize_t k = 0;
  if (n > 0) {
    run.panel.for_each_altered([&](std::int32_t i, const pedsim::AlteredCell& c) {
      animal.mutable_at(k) = i;
      marker.mutable_at(k) = c.marker;
      names.append(run.panel.map().names[static_cast<std::size_t>(c.marker)]);
      true1.mutable_at(k) = run.panel.true_allele(run.panel.sample(i), c.marker, 0);
      true2.mutable_at(k) = run.panel.true_allele(run.panel.sample(i), c.marker, 1);
      recorded1.mutable_at(k) = c.first;
      recorded2.mutable_at(k) = c.second;
      detectable.mutable_at(k) = flags[static_cast<std::size_t>(k)] != 0;
      ++k;
    });
  }
  py::dict table;
  table["animal"] = read_only(animal);
  table["marker"] = read_only(py::module_::import("numpy").attr("array")(names, "str"));
  table["marker_index"] = read_only(marker);
  table["true_allele1"] = read_only(true1);
  table["true_allele2"] = read_only(true2);
  table["recorded_allele1"] = read_only(recorded1);
  table["recorded_allele2"] = read_only(recorded2);
  table["model"] = read_only(py::module_::import("numpy").attr("full")(
      n, py::str(run.records.error_model_name()),
      "<U" + std::to_string(std::max<std::size_t>(1, run.records.error_model_name().size()))));
  table["detectable"] = read_only(detectable);
  return table;
}

// The keyword arguments of `simulate` are the options the command line
// shares with it, each checked as the command line checks it.
// A keyword's value of the type its option takes: a number (never text that
// reads as one, nor a bool) for numbers, a str (or a path) for text.
void check_type(const std::string& keyword, pedsim::ValueKind kind, const py::handle& value) {
  // numpy's integers and floats count as numbers too.
  const bool number = !py::isinstance<py::bool_>(value) && !py::isinstance<py::str>(value) &&
                      (PyIndex_Check(value.ptr()) != 0 ||
                       (kind == pedsim::ValueKind::kNumber && PyNumber_Check(value.ptr()) != 0));
  const bool text = py::isinstance<py::str>(value);
  const bool fits = kind == pedsim::ValueKind::kText ? text : number;
  if (fits) return;
  const std::string wanted = kind == pedsim::ValueKind::kText      ? "a str"
                             : kind == pedsim::ValueKind::kInteger ? "an int"
                                                                   : "a number";
  throw py::type_error(keyword + "= takes " + wanted + ", got " +
                       std::string(py::str(py::type::of(value).attr("__name__"))) + " " +
                       std::string(py::repr(value)));
}

pedsim::Settings settings_of(const py::dict& keywords, bool supplied_pedigree) {
  pedsim::Settings settings;
  for (const auto& [key, value] : keywords) {
    const std::string keyword = py::str(key);
    // seed=None: seeded from the clocks.
    if (keyword == "seed" && value.is_none()) continue;
    const pedsim::Option* option = pedsim::find_keyword(keyword);
    if (option == nullptr) {
      const std::string nearest = pedsim::nearest_name(keyword, true);
      throw py::type_error("simulate() got an unexpected keyword argument '" + keyword + "'" +
                           (nearest.empty() ? "" : "; did you mean " + nearest + "?"));
    }
    check_type(keyword, option->kind, value);
    pedsim::apply_option(*option, std::string(py::str(value)), settings);
  }
  pedsim::settle_record_defaults(settings, supplied_pedigree);
  return settings;
}

// Runs `work` (given a stop request) on a thread of its own while this
// one, without the GIL, looks for an interrupt every tenth of a second:
// Ctrl-C stops the run and raises KeyboardInterrupt at once, not when the
// run ends.
template <class Work>
pedsim::Simulation interruptibly(Work work) {
  std::optional<pedsim::Simulation> run;
  {
    py::gil_scoped_release unlocked;
    run = pedsim::simulate_watched(work, [] {
      py::gil_scoped_acquire locked;
      return PyErr_CheckSignals() != 0;
    });
  }
  if (!run) throw py::error_already_set();
  return std::move(*run);
}

Run simulate(std::int32_t generations, std::int32_t founders, std::int32_t males,
             const py::dict& keywords) {
  const pedsim::Parameters parameters = pedsim::Parameters::make(generations, founders, males);
  const pedsim::Settings settings = settings_of(keywords, false);
  pedsim::Seed seed =
      settings.seed ? pedsim::Seed{*settings.seed, "python"} : pedsim::Seed::from_clocks();
  seed.replicate = settings.replicate;
  return Run(interruptibly([&](const pedsim::StopRequest* stop) {
    return pedsim::simulate(parameters, seed, {.stop = stop}, settings.model, settings.markers,
                            settings.records);
  }));
}

// Markers dropped onto a supplied pedigree: a file, or a table's text.
Run simulate_on_pedigree(const std::string& source, bool is_text, const std::string& format,
                         const std::optional<std::string>& genotyped, const py::dict& keywords) {
  const pedsim::Settings settings = settings_of(keywords, true);
  pedsim::Seed seed =
      settings.seed ? pedsim::Seed{*settings.seed, "python"} : pedsim::Seed::from_clocks();
  seed.replicate = settings.replicate;
  const pedsim::PedigreeFormat* chosen =
      format.empty() ? nullptr : &pedsim::pedigree_format(format);
  return Run(interruptibly([&](const pedsim::StopRequest* stop) {
    pedsim::SuppliedPedigree supplied =
        is_text
            ? pedsim::parse_pedigree(source, "<DataFrame>",
                                     chosen != nullptr ? chosen : &pedsim::pedigree_formats()[0])
            : pedsim::read_pedigree(source, chosen);
    if (genotyped) pedsim::parse_genotyped(*genotyped, "<genotyped>", supplied);
    return pedsim::simulate(supplied, seed, {.stop = stop}, settings.model, settings.markers,
                            settings.records);
  }));
}

// The names of a table's rows, as a Python list.
template <typename Row, typename Name>
py::list row_names(std::span<const Row> rows, Name name) {
  py::list names;
  for (const Row& row : rows) names.append(py::str(std::string(name(row))));
  return names;
}

template <typename Row>
py::list row_names(std::span<const Row> rows) {
  return row_names(rows, [](const Row& row) { return row.name; });
}

// Run.marker_statistics's docstring, naming the table's columns.
const std::string& marker_statistics_doc() {
  static const std::string doc = [] {
    std::string text =
        "The panel's statistics per marker, a dict of arrays (one value per marker; empty "
        "without a marker panel):";
    for (const pedsim::MarkerStatistic& s : pedsim::marker_statistics()) {
      text.append(" ").append(s.name).append(": ").append(s.help).append(";");
    }
    text.back() = '.';
    return text;
  }();
  return doc;
}

// Run.write's docstring, naming the formats of the table.
std::string format_names_doc() {
  std::string names;
  for (const pedsim::GenotypeFormat& format : pedsim::genotype_formats()) {
    names.append(names.empty() ? "" : ", ").append("\"").append(format.name).append("\"");
  }
  return "Writes the genotype files of formats (" + names +
         "), ped.errors and run.tsv in folder, as the command line does with --outdir and "
         "--format, holding the folder's lock; truth and summary: True for truth.txt and "
         "summary.txt, or a file name; true_genotypes: the true genotypes in the same formats "
         "(true.pre, true.bed, ...); ibd: segments.tsv and kinship.tsv; pairs: pairs.tsv of "
         "those pairs (as --pairs). Raises ValueError for an empty folder name, two names of "
         "one file or a format that cannot hold the run's genotypes, BlockingIOError while "
         "another run writes the folder, and OSError with the errno and file name when a file "
         "cannot be written.";
}

}  // namespace

PYBIND11_MODULE(_pedsim, m) {
  m.doc() = "Simulates an animal pedigree with its marker genotypes, in memory.";
  // pybind11 keeps the docstring's pointer: the text lives as the module does.
  static const std::string write_doc = format_names_doc();

  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const pedsim::InvalidParameters& invalid) {
      PyErr_SetString(PyExc_ValueError, pedsim::in_keywords(invalid.what()).c_str());
    } catch (const pedsim::TableTooLarge& too_large) {
      PyErr_SetString(PyExc_ValueError, too_large.what());
    } catch (const pedsim::Stop& stop) {
      raise_stop(stop);
    }
  });

  py::class_<Run>(m, "Run", "A finished run. Its arrays are views of the run's own memory.")
      .def_property_readonly(
          "animal",
          [](const Run& r) {
            py::array_t<std::int32_t> animal(r.animals());
            auto out = animal.mutable_unchecked<1>();
            for (std::int32_t i = 0; i < r.animals(); ++i) out(i) = i + 1;
            return read_only(animal);
          },
          "Animal numbers, 1 to the number of animals.")
      .def_property_readonly("sire", column_property(&pedsim::Pedigree::sire),
                             "Sire of each animal, 0 for a founder.")
      .def_property_readonly("dam", column_property(&pedsim::Pedigree::dam),
                             "Dam of each animal, 0 for a founder.")
      .def_property_readonly("sex", column_property(&pedsim::Pedigree::sex), "1 male, 2 female.")
      .def_property_readonly("born", column_property(&pedsim::Pedigree::born),
                             "Generation of birth, 0 for a founder.")
      .def_property_readonly("true_alleles",
                             alleles_property(&pedsim::MarkerColumns::true_first,
                                              &pedsim::MarkerColumns::true_second, false),
                             "True genotype of each animal at the first marker, (animals, 2).")
      .def_property_readonly(
          "lost",
          [](const py::object& self) -> py::array {
            const Run& r = self.cast<const Run&>();
            if (r.simulation().has_panel()) {
              return read_only(py::array(py::cast(pedsim::animal_truth(r.simulation()).lost)));
            }
            return column_view(r.simulation().genotypes.lost, r.animals(), self);
          },
          "1 where the animal's records were removed whole.")
      .def_property_readonly(
          "recorded",
          alleles_property(&pedsim::MarkerColumns::recorded_first,
                           &pedsim::MarkerColumns::recorded_second, true),
          "Recorded genotype of each animal at the first marker, as ped.pre holds it, "
          "(animals, 2); 0/0 when not called.")
      .def_property_readonly(
          "altered",
          [](const Run& r) {
            const pedsim::AnimalTruth t = pedsim::animal_truth(r.simulation());
            py::array_t<bool> altered(r.animals());
            auto out = altered.mutable_unchecked<1>();
            for (std::int32_t i = 0; i < r.animals(); ++i) {
              out(i) = t.altered[static_cast<std::size_t>(i)] != 0;
            }
            return read_only(altered);
          },
          "True for the animals with an altered recorded genotype (at any marker of a panel).")
      .def_property_readonly(
          "errors",
          [](py::object self) {
            const Run& r = self.cast<const Run&>();
            if (r.simulation().has_panel()) {
              throw py::value_error(
                  "run.errors lists the design's one marker, which this run's files do not hold "
                  "as such; use run.error_table (another error model), or compare "
                  "run.recorded_genotypes with run.true_genotypes (ped.errors' rows)");
            }
            const auto& altered = r.simulation().altered;
            static_assert(sizeof(pedsim::AlteredAnimal) == 2 * sizeof(std::int32_t));
            return read_only(py::array(py::dtype::of<std::int32_t>(),
                                       {static_cast<py::ssize_t>(altered.size()), py::ssize_t{2}},
                                       {static_cast<py::ssize_t>(sizeof(pedsim::AlteredAnimal)),
                                        static_cast<py::ssize_t>(sizeof(std::int32_t))},
                                       altered.empty() ? nullptr : &altered.front().animal, self));
          },
          "Altered animals and their first allele before, in the order of ped.errors.")
      .def_property_readonly(
          "true_genotypes",
          [](const Run& r) { return genotype_array(r.simulation(), r.animals(), false); },
          "True genotypes of every marker, (animals, markers, 2): the first allele from the "
          "sire, the second from the dam (founders: as drawn; the design's marker: in its own "
          "order).")
      .def_property_readonly(
          "recorded_genotypes",
          [](const Run& r) { return genotype_array(r.simulation(), r.animals(), true); },
          "Recorded genotypes of every marker, (animals, markers, 2); 0/0 when not genotyped.")
      .def_property_readonly(
          "marker_names",
          [](const Run& r) {
            return r.simulation().has_panel() ? r.simulation().panel.map().names
                                              : std::vector<std::string>{"m1"};
          },
          "Names of the markers, in map order.")
      .def_property_readonly(
          "marker_chromosomes",
          [](const Run& r) {
            std::vector<std::string> names;
            if (!r.simulation().has_panel()) return names;
            const pedsim::MarkerMap& map = r.simulation().panel.map();
            for (const std::int32_t c : map.chromosome) {
              names.push_back(map.chromosome_names[static_cast<std::size_t>(c)]);
            }
            return names;
          },
          "Chromosome of each marker; empty when the markers are unlinked.")
      .def_property_readonly(
          "marker_positions_cm",
          [](const Run& r) {
            return r.simulation().has_panel() ? r.simulation().panel.map().position_cm
                                              : std::vector<double>{};
          },
          "Position of each marker on its chromosome, in centimorgans; empty when unlinked.")
      .def_property_readonly(
          "allele_frequencies",
          [](const Run& r) {
            return r.simulation().has_panel()
                       ? r.simulation().panel.map().frequencies
                       : std::vector<std::vector<double>>{r.simulation().model.allele_frequencies};
          },
          "Each marker's allele frequencies, from which founders draw.")
      .def_property_readonly(
          "error_table", [](const Run& r) { return error_table(r.simulation()); },
          "The columns of errors.tsv (an error model other than the design's) as arrays: "
          "animal, marker (names), marker_index (from 0), true and recorded alleles, "
          "detectable; and model, the error model's name.")
      .def_property_readonly(
          "names",
          [](const Run& r) {
            const auto& names = r.simulation().names;
            return names.empty() ? py::object(py::none())
                                 : py::object(py::cast(
                                       std::vector<std::string>(names.begin() + 1, names.end())));
          },
          "A supplied pedigree's animal names, by number (None for a bred one).")
      .def_property_readonly(
          "pedigree_truth",
          [](const Run& r) {
            py::dict d;
            const auto& changes = r.simulation().pedigree_changes;
            const auto column = [&changes](std::int32_t pedsim::PedigreeChange::*field) {
              py::array_t<std::int32_t> a(static_cast<py::ssize_t>(changes.size()));
              auto out = a.mutable_unchecked<1>();
              for (std::size_t k = 0; k < changes.size(); ++k) {
                out(static_cast<py::ssize_t>(k)) = changes[k].*field;
              }
              return a;
            };
            d["animal"] = column(&pedsim::PedigreeChange::animal);
            d["true_sire"] = column(&pedsim::PedigreeChange::true_sire);
            d["true_dam"] = column(&pedsim::PedigreeChange::true_dam);
            d["recorded_sire"] = column(&pedsim::PedigreeChange::recorded_sire);
            d["recorded_dam"] = column(&pedsim::PedigreeChange::recorded_dam);
            py::array_t<std::int32_t> swapped(static_cast<py::ssize_t>(changes.size()));
            auto out = swapped.mutable_unchecked<1>();
            for (std::size_t k = 0; k < changes.size(); ++k) {
              const pedsim::PedigreeChange& c = changes[k];
              out(static_cast<py::ssize_t>(k)) = c.sample != c.animal ? c.sample : 0;
            }
            d["swapped_with"] = swapped;
            return d;
          },
          "The animals whose recorded parents differ from the true ones or whose records "
          "are another's sample (swapped_with, else 0), as arrays of numbers "
          "(pedigree_truth.tsv has their names and kinds); sire and dam are the "
          "recorded parents.")
      .def_property_readonly(
          "inconsistencies_per_marker",
          [](const Run& r) {
            const std::vector<std::int64_t> counts =
                pedsim::inconsistencies_by_marker(r.simulation());
            return py::array_t<std::int64_t>(static_cast<py::ssize_t>(counts.size()),
                                             counts.data());
          },
          "Per marker, the called genotypes that conflict with their called parents' "
          "(PLINK's Mendel errors of trios, on two-allele markers).")
      .def_property_readonly(
          "marker_statistics",
          [](const Run& r) {
            py::dict d;
            if (!r.simulation().has_panel()) return d;
            const pedsim::MarkerTable table = pedsim::marker_table(r.simulation());
            for (std::size_t k = 0; k < table.columns.size(); ++k) {
              const std::vector<double>& column = table.columns[k];
              d[py::str(std::string(pedsim::marker_statistics()[k].name))] =
                  py::array_t<double>(static_cast<py::ssize_t>(column.size()), column.data());
            }
            return d;
          },
          marker_statistics_doc().c_str())
      .def_property_readonly(
          "record_summary",
          [](const Run& r) {
            py::dict d;
            if (r.simulation().records.has_design_records()) return d;
            const pedsim::RecordSummary s = pedsim::summarize_records(r.simulation());
            d["call_rate"] = s.call_rate;
            d["call_rate_marker_min"] = s.call_rate_marker_min;
            d["call_rate_marker_max"] = s.call_rate_marker_max;
            d["error_rate"] = s.error_rate;
            d["error_rate_marker_min"] = s.error_rate_marker_min;
            d["error_rate_marker_max"] = s.error_rate_marker_max;
            d["altered_genotypes"] = s.altered_genotypes;
            d["detectable_errors"] = s.detectable_errors;
            return d;
          },
          "The realised rates of the record models, as the summary gives them (empty under "
          "the design's rules).")
      .def_property_readonly("seed", [](const Run& r) { return r.simulation().seed.value; })
      .def_property_readonly("seed_origin", [](const Run& r) { return r.simulation().seed.origin; })
      .def_property_readonly("replicate",
                             [](const Run& r) { return r.simulation().seed.replicate; })
      .def_property_readonly(
          "animals_born", [](const Run& r) { return r.simulation().animals_born; },
          "Founders, then the offspring of each generation.")
      .def_property_readonly("numbers_drawn",
                             [](const Run& r) { return r.simulation().numbers_drawn; })
      .def_property_readonly(
          "segments", &segment_table,
          "The columns of segments.tsv as arrays: each maximal stretch of each haplotype "
          "(1 from the sire, 2 from the dam) descending from one founder haplotype, animals by "
          "number.")
      .def_property_readonly(
          "inbreeding", &inbreeding_table,
          "The columns of kinship.tsv as arrays, one element per animal: inbreeding on the "
          "recorded and on the true pedigree, and realised.")
      .def("kinship", &kinship_table, py::arg("pairs"),
           "The columns of pairs.tsv for `pairs`: 'parent-offspring', 'full-sibs', "
           "'half-sibs' (comma-separated), a file of pairs of names, or pairs of animal numbers.")
      .def("write", &Run::write, py::arg("folder"), py::arg("truth") = false,
           py::arg("summary") = false, py::arg("true_genotypes") = false,
           py::arg("formats") = std::vector<std::string>{"pre"}, py::arg("ibd") = false,
           py::arg("pairs") = std::nullopt, write_doc.c_str());

  // The names of each table's rows, for the docstrings and for users.
  m.attr("error_models") =
      row_names(pedsim::error_models(), [](const pedsim::ErrorModel& r) { return r.usage_name(); });
  m.attr("missing_models") = row_names(pedsim::missing_models());
  m.attr("genotype_formats") = row_names(pedsim::genotype_formats());
  m.attr("pedigree_formats") = row_names(pedsim::pedigree_formats());
  m.def("_simulate", &simulate, py::arg("ngen"), py::arg("n"), py::arg("male"),
        py::arg("keywords"));
  m.def("_simulate_on_pedigree", &simulate_on_pedigree, py::arg("source"), py::arg("is_text"),
        py::arg("format"), py::arg("genotyped"), py::arg("keywords"));
}
