// Speed of the message engine against its primitives: signing 1 MiB of
// attached content against hashing 1 MiB plus one signature, enveloping
// 1 MiB against CFB-encrypting 1 MiB plus one GOST key transport.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "bench/bench_party.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

const std::vector<unsigned char> kContent(1 << 20, 0x5A);

void finish(PKCS7* p7) {
    BIO* b = PKCS7_dataInit(p7, nullptr);
    BIO_write(b, kContent.data(), static_cast<int>(kContent.size()));
    PKCS7_DATASIGN(p7, b);
    BIO_free_all(b);
    benchmark::DoNotOptimize(i2d_PKCS7(p7, nullptr));
}

void BM_SignAttached1MiB(benchmark::State& state) {
    const BenchParty& p = bench_party();
    for (auto _ : state) {
        PKCS7* p7 = PKCS7_new();
        PKCS7_set_type(p7, NID_pkcs7_signed);
        PKCS7_content_new(p7, NID_pkcs7_data);
        PKCS7_add_signature(p7, p.cert, p.key, EVP_r3411_with_ecr3410_cp());
        finish(p7);
        PKCS7_free(p7);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kContent.size()));
}

void BM_Hash1MiBPlusSignature(benchmark::State& state) {
    const BenchParty& p = bench_party();
    for (auto _ : state) {
        unsigned char d[32];
        unsigned int n = 0;
        EVP_Digest(kContent.data(), kContent.size(), d, &n, EVP_rus_hash_cp(), nullptr);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(p.key, nullptr);
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_r3411_with_ecr3410_cp());
        unsigned char sig[128];
        std::size_t len = sizeof sig;
        EVP_PKEY_sign(ctx, sig, &len, d, n);
        EVP_PKEY_CTX_free(ctx);
        benchmark::DoNotOptimize(sig);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kContent.size()));
}

void BM_Envelope1MiB(benchmark::State& state) {
    const BenchParty& p = bench_party();
    for (auto _ : state) {
        PKCS7* p7 = PKCS7_new();
        PKCS7_set_type(p7, NID_pkcs7_enveloped);
        PKCS7_add_recipient(p7, p.cert);
        PKCS7_set_cipher(p7, EVP_rus_gammar_cp());
        finish(p7);
        PKCS7_free(p7);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kContent.size()));
}

void BM_Cfb1MiBPlusKeyTransport(benchmark::State& state) {
    const BenchParty& p = bench_party();
    std::vector<unsigned char> out(kContent.size() + 16);
    const unsigned char key[32] = {1}, iv[8] = {2};
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int n = 0;
        EVP_EncryptInit_ex(ctx, EVP_rus_gammar_cp(), nullptr, key, iv);
        EVP_EncryptUpdate(ctx, out.data(), &n, kContent.data(), static_cast<int>(kContent.size()));
        EVP_CIPHER_CTX_free(ctx);
        PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
        PKCS7_RECIP_INFO_set(ri, p.cert);
        unsigned char kt[PKCS7_MAX_ENCRYPTED_KEY];
        benchmark::DoNotOptimize(PKCS7_CEK_ENCRYPT_gost(kt, sizeof kt, key, 32, ri));
        PKCS7_RECIP_INFO_free(ri);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kContent.size()));
}

BENCHMARK(BM_SignAttached1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hash1MiBPlusSignature)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Envelope1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cfb1MiBPlusKeyTransport)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cadb
