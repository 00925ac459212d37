// The library runs for every test of the object layer, without the kernel's
// random source, so that the random start goes through the seed dialog as on
// a machine without a random board.
#include <gtest/gtest.h>

#include <cstdlib>

#include "crypto/init/init.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("CADB_NO_OS_RANDOM", "1", 1);
        ASSERT_EQ(cadb::CADB_init(), 1);
    }
    void TearDown() override { cadb::CADB_cleanup(); }
};

[[maybe_unused]] auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace
