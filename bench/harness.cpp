// Benchmark harness: times whole pedsim processes on fixed workloads, breaks
// the large runs down by phase, measures the floor set by the random stream
// and the disk in the same run, and writes the table to a Markdown file.
//
// usage: pedsim_bench PEDSIM_BINARY RESULTS_MD [--quick | --formats | --pedigree | --records |
//        --relatedness]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "formats/plink.hpp"
#include "formats/vcf.hpp"
#include "io/unit_file.hpp"
#include "pedsim/pedsim.hpp"
#include "platform/phase_timing.hpp"
#include "random/draw_blocks.hpp"
#include "random/layer_stream.hpp"
#include "reference/literal.hpp"
#include "sim/founders.hpp"
#include "sim/mating.hpp"
#include "sim/parent_selection.hpp"
#include "sim/rare_events.hpp"
#include "sim/record_lanes.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int32_t kSeed = 20261208;

struct Workload {
  std::int32_t ngen, n, male;
  int runs;
  // The time target: at most this much over a bare process start (s), or at
  // most this ratio to the floor; 0 when there is none.
  double max_over_start = 0;
  double max_ratio = 0;
  std::string label() const {
    return std::to_string(ngen) + " " + std::to_string(n) + " " + std::to_string(male);
  }
};

double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ProcessTiming {
  double wall;
  long max_rss_kib;
  // User and system time.
  double processor = 0;
};

