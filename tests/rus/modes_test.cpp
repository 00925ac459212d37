// Mode behaviour: splitting, counters, MAC lengths, meshing, round trips.
#include "crypto/rus/modes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rus/cipher_rounds.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(seed * 131 + i * 29 + (i >> 7));
    return b;
}

const Bytes kKey = pattern(32, 3);
const Bytes kIv = pattern(8, 5);

enum class Mode { Counter, CfbEncrypt, CfbDecrypt, MeshedCfbEncrypt };

void init(GOSTE& ctx, Mode m, const unsigned char* sbox = nullptr) {
    switch (m) {
        case Mode::Counter:
            ASSERT_EQ(GOSTE_gamma_init(&ctx, kKey.data(), kIv.data(), sbox), 1);
            break;
        case Mode::CfbEncrypt:
        case Mode::CfbDecrypt:
            ASSERT_EQ(GOSTE_gamma_fb_init(&ctx, kKey.data(), kIv.data(), sbox), 1);
            ctx.direction = m == Mode::CfbEncrypt;
            break;
        case Mode::MeshedCfbEncrypt:
            ASSERT_EQ(GOSTE_gamma_fb_cp_init(&ctx, kKey.data(), kIv.data(), sbox), 1);
            ctx.direction = 1;
            break;
    }
}

Bytes run(Mode m, const Bytes& in, const std::vector<long>& pieces) {
    GOSTE ctx;
    init(ctx, m);
    Bytes out(in.size());
    long off = 0;
    for (long n : pieces) {
        EXPECT_EQ(GOSTE_process(&ctx, in.data() + off, out.data() + off, n), n);
        off += n;
    }
    return out;
}

TEST(Modes, SplitAtEveryBoundaryMatchesOneCall) {
    const Bytes data = pattern(77, 11);
    const long n = static_cast<long>(data.size());
    for (Mode m : {Mode::Counter, Mode::CfbEncrypt, Mode::CfbDecrypt}) {
        const Bytes whole = run(m, data, {n});
        for (long cut = 1; cut < n; ++cut) EXPECT_EQ(run(m, data, {cut, n - cut}), whole) << cut;
        // Three pieces, every byte alone.
        EXPECT_EQ(run(m, data, std::vector<long>(n, 1)), whole);
        EXPECT_EQ(run(m, data, {3, 10, n - 13}), whole);
    }
}

TEST(Modes, RoundTrips) {
    for (std::size_t n : {1u, 7u, 8u, 9u, 31u, 32u, 33u, 1000u, 4099u}) {
        const Bytes plain = pattern(n, static_cast<unsigned>(n));
        const long len = static_cast<long>(n);
        EXPECT_EQ(run(Mode::Counter, run(Mode::Counter, plain, {len}), {len}), plain);
        EXPECT_EQ(run(Mode::CfbDecrypt, run(Mode::CfbEncrypt, plain, {len}), {len}), plain);

        // CBC and ECB in whole blocks, in place.
        const std::size_t padded = (n + 7) / 8 * 8;
        for (std::uint32_t mode : {GOSTE_MODE_ECB, GOSTE_MODE_CBC}) {
            Bytes buf = plain;
            buf.resize(padded, 0);
            const Bytes original = buf;
            for (int direction : {1, 0}) {
                GOSTE ctx;
                ctx.mode = mode;
                ASSERT_EQ(GOSTE_ss_init(&ctx, direction, kKey.data(), GOSTE_get_cp_sbox_B()), 1);
                ctx.N1 = 0x01234567;
                ctx.N2 = 0x89ABCDEF;
                ASSERT_EQ(GOSTE_process(&ctx, buf.data(), nullptr, len), static_cast<long>(padded));
                if (direction) {
                    EXPECT_NE(buf, original);
                }
            }
            EXPECT_EQ(buf, original) << n << " mode " << mode;
        }
    }
}

TEST(Modes, CbcChainsThroughTheRegister) {
    // The first CBC block is the ECB encryption of the block XOR the IV.
    const Bytes block = pattern(16, 9);
    GOSTE cbc;
    cbc.mode = GOSTE_MODE_CBC;
    ASSERT_EQ(GOSTE_ss_init(&cbc, 1, kKey.data(), nullptr), 1);
    cbc.N1 = gost::load32(kIv.data());
    cbc.N2 = gost::load32(kIv.data() + 4);
    Bytes c(16);
    ASSERT_EQ(GOSTE_process(&cbc, block.data(), c.data(), 16), 16);

    Bytes x(16);
    for (int i = 0; i < 8; ++i) x[i] = block[i] ^ kIv[i];
    GOSTE ecb;
    ASSERT_EQ(GOSTE_ss_init(&ecb, 1, kKey.data(), nullptr), 1);
    ASSERT_EQ(GOSTE_ss_process(&ecb, x.data(), nullptr, 8), 8);
    EXPECT_TRUE(std::equal(c.begin(), c.begin() + 8, x.begin()));
    for (int i = 0; i < 8; ++i) x[8 + i] = block[8 + i] ^ c[i];
    ASSERT_EQ(GOSTE_ss_process(&ecb, x.data() + 8, nullptr, 8), 8);
    EXPECT_TRUE(std::equal(c.begin() + 8, c.end(), x.begin() + 8));
}

