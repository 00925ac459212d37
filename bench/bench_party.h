// One GOST R 34.10-2001 key and a self-issued certificate for it, made once
// for every benchmark that signs or enciphers.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "tests/support/kernel_random.h"

namespace cadb {

struct BenchParty {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
};

inline const BenchParty& bench_party() {
    static BenchParty p = [] {
        static testing::KernelRandom random;
        ENGINE_load_cadb();
        BenchParty made;
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(OBJ_nid2openssl(NID_ECR3410_CP), nullptr);
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_keygen(ctx, &made.key);
        EVP_PKEY_CTX_free(ctx);
        made.cert = X509_new();
        X509_NAME* name = X509_NAME_new();
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
        X509_set_subject_name(made.cert, name);
        X509_set_issuer_name(made.cert, name);
        X509_NAME_free(name);
        ASN1_INTEGER_set(X509_get_serialNumber(made.cert), 1);
        X509_set_pubkey(made.cert, made.key);
        return made;
    }();
    return p;
}

}  // namespace cadb
