// GOST R 34.10-94 signing and verification on the CryptoPro A set.
#include <benchmark/benchmark.h>
#include <sys/random.h>

#include <vector>

#include "crypto/r3410/r3410.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

int kernel_bytes(void* buf, int len) {
    const ssize_t got = getrandom(buf, static_cast<size_t>(len), 0);
    return got < 0 ? 0 : static_cast<int>(got);
}

const RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr, nullptr, nullptr, 0};

struct Fixture {
    GOSTS* key = GOSTS_new();
    std::vector<unsigned char> dgst = std::vector<unsigned char>(32, 0xA5);
    Fixture() {
        RAND_set_rand_method(&kKernelSource);
        R3410_set_params_by_code(key, R3410_PARAMS_CRYPTOPRO_A);
        GOSTS_generate_pubkey(key, nullptr, 0);
    }
    ~Fixture() { GOSTS_free(key); }
};

void BM_R3410_Sign(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) {
        R3410_SIG* sig = GOSTS_do_sign(f.dgst.data(), 32, f.key);
        benchmark::DoNotOptimize(sig);
        R3410_SIG_free(sig);
    }
}
BENCHMARK(BM_R3410_Sign);

void BM_R3410_Verify(benchmark::State& state) {
    Fixture f;
    R3410_SIG* sig = GOSTS_do_sign(f.dgst.data(), 32, f.key);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GOSTS_do_verify(f.dgst.data(), 32, sig, f.key));
    }
    R3410_SIG_free(sig);
}
BENCHMARK(BM_R3410_Verify);

}  // namespace
}  // namespace cadb
