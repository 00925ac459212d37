// Inputs of many parts, as a hostile answer brings them: a name of many
// entries split into its attribute list, and a signed message that names
// its hash many times opened and checked. Each runs at two sizes 8 times
// apart; the time per part (items per second) stays flat when the work
// grows with the input, and falls 8-fold when it grows with its square.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "bench/bench_party.h"
#include "crypto/cadb/attribute.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

using NamePtr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

// A name of n commonName entries in UTF-8, each converted when it is split.
NamePtr name_of(int n) {
    NamePtr name(X509_NAME_new(), X509_NAME_free);
    const char* value = "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd";
    for (int i = 0; i < n; ++i)
        X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
    return name;
}

void BM_SplitNameOfManyEntries(benchmark::State& state) {
    OBJ_init();
    const int n = static_cast<int>(state.range(0));
    NamePtr name = name_of(n);
    for (auto _ : state) {
        ATTRIBUTE* list = X509_NAME_split(name.get());
        benchmark::DoNotOptimize(list);
        ATTRIBUTE_free(list);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SplitNameOfManyEntries)->Arg(1125)->Arg(9000)->Unit(benchmark::kMillisecond);

// The DER of a message signed once whose digestAlgorithms names the
// signer's hash n times.
std::vector<unsigned char> message_naming_its_hash(int n) {
    const BenchParty& s = bench_party();
    PKCS7* p7 = PKCS7_new();
    PKCS7_set_type(p7, NID_pkcs7_signed);
    PKCS7_content_new(p7, NID_pkcs7_data);
    PKCS7_add_signature(p7, s.cert, s.key, EVP_r3411_with_ecr3410_cp());
    BIO* b = PKCS7_dataInit(p7, nullptr);
    BIO_write(b, "answer", 6);
    PKCS7_DATASIGN(p7, b);
    BIO_free_all(b);
    STACK_OF(X509_ALGOR)* algs = p7->d.sign->md_algs;
    for (int i = 1; i < n; ++i)
        sk_X509_ALGOR_push(algs, X509_ALGOR_dup(sk_X509_ALGOR_value(algs, 0)));
    PKCS7_modified(p7);
    std::vector<unsigned char> der(static_cast<std::size_t>(i2d_PKCS7(p7, nullptr)));
    unsigned char* p = der.data();
    i2d_PKCS7(p7, &p);
    PKCS7_free(p7);
    return der;
}

void BM_OpenMessageNamingItsHashManyTimes(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<unsigned char> der = message_naming_its_hash(n);
    const BenchParty& s = bench_party();
    for (auto _ : state) {
        const unsigned char* p = der.data();
        PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
        BIO* chain = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr, nullptr, nullptr);
        char buf[64];
        while (BIO_read(chain, buf, sizeof buf) > 0) {
        }
        const int ok = PKCS7_signatureVerify(
            chain, p7, sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0), s.cert);
        if (ok != 1) state.SkipWithError("the signature does not hold");
        BIO_free_all(chain);
        PKCS7_free(p7);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_OpenMessageNamingItsHashManyTimes)
    ->Arg(2500)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace cadb
