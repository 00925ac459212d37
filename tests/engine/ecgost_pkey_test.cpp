#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

#include "crypto/core/err.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/rus/evp_gost.h"
#include "tests/engine/pkey_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::PkeyPtr;

using EcgostPkey = test::KeyTest;

const char* const kSets[] = {"A", "B", "C", "XA", "XB"};

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct ReqFree {
    void operator()(X509_REQ* r) const { X509_REQ_free(r); }
};
using ReqPtr = std::unique_ptr<X509_REQ, ReqFree>;

template <typename T, T* (*Read)(BIO*, T**, pem_password_cb*, void*)>
T* read_pem(const std::string& name) {
    const Bytes text = test::read_file("gost3410-2001-keys/" + name);
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    T* out = Read(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return out;
}

X509Ptr read_cert(const std::string& set) {
    return X509Ptr(read_pem<X509, PEM_read_bio_X509>("cert-" + set + ".pem"));
}

ECGOST* ecgost(EVP_PKEY* k) { return static_cast<ECGOST*>(EVP_PKEY_get0(k)); }

TEST_F(EcgostPkey, VectorCertificatesYieldTheirKeysAndVerify) {
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        X509Ptr cert = read_cert(set);
        ASSERT_TRUE(cert);
        EVP_PKEY* key = X509_get0_pubkey(cert.get());
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(EVP_PKEY_nid(key), NID_ECR3410_CP);
        EXPECT_EQ(X509_verify(cert.get(), key), 1);
        EXPECT_EQ(X509_get_signature_nid(cert.get()), OBJ_nid2openssl(NID_R3411_WITH_ECR3410_CP));
        EXPECT_EQ(test::public_check(key), 1);
        // The certificate of another set does not verify with this key.
        X509Ptr other = read_cert(set == std::string("A") ? "B" : "A");
        EXPECT_NE(X509_verify(other.get(), key), 1);
    }
    ERR_clear_error();
}

TEST_F(EcgostPkey, VectorRequestsVerify) {
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        ReqPtr req(read_pem<X509_REQ, PEM_read_bio_X509_REQ>(std::string("req-") + set + ".pem"));
        ASSERT_TRUE(req);
        EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(X509_REQ_verify(req.get(), key), 1);
    }
}

TEST_F(EcgostPkey, VectorPrivateKeysMatchTheirCertificates) {
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        PkeyPtr priv(
            read_pem<EVP_PKEY, PEM_read_bio_PrivateKey>(std::string("key-") + set + ".pem"));
        ASSERT_TRUE(priv);
        X509Ptr cert = read_cert(set);
        EXPECT_EQ(EVP_PKEY_eq(priv.get(), X509_get0_pubkey(cert.get())), 1);
        EXPECT_EQ(X509_check_private_key(cert.get(), priv.get()), 1);
    }
}

TEST_F(EcgostPkey, VectorSignaturesVerifyOverTheCryptoProDigest) {
    for (const char* set : kSets) {
        SCOPED_TRACE(set);
        X509Ptr cert = read_cert(set);
        const Bytes msg = test::read_file(std::string("gost3410-2001-keys/msg-") + set + ".txt");
        const Bytes sig = test::read_file(std::string("gost3410-2001-keys/sig-") + set + ".bin");
        Bytes digest(32);
        unsigned int len = 0;
        ASSERT_EQ(
            EVP_Digest(msg.data(), msg.size(), digest.data(), &len, EVP_rus_hash_cp(), nullptr), 1);
        EVP_PKEY* key = X509_get0_pubkey(cert.get());
        EXPECT_EQ(test::verify_digest(key, EVP_r3411_with_ecr3410_cp(), digest, sig), 1);
        Bytes bad = sig;
        bad[63] ^= 1;
        EXPECT_NE(test::verify_digest(key, EVP_r3411_with_ecr3410_cp(), digest, bad), 1);
    }
}