TEST(Modes, EcbHandlesWholeBlocks) {
    Bytes buf = pattern(16, 1);
    GOSTE ctx;
    ASSERT_EQ(GOSTE_ss_init(&ctx, 1, kKey.data(), nullptr), 1);
    EXPECT_EQ(GOSTE_ss_process(&ctx, buf.data(), nullptr, 10), 16);
    // Out of place, only len bytes of the input are read.
    Bytes in = pattern(10, 2), out(16, 0);
    EXPECT_EQ(GOSTE_ss_process(&ctx, in.data(), out.data(), 10), 16);
}

TEST(Modes, CounterAgreesWithTheBlockCipher) {
    // Gamma block i is E(N3, N4) after i steps of the counters, which start
    // from E(IV).
    GOSTE ecb;
    ASSERT_EQ(GOSTE_ss_init(&ecb, 1, kKey.data(), nullptr), 1);
    Bytes s = kIv;
    ASSERT_EQ(GOSTE_ss_process(&ecb, s.data(), nullptr, 8), 8);
    std::uint32_t n3 = gost::load32(s.data()), n4 = gost::load32(s.data() + 4);
    Bytes expected;
    for (int i = 0; i < 6; ++i) {
        n3 += 0x01010101;
        n4 = static_cast<std::uint32_t>((std::uint64_t(n4) + 0x01010104) % 0xFFFFFFFFu);
        Bytes g(8);
        gost::store32(g.data(), n3);
        gost::store32(g.data() + 4, n4);
        ASSERT_EQ(GOSTE_ss_process(&ecb, g.data(), nullptr, 8), 8);
        expected.insert(expected.end(), g.begin(), g.end());
    }
    const Bytes zeros(48, 0);
    EXPECT_EQ(run(Mode::Counter, zeros, {48}), expected);
    EXPECT_EQ(run(Mode::Counter, zeros, {5, 40, 3}), expected);
}

TEST(Modes, CounterSecondWordWrapsModuloTwoToThe32MinusOne) {
    for (bool whole_block : {false, true}) {
        for (auto [before, after] : {std::pair<std::uint32_t, std::uint32_t>{0xFEFEFEFCu, 1u},
                                     {0xFEFEFEFBu, 0xFFFFFFFFu}}) {
            GOSTE ctx;
            init(ctx, Mode::Counter);
            ctx.position = 0;  // gamma block used up: the next byte steps
            ctx.N4 = before;
            Bytes data(whole_block ? 8 : 1, 0);
            ASSERT_EQ(
                GOSTE_gamma_update(&ctx, data.data(), nullptr, static_cast<long>(data.size())),
                static_cast<long>(data.size()));
            EXPECT_EQ(ctx.N4, after);
        }
    }
}

