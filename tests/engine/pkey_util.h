// Owners and small helpers for the key-type tests.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/random.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/engine/engine.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/sbox.h"
#include "tests/engine/vectors.h"

namespace cadb::test {

inline int kernel_bytes(void* buf, int len) {
    auto* p = static_cast<unsigned char*>(buf);
    int done = 0;
    while (done < len) {
        const ssize_t got = getrandom(p + done, static_cast<size_t>(len - done), 0);
        if (got <= 0) return done;
        done += static_cast<int>(got);
    }
    return done;
}

inline const RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr,
                                          nullptr, nullptr,      0};

// Key tests draw from the kernel's source, through the engine's records.
class KeyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(ENGINE_load_cadb(), 1);
        RAND_set_rand_method(&kKernelSource);
    }
    static void TearDownTestSuite() { RAND_set_rand_method(nullptr); }
};

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
struct P8Free {
    void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
};
using P8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, P8Free>;

// A key store with a master key and a key-encryption key, on the CryptoPro A
// set.
inline PSE* new_store() {
    PSE* store = PSE_new();
    unsigned char mkey[32], kek[PSE_BLOCK_SIZE];
    EXPECT_EQ(PSE_key32_generate(mkey), 1);
    memcpy(store->sbox, GOSTE_get_cp_sbox_A(), sizeof store->sbox);
    EXPECT_EQ(PSE_key32_load(&store->master_key, mkey), 1);
    EXPECT_EQ(PSE_generate_kek(store, kek), 1);
    OPENSSL_cleanse(mkey, sizeof mkey);
    return store;
}

// A fresh key of a type (the library's number) on a parameter set (0: the
// type's default).
inline PkeyPtr generate(int type, int paramset = 0) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(OBJ_nid2openssl(type), nullptr));
    EXPECT_TRUE(ctx);
    if (!ctx) return nullptr;
    EXPECT_EQ(EVP_PKEY_keygen_init(ctx.get()), 1);
    if (paramset != 0) {
        EXPECT_EQ(EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_GOST_PARAMSET,
                                    paramset, nullptr),
                  1);
    }
    EVP_PKEY* k = nullptr;
    EXPECT_EQ(EVP_PKEY_keygen(ctx.get(), &k), 1);
    return PkeyPtr(k);
}

inline Bytes spki_der(EVP_PKEY* k) {
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(k, &der);
    EXPECT_GT(len, 0);
    Bytes out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    return out;
}

inline PkeyPtr spki_key(const Bytes& der) {
    const unsigned char* p = der.data();
    return PkeyPtr(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
}

inline PkeyPtr pkcs8_round_trip(EVP_PKEY* k) {
    P8Ptr p8(EVP_PKEY2PKCS8(k));
    EXPECT_TRUE(p8);
    if (!p8) return nullptr;
    unsigned char* der = nullptr;
    const int len = i2d_PKCS8_PRIV_KEY_INFO(p8.get(), &der);
    EXPECT_GT(len, 0);
    const unsigned char* p = der;
    P8Ptr back(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, len));
    OPENSSL_clear_free(der, static_cast<size_t>(len > 0 ? len : 0));
    EXPECT_TRUE(back);
    return back ? PkeyPtr(EVP_PKCS82PKEY(back.get())) : nullptr;
}

// Signs a digest with a key, with or without a digest record naming the form.
inline Bytes sign_digest(EVP_PKEY* k, const EVP_MD* md, const Bytes& digest) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(k, nullptr));
    EXPECT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    if (md != nullptr) {
        EXPECT_EQ(EVP_PKEY_CTX_set_signature_md(ctx.get(), md), 1);
    }
    size_t len = 0;
    EXPECT_EQ(EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), digest.size()), 1);
    Bytes sig(len);
    EXPECT_EQ(EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()), 1);
    sig.resize(len);
    return sig;
}

inline int verify_digest(EVP_PKEY* k, const EVP_MD* md, const Bytes& digest, const Bytes& sig) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(k, nullptr));
    EXPECT_EQ(EVP_PKEY_verify_init(ctx.get()), 1);
    if (md != nullptr) {
        EXPECT_EQ(EVP_PKEY_CTX_set_signature_md(ctx.get(), md), 1);
    }
    return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size());
}

inline int public_check(EVP_PKEY* k) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(k, nullptr));
    return EVP_PKEY_public_check(ctx.get());
}

// A SubjectPublicKeyInfo of a type (the library's number) with the given
// DER as algorithm parameters (empty: none, "05 00": NULL) and key bits.
inline Bytes make_spki(int type, const Bytes& params, const Bytes& bits) {
    X509_PUBKEY* pub = X509_PUBKEY_new();
    int ptype = V_ASN1_UNDEF;
    void* pval = nullptr;
    if (params.size() == 2 && params[0] == 0x05) {
        ptype = V_ASN1_NULL;
    } else if (!params.empty() && params[0] == 0x06) {
        const unsigned char* p = params.data();
        pval = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(params.size()));
        ptype = V_ASN1_OBJECT;
    } else if (!params.empty()) {
        ASN1_STRING* s = ASN1_STRING_new();
        ASN1_STRING_set(s, params.data(), static_cast<int>(params.size()));
        pval = s;
        ptype = V_ASN1_SEQUENCE;
    }
    // One byte more, so that no key bits still make an allocation.
    auto* copy = static_cast<unsigned char*>(OPENSSL_zalloc(bits.size() + 1));
    if (!bits.empty()) memcpy(copy, bits.data(), bits.size());
    X509_PUBKEY_set0_param(pub, OBJ_dup(OBJ_nid2obj(type)), ptype, pval, copy,
                           static_cast<int>(bits.size()));
    unsigned char* der = nullptr;
    const int len = i2d_X509_PUBKEY(pub, &der);
    X509_PUBKEY_free(pub);
    Bytes out(der, der + (len > 0 ? len : 0));
    OPENSSL_free(der);
    return out;
}

// Every truncation and every single-byte change of an encoding must decode
// to a key or fail cleanly; never crash.
inline void survives_mutations(const Bytes& der) {
    for (size_t len = 0; len < der.size(); ++len) {
        const unsigned char* p = der.data();
        PkeyPtr k(d2i_PUBKEY(nullptr, &p, static_cast<long>(len)));
        EXPECT_FALSE(k) << "truncated at " << len;
    }
    for (size_t i = 0; i < der.size(); ++i) {
        for (unsigned char x : {0x01, 0x80, 0xff}) {
            Bytes m = der;
            m[i] ^= x;
            const unsigned char* p = m.data();
            PkeyPtr k(d2i_PUBKEY(nullptr, &p, static_cast<long>(m.size())));
            if (k) {
                // Whatever decoded must encode again.
                unsigned char* out = nullptr;
                const int n = i2d_PUBKEY(k.get(), &out);
                OPENSSL_free(out);
                (void)n;
            }
        }
    }
    ERR_clear_error();
}

}  // namespace cadb::test
