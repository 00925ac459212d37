// GOST R 34.10-2001 signing and verification on the CryptoPro A set.
#include <benchmark/benchmark.h>
#include <sys/random.h>

#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

int kernel_bytes(void* buf, int len) {
    return static_cast<int>(getrandom(buf, static_cast<std::size_t>(len), 0));
}
const RAND_METHOD kKernel = {nullptr, kernel_bytes, nullptr, nullptr, nullptr, nullptr, 0};

struct Signer {
    EcCurvePtr curve{ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A)};
    ECGOST* key = nullptr;
    unsigned char dgst[32];
    Signer() {
        RAND_set_rand_method(&kKernel);
        key = ECGOST_new_by_curve(curve.get());
        ECGOST_key_pair_generation(key);
        for (int i = 0; i < 32; ++i) dgst[i] = static_cast<unsigned char>(0xA5 ^ i);
    }
    ~Signer() { ECGOST_free(key); }
};

void BM_Sign(benchmark::State& state) {
    Signer s;
    for (auto _ : state) ECGOST_SIG_free(ECGOST_do_sign(s.dgst, sizeof s.dgst, s.key));
}
BENCHMARK(BM_Sign);

void BM_Verify(benchmark::State& state) {
    Signer s;
    ECGOST_SIG* sig = ECGOST_do_sign(s.dgst, sizeof s.dgst, s.key);
    for (auto _ : state)
        benchmark::DoNotOptimize(ECGOST_do_verify(s.dgst, sizeof s.dgst, sig, s.key));
    ECGOST_SIG_free(sig);
}
BENCHMARK(BM_Verify);

}  // namespace
}  // namespace cadb
