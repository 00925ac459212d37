// The owning wrappers of buffers and key stores.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "tests/wrappers/store_fixture.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tpse.h"

namespace cadb {
namespace {

using namespace cadb::testing;

TEST(TBufferTest, CopiesOwnTheirBytes) {
    TBuffer a;
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(a.getLength(), 0);
    ASSERT_TRUE(a.assign("abc", 3));
    TBuffer b(a);
    a.assign("xy", 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.getData()), 3), "abc");
    b = a;
    EXPECT_EQ(b.getLength(), 2);
    TBuffer none(static_cast<const BUFFER*>(nullptr));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.getData(), nullptr);
    ASSERT_TRUE(b.allocate(4));
    EXPECT_EQ(b.getLength(), 4);
    EXPECT_EQ(b.getData()[3], 0);
    ASSERT_TRUE(b.assign("\x01\x02\x03", 3));
    ASSERT_TRUE(b.toBase64());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.getData()), 4), "AQID");
    b.attach(BUFFER_fill("zz", 2));
    EXPECT_EQ(b.getLength(), 2);
}

TEST(TBufferTest, StreamsAreReadWholeAndAnEmptyOneChangesNothing) {
    TBuffer target;
    target.assign("keep", 4);
    std::istringstream empty("");
    ReadStreamToBuffer(empty, target);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.getData()), 4), "keep");
    std::istringstream text("hello\0world", std::ios::binary);
    std::istringstream full(std::string("hello\0world", 11));
    ReadStreamToBuffer(full, target);
    EXPECT_EQ(target.getLength(), 11);
}

class TPSETest : public StoreTest {};

TEST_F(TPSETest, OpensCreatesAndSharesReferences) {
    KernelRandom random;
    TPSE made;
    ASSERT_TRUE(made.create("a:\\w"));
    ASSERT_NE(made.getPSE(), nullptr);
    const int refs = made.getPSE()->references;

    TPSE empty, other;
    other.assign(empty);  // an empty wrapper changes nothing
    EXPECT_EQ(other.getPSE(), nullptr);
    other.assign(made);
    EXPECT_EQ(other.getPSE(), made.getPSE());
    EXPECT_EQ(made.getPSE()->references, refs + 1);
    other.assign(empty);
    EXPECT_EQ(other.getPSE(), made.getPSE());
    other.close();
    EXPECT_EQ(made.getPSE()->references, refs);

    TPSE opened;
    ASSERT_TRUE(opened.open("a:\\w"));
    EXPECT_EQ(0, std::memcmp(opened.getPSE()->fingerprint, made.getPSE()->fingerprint, 32));
    unsigned char state[36];
    EXPECT_TRUE(opened.saveRandState(state));
    EXPECT_FALSE(opened.open("a:\\nothing"));
    EXPECT_EQ(opened.getPSE(), nullptr);
    EXPECT_FALSE(opened.saveRandState(state));
    EXPECT_FALSE(opened.initRandom(state, nullptr, nullptr));
}

TEST_F(TPSETest, ASavedStateStartsTheGeneratorInMemoryOnly) {
    make_store("a:\\w");
    const std::string file = slurp(drive('a') / "w" / "rand.opq");
    TPSE store;
    ASSERT_TRUE(store.open("a:\\w", PSE_CTX_FLAG_NO_RAND_INIT));
    EXPECT_EQ(CADB_rand_status(), 0);
    std::array<unsigned char, 36> state{};
    std::memcpy(state.data(), file.data(), 36);
    EXPECT_FALSE(store.initRandom(state.data(), nullptr, nullptr));  // always false
    EXPECT_EQ(CADB_rand_status(), 1);
    EXPECT_NE(0, std::memcmp(state.data(), file.data(), 36));  // the next state, in memory
    EXPECT_EQ(slurp(drive('a') / "w" / "rand.opq"), file);
    EXPECT_TRUE(ui().calls().empty());
}

}  // namespace
}  // namespace cadb
