// Keys whose public point is the base point or its negative, exchanged with
// an independent peer: the openssl command with its GOST engine, run as a
// child process (never loaded here). On the CryptoPro C and XchB sets the
// base point has x = 0, so these keys are where a coordinate of zero meets
// signatures and agreement.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/rus/evp_gost.h"
#include "tests/support/peer_dir.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;
using KeyPtr = std::unique_ptr<ECGOST, decltype(&ECGOST_free)>;
using DhPtr = std::unique_ptr<ECDH, decltype(&ECDH_free)>;

struct Set {
    const char* name;
    int code;
    unsigned char paramset_oid[7];  // content octets of the set's OID
};
const Set kSets[] = {
    {"C", ECURVE_CODE_CRYPTOPRO_C, {0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x03}},
    {"XchB", ECURVE_CODE_CRYPTOPRO_XCHB, {0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x01}},
};

// The common interchange form of a CryptoPro private key, as the peer reads
// it: PrivateKeyInfo with GOST R 34.10-2001 and the set's parameters, the
// private octets being d in 32 bytes, least significant first.
Bytes private_key_info(const Set& set, const BIGNUM* d) {
    Bytes der = {0x30, 0x43, 0x02, 0x01, 0x00, 0x30, 0x1C, 0x06, 0x06, 0x2A,
                 0x85, 0x03, 0x02, 0x02, 0x13, 0x30, 0x12, 0x06, 0x07};
    der.insert(der.end(), std::begin(set.paramset_oid), std::end(set.paramset_oid));
    const unsigned char tail[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01, 0x04, 0x20};
    der.insert(der.end(), std::begin(tail), std::end(tail));
    Bytes le(32);
    EXPECT_EQ(BN_bn2lebinpad(d, le.data(), 32), 32);
    der.insert(der.end(), le.begin(), le.end());
    return der;
}

class PeerEdgeKeys : public ::testing::Test, protected test::PeerDir {
  protected:
    void SetUp() override {
        if (!test::peer_has_gost_engine()) GTEST_SKIP() << "the openssl command has no gost engine";
        make_dir("cadb-ecgost-peer");
    }
    void TearDown() override { remove_dir(); }

    // The openssl command with the GOST engine; true on exit status 0.
    bool peer(const std::string& args) const {
        const std::string cmd = "cd " + dir_.string() + " && openssl " + args + " >log 2>&1";
        return std::system(cmd.c_str()) == 0;
    }

    // The key of d, written for the peer as name.pem, its public key as
    // name.pub (the peer reads a peer key only in that form).
    void write_key(const std::string& name, const Set& set, const ECGOST* key) {
        BnPtr d(ECGOST_get_private(key));
        ASSERT_TRUE(d);
        const Bytes der = private_key_info(set, d.get());
        BN_clear(d.get());
        FILE* f = std::fopen(path(name + ".pem").c_str(), "w");
        ASSERT_NE(f, nullptr);
        const int written =
            PEM_write(f, "PRIVATE KEY", "", der.data(), static_cast<long>(der.size()));
        std::fclose(f);
        ASSERT_GT(written, 0);
        ASSERT_TRUE(peer("pkey -engine gost -in " + name + ".pem -pubout -out " + name + ".pub"))
            << log();
    }
};

Bytes digest_of(const Bytes& msg) {
    Bytes out(32);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), out.data(), &len, EVP_rus_hash_cp(), nullptr), 1);
    return out;
}

// The key-encryption key of VKO here: the GOST R 34.11-94 hash of the
// agreed point, x then y little-endian; the peer writes the hash's bytes
// in the reverse order.
Bytes kek_here(ECGOST* own, const ECGOST* peer, const unsigned char ukm[8]) {
    DhPtr dh(ECGOST_dup_ECDH(own), ECDH_free);
    unsigned char be[8];
    std::reverse_copy(ukm, ukm + 8, be);
    BnPtr u(BN_bin2bn(be, 8, nullptr));
    EcPointPtr k(dh && u ? ECDH_compute_vko(peer->Q.get(), u.get(), dh.get()) : nullptr);
    if (!k) return {};
    Bytes agreed(64);
    if (ECPOINT_point2le(k.get(), agreed.data(), agreed.size()) != agreed.size()) return {};
    Bytes kek = digest_of(agreed);
    std::reverse(kek.begin(), kek.end());
    return kek;
}

