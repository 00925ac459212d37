// Keys, certificates and whole messages for the message-context tests: a
// GOST R 34.10-2001 root and intermediate CA with their CRLs, and leaves of
// every key type the context signs and encrypts for, issued by the
// intermediate.
#pragma once

#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <string>
#include <vector>

#include "crypto/cms/cms.h"
#include "crypto/keys/pkey.h"
#include "tests/x509/chain_util.h"

namespace cadb::test {

struct PkeyRecFree {
    void operator()(PKEY* k) const { PKEY_free(k); }
};
using PkeyRecPtr = std::unique_ptr<PKEY, PkeyRecFree>;

inline PkeyPtr rsa_key() {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* k = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 2048) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &k) != 1)
        return nullptr;
    return PkeyPtr(k);
}

// A signer or recipient: key and certificate as library records.
struct Party {
    PkeyPtr key;
    X509Ptr x509;
    CertPtr cert;
    PkeyRecPtr pkey;
};

inline Party make_party(const Chain& chain, PkeyPtr key, long serial, const std::string& cn) {
    Party p;
    p.key = std::move(key);
    p.x509 = make_cert(cn, p.key.get(), chain.inter.get(), chain.inter_key.get(), serial,
                       chain.now - 10 * kDay, chain.now + 10 * kDay, false);
    p.cert.reset(CERT_split(p.x509.get()));
    p.pkey.reset(PKEY_split(p.key.get()));
    return p;
}

// The process-wide PKI of the tests: the chain and one party per key type.
struct Pki {
    Chain chain;
    Party gost2001 = make_party(chain, new_key(), 401, "GOST 2001 signer");
    Party gost94 = make_party(chain, generate(NID_R3410_CP), 402, "GOST 94 signer");
    Party rsa = make_party(chain, rsa_key(), 403, "RSA signer");
    Party second = make_party(chain, new_key(), 404, "second signer");
    CertPtr root = split(chain.root.get());
    CertPtr inter = split(chain.inter.get());
    CrlPtr root_crl{CRL_split(chain.root_crl().get())};
    CrlPtr inter_crl{CRL_split(chain.inter_crl().get())};
};

struct BufFree {
    void operator()(BUFFER* b) const { BUFFER_free(b); }
};
using BufPtr = std::unique_ptr<BUFFER, BufFree>;

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes take(BUFFER* b) {
    BufPtr owned(b);
    return bytes_of(b);
}

// A reading context over the encoded message; its type checked by the
// caller.
inline CmsPtr reader(const Bytes& msg, int flags = 0) {
    CmsPtr c(CMS_new());
    c->flags = flags;
    if (!msg.empty()) {
        EXPECT_EQ(CMS_update(c.get(), msg.data(), static_cast<int>(msg.size()), 0), 1);
    }
    return c;
}

// A signed message by the parties over the content, with the intermediate
// certificate and both CRLs inside.
inline Bytes sign(const Pki& pki, const std::vector<const Party*>& signers, const Bytes& content,
                  int flags = CMS_OPT_SIGNING_TIME, int form = 1) {
    CmsPtr c(CMS_new());
    EXPECT_EQ(CMS_set_type(c.get(), 22, flags), 1);
    for (const Party* p : signers)
        EXPECT_EQ(CMS_add_signature(c.get(), p->cert.get(), p->pkey.get(), 64), 1);
    EXPECT_EQ(CMS_add_cert(c.get(), pki.inter.get()), 1);
    EXPECT_EQ(CMS_add_crl(c.get(), pki.root_crl.get()), 1);
    EXPECT_EQ(CMS_add_crl(c.get(), pki.inter_crl.get()), 1);
    if (!content.empty()) {
        EXPECT_EQ(CMS_update_data(c.get(), content.data(), static_cast<int>(content.size())), 1);
    }
    EXPECT_EQ(CMS_final(c.get()), 1);
    return take(CMS_get(c.get(), form));
}

// The two results of every signer record, in order.
inline std::vector<std::pair<int, int>> results(const CMS* c) {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < sk_CMS_SIGNATURE_num(c->signatures); ++i) {
        const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, i);
        out.emplace_back(s->chain_result, s->signature_result);
    }
    return out;
}

inline std::vector<int> error_codes(const CMS_SIGNATURE* s) {
    std::vector<int> out;
    for (int i = 0; i < sk_X509_VERIFY_ERROR_num(s->errors); ++i)
        out.push_back(sk_X509_VERIFY_ERROR_value(s->errors, i)->code);
    return out;
}

// Tests share one PKI, made once per process.
class CmsTest : public KeyTest {
  protected:
    static void SetUpTestSuite() {
        KeyTest::SetUpTestSuite();
        if (pki_ == nullptr) pki_ = new Pki;
    }
    static const Pki& pki() { return *pki_; }
    static inline Pki* pki_ = nullptr;
};

}  // namespace cadb::test
