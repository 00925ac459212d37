// Speed of the random layer: the statistical tests over one block, and draws
// from the kernel's source straight and through the check pool.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "crypto/rand/boards.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

void BM_StatisticalTest(benchmark::State& state) {
    std::vector<unsigned char> block(RAND_STAT_BLOCK_SIZE);
    RAND_set_rand_method(OS_get_rand_method());
    if (!RAND_init(nullptr, nullptr) || RAND_bytes(block.data(), RAND_STAT_BLOCK_SIZE) == 0) {
        state.SkipWithError("kernel random source unavailable");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(RAND_statistical_test(block.data(), 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * RAND_STAT_BLOCK_SIZE);
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_StatisticalTest);

void BM_RandBytesKernel(benchmark::State& state) {
    const int check = static_cast<int>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    RAND_set_operational_check(check);
    RAND_set_rand_method(OS_get_rand_method());
    std::vector<unsigned char> buf(static_cast<std::size_t>(n));
    if (!RAND_init(nullptr, nullptr)) {
        state.SkipWithError("kernel random source unavailable");
        return;
    }
    for (auto _ : state) {
        if (RAND_bytes(buf.data(), n) != n) state.SkipWithError("draw failed");
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
    RAND_set_rand_method(nullptr);
    RAND_set_operational_check(0);
}
BENCHMARK(BM_RandBytesKernel)->ArgNames({"check", "bytes"})->ArgsProduct({{0, 1}, {32, 4096}});

}  // namespace
}  // namespace cadb
