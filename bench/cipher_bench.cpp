// Speed of GOST 28147-89: ECB, CFB, counter mode and the MAC.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/rus/modes.h"

namespace {

using namespace cadb;

const std::vector<unsigned char> kKey(32, 0x42);
const std::vector<unsigned char> kIv(8, 0x17);

template <typename Init, typename Run>
void run_mode(benchmark::State& state, Init init, Run run) {
    std::vector<unsigned char> buf(static_cast<std::size_t>(state.range(0)), 0x33);
    GOSTE ctx;
    init(&ctx);
    for (auto _ : state) {
        run(&ctx, buf);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Ecb(benchmark::State& state) {
    run_mode(
        state, [](GOSTE* c) { GOSTE_ss_init(c, 1, kKey.data(), GOSTE_get_cp_sbox_A()); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_ss_process(c, b.data(), nullptr, static_cast<long>(b.size()));
        });
}

void BM_CfbEncrypt(benchmark::State& state) {
    run_mode(
        state,
        [](GOSTE* c) { GOSTE_gamma_fb_init(c, kKey.data(), kIv.data(), GOSTE_get_cp_sbox_A()); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_gamma_fbe_update(c, b.data(), nullptr, static_cast<long>(b.size()));
        });
}

void BM_CfbDecrypt(benchmark::State& state) {
    run_mode(
        state,
        [](GOSTE* c) { GOSTE_gamma_fb_init(c, kKey.data(), kIv.data(), GOSTE_get_cp_sbox_A()); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_gamma_fbd_update(c, b.data(), nullptr, static_cast<long>(b.size()));
        });
}

void BM_CfbMeshedEncrypt(benchmark::State& state) {
    run_mode(
        state, [](GOSTE* c) { GOSTE_gamma_fb_cp_init(c, kKey.data(), kIv.data(), nullptr); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_gamma_fbe_process(c, b.data(), nullptr, static_cast<long>(b.size()));
        });
}

void BM_Counter(benchmark::State& state) {
    run_mode(
        state,
        [](GOSTE* c) { GOSTE_gamma_init(c, kKey.data(), kIv.data(), GOSTE_get_cp_sbox_A()); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_gamma_update(c, b.data(), nullptr, static_cast<long>(b.size()));
        });
}

void BM_Mac(benchmark::State& state) {
    run_mode(
        state, [](GOSTE* c) { GOSTE_mac_init(c, kKey.data(), GOSTE_get_cp_sbox_A()); },
        [](GOSTE* c, std::vector<unsigned char>& b) {
            GOSTE_mac_process(c, b.data(), static_cast<long>(b.size()));
        });
}

BENCHMARK(BM_Ecb)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_CfbEncrypt)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_CfbDecrypt)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_CfbMeshedEncrypt)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_Counter)->Arg(1024)->Arg(64 * 1024);
BENCHMARK(BM_Mac)->Arg(1024)->Arg(64 * 1024);

}  // namespace
