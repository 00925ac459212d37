// GOST R 34.11-94: published answers, empty messages, splitting, copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rus/gosth.h"
#include "tests/rus/vectors.h"

namespace cadb {
namespace {

using testing::read_records;
using testing::unhex;
using Bytes = std::vector<unsigned char>;

Bytes digest(const Bytes& msg, const unsigned char* sbox, bool cp,
             const std::vector<long>& pieces = {}) {
    GOSTH ctx;
    EXPECT_EQ(cp ? GOSTH_init_cp(&ctx, nullptr, sbox) : GOSTH_init(&ctx, nullptr, sbox), 1);
    if (pieces.empty()) {
        if (!msg.empty()) {
            EXPECT_EQ(GOSTH_update(&ctx, msg.data(), long(msg.size())), long(msg.size()));
        }
    } else {
        long off = 0;
        for (long n : pieces) {
            EXPECT_EQ(GOSTH_update(&ctx, msg.data() + off, n), n);
            off += n;
        }
    }
    Bytes out(32);
    EXPECT_EQ(GOSTH_final(&ctx, out.data()), 32);
    return out;
}

TEST(Hash, TestParameterSetPublishedExamples) {
    auto records = read_records("gost3411-94-test.txt");
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        const std::string& text = r.at("text");
        Bytes msg(text.begin(), text.end());
        // Its values are the chaining value's bytes in their own
        // (little-endian) order, as the common tools print them; the digest
        // is written most significant byte first.
        Bytes want = unhex(r.at("digest"));
        std::reverse(want.begin(), want.end());
        EXPECT_EQ(digest(msg, GOSTE_get_test_sbox(), false), want) << text;
    }
}

TEST(Hash, CryptoProParameterSet) {
    auto records = read_records("gost3411-94-cryptopro.txt");
    ASSERT_GE(records.size(), 6u);
    for (const auto& r : records) {
        Bytes msg = unhex(r.at("msg"));
        // The tools print the chaining value's own byte order: the reverse of
        // the digest as written here.
        Bytes want = unhex(r.at("digest"));
        std::reverse(want.begin(), want.end());
        EXPECT_EQ(digest(msg, GOSTH_get_cp_sbox(), true), want) << r.at("msg").substr(0, 16);
        // With data, both init forms agree.
        EXPECT_EQ(digest(msg, GOSTH_get_cp_sbox(), false), want);
    }
}

TEST(Hash, SplitAtEveryBoundaryMatchesOneCall) {
    Bytes msg(100);
    for (std::size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<unsigned char>(i * 37 + 5);
    const long n = long(msg.size());
    const Bytes whole = digest(msg, nullptr, false);
    for (long cut = 1; cut < n; ++cut)
        EXPECT_EQ(digest(msg, nullptr, false, {cut, n - cut}), whole);
    EXPECT_EQ(digest(msg, nullptr, false, std::vector<long>(n, 1)), whole);
    EXPECT_EQ(digest(msg, nullptr, false, {1, 31, 32, 36}), whole);
}

TEST(Hash, EmptyMessageRules) {
    const Bytes empty;
    // After GOSTH_init one zero block is processed; after GOSTH_init_cp none.
    EXPECT_NE(digest(empty, GOSTH_get_cp_sbox(), false), digest(empty, GOSTH_get_cp_sbox(), true));
    // Feeding nothing does not count as data.
    GOSTH ctx;
    ASSERT_EQ(GOSTH_init(&ctx, nullptr, GOSTH_get_cp_sbox()), 1);
    unsigned char byte = 0;
    EXPECT_EQ(GOSTH_update(&ctx, &byte, 0), 0);
    EXPECT_EQ(ctx.fill, -1);
    Bytes out(32);
    ASSERT_EQ(GOSTH_final(&ctx, out.data()), 32);
    EXPECT_EQ(out, digest(empty, GOSTH_get_cp_sbox(), false));
    // A message of exactly one block adds no padding block.
    const Bytes block(32, 0x61);
    EXPECT_EQ(digest(block, nullptr, false, {1, 31}), digest(block, nullptr, true));
}

TEST(Hash, StartVectorCopyAndCleanup) {
    const Bytes msg(45, 0x42);
    unsigned char start[32];
    for (int i = 0; i < 32; ++i) start[i] = static_cast<unsigned char>(i);
    GOSTH a;
    ASSERT_EQ(GOSTH_init(&a, start, nullptr), 1);
    ASSERT_EQ(GOSTH_update(&a, msg.data(), 20), 20);
    GOSTH b;
    ASSERT_EQ(GOSTH_copy(&b, &a), 1);
    ASSERT_EQ(GOSTH_update(&a, msg.data() + 20, 25), 25);
    ASSERT_EQ(GOSTH_update(&b, msg.data() + 20, 25), 25);
    Bytes da(32), db(32);
    ASSERT_EQ(GOSTH_final(&a, da.data()), 32);
    ASSERT_EQ(GOSTH_final(&b, db.data()), 32);
    EXPECT_EQ(da, db);
    EXPECT_NE(da, digest(msg, nullptr, false));

    GOSTH* h = GOSTH_new();
    ASSERT_NE(h, nullptr);
    h->marker = 0x1234;
    ASSERT_EQ(GOSTH_init(h, nullptr, nullptr), 1);
    EXPECT_EQ(h->marker, 0x1234u);  // kept across init
    GOSTH_cleanup(h);
    EXPECT_EQ(h->cipher.table, nullptr);
    GOSTH_free(h);
    GOSTH_free(nullptr);
}

TEST(Hash, NullAndBadArguments) {
    GOSTH ctx;
    unsigned char out[32];
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTH_init(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    ASSERT_EQ(GOSTH_init(&ctx, nullptr, nullptr), 1);
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTH_update(&ctx, nullptr, 4), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(GOSTH_update(nullptr, out, 4), 0);
    EXPECT_EQ(GOSTH_update(&ctx, out, -1), 0);
    EXPECT_EQ(GOSTH_final(nullptr, out), 0);
    EXPECT_EQ(GOSTH_final(&ctx, nullptr), 0);
    // Never initialised.
    GOSTH fresh;
    EXPECT_EQ(GOSTH_update(&fresh, out, 4), 0);
    EXPECT_EQ(GOSTH_final(&fresh, out), 0);

    unsigned char r[5] = {1, 2, 3, 4, 5};
    GOST_reverse_bytes(r, 5);
    EXPECT_EQ(Bytes(r, r + 5), (Bytes{5, 4, 3, 2, 1}));
    GOST_reverse_bytes(nullptr, 5);
    GOST_reverse_bytes(r, 0);
    EXPECT_EQ(r[0], 5);
}

}  // namespace
}  // namespace cadb
