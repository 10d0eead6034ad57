// BlockPlayer followed by UnblockPlayer on the real nftables engine, in a
// private network namespace of the benchmark's own (run as root):
//   build/linux/bench/firewall_bench
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/clock.h"
#include "firewall/filter_engine.h"
#include "firewall/firewall.h"

namespace palisard {
namespace {

double Median(std::vector<double>& values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

void BM_NftablesBlockThenUnblock(benchmark::State& state) {
  std::unique_ptr<FilterEngine> engine = CreateSystemFilterEngine();
  Firewall firewall(*engine, SystemClock());
  if (!firewall.Initialize().ok()) {
    state.SkipWithError("nftables unavailable (run as root)");
    return;
  }
  std::vector<double> blockUs;
  std::vector<double> unblockUs;
  uint64_t id = 1;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    const int64_t blocked = firewall.BlockPlayer(0xC6120000 + static_cast<uint32_t>(id % 60000), id).code();
    auto middle = std::chrono::steady_clock::now();
    const int64_t unblocked = firewall.UnblockPlayer(id).code();
    auto end = std::chrono::steady_clock::now();
    if (blocked != 0 || unblocked != 0) {
      state.SkipWithError("block or unblock failed");
      break;
    }
    blockUs.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
    unblockUs.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
    ++id;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["block_median_us"] = Median(blockUs);
  state.counters["unblock_median_us"] = Median(unblockUs);
}
BENCHMARK(BM_NftablesBlockThenUnblock)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
}  // namespace palisard

int main(int argc, char** argv) {
  // The rules go into a namespace of our own, never the machine's firewall.
  if (unshare(CLONE_NEWNET) != 0) {
    std::perror("unshare(CLONE_NEWNET) (run as root)");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
