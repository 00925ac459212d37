// A three-level GOST R 34.10-2001 chain with a CRL at every level verified
// through CERT_verify: the goal is at least 1,000 verifications per second
// per core.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/random.h>

#include <ctime>
#include <memory>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/x509/cert_verify.h"

namespace cadb {
namespace {

int kernel_bytes(void* buf, int len) {
    return getrandom(buf, static_cast<size_t>(len), 0) == len ? len : 0;
}
const RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr, nullptr, nullptr, 0};

EVP_PKEY* new_key() {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(OBJ_nid2openssl(NID_ECR3410_CP), nullptr);
    EVP_PKEY* k = nullptr;
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_CTX_ctrl(ctx, -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_GOST_PARAMSET,
                      NID_R3410_2001_A_PARAMSET, nullptr);
    EVP_PKEY_keygen(ctx, &k);
    EVP_PKEY_CTX_free(ctx);
    return k;
}

X509* new_cert(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key, long serial) {
    const std::time_t now = std::time(nullptr);
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    ASN1_TIME_set(X509_getm_notBefore(x), now - 3600);
    ASN1_TIME_set(X509_getm_notAfter(x), now + 24 * 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
    X509_set_pubkey(x, key);
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, issuer ? issuer : x, x, nullptr, nullptr, 0);
    X509_EXTENSION* bc = X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints,
                                             issuer_key && serial == 3 ? "CA:FALSE" : "CA:TRUE");
    X509_add_ext(x, bc, -1);
    X509_EXTENSION_free(bc);
    X509_sign(x, issuer_key ? issuer_key : key, EVP_r3411_with_ecr3410_cp());
    return x;
}

CRL* new_crl(X509* issuer, EVP_PKEY* key) {
    const std::time_t now = std::time(nullptr);
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
    ASN1_TIME* t = ASN1_TIME_new();
    ASN1_TIME_set(t, now - 600);
    X509_CRL_set1_lastUpdate(crl, t);
    ASN1_TIME_set(t, now + 24 * 3600);
    X509_CRL_set1_nextUpdate(crl, t);
    ASN1_TIME_free(t);
    X509_CRL_sign(crl, key, EVP_r3411_with_ecr3410_cp());
    CRL* out = CRL_split(crl);
    X509_CRL_free(crl);
    return out;
}

void BM_CertVerifyThreeLevelsWithCrls(benchmark::State& state) {
    ENGINE_load_cadb();
    RAND_set_rand_method(&kKernelSource);
    EVP_PKEY* root_key = new_key();
    EVP_PKEY* inter_key = new_key();
    EVP_PKEY* leaf_key = new_key();
    X509* root = new_cert("Root", root_key, nullptr, nullptr, 1);
    X509* inter = new_cert("Intermediate", inter_key, root, root_key, 2);
    X509* leaf_x = new_cert("Leaf", leaf_key, inter, inter_key, 3);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    STACK_OF(CERT)* untrusted = sk_CERT_new_null();
    sk_CERT_push(untrusted, CERT_split(inter));
    STACK_OF(CRL)* crls = sk_CRL_new_null();
    sk_CRL_push(crls, new_crl(root, root_key));
    sk_CRL_push(crls, new_crl(inter, inter_key));
    CERT* leaf = CERT_split(leaf_x);
    for (auto _ : state) {
        if (CERT_verify(leaf, store, untrusted, crls, nullptr, 0) != 1) {
            state.SkipWithError("the chain did not verify");
            break;
        }
    }
    CERT_free(leaf);
    CRL_list_free(crls);
    sk_CERT_pop_free(untrusted, CERT_free);
    X509_STORE_free(store);
    for (X509* x : {root, inter, leaf_x}) X509_free(x);
    for (EVP_PKEY* k : {root_key, inter_key, leaf_key}) EVP_PKEY_free(k);
    RAND_set_rand_method(nullptr);
}
BENCHMARK(BM_CertVerifyThreeLevelsWithCrls);

}  // namespace
}  // namespace cadb
