// Speed of GOST R 34.11-94.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/rus/gosth.h"

namespace {

void BM_Hash(benchmark::State& state) {
    std::vector<unsigned char> data(static_cast<std::size_t>(state.range(0)), 0x5C);
    unsigned char out[32];
    cadb::GOSTH ctx;
    for (auto _ : state) {
        cadb::GOSTH_init_cp(&ctx, nullptr, cadb::GOSTH_get_cp_sbox());
        cadb::GOSTH_update(&ctx, data.data(), static_cast<long>(data.size()));
        cadb::GOSTH_final(&ctx, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Hash)->Arg(1024)->Arg(1024 * 1024);

}  // namespace
