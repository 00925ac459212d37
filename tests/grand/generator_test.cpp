// The time hash, the pseudo-random function and the keystream generator.
#include <algorithm>
#include <set>
#include <thread>

#include "crypto/rand/grand.h"
#include "crypto/rus/modes.h"
#include "tests/grand/grand_fixture.h"
#include "tests/support/process_race.h"

namespace cadb::test {
namespace {

// The 28-byte record as the system laid it out, little-endian.
std::vector<unsigned char> stamp_record(const GRAND_TIME_STAMP& s, std::uint32_t value) {
    std::vector<unsigned char> r;
    auto put = [&r](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) r.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    put(s.seconds, 4);
    put(s.fine_seconds, 4);
    put(static_cast<std::uint16_t>(s.milliseconds), 2);
    put(static_cast<std::uint16_t>(s.timezone_minutes), 2);
    put(static_cast<std::uint16_t>(s.dst_flag), 2);
    put(0, 2);
    put(s.clock_ticks, 4);
    put(s.counter, 4);
    put(value, 4);
    return r;
}

std::vector<unsigned char> cat(std::vector<unsigned char> a, const std::vector<unsigned char>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(GrandTest, TimeHashIsTheHashOfTheStampRecordAndExtra) {
    GRAND_set_time_source(&kFrozen);
    const auto record = stamp_record(clock().stamp, 0xDEADBEEF);
    ASSERT_EQ(record.size(), GRAND_TIME_RECORD_SIZE);
    const auto extra = bytes_of("extra bytes after the stamp");

    std::vector<unsigned char> out(32);
    EXPECT_EQ(GRAND_time_hash(out.data(), 0xDEADBEEF, nullptr, 0), out.data());
    EXPECT_EQ(out, gosth(record));
    EXPECT_EQ(GRAND_time_hash(out.data(), 0xDEADBEEF, extra.data(), extra.size()), out.data());
    EXPECT_EQ(out, gosth(cat(record, extra)));
}

TEST_F(GrandTest, TimeHashWithoutOutputUsesABufferOfTheCallingThread) {
    GRAND_set_time_source(&kFrozen);
    unsigned char* mine = GRAND_time_hash(nullptr, 1, nullptr, 0);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(mine, mine + 32), gosth(stamp_record(clock().stamp, 1)));
    EXPECT_EQ(GRAND_time_hash(nullptr, 2, nullptr, 0), mine);

    unsigned char* theirs = nullptr;
    std::vector<unsigned char> theirs_value;
    std::thread([&] {
        theirs = GRAND_time_hash(nullptr, 3, nullptr, 0);
        theirs_value.assign(theirs, theirs + 32);
    }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirs_value, gosth(stamp_record(clock().stamp, 3)));
}

TEST_F(GrandTest, SystemStampsChangeFromCallToCall) {
    unsigned char a[32], b[32];
    ASSERT_NE(GRAND_time_hash(a, 0, nullptr, 0), nullptr);
    ASSERT_NE(GRAND_time_hash(b, 0, nullptr, 0), nullptr);
    EXPECT_NE(std::memcmp(a, b, 32), 0);  // the call counter alone moves
}

TEST_F(GrandTest, PrfPiecesAreHashesOfInputAndTimeHash) {
    GRAND_set_time_source(&kFrozen);
    clock().cycles = {0x11111111, 0x22222222};
    const auto in = bytes_of("seed material");
    std::vector<unsigned char> out(40);
    ASSERT_EQ(GRAND_prf(in.data(), in.size(), out.data(), out.size()), 1);

    auto piece = [&](std::uint32_t cycles) {
        return gosth(cat(in, gosth(stamp_record(clock().stamp, cycles))));
    };
    const auto first = piece(0x11111111);
    const auto second = piece(0x22222222);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 32, out.end(), second.begin()));
}

TEST_F(GrandTest, PrfRefusesNullOutputAndAcceptsEmptyInput) {
    const auto in = bytes_of("x");
    EXPECT_EQ(GRAND_prf(in.data(), in.size(), nullptr, 8), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, GRAND_F_GRAND_PRF, ERR_LIB_RAND_));
    unsigned char out[8];
    EXPECT_EQ(GRAND_prf(nullptr, 5, out, sizeof out), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, GRAND_F_GRAND_PRF, ERR_LIB_RAND_));
    EXPECT_EQ(GRAND_prf(nullptr, 0, out, sizeof out), 1);
    EXPECT_EQ(GRAND_prf(in.data(), in.size(), out, 0), 1);
}

