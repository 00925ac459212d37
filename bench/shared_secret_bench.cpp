// Speed of the shared-secret front end: a new sharing of a 32-byte secret
// (dominated by its 257-bit prime), a share handed out, and the rebuild of
// the secret from the stored parameters and t shares with its check.
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/rand/boards.h"
#include "crypto/rand/rand.h"
#include "crypto/store/shared_secret.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes take(BUFFER* b) {
    BufferPtr owner(b);
    return b && b->data ? Bytes(b->data, b->data + b->length) : Bytes{};
}

bool kernel_random() {
    RAND_set_rand_method(OS_get_rand_method());
    return RAND_init(nullptr, nullptr) == 1;
}

void BM_SharedSecretGenerate(benchmark::State& state) {
    if (!kernel_random()) return state.SkipWithError("kernel random source unavailable");
    const Bytes secret(32, 0x5A);
    for (auto _ : state) {
        SharedSecretPtr s(SHARED_SECRET_generate(secret.data(), 32, 2));
        if (!s) state.SkipWithError("generation failed");
    }
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_SharedSecretGenerate)->Unit(benchmark::kMillisecond);

void BM_SharedSecretGetPoint(benchmark::State& state) {
    if (!kernel_random()) return state.SkipWithError("kernel random source unavailable");
    const Bytes secret(32, 0x5A);
    SharedSecretPtr s(SHARED_SECRET_generate(secret.data(), 32, static_cast<int>(state.range(0))));
    for (auto _ : state)
        if (take(SHARED_SECRET_get_point(s.get())).empty()) state.SkipWithError("share failed");
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_SharedSecretGetPoint)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_SharedSecretRebuild(benchmark::State& state) {
    if (!kernel_random()) return state.SkipWithError("kernel random source unavailable");
    const int t = static_cast<int>(state.range(0));
    const Bytes secret(32, 0x5A);
    SharedSecretPtr gen(SHARED_SECRET_generate(secret.data(), 32, t));
    const Bytes params = take(SHARED_SECRET_get_params(gen.get()));
    std::vector<Bytes> shares;
    for (int i = 0; i < t; ++i) shares.push_back(take(SHARED_SECRET_get_point(gen.get())));
    for (auto _ : state) {
        SharedSecretPtr s(
            SHARED_SECRET_read_params(params.data(), static_cast<int>(params.size())));
        for (const Bytes& sh : shares)
            SHARED_SECRET_add_point(s.get(), sh.data(), static_cast<int>(sh.size()));
        if (take(SHARED_SECRET_get_secret(s.get())) != secret)
            state.SkipWithError("rebuild failed");
    }
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_SharedSecretRebuild)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace cadb
