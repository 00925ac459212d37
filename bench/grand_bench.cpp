// Speed of the GOST software generator: draws of key-sized and large blocks,
// one time-stamp hash, and a whole seeding (which fills the first buffer with
// the pseudo-random function).
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/rand/grand.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

bool seed_generator() {
    std::vector<unsigned char> seed(GRAND_SEED_SIZE, 0x5A);
    return GRAND_gamma_rand_seed(seed.data(), GRAND_SEED_SIZE) == 1;
}

void BM_GrandBytes(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    GRAND_cleanup();
    if (!seed_generator()) {
        state.SkipWithError("seeding failed");
        return;
    }
    std::vector<unsigned char> buf(static_cast<std::size_t>(n));
    for (auto _ : state) {
        if (GRAND_rand_bytes(buf.data(), n) != n) state.SkipWithError("draw failed");
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
    GRAND_cleanup();
}
BENCHMARK(BM_GrandBytes)->Arg(32)->Arg(GRAND_BUFFER_SIZE)->Arg(65536);

void BM_GrandTimeHash(benchmark::State& state) {
    unsigned char out[32];
    for (auto _ : state) benchmark::DoNotOptimize(GRAND_time_hash(out, GRAND_cycles(), nullptr, 0));
}
BENCHMARK(BM_GrandTimeHash);

void BM_GrandSeed(benchmark::State& state) {
    for (auto _ : state) {
        GRAND_cleanup();
        if (!seed_generator()) state.SkipWithError("seeding failed");
    }
    GRAND_cleanup();
}
BENCHMARK(BM_GrandSeed)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cadb