TEST(Modes, MacLengths) {
    const Bytes msg = pattern(21, 4);
    unsigned char full[4];
    ASSERT_NE(GOSTE_mac(nullptr, msg.data(), 21, kKey.data(), nullptr, full), nullptr);
    const std::uint32_t mac = gost::load32(full);
    for (int nbits : {0, 12, 32, 40, 33, -1, 8, 1}) {
        GOSTE ctx;
        ASSERT_EQ(GOSTE_mac_init(&ctx, kKey.data(), nullptr), 1);
        ASSERT_EQ(GOSTE_mac_process(&ctx, msg.data(), 21), 21);
        unsigned char out[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        const int bits = (nbits < 1 || nbits > 32) ? 32 : nbits;
        const int n = (bits + 7) / 8;
        ASSERT_EQ(GOSTE_mac_final(&ctx, out, nbits), n);
        std::uint32_t got = 0;
        for (int i = 0; i < n; ++i) got |= std::uint32_t(out[i]) << (8 * i);
        EXPECT_EQ(got, mac >> (32 - bits)) << nbits;
        EXPECT_EQ(out[n], 0xEE);  // nothing written past n bytes
    }
}

TEST(Modes, ShortMacEqualsMacWithAZeroBlockAppended) {
    for (std::size_t n = 1; n <= 8; ++n) {
        Bytes msg = pattern(n, 7);
        unsigned char a[4], b[4];
        ASSERT_NE(GOSTE_mac(nullptr, msg.data(), static_cast<long>(n), kKey.data(), nullptr, a),
                  nullptr);
        msg.resize(n + 8, 0);
        ASSERT_NE(GOSTE_mac(nullptr, msg.data(), static_cast<long>(n + 8), kKey.data(), nullptr, b),
                  nullptr);
        EXPECT_EQ(std::memcmp(a, b, 4), 0) << n;
    }
    // Without an output buffer the result lands in the thread's own buffer.
    const Bytes msg = pattern(9, 1);
    unsigned char* r = GOSTE_mac(nullptr, msg.data(), 9, kKey.data(), nullptr, nullptr);
    ASSERT_NE(r, nullptr);
}

TEST(Modes, MeshingAcrossKilobyteBoundaries) {
    const Bytes data = pattern(3 * 1024 + 100, 8);
    const long n = static_cast<long>(data.size());
    const Bytes whole = run(Mode::MeshedCfbEncrypt, data, {n});
    EXPECT_EQ(run(Mode::MeshedCfbEncrypt, data, {1000, 24, n - 1024}), whole);
    EXPECT_EQ(run(Mode::MeshedCfbEncrypt, data, {1023, 2, 1023, n - 2048}), whole);
    EXPECT_EQ(run(Mode::MeshedCfbEncrypt, data, {1024, 1024, 1024, n - 3072}), whole);
    // Without meshing the output differs from the second kilobyte on.
    GOSTE unmeshed;
    init(unmeshed, Mode::CfbEncrypt, GOSTE_get_cp_sbox_A());
    Bytes plain_cfb(data.size());
    ASSERT_EQ(GOSTE_process(&unmeshed, data.data(), plain_cfb.data(), n), n);
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 1024, plain_cfb.begin()));
    EXPECT_FALSE(std::equal(whole.begin() + 1024, whole.begin() + 1032, plain_cfb.begin() + 1024));

    // 1,024 bytes in one call and in 1,000 + 24 both end with a meshed key.
    GOSTE one, two;
    init(one, Mode::MeshedCfbEncrypt);
    init(two, Mode::MeshedCfbEncrypt);
    Bytes a(1024), b(1024);
    ASSERT_EQ(GOSTE_process(&one, data.data(), a.data(), 1024), 1024);
    ASSERT_EQ(GOSTE_process(&two, data.data(), b.data(), 1000), 1000);
    ASSERT_EQ(GOSTE_process(&two, data.data() + 1000, b.data() + 1000, 24), 24);
    EXPECT_EQ(one.mesh_count, 0);
    EXPECT_EQ(two.mesh_count, 0);
    ASSERT_EQ(PSE_key32_unmask(&one.key), 1);
    ASSERT_EQ(PSE_key32_unmask(&two.key), 1);
    EXPECT_EQ(std::memcmp(one.key.key, two.key.key, 32), 0);
    EXPECT_NE(std::memcmp(one.key.key, kKey.data(), 32), 0);

    // Round trip through the meshed decryption.
    GOSTE dec;
    ASSERT_EQ(GOSTE_gamma_fb_cp_init(&dec, kKey.data(), kIv.data(), nullptr), 1);
    Bytes back(whole.size());
    ASSERT_EQ(GOSTE_gamma_fbd_process(&dec, whole.data(), back.data(), n), n);
    EXPECT_EQ(back, data);
}

// A worker that damages the masked key after its piece, so that the meshing
// which follows cannot unmask it.
long damaging_worker(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    long r = GOSTE_gamma_fbe_update(ctx, in, out, len);
    ctx->key.key[0] ^= 1;
    return r;
}