// Runs one pedsim process with `args` in `dir`, standard output on
// /dev/null. The process is started with posix_spawn, which does not copy
// this process's memory as fork would, so the time is that of pedsim itself.
ProcessTiming time_command(const std::string& binary, const std::vector<std::string>& args,
                           const fs::path& dir) {
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::string seed = "PEDSIM_SEED=" + std::to_string(kSeed);
  std::vector<char*> env{seed.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::cerr << "pedsim_bench: cannot start " << binary << "\n";
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double wall = seconds_since(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "pedsim_bench: pedsim";
    for (const std::string& arg : args) std::cerr << " " << arg;
    std::cerr << " failed\n";
    std::exit(1);
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return {wall, usage.ru_maxrss, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

ProcessTiming time_process(const std::string& binary, const Workload& w, const fs::path& dir) {
  return time_command(binary, {std::to_string(w.ngen), std::to_string(w.n), std::to_string(w.male)},
                      dir);
}

// A replicate study of `count` replicates of 10 2000 200: with --replicates
// on every core, and as the same single runs started one after another.
std::pair<double, double> time_replicate_study(const std::string& binary, const fs::path& dir,
                                               int count) {
  const std::vector<std::string> numbers{"10", "2000", "200"};
  std::vector<std::string> study{"--replicates", std::to_string(count), "--outdir", "study"};
  study.insert(study.end(), numbers.begin(), numbers.end());
  const double together = time_command(binary, study, dir).wall;
  const auto start = Clock::now();
  for (int r = 0; r < count; ++r) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "single/r%05d", r);
    std::vector<std::string> one{"--replicate", std::to_string(r), "--outdir", folder};
    one.insert(one.end(), numbers.begin(), numbers.end());
    time_command(binary, one, dir);
  }
  const double one_by_one = seconds_since(start);
  fs::remove_all(dir / "study");
  fs::remove_all(dir / "single");
  return {together, one_by_one};
}

pedsim::Parameters parameters_of(const Workload& w) {
  return pedsim::Parameters::make(w.ngen, w.n, w.male);
}

struct Phases {
  pedsim::PhaseSeconds seconds;
  double output = 0;
  std::uint64_t draws = 0;
  std::int32_t rows = 0;
};

// A run in memory, then its outputs written to files in `dir`. It runs in a
// child process: a spawned pedsim starts as a copy of this process, and
// would otherwise report this process's peak memory as its own.
Phases time_phases(const Workload& w, const fs::path& dir) {
  int channel[2];
  if (::pipe(channel) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    pedsim::PhaseSeconds seconds;
    const pedsim::Simulation run =
        pedsim::simulate_timed(parameters_of(w), {kSeed, "PEDSIM_SEED"}, seconds);
    const auto t = Clock::now();
    {
      pedsim::UnitFile pre;
      pedsim::UnitFile errors;
      pre.open(dir.string(), "ped.pre", 1);
      errors.open(dir.string(), "ped.errors", 2);
      pedsim::write_outputs(run, {nullptr, &pre, &errors});
    }
    const Phases p{seconds, seconds_since(t), run.numbers_drawn, run.parameters.rows};
    const bool sent = ::write(channel[1], &p, sizeof p) == static_cast<ssize_t>(sizeof p);
    ::_exit(sent ? 0 : 1);
  }
  ::close(channel[1]);
  Phases p;
  const bool received = ::read(channel[0], &p, sizeof p) == static_cast<ssize_t>(sizeof p);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "pedsim_bench: the in-process run of " << w.label() << " failed\n";
    std::exit(1);
  }
  fs::remove(dir / "ped.pre");
  fs::remove(dir / "ped.errors");
  return p;
}

// Writing `rows` records' worth of bytes (49 each) in 1 MiB blocks to a new
// file in `dir`.
double write_seconds(std::int32_t rows, const fs::path& dir) {
  const auto t = Clock::now();
  const std::vector<char> block(std::size_t{1} << 20, ' ');
  const int fd = ::open((dir / "floor.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::uint64_t left = std::uint64_t{49} * static_cast<std::uint64_t>(rows);
  while (left > 0) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    if (::write(fd, block.data(), size) != static_cast<ssize_t>(size)) std::exit(1);
    left -= size;
  }
  ::close(fd);
  fs::remove(dir / "floor.bin");
  return seconds_since(t);
}

// The floor: the bare stream producing `draws` numbers one at a time, plus
// writing rows records' worth of bytes in large blocks.
double floor_seconds(std::uint64_t draws, std::int32_t rows, const fs::path& dir) {
  pedsim::UniformStream stream;
  stream.seed_from_sum(kSeed);
  const auto t = Clock::now();
  std::uint64_t sum = 0;
  for (std::uint64_t i = 0; i < draws; ++i) sum += static_cast<std::uint64_t>(stream.next_z());
  const double draw_time = seconds_since(t);
  if (sum == 0) std::cerr << "";
  return draw_time + write_seconds(rows, dir);
}

// The lane floor: the same count of numbers drawn a block at a time through
// the stream's vectorised lanes on one core, plus writing the bytes.
double lane_floor_seconds(std::uint64_t draws, std::int32_t rows, const fs::path& dir) {
  pedsim::UniformStream stream;
  stream.seed_from_sum(kSeed);
  std::vector<std::uint32_t> block(pedsim::kDrawBlock);
  std::uint64_t sum = 0;
  const auto t = Clock::now();
  for (std::uint64_t left = draws; left > 0;) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    stream.fill_z(std::span(block).first(size));
    sum += block[size - 1];
    left -= size;
  }
  const double draw_time = seconds_since(t);
  if (sum == 0) std::cerr << "";
  return draw_time + write_seconds(rows, dir);
}

// A bare process start: /bin/true, spawned as pedsim is.
double process_start_seconds(const fs::path& dir) {
  std::vector<double> walls;
  for (int r = 0; r < 21; ++r) walls.push_back(time_command("/bin/true", {}, dir).wall);
  return median_of(walls);
}

// Parent selection done literally, the quadratic shuffle over the
// whole candidate lists, checked against the real one.
double literal_selection_speedup(const Workload& w, double* literal_seconds, double* fast_seconds) {
  const pedsim::Parameters p = parameters_of(w);
  pedsim::Pedigree pedigree(p.rows);
  pedsim::GenotypeStore genotypes(p.rows, {pedsim::Model{}.alleles()});
  pedsim::ParentLists parents(p);
  pedsim::UniformStream stream;
  stream.seed_from_sum(kSeed);
  pedsim::create_founders(p, pedsim::Model{}, pedigree, genotypes, stream, parents);
  pedsim::Candidates candidates;
  pedsim::MatingScratch mating;
  pedsim::HelperThread helper;
  *literal_seconds = 0;
  *fast_seconds = 0;
  for (std::int32_t g = 1; g <= p.generations; ++g) {
    pedsim::mate_generation(p, pedsim::Model{}, pedigree, genotypes, parents, stream, mating, g,
                            helper);
    pedsim::ParentLists literal(p);
    pedsim::UniformStream literal_stream = stream;
    auto t = Clock::now();
    pedsim::reference::select_parents(pedigree, literal, literal_stream);
    *literal_seconds += seconds_since(t);
    t = Clock::now();
    pedsim::select_parents(pedigree, candidates, parents, stream, helper);
    *fast_seconds += seconds_since(t);
    if (!std::equal(parents.sires.begin(), parents.sires.end(), literal.sires.begin()) ||
        !std::equal(parents.dams.begin(), parents.dams.end(), literal.dams.begin())) {
      std::cerr << "pedsim_bench: literal and fast parent selection differ\n";
      std::exit(1);
    }
  }
  return *literal_seconds / *fast_seconds;
}

std::string fixed(double v, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
  return buffer;
}

// Which targets a workload met, e.g. "time (<= 1.0 x floor) met, memory met".
std::string targets(const Workload& w, double median, double floor, double start, bool memory_met) {
  std::string text;
  if (w.max_over_start > 0) {
    text = "time (<= start + " + fixed(w.max_over_start * 1000, 0) + " ms) " +
           (median <= start + w.max_over_start ? "met" : "NOT met") + ", ";
  } else if (w.max_ratio > 0) {
    text = "time (<= " + fixed(w.max_ratio, 1) + " x floor) " +
           (median <= w.max_ratio * floor ? "met" : "NOT met") + ", ";
  }
  return text + "memory " + (memory_met ? "met" : "NOT met");
}

// A marker panel dropped onto a bred pedigree, in memory.
struct PanelWorkload {
  Workload pedigree;
  pedsim::MarkerOptions markers;
  int runs;
  pedsim::RecordOptions records = {};
  std::string label() const {
    std::string text = pedigree.label() + ", " + std::to_string(markers.markers) + " markers of " +
                       std::to_string(markers.alleles) + " alleles";
    if (markers.chromosomes) text += " on " + std::to_string(*markers.chromosomes) + " chromosomes";
    if (!records.is_design()) text += ", " + records.describe();
    return text;
  }
};

struct PanelTiming {
  double wall = 0;
  double panel = 0;
  double records = 0;
  double genotypes = 0;
  double bits_per_genotype = 0;
  long max_rss_kib = 0;
  // The child's processor time, user and system.
  double user = 0;
  double system = 0;
};

// One panel run in a child process, so that its peak memory is its own.
PanelTiming time_panel(const PanelWorkload& w) {
  int channel[2];
  if (::pipe(channel) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    pedsim::PhaseSeconds seconds;
    const auto start = Clock::now();
    const pedsim::Simulation run = pedsim::simulate_timed(
        parameters_of(w.pedigree), {kSeed, "PEDSIM_SEED"}, seconds, {}, {}, w.markers, w.records);
    PanelTiming t;
    t.wall = seconds_since(start);
    t.panel = seconds.panel;
    t.records = seconds.records;
    t.genotypes = static_cast<double>(run.panel.animals()) * run.panel.markers();
    t.bits_per_genotype = 8.0 * static_cast<double>(run.panel.bytes()) / t.genotypes;
    const bool sent = ::write(channel[1], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
    ::_exit(sent ? 0 : 1);
  }
  ::close(channel[1]);
  PanelTiming t;
  const bool received = ::read(channel[0], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
  ::close(channel[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "pedsim_bench: the panel run " << w.label() << " failed\n";
    std::exit(1);
  }
  t.max_rss_kib = usage.ru_maxrss;
  t.user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec * 1e-6;
  t.system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec * 1e-6;
  return t;
}

pedsim::RecordOptions random_records(double error_rate, double call_rate) {
  pedsim::RecordOptions r;
  r.error_model = "random-allele";
  r.error_rate = error_rate;
  r.missing_model = "random";
  r.call_rate = call_rate;
  return r;
}

pedsim::MarkerOptions panel_markers(std::int32_t markers, std::int32_t alleles,
                                    std::optional<std::int32_t> chromosomes = std::nullopt) {
  pedsim::MarkerOptions m;
  m.markers = markers;
  m.alleles = alleles;
  m.chromosomes = chromosomes;
  return m;
}

// The panel workloads: the median of their runs' walls, genotypes per second
// of the panel's phase (gene drop, loss and errors) against the target of
// 10^9, and the panel's memory per genotype against 3 bits (two alleles) or
// 2 bytes (more).
std::string panel_section(bool quick) {
  std::vector<PanelWorkload> workloads{{{3, 20, 5, 1}, panel_markers(1000, 2), 3}};
  if (!quick) {
    workloads = {
        {{10, 20000, 2000, 1}, panel_markers(50000, 2), 5},
        {{10, 20000, 2000, 1}, panel_markers(1000, 12), 5},
        {{10, 20000, 2000, 1}, panel_markers(50000, 2, 30), 5},
        {{10, 20000, 2000, 1}, panel_markers(50000, 2), 5, random_records(0.01, 0.99)},
        {{10, 20000, 2000, 1}, panel_markers(50000, 2), 5, random_records(1e-6, 1 - 1e-6)}};
  }
  std::ostringstream table;
  table << "| workload | genotypes | median wall (s) | fastest, slowest (s) | gene drop (s) | "
           "records (s) | genotypes per second | bits per genotype | peak RSS (MiB) | targets |\n"
        << "|---|---|---|---|---|---|---|---|---|---|\n";
  for (const PanelWorkload& w : workloads) {
    std::vector<PanelTiming> runs;
    for (int r = 0; r < w.runs; ++r) runs.push_back(time_panel(w));
    std::sort(runs.begin(), runs.end(),
              [](const PanelTiming& a, const PanelTiming& b) { return a.wall < b.wall; });
    const PanelTiming& t = runs[runs.size() / 2];
    const double rate = t.genotypes / (t.panel + t.records);
    // Two alleles: 3 bits a genotype, and under the record models a bit
    // more for the missing genotypes plus the altered ones (8 bytes each);
    // more alleles: a byte per allele, true and recorded.
    const double altered_bits =
        w.records.is_design() ? 0 : 64 * w.records.error_rate.value_or(0) + 1;
    const double memory_limit = (w.markers.alleles == 2 ? 3 : 32) + altered_bits;
    table << "| " << w.label() << " | " << fixed(t.genotypes, 0) << " | " << fixed(t.wall, 3)
          << " | " << fixed(runs.front().wall, 3) << ", " << fixed(runs.back().wall, 3) << " | "
          << fixed(t.panel, 3) << " | "
          << (w.records.is_design() ? fixed(t.records, 3) : std::string("drawn in the drop"))
          << " | " << fixed(rate / 1e9, 2) << " x 10^9 | " << fixed(t.bits_per_genotype, 2) << " | "
          << fixed(t.max_rss_kib / 1024.0, 0) << " | ";
    // The smoke run's panel is too small for the targets to mean anything.
    if (quick) {
      table << "- |\n";
    } else {
      table << "speed (>= 10^9 /s) " << (rate >= 1e9 ? "met" : "NOT met")
            << ", memory (<= " << fixed(memory_limit, 0) << " bits) "
            << (t.bits_per_genotype <= memory_limit ? "met" : "NOT met") << " |\n";
    }
    std::cout << "pedsim_bench: panel " << w.label() << ": " << fixed(t.wall, 3) << " s, "
              << fixed(rate / 1e9, 2) << " x 10^9 genotypes/s, " << fixed(t.bits_per_genotype, 2)
              << " bits per genotype" << std::endl;
  }
  return "\n## Marker panels\n\nIn memory (the library's simulate, no files), median of " +
         std::to_string(workloads.front().runs) +
         " runs each in a child process. The gene drop breeds the panel onto the bred pedigree; "
         "the records phase applies the design's loss and error rules to every marker; other "
         "missing-data and error models are drawn for each animal as it is bred, within the "
         "gene drop's time. Genotypes per second are "
         "animals x markers over both phases. Bits per genotype count the true and recorded "
         "genotypes together (the panel's whole memory over animals x markers).\n\n" +
         table.str();
}

double thread_seconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The record models' random numbers alone, on one core: each row's gaps to
// its missing genotypes, and its errors' gaps and numbers, drawn as the two
// layers draw them, with no genotype read or written.
double record_numbers_seconds(std::int32_t rows, std::int32_t markers, double missing_rate,
                              double error_rate) {
  using pedsim::RecordDraw;
  pedsim::RowEvents missing(pedsim::layer_key(kSeed, 0, pedsim::Layer::kMissingData),
                            pedsim::record_lane(RecordDraw::kCells),
                            pedsim::record_lane(RecordDraw::kCellDraws), false,
                            pedsim::MarkerMap{});
  pedsim::RowEvents errors(pedsim::layer_key(kSeed, 0, pedsim::Layer::kGenotypeErrors),
                           pedsim::record_lane(RecordDraw::kCells),
                           pedsim::record_lane(RecordDraw::kCellDraws), true, pedsim::MarkerMap{});
  std::uint64_t events = 0;
  const auto count = [&](const std::int32_t*, const std::uint32_t*, std::size_t n) { events += n; };
  const double start = thread_seconds();
  for (std::int32_t row = 1; row <= rows; ++row) {
    const auto r = static_cast<std::uint32_t>(row);
    missing.for_each_batch(r, markers, missing_rate, pedsim::SameForEveryCell{}, count);
    errors.for_each_batch(r, markers, error_rate, pedsim::SameForEveryCell{}, count);
  }
  const double seconds = thread_seconds() - start;
  if (events == 0) std::exit(1);
  return seconds;
}

// Waits until memory freed by the last process or file is the host's again.
// On this virtual machine the host takes back memory the guest leaves free
// for about two seconds, and the next gigabytes touched cost up to seconds
// each: a process or write that starts just after another ended reuses its
// warm pages only while it lasts under two seconds, so of two taken in turn
// the longer would pay for both. What is compared starts settled.
void settle(bool quick) {
  if (!quick) std::this_thread::sleep_for(std::chrono::seconds(4));
}

// What random-allele at 0.01 with call rate 0.99 adds to the gene drop of
// the 10^10-genotype panel (target: at most 20 %): the panel with every
// genotype called and none altered, and with the models, in child processes
// taken in turn, each started settled. Processor time as well as wall: here
// the first touch of fresh memory can cost more than the work. The models'
// own random numbers set a floor under what they add.
std::string records_section(bool quick) {
  const Workload pedigree = quick ? Workload{3, 20, 5, 1} : Workload{10, 20000, 2000, 1};
  const pedsim::MarkerOptions markers = panel_markers(quick ? 1000 : 50000, 2);
  const PanelWorkload alone{pedigree, markers, 1, random_records(0, 1)};
  const PanelWorkload models{pedigree, markers, 1, random_records(0.01, 0.99)};
  const int runs = quick ? 1 : 5;
  std::vector<double> walls[2];
  std::vector<double> users[2];
  std::vector<double> systems[2];
  double rows = 0;
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      settle(quick);
      const PanelTiming t = time_panel(k == 0 ? alone : models);
      walls[k].push_back(t.wall);
      users[k].push_back(t.user);
      systems[k].push_back(t.system);
      rows = t.genotypes / markers.markers;
    }
  }
  const double floor =
      record_numbers_seconds(static_cast<std::int32_t>(rows), markers.markers, 0.01, 0.01);
  const double wall[2] = {median_of(walls[0]), median_of(walls[1])};
  const double user[2] = {median_of(users[0]), median_of(users[1])};
  const double added_user = (user[1] - user[0]) / user[0];
  const double added_wall = (wall[1] - wall[0]) / wall[0];
  std::ostringstream text;
  text << "\n## Record models on the panel\n\n"
       << alone.label() << " (the gene drop alone) and " << models.label() << ", " << runs
       << " runs each in child processes taken in turn, each started four seconds after the "
          "last ended; medians. System time is mostly the first touch of fresh memory, which "
          "on this virtual machine costs up to seconds a gigabyte once the host has taken the "
          "memory back (about two seconds after the guest frees it): the models' run touches "
          "2 GB more (the missing genotypes' bits and the altered genotypes).\n\n"
          "| run | wall (s) | user (s) | system (s) |\n|---|---|---|---|\n";
  for (int k = 0; k < 2; ++k) {
    text << "| " << (k == 0 ? "gene drop alone" : "with the record models") << " | "
         << fixed(wall[k], 3) << " | " << fixed(user[k], 3) << " | "
         << fixed(median_of(systems[k]), 3) << " |\n";
  }
  text << "\nThe record models add " << fixed(100 * added_user, 0) << " % of processor time and "
       << fixed(100 * added_wall, 0) << " % of wall (target 20 %: "
       << (std::max(added_user, added_wall) <= 0.2 ? "met" : "NOT met")
       << "). Their random numbers alone (a number and a logarithm per candidate of each layer, "
          "and a number per candidate error) take "
       << fixed(floor, 3) << " s on one core, " << fixed(100 * floor / user[0], 0)
       << " % of the gene drop's processor time.\n";
  std::cout << "pedsim_bench: record models add " << fixed(100 * added_user, 0) << " % cpu, "
            << fixed(100 * added_wall, 0) << " % wall; their numbers alone "
            << fixed(100 * floor / user[0], 0) << " %" << std::endl;
  return text.str();
}

// Writing a run's genotype files, against writing as many bytes bare.
struct FormatTiming {
  double bed = 0;
  double bare = 0;
  double bed_bytes = 0;
  // ped.bed's rows filled into a discarding sink.
  double fill = 0;
  double vcf = 0;
  double vcf_bytes = 0;
  double genotypes = 0;
};

// `bytes` bytes written in 8 MiB blocks to a new file in `dir`.
double bare_write_seconds(std::uint64_t bytes, const fs::path& dir) {
  const std::vector<char> block(std::size_t{8} << 20, 'x');
  const auto t = Clock::now();
  const int fd = ::open((dir / "bare.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (std::uint64_t left = bytes; left > 0;) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    if (::write(fd, block.data(), size) != static_cast<ssize_t>(size)) std::exit(1);
    left -= size;
  }
  ::close(fd);
  const double seconds = seconds_since(t);
  fs::remove(dir / "bare.bin");
  return seconds;
}

struct DiscardingSink final : pedsim::ByteSink {
  void write(std::string_view) override {}
};

// One panel run in a child process, then `rounds` times its ped.bed and a
// bare write of as many bytes (or its ped.vcf.gz), each after the memory
// settled (not in the smoke run): the medians.
FormatTiming time_formats(const PanelWorkload& w, const fs::path& dir, int rounds, bool vcf,
                          bool quick) {
  int channel[2];
  if (::pipe(channel) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    const pedsim::Simulation run = pedsim::simulate(
        parameters_of(w.pedigree), {kSeed, "PEDSIM_SEED"}, {}, {}, w.markers, w.records);
    std::vector<double> bed;
    std::vector<double> bare;
    std::vector<double> vcf_seconds;
    FormatTiming t;
    t.genotypes = static_cast<double>(run.pedigree.created()) * run.panel.markers();
    if (!vcf) {
      DiscardingSink nothing;
      const auto fill_start = Clock::now();
      pedsim::write_bed(run, pedsim::Genotypes::kRecorded, nothing);
      t.fill = seconds_since(fill_start);
    }
    for (int r = 0; r < rounds && !vcf; ++r) {
      settle(quick);
      pedsim::UnitFile file;
      const auto start = Clock::now();
      file.open(dir.string(), "ped.bed", 11);
      pedsim::write_bed(run, pedsim::Genotypes::kRecorded, file);
      file.close();
      bed.push_back(seconds_since(start));
      t.bed_bytes = static_cast<double>(fs::file_size(dir / "ped.bed"));
      fs::remove(dir / "ped.bed");
      settle(quick);
      bare.push_back(bare_write_seconds(std::uint64_t(t.bed_bytes), dir));
    }
    for (int r = 0; r < rounds && vcf; ++r) {
      const auto start = Clock::now();
      pedsim::write_vcf(run, pedsim::Genotypes::kRecorded,
                        {.path = (dir / "ped.vcf.gz").string(),
                         .index_path = (dir / "ped.vcf.gz.csi").string(),
                         .shown_path = "ped.vcf.gz",
                         .shown_index_path = "ped.vcf.gz.csi",
                         .unit = 13,
                         .progress = nullptr,
                         .stage = {},
                         .expected_bytes = 0});
      vcf_seconds.push_back(seconds_since(start));
      t.vcf_bytes = static_cast<double>(fs::file_size(dir / "ped.vcf.gz"));
      fs::remove(dir / "ped.vcf.gz");
      fs::remove(dir / "ped.vcf.gz.csi");
    }
    t.bed = vcf ? 0 : median_of(bed);
    t.bare = vcf ? 0 : median_of(bare);
    t.vcf = vcf ? median_of(vcf_seconds) : 0;
    const bool sent = ::write(channel[1], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
    ::_exit(sent ? 0 : 1);
  }
  ::close(channel[1]);
  FormatTiming t;
  const bool received = ::read(channel[0], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "pedsim_bench: the format run " << w.label() << " failed\n";
    std::exit(1);
  }
  return t;
}

// ped.bed of the 10^10-genotype panel against a bare write of its bytes
// (target: at least half its speed), and VCF of a smaller panel.
std::string format_section(bool quick, const fs::path& dir) {
  const PanelWorkload big{quick ? Workload{3, 20, 5, 1} : Workload{10, 20000, 2000, 1},
                          panel_markers(quick ? 1000 : 50000, 2), 1, random_records(0.01, 0.99)};
  const PanelWorkload small{quick ? Workload{3, 20, 5, 1} : Workload{10, 20000, 2000, 1},
                            panel_markers(quick ? 100 : 1000, 2), 1, random_records(0.01, 0.99)};
  const int rounds = quick ? 1 : 3;
  const FormatTiming bed = time_formats(big, dir, rounds, false, quick);
  const FormatTiming vcf = time_formats(small, dir, rounds, true, quick);
  const double ratio = bed.bare / bed.bed;
  std::ostringstream text;
  text << "\n## Genotype files\n\nMedians of " << rounds
       << " writes in a child process after one run in memory, to the bench's folder under "
          "/tmp. ped.bed and the bare write each start four seconds after the last file was "
          "deleted, by when this machine's host has taken its memory back: a write that "
          "starts sooner reuses warm pages only while it lasts under about two seconds, so "
          "whichever of two writes comes second would be timed on different memory.\n\n"
          "| file | workload | bytes | seconds | MB/s | against |\n"
          "|---|---|---|---|---|---|\n"
       << "| ped.bed | " << big.label() << " | " << fixed(bed.bed_bytes, 0) << " | "
       << fixed(bed.bed, 3) << " | " << fixed(bed.bed_bytes / bed.bed / 1e6, 0)
       << " | a bare write of as many bytes in 8 MiB blocks: " << fixed(bed.bare, 3) << " s, "
       << fixed(bed.bed_bytes / bed.bare / 1e6, 0) << " MB/s; ped.bed at " << fixed(ratio, 2)
       << " of its speed (target >= 0.5: " << (ratio >= 0.5 ? "met" : "NOT met")
       << "); its rows alone, into a discarding sink: " << fixed(bed.fill, 3) << " s |\n"
       << "| ped.vcf.gz | " << small.label() << " | " << fixed(vcf.vcf_bytes, 0) << " | "
       << fixed(vcf.vcf, 3) << " | " << fixed(vcf.vcf_bytes / vcf.vcf / 1e6, 1) << " | "
       << fixed(vcf.genotypes / vcf.vcf / 1e6, 1) << " x 10^6 genotypes/s, compressed on "
       << std::thread::hardware_concurrency() << " cores, then indexed |\n";
  std::cout << "pedsim_bench: ped.bed " << fixed(bed.bed, 3) << " s, bare write "
            << fixed(bed.bare, 3) << " s (" << fixed(ratio, 2) << "), rows alone "
            << fixed(bed.fill, 3) << " s; ped.vcf.gz " << fixed(vcf.vcf, 3) << " s" << std::endl;
  return text.str();
}

// A pedigree table of `animals` animals, the first 1% founders, each other
// animal's sire and dam drawn evenly from the animals before it: parents
// all over the file, the hardest case for the reader's lookups.
void write_pedigree_table(const fs::path& path, std::int32_t animals) {
  std::ofstream out(path);
  out << "animal sire dam sex\n";
  std::uint64_t state = 88172645463325252ULL;
  const auto below = [&state](std::int32_t n) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::int32_t>(state % static_cast<std::uint64_t>(n));
  };
  const std::int32_t founders = animals / 100;
  std::string line;
  for (std::int32_t i = 1; i <= animals; ++i) {
    line = "an" + std::to_string(i);
    if (i <= founders) {
      line += " 0 0";
    } else {
      line += " an" + std::to_string(1 + 2 * below((i - 1) / 2)) + " an" +
              std::to_string(2 + 2 * below((i - 2) / 2));
    }
    line += i % 2 == 1 ? " 1\n" : " 2\n";
    out << line;
  }
}

// Reading and ordering a supplied pedigree of 10^7 animals (target 5 s),
// and the reader's bytes per second.
std::string pedigree_section(bool quick, const fs::path& dir) {
  const std::int32_t animals = quick ? 100000 : 10000000;
  const fs::path path = dir / "pedigree.txt";
  write_pedigree_table(path, animals);
  const double bytes = static_cast<double>(fs::file_size(path));
  std::vector<double> seconds;
  for (int r = 0; r < (quick ? 1 : 3); ++r) {
    const auto start = Clock::now();
    const pedsim::SuppliedPedigree p = pedsim::read_pedigree(path.string(), {});
    seconds.push_back(seconds_since(start));
    if (p.animals() != animals) std::exit(1);
  }
  fs::remove(path);
  const double median = median_of(seconds);
  std::cout << "pedsim_bench: pedigree of " << animals << " animals read in " << fixed(median, 2)
            << " s" << std::endl;
  return "\n## Supplied pedigrees\n\nReading, checking and ordering a table of " +
         std::to_string(animals) + " animals (" + fixed(bytes / 1e6, 0) +
         " MB; parents drawn evenly from all earlier animals, so every lookup lands somewhere "
         "new), median of " +
         std::to_string(seconds.size()) + ": " + fixed(median, 2) + " s, " +
         fixed(bytes / median / 1e6, 0) +
         " MB/s (target 5 s: " + (median <= 5 ? "met" : "NOT met") + ").\n";
}

// The relatedness truth's cost: a panel run with and without --ibd, in
// alternated pairs; and the pedigree inbreeding of a million animals.
std::string relatedness_section(const std::string& binary, bool quick, const fs::path& dir) {
  // A smoke run (--quick) only shows that the section works.
  const std::string markers = quick ? "200" : "50000";
  const std::vector<std::string> pedigree{"10", quick ? "2000" : "20000", quick ? "200" : "2000"};
  const std::vector<std::string> million_animals{"10", quick ? "2000" : "100000",
                                                 quick ? "200" : "10000"};
  std::vector<std::string> run{"--markers", markers, "--alleles", "2",        "--chromosomes", "10",
                               "--format",  "plink", "--quiet",   "--outdir", "panel"};
  run.insert(run.end(), pedigree.begin(), pedigree.end());
  std::vector<std::string> with_ibd = run;
  with_ibd.insert(with_ibd.begin(), "--ibd");
  std::vector<double> wall[2], processor[2];
  for (int round = 0; round < (quick ? 1 : 3); ++round) {
    for (int ibd = 0; ibd < 2; ++ibd) {
      const ProcessTiming t = time_command(binary, ibd != 0 ? with_ibd : run, dir);
      wall[ibd].push_back(t.wall);
      processor[ibd].push_back(t.processor);
      fs::remove_all(dir / "panel");
    }
  }
  const double ratio = median_of(processor[1]) / median_of(processor[0]);
  std::vector<std::string> kinship{"--ibd", "--markers",     "2",        "--alleles",
                                   "2",     "--chromosomes", "1",        "--format",
                                   "plink", "--quiet",       "--outdir", "million"};
  kinship.insert(kinship.end(), million_animals.begin(), million_animals.end());
  const ProcessTiming million = time_command(binary, kinship, dir);
  fs::remove_all(dir / "million");
  std::ostringstream out;
  out << "\n## Relatedness truth\n\n"
      << "| run | median wall (s) | median processor (s) | target |\n|---|---|---|---|\n"
      << "| `" << pedigree[0] << " " << pedigree[1] << " " << pedigree[2] << "`, " << markers
      << " SNPs on 10 chromosomes, `--format plink` | " << fixed(median_of(wall[0]), 2) << " | "
      << fixed(median_of(processor[0]), 2) << " | |\n"
      << "| the same with `--ibd` | " << fixed(median_of(wall[1]), 2) << " | "
      << fixed(median_of(processor[1]), 2) << " | processor <= 1.5 x without: " << fixed(ratio, 2)
      << " x, " << (ratio <= 1.5 ? "met" : "NOT met") << " |\n"
      << "| `--ibd` on `" << million_animals[0] << " " << million_animals[1] << " "
      << million_animals[2] << "` (2 markers): kinship.tsv | " << fixed(million.wall, 2) << " | "
      << fixed(million.processor, 2)
      << " | wall <= 10 s: " << (million.wall <= 10 ? "met" : "NOT met") << " |\n";
  return out.str();
}

std::string machine_description() {
  utsname u{};
  ::uname(&u);
  std::ostringstream out;
  out << std::thread::hardware_concurrency() << " cores, " << u.machine << ", Linux " << u.release
      << ", compiler " << __VERSION__;
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      out << ", " << line.substr(line.find(':') + 2);
      break;
    }
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: pedsim_bench PEDSIM_BINARY RESULTS_MD [--quick | --formats | --pedigree "
                 "| --records | --relatedness]\n";
    return 2;
  }
  const std::string binary = fs::absolute(argv[1]).string();
  const bool quick = argc > 3 && std::string(argv[3]) == "--quick";
  if (argc > 3 && std::string(argv[3]) == "--relatedness") {
    char pattern[] = "/tmp/pedsim-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    std::ofstream(argv[2]) << relatedness_section(binary, false, dir);
    fs::remove_all(dir);
    return 0;
  }
  if (argc > 3 && std::string(argv[3]) == "--records") {
    std::ofstream(argv[2]) << records_section(false);
    return 0;
  }
  if (argc > 3 && (std::string(argv[3]) == "--formats" || std::string(argv[3]) == "--pedigree")) {
    char pattern[] = "/tmp/pedsim-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    std::ofstream(argv[2]) << (std::string(argv[3]) == "--formats" ? format_section(false, dir)
                                                                   : pedigree_section(false, dir));
    fs::remove_all(dir);
    return 0;
  }
  // Every shape a study may use: small, deep, wide and shallow, one sire,
  // one dam per sire. Targets: start-up within 1 ms of a bare process; the
  // small run within 2 x its floor; every run of a million rows or more at
  // or below its floor, the flagship 50 200000 20000 at 0.6 x.
  std::vector<Workload> workloads{{3, 20, 5, 21, 0.001, 0}};
  if (!quick) {
    workloads.insert(workloads.end(), {{10, 20000, 2000, 5, 0, 2.0},
                                       {20, 200000, 20000, 5, 0, 1.0},
                                       {50, 200000, 20000, 5, 0, 0.6},
                                       {100, 200000, 20000, 3, 0, 1.0},
                                       {20, 1000000, 100000, 3, 0, 1.0},
                                       {5, 500000, 1, 5, 0, 1.0},
                                       {30, 100000, 50000, 5, 0, 1.0}});
  }
  char pattern[] = "/tmp/pedsim-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const double start = process_start_seconds(dir);

  std::ostringstream table;
  table
      << "| workload | rows | draws | median wall (s) | floor (s) | wall / floor | lane floor (s) "
         "| wall / lane floor | peak RSS (MiB) | bytes per row | targets | founders | mating | "
         "selection | loss | injection | output |\n"
      << "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
  for (const auto& w : workloads) {
    // The phase run also counts the draws that the floors must make. Each
    // process run is followed by both floors, so that all are measured
    // under the same conditions; the medians are compared.
    time_phases(w, dir);  // a first run to bring the memory in use
    const Phases p = time_phases(w, dir);
    std::vector<double> walls;
    std::vector<double> floors;
    std::vector<double> lane_floors;
    long rss = 0;
    for (int r = 0; r < w.runs; ++r) {
      // Every run starts in an empty folder, as the floors write a new file.
      const fs::path run_dir = dir / ("run" + std::to_string(r));
      fs::create_directory(run_dir);
      const auto timing = time_process(binary, w, run_dir);
      fs::remove_all(run_dir);
      walls.push_back(timing.wall);
      rss = std::max(rss, timing.max_rss_kib);
      floors.push_back(floor_seconds(p.draws, p.rows, dir));
      lane_floors.push_back(lane_floor_seconds(p.draws, p.rows, dir));
    }
    const double median = median_of(walls);
    const double floor = median_of(floors);
    const double lane_floor = median_of(lane_floors);
    const double rss_mib = rss / 1024.0;
    const bool memory_met = rss_mib <= 32.0 * p.rows / (1 << 20) + 64;
    table << "| " << w.label() << " | " << p.rows << " | " << p.draws << " | " << fixed(median, 4)
          << " | " << fixed(floor, 4) << " | " << fixed(median / floor, 2) << " | "
          << fixed(lane_floor, 4) << " | " << fixed(median / lane_floor, 2) << " | "
          << fixed(rss_mib, 1) << " | " << fixed(rss * 1024.0 / p.rows, 1) << " | "
          << targets(w, median, floor, start, memory_met) << " | " << fixed(p.seconds.founders, 3)
          << " | " << fixed(p.seconds.mating, 3) << " | " << fixed(p.seconds.selection, 3) << " | "
          << fixed(p.seconds.loss, 3) << " | " << fixed(p.seconds.injection, 3) << " | "
          << fixed(p.output, 3) << " |\n";
    std::cout << "pedsim_bench: " << w.label() << ": median " << fixed(median, 4) << " s, floor "
              << fixed(floor, 4) << " s (" << fixed(median / floor, 2) << " x), lane floor "
              << fixed(lane_floor, 4) << " s (" << fixed(median / lane_floor, 2) << " x)"
              << std::endl;
  }

  std::ostringstream report;
  report
      << "# Benchmark results\n\n"
      << "Machine: " << machine_description() << ".\n\n"
      << "Whole `pedsim` processes with `PEDSIM_SEED=" << kSeed
      << "`, each run in an empty folder, median wall time of the runs; peak resident memory of "
         "the "
         "child (for the smallest run, the few MiB of the harness itself, which a spawned child "
         "shares until it starts pedsim). The floor is the "
         "bare random stream producing the run's exact number of draws one at a time on one "
         "thread, plus writing rows x 49 bytes in 1 MiB blocks to the same folder; it is "
         "measured after each process run, and its median is given. The lane floor is the same "
         "count of draws made through the stream's vectorised lanes on one core, plus the same "
         "writing. A bare process start (`/bin/true`, spawned the same way) took "
      << fixed(start * 1000, 2)
      << " ms. Targets: `3 20 5` within 1 ms of a bare process start, `10 20000 2000` within 2 x "
         "its floor, every run of a million rows or more at or below its floor and "
         "`50 200000 20000` at 0.6 x, and peak memory within 32 bytes per table row plus 64 MiB. "
         "Phase times (seconds) come from the second of two in-process runs: the run in memory, "
         "then its outputs written.\n\n"
      << table.str();
  if (!quick) {
    double literal = 0;
    double fast = 0;
    const double speedup = literal_selection_speedup({10, 20000, 2000, 1}, &literal, &fast);
    report << "\nParent selection on `10 20000 2000`: literal quadratic shuffle "
           << fixed(literal, 3) << " s, real one " << fixed(fast, 4) << " s, speed-up "
           << fixed(speedup, 1) << " x (same sires and dams in every generation).\n";
    std::cout << "pedsim_bench: literal shuffle speed-up " << fixed(speedup, 1) << " x"
              << std::endl;
    const auto [together, one_by_one] = time_replicate_study(binary, dir, 200);
    report << "\nReplicate study, 200 replicates of `10 2000 200`: `--replicates 200` "
           << fixed(together, 2) << " s, the same runs one after another " << fixed(one_by_one, 2)
           << " s, speed-up " << fixed(one_by_one / together, 2) << " x on "
           << std::thread::hardware_concurrency()
           << " cores (one process instead of 200, so more than the cores alone give).\n";
    std::cout << "pedsim_bench: replicate study speed-up " << fixed(one_by_one / together, 2)
              << " x" << std::endl;
  }
  report << panel_section(quick);
  report << records_section(quick);
  report << format_section(quick, dir);
  report << pedigree_section(quick, dir);
  report << relatedness_section(binary, quick, dir);
  std::ofstream(argv[2]) << report.str();
  fs::remove_all(dir);
  std::cout << "pedsim_bench: wrote " << argv[2] << std::endl;
  return 0;
}
