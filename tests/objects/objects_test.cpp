#include "crypto/core/objects.h"

#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <string>
#include <thread>
#include <vector>

namespace cadb {
namespace {

std::vector<const ObjEntry*> all_entries() {
    std::vector<const ObjEntry*> v;
    for (int nid = 0; nid <= NID_BIOMETRIC_INFO; ++nid)
        if (const ObjEntry* e = OBJ_entry(nid)) v.push_back(e);
    return v;
}

TEST(Objects, EveryEntryTranslatesAndLooksUpBothWays) {
    ASSERT_EQ(OBJ_init(), 1);
    const auto entries = all_entries();
    ASSERT_GE(entries.size(), 110u);
    for (const ObjEntry* e : entries) {
        SCOPED_TRACE(e->sn);
        EXPECT_EQ(OBJ_openssl2nid(e->openssl_nid), e->nid);
        EXPECT_EQ(OBJ_nid2openssl(e->nid), e->openssl_nid);
        EXPECT_EQ(OBJ_sn2nid(e->sn), e->nid);
        EXPECT_EQ(OBJ_ln2nid(e->ln), e->nid);
        EXPECT_EQ(OBJ_txt2nid(e->oid), e->nid);
        EXPECT_STREQ(OBJ_nid2sn(e->nid), e->sn);
        EXPECT_STREQ(OBJ_nid2ln(e->nid), e->ln);
        char buf[80];
        ASSERT_GT(OBJ_nid2oid(e->nid, buf, sizeof buf), 0);
        EXPECT_EQ(std::string(buf), e->oid);
        EXPECT_EQ(cadb::OBJ_obj2nid(OBJ_nid2obj(e->nid)), e->nid);
    }
}

TEST(Objects, NoTwoEntriesShareAnObject) {
    const auto entries = all_entries();
    for (size_t i = 0; i < entries.size(); ++i)
        for (size_t j = i + 1; j < entries.size(); ++j) {
            EXPECT_NE(entries[i]->openssl_nid, entries[j]->openssl_nid) << entries[i]->sn;
            EXPECT_STRNE(entries[i]->oid, entries[j]->oid);
        }
}

TEST(Objects, EnterpriseArcCarriesTheOwnAlgorithms) {
    const std::string arc = OBJ_ENTERPRISE_ARC;
    EXPECT_EQ(std::string(OBJ_entry(NID_HALBERD)->oid), arc);
    EXPECT_EQ(std::string(OBJ_entry(NID_RUS_CHANGE)->oid), arc + ".1.1.1");
    EXPECT_EQ(std::string(OBJ_entry(NID_RUS_HASH)->oid), arc + ".1.2.1");
    EXPECT_EQ(std::string(OBJ_entry(NID_ECR3410)->oid), arc + ".1.6.2");
    EXPECT_EQ(std::string(OBJ_entry(NID_SIGNATURE_COMMENT)->oid), arc + ".2.3.1");
}

TEST(Objects, KnownOidsReuseLibcryptoObjects) {
    EXPECT_EQ(OBJ_nid2openssl(NID_ECR3410_CP), NID_id_GostR3410_2001);
    EXPECT_EQ(OBJ_nid2openssl(NID_R3410_CP), NID_id_GostR3410_94);
    EXPECT_EQ(OBJ_nid2openssl(NID_RUS_HASH_CP), NID_id_GostR3411_94);
    EXPECT_EQ(OBJ_nid2openssl(NID_R3411_WITH_ECR3410_CP), NID_id_GostR3411_94_with_GostR3410_2001);
    EXPECT_EQ(OBJ_nid2openssl(NID_PRIME256V1), NID_X9_62_prime256v1);
    EXPECT_EQ(OBJ_nid2openssl(NID_AUTHORITY_INFO_ACCESS), NID_info_access);
    EXPECT_EQ(OBJ_nid2openssl(NID_CMC_TRANSACTION_ID), NID_id_cmc_transactionId);
    EXPECT_EQ(OBJ_nid2openssl(NID_RU_INN), NID_INN);
    // The library's 177 is its GOST R 34.10-94 key; libcrypto's is the
    // access extension: the numbers must never be mixed up.
    EXPECT_NE(OBJ_nid2openssl(NID_R3410), NID_R3410);
    EXPECT_EQ(OBJ_openssl2nid(NID_info_access), NID_AUTHORITY_INFO_ACCESS);
}

TEST(Objects, SharedRangeAndForeignNumbers) {
    EXPECT_EQ(OBJ_nid2openssl(NID_undef), NID_undef);
    EXPECT_EQ(OBJ_openssl2nid(NID_undef), NID_undef);
    EXPECT_EQ(OBJ_nid2openssl(NID_rsaEncryption), NID_rsaEncryption);
    EXPECT_EQ(OBJ_openssl2nid(NID_dsa), NID_dsa);
    EXPECT_EQ(OBJ_nid2openssl(NID_commonName), NID_commonName);
    // An object only libcrypto knows keeps a number of its own, both ways.
    const int sha256 = OBJ_openssl2nid(NID_sha256);
    EXPECT_EQ(sha256, OBJ_FOREIGN_NID_BASE + NID_sha256);
    EXPECT_EQ(OBJ_nid2openssl(sha256), NID_sha256);
    EXPECT_STREQ(OBJ_nid2sn(sha256), "SHA256");
    EXPECT_EQ(OBJ_txt2nid("2.16.840.1.101.3.4.2.1"), sha256);
    // Numbers above the shared range that the registry does not hold.
    EXPECT_EQ(OBJ_nid2openssl(184), NID_undef);
    EXPECT_EQ(OBJ_nid2sn(184), nullptr);
    EXPECT_EQ(OBJ_nid2obj(184), nullptr);
    EXPECT_EQ(OBJ_openssl2nid(999999), NID_undef);
    EXPECT_EQ(OBJ_nid2openssl(-5), NID_undef);
}

TEST(Objects, NamesOfReusedObjectsResolveThroughLibcryptoToo) {
    EXPECT_EQ(OBJ_sn2nid("gost2001"), NID_ECR3410_CP);
    EXPECT_EQ(OBJ_txt2nid("1.2.643.2.2.19"), NID_ECR3410_CP);
    EXPECT_EQ(OBJ_txt2nid("CryptoPro-GostR3410-2001"), NID_ECR3410_CP);
    EXPECT_EQ(OBJ_txt2nid("rus-hash"), NID_RUS_HASH);
    EXPECT_EQ(OBJ_txt2nid("no-such-object"), NID_undef);
    EXPECT_EQ(OBJ_txt2nid(nullptr), NID_undef);
    EXPECT_EQ(OBJ_sn2nid(nullptr), NID_undef);
    EXPECT_EQ(cadb::OBJ_obj2nid(nullptr), NID_undef);
    char small[4];
    EXPECT_GT(OBJ_nid2oid(NID_ECR3410_CP, small, sizeof small), 3);
    EXPECT_EQ(OBJ_nid2oid(184, small, sizeof small), -1);
}

TEST(Objects, LookupsFromManyThreadsAgree) {
    std::vector<std::thread> threads;
    std::vector<int> results(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&results, i] {
            int sum = 0;
            for (int n = 0; n < 200; ++n) sum += OBJ_txt2nid("RUS-GAMMAR-CP") == NID_RUS_GAMMAR_CP;
            results[i] = sum;
        });
    for (auto& t : threads) t.join();
    for (int r : results) EXPECT_EQ(r, 200);
}

}  // namespace
}  // namespace cadb