// The shared x of plain agreement here, own private number times the
// peer's point.
BnPtr shared_x(ECGOST* own, const ECGOST* peer) {
    DhPtr dh(ECGOST_dup_ECDH(own), ECDH_free);
    if (!dh || ECDH_compute_key(peer->Q.get(), dh.get()) != 1) return nullptr;
    return BnPtr(ECDH_get_result(dh.get()));
}

// d = 1 and d = q - 1 make the public points P and -P, both with x = 0:
// signatures made on either side verify on the other, and agreement with a
// fresh key gives one key-encryption key on both sides and both ways.
TEST_F(PeerEdgeKeys, BasePointKeysSignAndAgreeWithThePeer) {
    const Bytes msg = {'e', 'd', 'g', 'e', ' ', 'k', 'e', 'y'};
    write("msg", msg);
    const Bytes dgst = digest_of(msg);
    const unsigned char ukm[8] = {0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xA7};
    const std::string ukm_hex = "5A010203040506A7";
    for (const Set& set : kSets) {
        EcCurvePtr c(ECURVE_new_by_code(set.code));
        ASSERT_TRUE(c);
        BnPtr q_minus_1(BN_dup(c->q.get()));
        BN_sub_word(q_minus_1.get(), 1);
        KeyPtr other(ECGOST_new_by_curve(c.get()), ECGOST_free);
        ASSERT_TRUE(other);
        ASSERT_EQ(ECGOST_key_pair_generation(other.get()), 1);
        write_key("other", set, other.get());
        for (const BIGNUM* d : {BN_value_one(), static_cast<const BIGNUM*>(q_minus_1.get())}) {
            SCOPED_TRACE(std::string(set.name) + (BN_is_one(d) ? " d = 1" : " d = q - 1"));
            KeyPtr edge(ECGOST_new_by_curve(c.get()), ECGOST_free);
            ASSERT_TRUE(edge);
            ASSERT_EQ(ECGOST_set_private(edge.get(), d), 1);
            ASSERT_EQ(ECGOST_generate_pubkey(edge.get()), 1);
            EcPointPtr affine(ECPOINT_dup(edge->Q.get()));
            ASSERT_TRUE(affine && ECPOINT_to_affine(affine.get()));
            ASSERT_TRUE(BN_is_zero(affine->x.get()));
            write_key("edge", set, edge.get());

            // Signed here, verified there; signed there, verified here.
            Bytes sig(64);
            std::size_t sig_len = sig.size();
            ASSERT_EQ(ECGOST_sign(NID_R3411_WITH_ECR3410_CP, dgst.data(), dgst.size(), sig.data(),
                                  &sig_len, edge.get()),
                      1);
            EXPECT_EQ(ECGOST_verify(NID_R3411_WITH_ECR3410_CP, dgst.data(), dgst.size(), sig.data(),
                                    sig_len, edge.get()),
                      1);
            write("sig-here", sig);
            const std::string dgst_cmd = "dgst -engine gost -md_gost94 ";
            EXPECT_TRUE(peer(dgst_cmd + "-prverify edge.pem -signature sig-here msg")) << log();
            ASSERT_TRUE(peer(dgst_cmd + "-sign edge.pem -out sig-there msg")) << log();
            const Bytes there = read("sig-there");
            EXPECT_EQ(ECGOST_verify(NID_R3411_WITH_ECR3410_CP, dgst.data(), dgst.size(),
                                    there.data(), there.size(), edge.get()),
                      1);

            // VKO both ways, on both sides.
            const std::string derive = "pkeyutl -engine gost -derive -pkeyopt ukmhex:" + ukm_hex;
            ASSERT_TRUE(peer(derive + " -inkey edge.pem -peerkey other.pub -out kek-edge"))
                << log();
            ASSERT_TRUE(peer(derive + " -inkey other.pem -peerkey edge.pub -out kek-other"))
                << log();
            const Bytes kek = read("kek-edge");
            ASSERT_EQ(kek.size(), 32u);
            EXPECT_EQ(read("kek-other"), kek);
            EXPECT_EQ(kek_here(edge.get(), other.get(), ukm), kek);
            EXPECT_EQ(kek_here(other.get(), edge.get(), ukm), kek);

            // Plain agreement both ways here.
            BnPtr from_edge = shared_x(edge.get(), other.get());
            BnPtr from_other = shared_x(other.get(), edge.get());
            ASSERT_TRUE(from_edge && from_other);
            EXPECT_EQ(BN_cmp(from_edge.get(), from_other.get()), 0);
        }
    }
}

}  // namespace
}  // namespace cadb
