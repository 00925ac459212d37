// Known answers: the block cipher with a published S-box set, meshed CFB and
// CBC with the CryptoPro A set, and the MAC.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/rus/modes.h"
#include "tests/rus/vectors.h"

namespace cadb {
namespace {

using testing::read_records;
using testing::unhex;
using Bytes = std::vector<unsigned char>;

Bytes cfb_meshed(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt,
                 const std::vector<long>& pieces) {
    GOSTE ctx;
    EXPECT_EQ(GOSTE_gamma_fb_cp_init(&ctx, key.data(), iv.data(), GOSTE_get_cp_sbox_A()), 1);
    Bytes out(data.size());
    long off = 0;
    for (long n : pieces) {
        long r = encrypt ? GOSTE_gamma_fbe_process(&ctx, data.data() + off, out.data() + off, n)
                         : GOSTE_gamma_fbd_process(&ctx, data.data() + off, out.data() + off, n);
        EXPECT_EQ(r, n);
        off += n;
    }
    return out;
}

// The published answer of the 64-bit block cipher of GOST R 34.12-2015, which
// is GOST 28147-89 with a fixed S-box set; its numbers are big-endian, the
// cipher's words little-endian.
TEST(CipherVectors, BlockCipherPublishedAnswer) {
    auto records = read_records("gost28147-tc26-z.txt");
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    unsigned char sbox[64];
    for (int j = 0; j < 8; ++j) {
        const std::string row = r.at("pi" + std::to_string(j));
        for (int x = 0; x < 16; ++x) {
            const unsigned v = static_cast<unsigned>(std::stoi(row.substr(x, 1), nullptr, 16));
            unsigned char& cell = sbox[4 * x + j / 2];
            cell = static_cast<unsigned char>(j % 2 ? (cell & 0x0F) | v << 4 : v);
        }
    }
    Bytes big_key = unhex(r.at("key")), key(32);
    for (int i = 0; i < 32; ++i) key[i] = big_key[4 * (i / 4) + 3 - i % 4];
    Bytes plain = unhex(r.at("plain")), cipher = unhex(r.at("cipher"));
    std::reverse(plain.begin(), plain.end());
    std::reverse(cipher.begin(), cipher.end());

    GOSTE ctx;
    ASSERT_EQ(GOSTE_ss_init(&ctx, 1, key.data(), sbox), 1);
    EXPECT_NE(ctx.own_table, nullptr);  // not a built-in set: a private table
    Bytes out(8);
    ASSERT_EQ(GOSTE_ss_process(&ctx, plain.data(), out.data(), 8), 8);
    EXPECT_EQ(out, cipher);
    ASSERT_EQ(GOSTE_ss_init(&ctx, 0, key.data(), sbox), 1);
    ASSERT_EQ(GOSTE_ss_process(&ctx, out.data(), nullptr, 8), 8);
    EXPECT_EQ(out, plain);
}

// Answers of an independent implementation with the CryptoPro A set.
TEST(CipherVectors, MeshedCfbWholeAndSplit) {
    auto records = read_records("gost28147-cryptopro-a.txt");
    int seen = 0;
    for (const auto& r : records) {
        if (r.at("mode") != "cfb-meshed") continue;
        ++seen;
        Bytes key = unhex(r.at("key")), iv = unhex(r.at("iv"));
        Bytes plain = unhex(r.at("plain")), cipher = unhex(r.at("cipher"));
        const long n = static_cast<long>(plain.size());
        EXPECT_EQ(cfb_meshed(key, iv, plain, true, {n}), cipher) << n;
        EXPECT_EQ(cfb_meshed(key, iv, cipher, false, {n}), plain) << n;
        // Pieces that straddle the meshing boundaries.
        for (long cut : {1L, 7L, 8L, 13L, 1000L, 1023L, 1024L, 1025L}) {
            if (cut >= n) continue;
            EXPECT_EQ(cfb_meshed(key, iv, plain, true, {cut, n - cut}), cipher) << n << "/" << cut;
            EXPECT_EQ(cfb_meshed(key, iv, cipher, false, {cut, n - cut}), plain) << n << "/" << cut;
        }
        // In place, both ways; the default set of the process is CryptoPro A.
        GOSTE ctx;
        ASSERT_EQ(GOSTE_gamma_fb_cp_init(&ctx, key.data(), iv.data(), nullptr), 1);
        Bytes buf = plain;
        EXPECT_EQ(GOSTE_gamma_fbe_process(&ctx, buf.data(), buf.data(), n), n);
        EXPECT_EQ(buf, cipher);
        // Inits set only what they name: a fresh context, not a used one.
        GOSTE back;
        ASSERT_EQ(GOSTE_gamma_fb_cp_init(&back, key.data(), iv.data(), nullptr), 1);
        EXPECT_EQ(GOSTE_gamma_fbd_process(&back, buf.data(), buf.data(), n), n);
        EXPECT_EQ(buf, plain);
    }
    EXPECT_EQ(seen, 5);
}

TEST(CipherVectors, Cbc) {
    int seen = 0;
    for (const auto& r : read_records("gost28147-cryptopro-a.txt")) {
        if (r.at("mode") != "cbc") continue;
        ++seen;
        Bytes key = unhex(r.at("key")), iv = unhex(r.at("iv"));
        Bytes plain = unhex(r.at("plain")), cipher = unhex(r.at("cipher"));
        for (int direction : {1, 0}) {
            GOSTE ctx;
            ctx.mode = GOSTE_MODE_CBC;
            ASSERT_EQ(GOSTE_ss_init(&ctx, direction, key.data(), GOSTE_get_cp_sbox_A()), 1);
            ctx.N1 = iv[0] | iv[1] << 8 | iv[2] << 16 | unsigned(iv[3]) << 24;
            ctx.N2 = iv[4] | iv[5] << 8 | iv[6] << 16 | unsigned(iv[7]) << 24;
            const Bytes& in = direction ? plain : cipher;
            Bytes out(in.size());
            // Two calls: the chaining value carries over.
            const long half = static_cast<long>(in.size() / 16 * 8);
            if (half > 0) {
                ASSERT_EQ(GOSTE_process(&ctx, in.data(), out.data(), half), half);
            }
            const long rest = static_cast<long>(in.size()) - half;
            ASSERT_EQ(GOSTE_process(&ctx, in.data() + half, out.data() + half, rest), rest);
            EXPECT_EQ(out, direction ? cipher : plain);
        }
    }
    EXPECT_EQ(seen, 3);
}

TEST(CipherVectors, MacWholeAndAtEveryBoundary) {
    int seen = 0;
    for (const auto& r : read_records("gost28147-mac-cryptopro-a.txt")) {
        ++seen;
        Bytes key = unhex(r.at("key")), msg = unhex(r.at("msg")), mac = unhex(r.at("mac"));
        unsigned char out[4] = {};
        ASSERT_EQ(GOSTE_mac(nullptr, msg.data(), static_cast<long>(msg.size()), key.data(),
                            GOSTE_get_cp_sbox_A(), out),
                  out);
        EXPECT_EQ(Bytes(out, out + 4), mac);
        const long n = static_cast<long>(msg.size());
        for (long cut = 1; cut < n; cut += (n > 64 ? 37 : 1)) {
            GOSTE ctx;
            ASSERT_EQ(GOSTE_mac_init(&ctx, key.data(), GOSTE_get_cp_sbox_A()), 1);
            ASSERT_EQ(GOSTE_mac_process(&ctx, msg.data(), cut), cut);
            ASSERT_EQ(GOSTE_mac_process(&ctx, msg.data() + cut, n - cut), n - cut);
            unsigned char split[4];
            ASSERT_EQ(GOSTE_mac_final(&ctx, split, 32), 4);
            EXPECT_EQ(Bytes(split, split + 4), mac) << cut;
        }
    }
    EXPECT_EQ(seen, 6);
}

}  // namespace
}  // namespace cadb
