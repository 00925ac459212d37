#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <memory>
#include <string>

#include "crypto/engine/engine.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/goste.h"
#include "crypto/rus/modes.h"
#include "crypto/rus/sbox.h"
#include "tests/engine/vectors.h"

namespace cadb {
namespace {

using test::Bytes;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

class EvpDigest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(ENGINE_load_cadb(), 1); }
};

Bytes digest(const EVP_MD* md, const Bytes& msg) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), out.data(), &len, md, nullptr), 1);
    out.resize(len);
    return out;
}

// Vector files print the digest least significant byte first; the records
// write it most significant byte first.
Bytes reversed(Bytes b) {
    std::reverse(b.begin(), b.end());
    return b;
}

TEST_F(EvpDigest, CryptoProRecordsMatchTheKnownAnswers) {
    const auto records = test::read_records("gost3411-94-cryptopro.txt");
    ASSERT_GE(records.size(), 5u);
    for (const EVP_MD* md :
         {EVP_rus_hash_cp(), EVP_r3411_with_r3410_cp(), EVP_r3411_with_ecr3410_cp()}) {
        for (const auto& r : records) {
            EXPECT_EQ(digest(md, test::hex(r.at("msg"))), reversed(test::hex(r.at("digest"))))
                << EVP_MD_get0_name(md) << " " << r.at("msg").substr(0, 16);
        }
    }
}

TEST_F(EvpDigest, DefaultSetDiffersFromCryptoProAndInTheEmptyMessageRule) {
    const Bytes abc{'a', 'b', 'c'};
    EXPECT_NE(digest(EVP_rus_hash(), abc), digest(EVP_rus_hash_cp(), abc));
    EXPECT_EQ(digest(EVP_rus_hash(), abc), digest(EVP_ecr3410_r3411(), abc));
    const Bytes empty;
    EXPECT_NE(digest(EVP_rus_hash(), empty), digest(EVP_rus_hash_cp(), empty));
    // The plain record hashes one zero block for an empty message; that is
    // not the digest of 32 zero bytes (whose length block differs).
    EXPECT_NE(digest(EVP_rus_hash(), empty), digest(EVP_rus_hash(), Bytes(32, 0)));
}

TEST_F(EvpDigest, SplitAtEveryBoundaryAndCopiedMidway) {
    const auto records = test::read_records("gost3411-94-cryptopro.txt");
    const Bytes msg = test::hex(records.at(4).at("msg"));  // 50 bytes
    const Bytes want = digest(EVP_rus_hash_cp(), msg);
    for (size_t cut = 0; cut <= msg.size(); ++cut) {
        MdCtxPtr ctx(EVP_MD_CTX_new());
        ASSERT_EQ(EVP_DigestInit_ex(ctx.get(), EVP_rus_hash_cp(), nullptr), 1);
        ASSERT_EQ(EVP_DigestUpdate(ctx.get(), msg.data(), cut), 1);
        MdCtxPtr copy(EVP_MD_CTX_new());
        ASSERT_EQ(EVP_MD_CTX_copy_ex(copy.get(), ctx.get()), 1);
        for (EVP_MD_CTX* c : {ctx.get(), copy.get()}) {
            ASSERT_EQ(EVP_DigestUpdate(c, msg.data() + cut, msg.size() - cut), 1);
            Bytes out(32);
            unsigned int len = 0;
            ASSERT_EQ(EVP_DigestFinal_ex(c, out.data(), &len), 1);
            EXPECT_EQ(out, want) << "cut " << cut;
        }
    }
}

TEST_F(EvpDigest, ContextIsReusableAfterFinal) {
    const Bytes abc{'a', 'b', 'c'};
    MdCtxPtr ctx(EVP_MD_CTX_new());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(EVP_DigestInit_ex(ctx.get(), EVP_rus_hash_cp(), nullptr), 1);
        ASSERT_EQ(EVP_DigestUpdate(ctx.get(), abc.data(), abc.size()), 1);
        Bytes out(32);
        unsigned int len = 0;
        ASSERT_EQ(EVP_DigestFinal_ex(ctx.get(), out.data(), &len), 1);
        EXPECT_EQ(out, digest(EVP_rus_hash_cp(), abc));
    }
}

