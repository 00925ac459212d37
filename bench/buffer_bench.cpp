// Speed of the password-encrypted buffer (dominated by the 2048 PBKDF2
// rounds), of its key derivation alone, and of zlib round trips.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/store/buffer_crypt.h"
#include "tests/support/kernel_random.h"

namespace {

const char kMasks[] = "0123456789abcdef0123456789ABCDEF";

void BM_Pbkdf2Gost2048(benchmark::State& state) {
    const unsigned char salt[8] = {};
    unsigned char key[32];
    for (auto _ : state) {
        cadb::pbkdf2_hmac(cadb::EVP_rus_hash(), "password", 8, salt, 8, 2048, key, 32);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_Pbkdf2Gost2048)->Unit(benchmark::kMillisecond);

void BM_EncryptMasks(benchmark::State& state) {
    cadb::OBJ_init();
    cadb::testing::KernelRandom source;
    const int cipher = static_cast<int>(state.range(0));
    for (auto _ : state) {
        cadb::BufferPtr m(cadb::BUFFER_encrypt(kMasks, 32, cipher, "password", -1, -1, 0, 1, 0));
        benchmark::DoNotOptimize(m.get());
    }
}
BENCHMARK(BM_EncryptMasks)->Arg(174)->Arg(44)->Unit(benchmark::kMillisecond);

void BM_DecryptMasks(benchmark::State& state) {
    cadb::OBJ_init();
    cadb::testing::KernelRandom source;
    cadb::BufferPtr m(cadb::BUFFER_encrypt(kMasks, 32, 174, "password", -1, -1, 0, 1, 0));
    for (auto _ : state) {
        cadb::BufferPtr d(cadb::BUFFER_decrypt(m->data, m->length, "password", -1, -1, 0));
        benchmark::DoNotOptimize(d.get());
    }
}
BENCHMARK(BM_DecryptMasks)->Unit(benchmark::kMillisecond);

void BM_ZlibRoundTrip(benchmark::State& state) {
    std::vector<unsigned char> data(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i % 61);
    for (auto _ : state) {
        cadb::BufferPtr z(cadb::BUFFER_compress(data.data(), static_cast<int>(data.size()), -1));
        cadb::BufferPtr back(cadb::BUFFER_uncompress(z->data, z->length, 0));
        benchmark::DoNotOptimize(back.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibRoundTrip)->Arg(64 * 1024);

}  // namespace
