// Keys, certificates and signatures made by an independent implementation:
// every signature verifies under the certificate's key, every private key
// gives the certificate's public key.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/core/cp_key_params.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

std::string vector_path(const std::string& set, const std::string& kind, const char* ext) {
    return std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/" + kind + "-" + set + ext;
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The CryptoPro digest of the message, as the signature reads it: the
// standard's 256-bit value, most significant byte first.
Bytes digest_of(const Bytes& msg) {
    GOSTH ctx;
    Bytes out(32);
    EXPECT_EQ(GOSTH_init_cp(&ctx, nullptr, GOSTH_get_cp_sbox()), 1);
    EXPECT_EQ(GOSTH_update(&ctx, msg.data(), static_cast<long>(msg.size())),
              static_cast<long>(msg.size()));
    EXPECT_EQ(GOSTH_final(&ctx, out.data()), 32);
    return out;
}

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};

// The key of the certificate: the parameter set named in its algorithm
// parameters and the 64-byte x || y (little-endian) inside the bit string.
struct CertKey {
    int set_nid = 0;
    Bytes point;
};

CertKey cert_key(const std::string& path) {
    CertKey out;
    BIO* bio = BIO_new_file(path.c_str(), "r");
    std::unique_ptr<X509, X509Deleter> cert(bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)
                                                : nullptr);
    BIO_free(bio);
    if (!cert) return out;
    const unsigned char* bits = nullptr;
    int bits_len = 0;
    X509_ALGOR* alg = nullptr;
    if (!X509_PUBKEY_get0_param(nullptr, &bits, &bits_len, &alg, X509_get_X509_PUBKEY(cert.get())))
        return out;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    CpKeyParams params;
    if (!CP_KEY_PARAMS_from_type(&params, ptype, pval)) return out;
    ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &bits, bits_len);
    if (!os) return out;
    out.set_nid = params.key_set;
    out.point.assign(os->data, os->data + os->length);
    ASN1_OCTET_STRING_free(os);
    return out;
}

// The private number of a PKCS#8 key: 32 bytes little-endian, as these
// tools write it, or an inner OCTET STRING (little-endian) or INTEGER.
BnPtr private_number(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    PKCS8_PRIV_KEY_INFO* p8 =
        bio ? PEM_read_bio_PKCS8_PRIV_KEY_INFO(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!p8) return nullptr;
    const unsigned char* der = nullptr;
    int len = 0;
    BnPtr d;
    if (PKCS8_pkey_get0(nullptr, &der, &len, nullptr, p8) && len > 0) {
        const unsigned char* p = der;
        if (len == 32) {
            d.reset(BN_lebin2bn(der, len, nullptr));
        } else if (der[0] == V_ASN1_OCTET_STRING) {
            ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &p, len);
            if (os) d.reset(BN_lebin2bn(os->data, os->length, nullptr));
            ASN1_OCTET_STRING_free(os);
        } else if (der[0] == V_ASN1_INTEGER) {
            ASN1_INTEGER* v = d2i_ASN1_INTEGER(nullptr, &p, len);
            if (v) d.reset(ASN1_INTEGER_to_BN(v, nullptr));
            ASN1_INTEGER_free(v);
        }
    }
    PKCS8_PRIV_KEY_INFO_free(p8);
    return d;
}

struct KeyDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using KeyPtr = std::unique_ptr<ECGOST, KeyDeleter>;

KeyPtr public_key(const CertKey& ck) {
    KeyPtr key(ECGOST_new());
    if (!key || !ECGOST_set_curve_by_nid(key.get(), ck.set_nid)) return nullptr;
    key->encoded_pub = ck.point;
    if (!ECGOST_decode_pubkey(key.get())) return nullptr;
    return key;
}

class IndependentSet : public ::testing::TestWithParam<const char*> {};

TEST_P(IndependentSet, SignatureVerifiesUnderCertificateKey) {
    const std::string set = GetParam();
    const CertKey ck = cert_key(vector_path(set, "cert", ".pem"));
    ASSERT_NE(ck.set_nid, 0) << "certificate unreadable";
    ASSERT_EQ(ck.point.size(), 64u);
    KeyPtr key = public_key(ck);
    ASSERT_TRUE(key);
    EXPECT_EQ(ECGOST_is_pubkey_valid(key->Q.get(), 1), 1);
    const Bytes msg = read_file(vector_path(set, "msg", ".txt"));
    Bytes sig = read_file(vector_path(set, "sig", ".bin"));
    ASSERT_FALSE(msg.empty());
    ASSERT_EQ(sig.size(), 64u);
    Bytes dgst = digest_of(msg);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst.data(), dgst.size(), sig.data(), sig.size(),
                            key.get()),
              1);
    // A changed byte of the signature or the message fails.
    for (std::size_t i = 0; i < sig.size(); i += 9) {
        sig[i] ^= 0x04;
        EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst.data(), dgst.size(), sig.data(),
                                sig.size(), key.get()),
                  0);
        sig[i] ^= 0x04;
    }
    Bytes changed = msg;
    changed[0] ^= 1;
    dgst = digest_of(changed);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst.data(), dgst.size(), sig.data(), sig.size(),
                            key.get()),
              0);
}

TEST_P(IndependentSet, PrivateKeyGivesCertificateKeyAndSigns) {
    const std::string set = GetParam();
    const CertKey ck = cert_key(vector_path(set, "cert", ".pem"));
    BnPtr d = private_number(vector_path(set, "key", ".pem"));
    ASSERT_TRUE(d) << "private key unreadable";
    KeyPtr pub = public_key(ck);
    ASSERT_TRUE(pub);
    KeyPtr key(ECGOST_new());
    ASSERT_EQ(ECGOST_set_curve_by_nid(key.get(), ck.set_nid), 1);
    ASSERT_EQ(ECGOST_set_private(key.get(), d.get()), 1);
    ASSERT_EQ(ECGOST_generate_pubkey(key.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(key->Q.get(), pub->Q.get()), 0);
    const Bytes dgst = digest_of(read_file(vector_path(set, "msg", ".txt")));
    unsigned char sig[64];
    std::size_t len = sizeof sig;
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, dgst.data(), dgst.size(), sig, &len, key.get()), 1);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst.data(), dgst.size(), sig, len, pub.get()),
              1);
}

INSTANTIATE_TEST_SUITE_P(CryptoPro, IndependentSet, ::testing::Values("A", "B", "C", "XA", "XB"));

}  // namespace
}  // namespace cadb