TEST_F(EvpDigest, MacRecordTakesItsKeyThroughTheContext) {
    const auto records = test::read_records("gost28147-mac-cryptopro-a.txt");
    ASSERT_GE(records.size(), 4u);
    for (const auto& r : records) {
        const Bytes key = test::hex(r.at("key"));
        const Bytes msg = test::hex(r.at("msg"));
        MdCtxPtr ctx(EVP_MD_CTX_new());
        ASSERT_EQ(EVP_DigestInit_ex(ctx.get(), EVP_gost_mac(), nullptr), 1);
        auto* goste = static_cast<GOSTE*>(EVP_MD_CTX_md_data(ctx.get()));
        ASSERT_EQ(GOSTE_mac_init(goste, key.data(), GOSTE_get_cp_sbox_A()), 1);
        ASSERT_EQ(EVP_DigestUpdate(ctx.get(), msg.data(), msg.size()), 1);
        Bytes out(4);
        unsigned int len = 0;
        ASSERT_EQ(EVP_DigestFinal_ex(ctx.get(), out.data(), &len), 1);
        EXPECT_EQ(len, 4u);
        EXPECT_EQ(out, test::hex(r.at("mac"))) << r.at("msg");
    }
}

struct Name {
    const char* name;
    const EVP_MD* (*record)();
};

TEST_F(EvpDigest, RecordsAreFoundByNameLongNameAndObject) {
    const Name names[] = {
        {"RUS-HASH", EVP_rus_hash},
        {"rus-hash", EVP_rus_hash},
        {"RUS-HASH-CP", EVP_rus_hash_cp},
        {"CryptoPro-GostR3411-94", EVP_rus_hash_cp},
        {"md_gost94", EVP_rus_hash_cp},
        {"ECR3410-R3411", EVP_ecr3410_r3411},
        {"ecr3410WithR3411", EVP_ecr3410_r3411},
        {"CryptoPro-GostR3411-94-with-GostR3410-2001", EVP_r3411_with_ecr3410_cp},
        {"CryptoPro-GostR3411-94-with-GostR3410-94", EVP_r3411_with_r3410_cp},
        {"CryptoPro-Gost28147-89-MAC", EVP_gost_mac},
    };
    for (const Name& n : names) EXPECT_EQ(EVP_get_digestbyname(n.name), n.record()) << n.name;
    for (const EVP_MD* md : EVP_gost_digests()) {
        // Inside the library's namespace libcrypto's look-up macros take the
        // library's numbers; the object's OID leads to the same record.
        const int nid = OBJ_openssl2nid(EVP_MD_get_type(md));
        EXPECT_EQ(EVP_get_digestbynid(nid), md);
        char oid[64];
        ASSERT_GT(OBJ_nid2oid(nid, oid, sizeof oid), 0);
        EXPECT_EQ(EVP_get_digestbynid(OBJ_txt2nid(oid)), md);
        EXPECT_EQ(::EVP_get_digestbyname(::OBJ_nid2sn(EVP_MD_get_type(md))), md);
    }
    // The unexported record of the GOST R 34.10-94 signature digest.
    const EVP_MD* r3410 = EVP_get_digestbyname("R3410-R3411");
    ASSERT_NE(r3410, nullptr);
    EXPECT_EQ(OBJ_openssl2nid(EVP_MD_get_type(r3410)), NID_R3410_R3411);
    const Bytes abc{'a', 'b', 'c'};
    EXPECT_EQ(digest(r3410, abc), digest(EVP_rus_hash(), abc));
}

TEST_F(EvpDigest, SignatureTypesFollowTheRecordTable) {
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_rus_hash()), NID_R3410_R3411);
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_rus_hash_cp()), NID_R3411_WITH_R3410_CP);
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_r3411_with_r3410_cp()), NID_R3411_WITH_R3410_CP);
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_ecr3410_r3411()), NID_ECR3410_R3411);
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_r3411_with_ecr3410_cp()), NID_R3411_WITH_ECR3410_CP);
    EXPECT_EQ(EVP_MD_gost_sign_type(EVP_gost_mac()), NID_undef);
    EXPECT_EQ(EVP_MD_get_size(EVP_gost_mac()), 4);
    EXPECT_EQ(EVP_MD_get_size(EVP_rus_hash()), 32);
    EXPECT_EQ(EVP_MD_get_block_size(EVP_rus_hash()), 32);
}

}  // namespace
}  // namespace cadb