TEST(Modes, FailedMeshingFailsTheCall) {
    GOSTE ctx;
    init(ctx, Mode::MeshedCfbEncrypt);
    const Bytes data = pattern(2048, 1);
    Bytes out(data.size());
    ERR_clear_error();
    EXPECT_EQ(GOSTE_process_meshed(&ctx, data.data(), out.data(), 2048, damaging_worker), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
    EXPECT_EQ(ERR_code_reason(ERR_peek_error()), ERR_R_INTERNAL);
    const PSE_KEY32 zero{};
    EXPECT_EQ(std::memcmp(&ctx.key, &zero, sizeof zero), 0);  // key wiped
    // The context stays unusable until it is initialised again.
    EXPECT_EQ(GOSTE_process(&ctx, data.data(), out.data(), 8), 0);
}

TEST(Modes, KeyStaysMaskedBetweenCalls) {
    GOSTE ctx;
    init(ctx, Mode::Counter);
    Bytes data = pattern(100, 2);
    ASSERT_EQ(GOSTE_process(&ctx, data.data(), nullptr, 100), 100);
    EXPECT_TRUE(ctx.key.flags & PSE_KEY32_MASKED);
    const auto* raw = reinterpret_cast<const unsigned char*>(&ctx);
    for (int i = 0; i + 4 <= 32; i += 4)
        EXPECT_EQ(std::search(raw, raw + sizeof ctx, kKey.begin() + i, kKey.begin() + i + 4),
                  raw + sizeof ctx);
}

TEST(Modes, DamagedKeyFailsTheWorker) {
    GOSTE ctx;
    ASSERT_EQ(GOSTE_ss_init(&ctx, 1, kKey.data(), nullptr), 1);
    ctx.key.key[5] ^= 0x10;
    Bytes data(8);
    ERR_clear_error();
    EXPECT_EQ(GOSTE_ss_process(&ctx, data.data(), nullptr, 8), 0);
    EXPECT_EQ(ERR_get_error(),
              ERR_pack_code(ERR_LIB_GOSTE, GOSTE_F_GOSTE_SS_UPDATE, ERR_R_INTERNAL));
    EXPECT_EQ(ERR_get_error(),
              ERR_pack_code(ERR_LIB_GOSTE, GOSTE_F_GOSTE_SS_UPDATE, ERR_LIB_GOSTE));
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
}

TEST(Modes, ContextsOnManyThreadsAgree) {
    // Each thread has its own contexts; they share the built-in tables and
    // the mask source.
    const Bytes data = pattern(5000, 6);
    const long n = static_cast<long>(data.size());
    const Bytes expected = run(Mode::MeshedCfbEncrypt, data, {n});
    unsigned char expected_mac[4];
    ASSERT_NE(GOSTE_mac(nullptr, data.data(), n, kKey.data(), nullptr, expected_mac), nullptr);
    std::vector<int> ok(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            bool good = true;
            for (int i = 0; i < 20; ++i) {
                good = good && run(Mode::MeshedCfbEncrypt, data, {n}) == expected;
                const unsigned char* mac =
                    GOSTE_mac(nullptr, data.data(), n, kKey.data(), nullptr, nullptr);
                good = good && mac != nullptr && std::memcmp(mac, expected_mac, 4) == 0;
            }
            ok[t] = good;
        });
    }
    for (auto& t : threads) t.join();
    for (int r : ok) EXPECT_EQ(r, 1);
}

TEST(Modes, NullAndBadArguments) {
    GOSTE ctx;
    init(ctx, Mode::Counter);
    unsigned char buf[16] = {};
    GosteWorker workers[] = {GOSTE_ss_process,        GOSTE_cbc_process,       GOSTE_gamma_update,
                             GOSTE_gamma_fbe_update,  GOSTE_gamma_fbd_update,  GOSTE_mac_update,
                             GOSTE_gamma_fbe_process, GOSTE_gamma_fbd_process, GOSTE_process};
    for (GosteWorker w : workers) {
        ERR_set_last_error(0);
        EXPECT_EQ(w(nullptr, buf, buf, 8), 0);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
        ERR_set_last_error(0);
        EXPECT_EQ(w(&ctx, nullptr, buf, 8), 0);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
        ERR_set_last_error(0);
        EXPECT_EQ(w(&ctx, buf, buf, 0), 0);
        EXPECT_EQ(w(&ctx, buf, buf, -5), 0);
    }
    EXPECT_EQ(GOSTE_mac_process(nullptr, buf, 8), 0);
    EXPECT_EQ(GOSTE_mac_final(nullptr, buf, 32), 0);
    EXPECT_EQ(GOSTE_mac_final(&ctx, nullptr, 32), 0);
    EXPECT_EQ(GOSTE_mac(nullptr, nullptr, 8, kKey.data(), nullptr, buf), nullptr);
    EXPECT_EQ(GOSTE_mac(nullptr, buf, 8, nullptr, nullptr, buf), nullptr);
    for (auto init_null_key :
         {+[](GOSTE* c) { return GOSTE_gamma_init(c, nullptr, nullptr, nullptr); },
          +[](GOSTE* c) { return GOSTE_gamma_fb_init(c, nullptr, nullptr, nullptr); },
          +[](GOSTE* c) { return GOSTE_gamma_fb_cp_init(c, nullptr, nullptr, nullptr); },
          +[](GOSTE* c) { return GOSTE_mac_init(c, nullptr, nullptr); },
          +[](GOSTE* c) { return GOSTE_ss_init(c, 1, nullptr, nullptr); }}) {
        ERR_set_last_error(0);
        GOSTE fresh;
        EXPECT_EQ(init_null_key(&fresh), 0);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
        EXPECT_EQ(init_null_key(nullptr), 0);
    }
    ctx.mode = 7;
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_process(&ctx, buf, buf, 8), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_MODE);
    // A context that was never given a key cannot run.
    GOSTE empty;
    ASSERT_EQ(GOSTE_set_sbox(&empty, nullptr), 1);
    EXPECT_EQ(GOSTE_gamma_fbe_update(&empty, buf, buf, 8), 0);
}

}  // namespace
}  // namespace cadb
