// Allocation and release in the record pools once the chain has hundreds of
// full blocks: first fit must not walk them all on every call.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/record_pool.h"

namespace {

void BM_AllocateWithManyFullBlocks(benchmark::State& state) {
  const int64_t records = state.range(0);
  for (auto _ : state) {
    TRecordPool<TFragment> pool(30000, 3750);
    for (int64_t i = 0; i < records; ++i) benchmark::DoNotOptimize(pool.Allocate());
    state.counters["blocks"] = pool.BlockCount();
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_AllocateWithManyFullBlocks)->Arg(2000000)->Unit(benchmark::kMillisecond);

void BM_ReleaseAndReuseAcrossBlocks(benchmark::State& state) {
  TRecordPool<TFragment> pool(30000, 3750);
  std::vector<TFragment*> taken;
  for (int i = 0; i < 2000000; ++i) taken.push_back(pool.Allocate());
  size_t next = 0;
  for (auto _ : state) {
    // Free a record in a late block and take one back: the release must find
    // its block and the allocation the first block with room.
    TFragment*& record = taken[(next * 7919) % taken.size()];
    pool.Release(record);
    record = pool.Allocate();
    ++next;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReleaseAndReuseAcrossBlocks);

}  // namespace

BENCHMARK_MAIN();