TEST_F(GrandTest, GeneratorIsUnreadyUntilSeededAndAfterCleanup) {
    EXPECT_EQ(GRAND_status(), 0);
    unsigned char buf[16];
    EXPECT_EQ(GRAND_rand_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, GRAND_F_GRAND_RAND_BYTES, ERR_LIB_RAND_));
    EXPECT_EQ(GRAND_rand_bytes(buf, 0), 0);
    EXPECT_EQ(GRAND_gamma_rand_seed(nullptr, 32), 0);
    EXPECT_EQ(GRAND_gamma_rand_seed(buf, 0), 0);
    EXPECT_EQ(GRAND_status(), 0);

    seed_with(std::vector<unsigned char>(32, 7));
    EXPECT_EQ(GRAND_status(), 1);
    EXPECT_EQ(GRAND_rand_bytes(buf, sizeof buf), 16);
    EXPECT_EQ(GRAND_cleanup(), 1);
    EXPECT_EQ(GRAND_status(), 0);
    EXPECT_EQ(GRAND_rand_bytes(buf, sizeof buf), 0);
}

TEST_F(GrandTest, SeedIsReplacedByGeneratorOutput) {
    const std::vector<unsigned char> seed(32, 0x42);
    const auto replaced = seed_with(seed);
    EXPECT_NE(replaced, seed);
    EXPECT_NE(replaced, std::vector<unsigned char>(32, 0));
}

// With the clocks frozen every hash depends on its input alone, so the first
// buffer of output can be rebuilt from the construction: key and start value
// from the PRF of the seed, the buffer whitened with the PRF of the seed,
// the counter register renewed by the PRF of itself, CryptoPro A gamma.
TEST_F(GrandTest, FirstBufferFollowsTheConstruction) {
    GRAND_set_time_source(&kFrozen);
    const std::vector<unsigned char> seed(32, 0x5C);
    const auto piece = gosth(cat(seed, gosth(stamp_record(clock().stamp, fake_cycles()))));

    GOSTE expected;
    ASSERT_EQ(GOSTE_gamma_init(&expected, piece.data(), piece.data(),
                               GOSTE_get_sbox_by_code(GOSTE_SBOX_CODE_CP_A)),
              1);
    std::vector<unsigned char> reg(8);
    for (int i = 0; i < 4; ++i) {
        reg[i] = static_cast<unsigned char>(expected.N3 >> (8 * i));
        reg[4 + i] = static_cast<unsigned char>(expected.N4 >> (8 * i));
    }
    const auto renewed = gosth(cat(reg, gosth(stamp_record(clock().stamp, fake_cycles()))));
    expected.N3 = expected.N4 = 0;
    for (int i = 3; i >= 0; --i) {
        expected.N3 = expected.N3 << 8 | renewed[i];
        expected.N4 = expected.N4 << 8 | renewed[4 + i];
    }
    expected.position = 0;
    std::vector<unsigned char> buffer(GRAND_BUFFER_SIZE);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = piece[i % 32];
    ASSERT_EQ(GOSTE_gamma_update(&expected, buffer.data(), buffer.data(), GRAND_BUFFER_SIZE),
              GRAND_BUFFER_SIZE);

    // The seed call takes the first 32 bytes for itself.
    const auto replaced = seed_with(seed);
    EXPECT_TRUE(std::equal(replaced.begin(), replaced.end(), buffer.begin()));
    const auto rest = draw(GRAND_BUFFER_SIZE - 32);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), buffer.begin() + 32));
}

// What "the same stream" means here: the stream is a function of the seed
// and of the time stamps taken while it runs. With the clocks held still, the
// same seed gives the same bytes; with the system's clocks it never does, so
// a copied seed does not replay earlier output.
TEST_F(GrandTest, SameSeedSameStreamOnlyWhileTheClocksStandStill) {
    GRAND_set_time_source(&kFrozen);
    const std::vector<unsigned char> seed(32, 0x33);
    const auto first_seed = seed_with(seed);
    const auto first = draw(3 * GRAND_BUFFER_SIZE);
    GRAND_cleanup();
    const auto second_seed = seed_with(seed);
    EXPECT_EQ(second_seed, first_seed);
    EXPECT_EQ(draw(3 * GRAND_BUFFER_SIZE), first);

    GRAND_cleanup();
    seed_with(std::vector<unsigned char>(32, 0x34));
    EXPECT_NE(draw(64), std::vector<unsigned char>(first.begin(), first.begin() + 64));

    GRAND_set_time_source(nullptr);
    GRAND_cleanup();
    const auto live_a = seed_with(seed);
    const auto stream_a = draw(64);
    GRAND_cleanup();
    const auto live_b = seed_with(seed);
    EXPECT_NE(live_a, live_b);
    EXPECT_NE(draw(64), stream_a);
}

