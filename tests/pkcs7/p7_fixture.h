// Keys and certificates of every recipient and signer type for the message
// tests, made through libcrypto's own X509 functions over the library's
// engine.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/rus/evp_gost.h"
#include "tests/support/kernel_random.h"

namespace cadb::test {

using Bytes = std::vector<unsigned char>;

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

inline PkeyPtr generate_key(int type, int paramset = 0) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(nullptr, EVP_PKEY_CTX_free);
    EVP_PKEY* k = nullptr;
    if (type == EVP_PKEY_RSA) {
        ctx.reset(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 1024) != 1 ||
            EVP_PKEY_keygen(ctx.get(), &k) != 1)
            return nullptr;
        return PkeyPtr(k);
    }
    if (type == EVP_PKEY_DSA) {
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> pctx(
            EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr), EVP_PKEY_CTX_free);
        EVP_PKEY* params = nullptr;
        if (!pctx || EVP_PKEY_paramgen_init(pctx.get()) != 1 ||
            EVP_PKEY_CTX_set_dsa_paramgen_bits(pctx.get(), 1024) != 1 ||
            EVP_PKEY_paramgen(pctx.get(), &params) != 1)
            return nullptr;
        PkeyPtr p(params);
        ctx.reset(EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr));
        if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &k) != 1)
            return nullptr;
        return PkeyPtr(k);
    }
    ctx.reset(EVP_PKEY_CTX_new_id(OBJ_nid2openssl(type), nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1) return nullptr;
    if (paramset != 0 && EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_KEYGEN,
                                           EVP_PKEY_CTRL_GOST_PARAMSET, paramset, nullptr) <= 0)
        return nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &k) != 1) return nullptr;
    return PkeyPtr(k);
}

inline const EVP_MD* cert_md(EVP_PKEY* k) {
    switch (EVP_PKEY_nid(k)) {
        case NID_ECR3410_CP:
            return EVP_r3411_with_ecr3410_cp();
        case NID_R3410_CP:
            return EVP_r3411_with_r3410_cp();
        case NID_ECR3410:
            return EVP_ecr3410_r3411();
        case NID_R3410:
            return EVP_get_digestbyname("R3410-R3411");
        default:
            return EVP_sha256();
    }
}

// A self-signed certificate of the key with the given serial.
inline X509Ptr make_cert(EVP_PKEY* k, long serial, const std::string& cn) {
    X509Ptr x(X509_new());
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial);
    X509_set_subject_name(x.get(), name);
    X509_set_issuer_name(x.get(), name);
    X509_NAME_free(name);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 3600L * 24 * 365);
    X509_set_pubkey(x.get(), k);
    if (X509_sign(x.get(), k, cert_md(k)) <= 0) ::ERR_clear_error();
    return x;
}

struct Party {
    PkeyPtr key;
    X509Ptr cert;
};

// One party per key type, made once per process.
class PartyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(ENGINE_load_cadb(), 1);
        random_ = new testing::KernelRandom;
    }
    static void TearDownTestSuite() {
        delete random_;
        random_ = nullptr;
    }
    static Party& party(int type) {
        static std::map<int, Party> made;
        static long serial = 100;
        auto it = made.find(type);
        if (it != made.end()) return it->second;
        Party p;
        p.key = generate_key(type);
        if (p.key) p.cert = make_cert(p.key.get(), ++serial, "party " + std::to_string(type));
        return made.emplace(type, std::move(p)).first->second;
    }
    static inline testing::KernelRandom* random_ = nullptr;
};

inline int first_reason() {
    const unsigned long e = cadb::ERR_peek_last_error();
    return ERR_code_reason(e);
}

// True when the queue holds (lib, reason) anywhere.
inline bool has_error(int lib, int reason) {
    bool found = false;
    while (unsigned long e = cadb::ERR_get_error())
        if (ERR_code_lib(e) == lib && ERR_code_reason(e) == reason) found = true;
    return found;
}

}  // namespace cadb::test
