// What both sides of the road benchmark share, in libcrypto's terms only (the
// peer's program links nothing else): reading the fixtures, and the raw
// signature and verification loops over a key both sides hold as EVP_PKEY.
#pragma once

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace road {

using Bytes = std::vector<unsigned char>;

inline Bytes read_fixture(const std::string& dir, const std::string& name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
T* read_pem_fixture(const std::string& dir, const std::string& name,
                    T* (*read)(BIO*, T**, pem_password_cb*, void*)) {
    BIO* b = BIO_new_file((dir + "/" + name).c_str(), "r");
    T* v = b ? read(b, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(b);
    return v;
}

// The digest both sides sign: any fixed 32 bytes.
inline void road_digest(unsigned char (&dgst)[32]) {
    for (int i = 0; i < 32; ++i) dgst[i] = static_cast<unsigned char>(0xA5 ^ i);
}

inline void sign_raw(benchmark::State& state, EVP_PKEY* key) {
    unsigned char dgst[32], sig[64];
    road_digest(dgst);
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        std::size_t len = sizeof sig;
        if (!ctx || EVP_PKEY_sign_init(ctx) != 1 ||
            EVP_PKEY_sign(ctx, sig, &len, dgst, sizeof dgst) != 1)
            state.SkipWithError("sign failed");
        EVP_PKEY_CTX_free(ctx);
    }
}

inline void verify_raw(benchmark::State& state, EVP_PKEY* key) {
    unsigned char dgst[32], sig[64];
    road_digest(dgst);
    std::size_t len = sizeof sig;
    EVP_PKEY_CTX* sctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(sctx);
    EVP_PKEY_sign(sctx, sig, &len, dgst, sizeof dgst);
    EVP_PKEY_CTX_free(sctx);
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        if (!ctx || EVP_PKEY_verify_init(ctx) != 1 ||
            EVP_PKEY_verify(ctx, sig, len, dgst, sizeof dgst) != 1)
            state.SkipWithError("verify failed");
        EVP_PKEY_CTX_free(ctx);
    }
}

}  // namespace road

// The road's operations, registered under the same names on both sides so
// that side_by_side can pair them; each side defines every BM_Road_ function.
#define ROAD_BENCHMARKS()                                                     \
    BENCHMARK(BM_Road_SignRaw)->Unit(benchmark::kMicrosecond);                \
    BENCHMARK(BM_Road_VerifyRaw)->Unit(benchmark::kMicrosecond);              \
    BENCHMARK(BM_Road_KeyAndRequest)->Unit(benchmark::kMicrosecond);          \
    BENCHMARK(BM_Road_Envelope1K)->Unit(benchmark::kMicrosecond);             \
    BENCHMARK(BM_Road_Decrypt1K)->Unit(benchmark::kMicrosecond);              \
    BENCHMARK(BM_Road_SignedData1KSign)->Unit(benchmark::kMicrosecond);       \
    BENCHMARK(BM_Road_SignedData1KVerify)->Unit(benchmark::kMicrosecond);     \
    BENCHMARK(BM_Road_Chain3WithCrls)->Unit(benchmark::kMicrosecond);         \
    BENCHMARK(BM_Road_SignedData1MVerify)->Unit(benchmark::kMicrosecond);     \
    BENCHMARK(BM_Road_Decrypt1M)->Unit(benchmark::kMicrosecond)
