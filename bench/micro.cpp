// Micro-benchmarks of the inner loops: drawing, filling keys, the shuffle and
// record formatting.

#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "formats/design_records.hpp"
#include "random/uniform_stream.hpp"
#include "sim/shuffle.hpp"

namespace {

void BM_NextZ(benchmark::State& state) {
  pedsim::UniformStream stream(12345, 67890);
  for (auto _ : state) benchmark::DoNotOptimize(stream.next_z());
}
BENCHMARK(BM_NextZ);

void BM_FillZ(benchmark::State& state) {
  pedsim::UniformStream stream(12345, 67890);
  std::vector<std::uint32_t> keys(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    stream.fill_z(keys);
    benchmark::DoNotOptimize(keys.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillZ)->Arg(1 << 12)->Arg(1 << 20);

void BM_ShufflePrefix(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<std::int32_t> list(n);
  std::iota(list.begin(), list.end(), 1);
  std::vector<std::int32_t> out(static_cast<std::size_t>(state.range(1)));
  pedsim::UniformStream stream(12345, 67890);
  pedsim::ShuffleScratch scratch;
  for (auto _ : state) {
    pedsim::shuffle_prefix(list, out, stream, scratch);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
// List lengths and counts wanted as parent selection meets them: a small
// generation, the dams of deep and of shallow runs, and a dam list of which
// most is wanted (one sire), where every key is kept.
BENCHMARK(BM_ShufflePrefix)
    ->Args({1 << 16, 1 << 12})
    ->Args({4600000, 180000})
    ->Args({1000000, 180000})
    ->Args({750000, 500000});

void BM_FormatField(benchmark::State& state) {
  char out[pedsim::kMaxFieldWidth];
  std::int32_t v = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pedsim::format_file_field(out, v));
    v = (v + 7919) % 5000000;
  }
}
BENCHMARK(BM_FormatField);

}  // namespace
