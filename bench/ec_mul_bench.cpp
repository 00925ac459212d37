// Point multiplication on the CryptoPro A curve: the ceiling of signing
// (fixed base) and verification (fixed base plus variable base) speed.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>

#include "crypto/ecgost/ec.h"

namespace cadb {
namespace {

struct Fixture {
    EcCurvePtr curve{ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A)};
    BnPtr k = bn_new();
    EcPointPtr point;
    Fixture() {
        BN_rand_range(k.get(), curve->q.get());
        point.reset(ECPOINT_dup(curve->P.get()));
        ECPOINT_mul(point.get(), k.get());
        ECPOINT_to_affine(point.get());
        BN_rand_range(k.get(), curve->q.get());
    }
};

void BM_VariableBaseMul(benchmark::State& state) {
    Fixture f;
    EcPointPtr pt(ECPOINT_new(f.curve.get()));
    for (auto _ : state) {
        ECPOINT_copy(pt.get(), f.point.get());
        benchmark::DoNotOptimize(ECPOINT_mul(pt.get(), f.k.get()));
    }
}
BENCHMARK(BM_VariableBaseMul);

void BM_FixedBaseMul(benchmark::State& state) {
    Fixture f;
    EcPointPtr pt(ECPOINT_new(f.curve.get()));
    for (auto _ : state) {
        ECPOINT_copy(pt.get(), f.curve->P.get());
        benchmark::DoNotOptimize(ECPOINT_mul_base(pt.get(), f.k.get()));
    }
}
BENCHMARK(BM_FixedBaseMul);

// The same products for a secret scalar, in constant time.
void BM_SecretVariableBaseMul(benchmark::State& state) {
    Fixture f;
    EcPointPtr pt(ECPOINT_new(f.curve.get()));
    for (auto _ : state) {
        ECPOINT_copy(pt.get(), f.point.get());
        benchmark::DoNotOptimize(ECPOINT_mul_secret(pt.get(), f.k.get()));
    }
}
BENCHMARK(BM_SecretVariableBaseMul);

void BM_SecretFixedBaseMul(benchmark::State& state) {
    Fixture f;
    EcPointPtr pt(ECPOINT_new(f.curve.get()));
    for (auto _ : state) {
        ECPOINT_copy(pt.get(), f.curve->P.get());
        benchmark::DoNotOptimize(ECPOINT_mul_secret(pt.get(), f.k.get()));
    }
}
BENCHMARK(BM_SecretFixedBaseMul);

void BM_CurveByCode(benchmark::State& state) {
    for (auto _ : state) {
        EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
        benchmark::DoNotOptimize(c.get());
    }
}
BENCHMARK(BM_CurveByCode);

}  // namespace
}  // namespace cadb
