#include "crypto/engine/engine.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"
#include "tests/engine/vectors.h"

namespace cadb {
namespace {

using test::Bytes;

Bytes digest_of(const Bytes& msg) {
    Bytes out(32);
    unsigned int len = 0;
    if (EVP_Digest(msg.data(), msg.size(), out.data(), &len, EVP_get_digestbyname("RUS-HASH-CP"),
                   nullptr) != 1)
        out.clear();
    return out;
}

bool verify_certificate(const Bytes& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    const bool ok = cert != nullptr && X509_verify(cert, X509_get0_pubkey(cert)) == 1;
    X509_free(cert);
    return ok;
}

TEST(Engine, IsTheDefaultForEverythingItOffers) {
    ASSERT_EQ(ENGINE_load_cadb(), 1);
    ENGINE* e = ENGINE_get_cadb();
    ASSERT_NE(e, nullptr);
    ENGINE* by_id = ENGINE_by_id("cadb");
    EXPECT_EQ(by_id, e);
    ENGINE_free(by_id);
    const std::pair<ENGINE* (*)(int), int> defaults[] = {
        {ENGINE_get_digest_engine, NID_RUS_HASH_CP},
        {ENGINE_get_cipher_engine, NID_RUS_GAMMAR_CP},
        {ENGINE_get_pkey_meth_engine, NID_ECR3410_CP},
        {ENGINE_get_pkey_asn1_meth_engine, NID_R3410},
    };
    for (const auto& [get, nid] : defaults) {
        ENGINE* found = get(OBJ_nid2openssl(nid));
        EXPECT_EQ(found, e) << nid;
        if (found != nullptr) ENGINE_finish(found);
    }
    // Loading again changes nothing.
    EXPECT_EQ(ENGINE_load_cadb(), 1);
    EXPECT_EQ(ENGINE_get_cadb(), e);
}

// Eight threads make the first load at once; 0 when all of them got the
// engine and the same digest.
int load_from_threads() {
    const Bytes msg{'a', 'b', 'c'};
    std::atomic<int> good{0};
    std::vector<Bytes> digests(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            if (ENGINE_load_cadb() == 1 && EVP_get_cipherbyname("rus-cfb") != nullptr) {
                digests[i] = digest_of(msg);
                ++good;
            }
        });
    for (auto& t : threads) t.join();
    bool same = true;
    for (const Bytes& d : digests) same = same && d == digests[0] && d.size() == 32;
    return good == 8 && same ? 0 : 1;
}

// In a fresh process, where nothing has loaded the engine yet.
TEST(EngineDeathTest, ConcurrentFirstLoadAgrees) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(load_from_threads()), ::testing::ExitedWithCode(0), "");
}

TEST(Engine, ThreadsVerifyAndHashTogether) {
    ASSERT_EQ(ENGINE_load_cadb(), 1);
    std::vector<Bytes> certs;
    for (const char* set : {"A", "B", "C", "XA", "XB"})
        certs.push_back(test::read_file(std::string("gost3410-2001-keys/cert-") + set + ".pem"));
    const Bytes msg(1000, 0x61);
    const Bytes want = digest_of(msg);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 10; ++round) {
                if (!verify_certificate(certs[(i + round) % certs.size()])) ++failures;
                if (digest_of(msg) != want) ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace cadb