// A request signed by libcrypto's own X509_REQ_sign verifies after a DER
// round trip, for both key types.
TEST_F(EcgostPkey, RequestsSignedByLibcryptoVerify) {
    struct Case {
        int type;
        const EVP_MD* md;
        int signature;
    };
    const Case cases[] = {
        {NID_ECR3410_CP, EVP_r3411_with_ecr3410_cp(), NID_R3411_WITH_ECR3410_CP},
        {NID_ECR3410_CP, EVP_rus_hash_cp(), NID_R3411_WITH_ECR3410_CP},
        {NID_ECR3410, EVP_ecr3410_r3411(), NID_ECR3410_R3411},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        PkeyPtr key = test::generate(c.type);
        ASSERT_TRUE(key);
        ReqPtr req(X509_REQ_new());
        X509_NAME* name = X509_REQ_get_subject_name(req.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Request"), -1, -1, 0);
        ASSERT_EQ(X509_REQ_set_pubkey(req.get(), key.get()), 1);
        ASSERT_GT(X509_REQ_sign(req.get(), key.get(), c.md), 0);
        unsigned char* der = nullptr;
        const int len = i2d_X509_REQ(req.get(), &der);
        ASSERT_GT(len, 0);
        const unsigned char* p = der;
        ReqPtr back(d2i_X509_REQ(nullptr, &p, len));
        OPENSSL_free(der);
        ASSERT_TRUE(back);
        EVP_PKEY* pub = X509_REQ_get0_pubkey(back.get());
        ASSERT_NE(pub, nullptr);
        EXPECT_EQ(X509_REQ_verify(back.get(), pub), 1);
        EXPECT_EQ(X509_REQ_get_signature_nid(back.get()), OBJ_nid2openssl(c.signature));
        EXPECT_EQ(EVP_PKEY_eq(pub, key.get()), 1);
        // A digest of the other family is refused, not silently accepted.
        ReqPtr wrong(X509_REQ_new());
        X509_REQ_set_pubkey(wrong.get(), key.get());
        EXPECT_LE(X509_REQ_sign(wrong.get(), key.get(), EVP_rus_hash()), 0);
    }
    ERR_clear_error();
}

TEST_F(EcgostPkey, CryptoProSpkiCarriesTheLittleEndianPoint) {
    for (int set = NID_R3410_2001_A_PARAMSET; set <= NID_R3410_2001_XCHB_PARAMSET; ++set) {
        SCOPED_TRACE(set);
        PkeyPtr key = test::generate(NID_ECR3410_CP, set);
        ASSERT_TRUE(key);
        const Bytes der = test::spki_der(key.get());
        const unsigned char* p = der.data();
        X509_PUBKEY* spki = d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(spki, nullptr);
        const unsigned char* bits = nullptr;
        int len = 0;
        ASSERT_EQ(X509_PUBKEY_get0_param(nullptr, &bits, &len, nullptr, spki), 1);
        ASSERT_EQ(len, 66);  // OCTET STRING of 64 bytes
        EXPECT_EQ(bits[0], 0x04);
        EXPECT_EQ(bits[1], 64);
        ECGOST* k = ecgost(key.get());
        Bytes x(32), y(32);
        BN_bn2lebinpad(k->Q->x.get(), x.data(), 32);
        BN_bn2lebinpad(k->Q->y.get(), y.data(), 32);
        EXPECT_EQ(Bytes(bits + 2, bits + 34), x);
        EXPECT_EQ(Bytes(bits + 34, bits + 66), y);
        X509_PUBKEY_free(spki);

        PkeyPtr back = test::spki_key(der);
        ASSERT_TRUE(back);
        EXPECT_EQ(EVP_PKEY_eq(key.get(), back.get()), 1);
        EXPECT_EQ(ecgost(back.get())->nid, set);
    }
}

TEST_F(EcgostPkey, SpkiAndPkcs8RoundTripForBothTypes) {
    const std::pair<int, int> keys[] = {
        {NID_ECR3410_CP, NID_R3410_2001_A_PARAMSET},
        {NID_ECR3410_CP, NID_R3410_2001_C_PARAMSET},
        {NID_ECR3410, 0},
        {NID_ECR3410, NID_R3410_2001_B_PARAMSET},
    };
    for (const auto& [type, set] : keys) {
        SCOPED_TRACE(type);
        PkeyPtr key = test::generate(type, set);
        ASSERT_TRUE(key);
        PkeyPtr pub = test::spki_key(test::spki_der(key.get()));
        ASSERT_TRUE(pub);
        EXPECT_EQ(EVP_PKEY_nid(pub.get()), type);
        EXPECT_EQ(EVP_PKEY_eq(key.get(), pub.get()), 1);
        PkeyPtr priv = test::pkcs8_round_trip(key.get());
        ASSERT_TRUE(priv);
        EXPECT_EQ(EVP_PKEY_eq(key.get(), priv.get()), 1);
        const Bytes digest(32, 0x3c);
        const Bytes sig = test::sign_digest(priv.get(), nullptr, digest);
        EXPECT_EQ(sig.size(), type == NID_ECR3410_CP ? 64u : sig.size());
        if (type == NID_ECR3410) {
            EXPECT_EQ(sig[0], 0x30);
        }
        EXPECT_EQ(test::verify_digest(pub.get(), nullptr, digest, sig), 1);
    }
}

TEST_F(EcgostPkey, DigestControlWithoutAKeyIsRefused) {
    test::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(OBJ_nid2openssl(NID_ECR3410_CP), nullptr));
    ASSERT_EQ(EVP_PKEY_keygen_init(ctx.get()), 1);
    EXPECT_LE(EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_MD, 0,
                                const_cast<EVP_MD*>(EVP_rus_hash_cp())),
              0);
    EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "no-such-set"), 0);
    EXPECT_EQ(EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "CryptoPro-GostR3410-2001-B-ParamSet"),
              1);
    EVP_PKEY* k = nullptr;
    ASSERT_EQ(EVP_PKEY_keygen(ctx.get(), &k), 1);
    EXPECT_EQ(static_cast<ECGOST*>(EVP_PKEY_get0(k))->nid, NID_R3410_2001_B_PARAMSET);
    EVP_PKEY_free(k);
    ERR_clear_error();
}

