// What going through libcrypto's EVP and X.509 layers costs the GOST
// algorithms: digest and cipher records against the contexts they wrap
// (BM_Hash, BM_CfbMeshedEncrypt), key decoding, and certificate and request
// signatures end to end.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/random.h>

#include <string>
#include <vector>

#include "crypto/engine/engine.h"
#include "crypto/core/objects.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

int kernel_bytes(void* buf, int len) {
    return getrandom(buf, static_cast<size_t>(len), 0) == len ? len : 0;
}
const RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr, nullptr, nullptr, 0};

// The certificate of parameter set A from the test vectors, as PEM.
const char kCertA[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBuDCCAWWgAwIBAgIUM5gR9j3+sRqIwYDn3GPZMe7oItwwCgYGKoUDAgIDBQAw\n"
    "MDEPMA0GA1UEAwwGVGVzdCBBMRAwDgYDVQQKDAdWZWN0b3JzMQswCQYDVQQGEwJS\n"
    "VTAeFw0yNjEyMDkwNDM0NTVaFw0zNjEyMDYwNDM0NTVaMDAxDzANBgNVBAMMBlRl\n"
    "c3QgQTEQMA4GA1UECgwHVmVjdG9yczELMAkGA1UEBhMCUlUwYzAcBgYqhQMCAhMw\n"
    "EgYHKoUDAgIjAQYHKoUDAgIeAQNDAARAkHEQkVQ8eOBgCVIe3EfHxHG3/LA1p4Pb\n"
    "uEXcfaNje3Ndmo1JczWpflkVhyKwF5DSsv98oxfWmxhefUS+a3XgwqNTMFEwHQYD\n"
    "VR0OBBYEFA61QGbtmDMSghx2m2mDSt3CqM4WMB8GA1UdIwQYMBaAFA61QGbtmDMS\n"
    "ghx2m2mDSt3CqM4WMA8GA1UdEwEB/wQFMAMBAf8wCgYGKoUDAgIDBQADQQAck4ke\n"
    "s54E5RCQWlT14qstZwgOGoXlDYMrM57fCpSLwWdr48GQ3Ijq9CZPVpvAWALH7CBy\n"
    "Y412VSY24xFdi0Ds\n"
    "-----END CERTIFICATE-----\n";

X509* cert_a() {
    BIO* bio = BIO_new_mem_buf(kCertA, -1);
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return x;
}

void BM_EvpDigestCryptoPro(benchmark::State& state) {
    ENGINE_load_cadb();
    std::vector<unsigned char> buf(static_cast<size_t>(state.range(0)), 0x61);
    unsigned char out[32];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(buf.data(), buf.size(), out, &len, EVP_rus_hash_cp(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EvpDigestCryptoPro)->Arg(1024)->Arg(1024 * 1024);

void BM_EvpCipherMeshedCfb(benchmark::State& state) {
    ENGINE_load_cadb();
    const std::vector<unsigned char> key(32, 0x42), iv(8, 0x17);
    std::vector<unsigned char> buf(static_cast<size_t>(state.range(0)), 0x33);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_rus_gammar_cp(), nullptr, key.data(), iv.data());
    int n = 0;
    for (auto _ : state) {
        EVP_EncryptUpdate(ctx, buf.data(), &n, buf.data(), static_cast<int>(buf.size()));
        benchmark::DoNotOptimize(buf.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EvpCipherMeshedCfb)->Arg(1024)->Arg(64 * 1024);

void BM_SpkiDecode(benchmark::State& state) {
    ENGINE_load_cadb();
    X509* x = cert_a();
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(X509_get0_pubkey(x), &der);
    for (auto _ : state) {
        const unsigned char* p = der;
        EVP_PKEY* k = d2i_PUBKEY(nullptr, &p, len);
        benchmark::DoNotOptimize(k);
        EVP_PKEY_free(k);
    }
    OPENSSL_free(der);
    X509_free(x);
}
BENCHMARK(BM_SpkiDecode);

void BM_X509Verify(benchmark::State& state) {
    ENGINE_load_cadb();
    X509* x = cert_a();
    EVP_PKEY* k = X509_get0_pubkey(x);
    for (auto _ : state) benchmark::DoNotOptimize(X509_verify(x, k));
    X509_free(x);
}
BENCHMARK(BM_X509Verify);

void BM_X509ReqSign(benchmark::State& state) {
    ENGINE_load_cadb();
    RAND_set_rand_method(&kKernelSource);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(OBJ_nid2openssl(NID_ECR3410_CP), nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_keygen(ctx, &key);
    EVP_PKEY_CTX_free(ctx);
    X509_REQ* req = X509_REQ_new();
    X509_REQ_set_pubkey(req, key);
    for (auto _ : state) benchmark::DoNotOptimize(X509_REQ_sign(req, key, EVP_rus_hash_cp()));
    X509_REQ_free(req);
    EVP_PKEY_free(key);
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_X509ReqSign);

}  // namespace
}  // namespace cadb