TEST_F(GrandTest, SeedingTwiceOnlyConsumesOutput) {
    GRAND_set_time_source(&kFrozen);
    seed_with(std::vector<unsigned char>(32, 1));
    const auto skipped = seed_with(std::vector<unsigned char>(32, 2));
    const auto after = draw(100);

    GRAND_cleanup();
    seed_with(std::vector<unsigned char>(32, 1));
    EXPECT_EQ(draw(32), skipped);
    EXPECT_EQ(draw(100), after);
}

TEST_F(GrandTest, DrawsSplitAnywhereGiveTheSameStream) {
    GRAND_set_time_source(&kFrozen);
    const std::vector<unsigned char> seed(32, 9);
    seed_with(seed);
    const int total = 3 * GRAND_BUFFER_SIZE + 100;
    const auto whole = draw(total);
    for (int split :
         {1, 7, 8, 31, 4096, GRAND_BUFFER_SIZE - 1, GRAND_BUFFER_SIZE, GRAND_BUFFER_SIZE + 1}) {
        GRAND_cleanup();
        seed_with(seed);
        std::vector<unsigned char> pieces;
        while (static_cast<int>(pieces.size()) < total) {
            const auto p = draw(std::min(split, total - static_cast<int>(pieces.size())));
            pieces.insert(pieces.end(), p.begin(), p.end());
        }
        EXPECT_EQ(pieces, whole) << "split " << split;
    }
}

TEST_F(GrandTest, EachRefillTakesAFreshTimeStamp) {
    GRAND_set_time_source(&kFrozen);
    seed_with(std::vector<unsigned char>(32, 4));
    const int before = clock().stamps_taken;
    draw(GRAND_BUFFER_SIZE - 32);  // the rest of the first buffer: no refill
    EXPECT_EQ(clock().stamps_taken, before + 0);
    draw(1);  // second buffer
    EXPECT_EQ(clock().stamps_taken, before + 1);
}

TEST_F(GrandTest, SoftwareMethodThroughTheLayer) {
    const RAND_METHOD* m = GRAND_get_method();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags, 0u);
    EXPECT_EQ(m->info(nullptr), 1);
    RAND_set_rand_method(m);
    EXPECT_EQ(RAND_status(), 0);  // an unseeded generator is not ready
    unsigned char buf[RAND_STAT_BLOCK_SIZE];
    EXPECT_EQ(RAND_bytes(buf, 32), 0);
    ERR_clear_error();

    std::vector<unsigned char> seed(32, 0x77);
    ASSERT_EQ(RAND_seed(seed.data(), 32), 1);
    EXPECT_EQ(RAND_status(), 1);
    // Good random blocks fail the statistical tests about once in a thousand,
    // so one failure in four is still a working generator.
    int passed = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(RAND_bytes(buf, sizeof buf), static_cast<int>(sizeof buf));
        passed += RAND_statistical_test(buf, 0);
    }
    EXPECT_GE(passed, 3);
    RAND_set_operational_check(1);
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), static_cast<int>(sizeof buf));
    RAND_set_operational_check(0);

    // Switching away releases the generator.
    RAND_set_rand_method(nullptr);
    EXPECT_EQ(GRAND_status(), 0);
}

TEST_F(GrandTest, ConcurrentDrawsNeverRepeatBytes) {
    RAND_set_rand_method(GRAND_get_method());
    std::vector<unsigned char> seed(32, 0x21);
    ASSERT_EQ(RAND_seed(seed.data(), 32), 1);
    constexpr int kThreads = 4, kDraws = 500;
    std::vector<std::vector<std::vector<unsigned char>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kDraws; ++i) {
                std::vector<unsigned char> b(32);
                if (RAND_bytes(b.data(), 32) == 32) got[t].push_back(b);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::vector<unsigned char>> all;
    for (const auto& g : got) {
        EXPECT_EQ(g.size(), static_cast<std::size_t>(kDraws));
        all.insert(g.begin(), g.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kDraws));
}

// A process forked from a seeded one never hands out its parent's bytes,
// even from the buffer it copied and with the clocks held still.
TEST_F(GrandTest, AForkedProcessDrawsApartFromItsParent) {
    GRAND_set_time_source(&kFrozen);
    seed_with(std::vector<unsigned char>(32, 5));
    constexpr int kDrawn = 64;
    const testing::Race race = testing::race_processes(1, kDrawn, [](int, int fd) {
        const auto drawn = draw(kDrawn);
        return testing::tell(fd, drawn.data(), drawn.size()) ? 0 : 1;
    });
    const auto parent = draw(kDrawn);
    ASSERT_TRUE(race.all_exited_zero);
    ASSERT_EQ(race.records.size(), 1u);
    EXPECT_NE(race.records[0], std::string(parent.begin(), parent.end()));
}

}  // namespace
}  // namespace cadb::test