TEST_F(EcgostPkey, SelfSignedCertificateByLibcryptoVerifies) {
    PkeyPtr key = test::generate(NID_ECR3410_CP);
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Self"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_r3411_with_ecr3410_cp()), 0);
    unsigned char* der = nullptr;
    const int len = i2d_X509(cert.get(), &der);
    const unsigned char* p = der;
    X509Ptr back(d2i_X509(nullptr, &p, len));
    OPENSSL_free(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(X509_verify(back.get(), X509_get0_pubkey(back.get())), 1);
}

TEST_F(EcgostPkey, TextDumpsCarryTheLabels) {
    X509Ptr cert = read_cert("A");
    BIO* out = BIO_new(BIO_s_mem());
    ASSERT_EQ(EVP_PKEY_print_public(out, X509_get0_pubkey(cert.get()), 0, nullptr), 1);
    char* text = nullptr;
    const long n = BIO_get_mem_data(out, &text);
    const std::string s(text, static_cast<size_t>(n));
    BIO_free(out);
    for (const char* label : {"pub: ", "ECGOST-Parameters: (256 bits)", "prime: ", "base: ",
                              "order: ", "Parameters OID: CryptoPro-GostR3410-2001-A-ParamSet"})
        EXPECT_NE(s.find(label), std::string::npos) << label << "\n" << s;
}

TEST_F(EcgostPkey, HostileSpkiNeverCrashes) {
    for (int type : {NID_ECR3410_CP, NID_ECR3410}) {
        PkeyPtr k = test::generate(type);
        test::survives_mutations(test::spki_der(k.get()));
    }
    X509Ptr cert = read_cert("A");
    const Bytes good = test::spki_der(X509_get0_pubkey(cert.get()));
    const Bytes point(good.end() - 66, good.end());
    // CryptoPro parameters (set A, hash set) and the 64-byte point.
    const Bytes cp_params = test::hex("301206072a85030202230106072a850302021e01");
    ASSERT_TRUE(test::spki_key(test::make_spki(NID_ECR3410_CP, cp_params, point)));
    Bytes off_curve = point;
    off_curve[10] ^= 1;
    struct Case {
        const char* name;
        Bytes params, bits;
    };
    const Case cases[] = {
        {"null parameters", test::hex("0500"), point},
        {"no parameters", {}, point},
        {"a 94 set", test::hex("301206072a85030202200206072a850302021e01"), point},
        {"an unknown set", test::hex("300a06022a0306042a030405"), point},
        {"63 bytes", cp_params,
         [&] {
             Bytes b(point.begin(), point.end() - 1);
             b[1] = 63;
             return b;
         }()},
        {"65 bytes", cp_params,
         [&] {
             Bytes b = point;
             b[1] = 65;
             b.push_back(0);
             return b;
         }()},
        {"a short octet form", cp_params, test::hex("04410401")},
        {"no key", cp_params, {}},
        {"trailing byte", cp_params,
         [&] {
             Bytes b = point;
             b.push_back(0);
             return b;
         }()},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(test::spki_key(test::make_spki(NID_ECR3410_CP, c.params, c.bits))) << c.name;
    }
    // A point off the curve decodes (decoders do not test it) but fails the
    // public-key check and every verification.
    PkeyPtr off = test::spki_key(test::make_spki(NID_ECR3410_CP, cp_params, off_curve));
    if (off) {
        EXPECT_NE(test::public_check(off.get()), 1);
    }
    EXPECT_EQ(X509_verify(cert.get(), X509_get0_pubkey(cert.get())), 1);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
