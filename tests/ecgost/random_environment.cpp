// Every test of this folder draws through the library's random layer, fed
// by the kernel's source.
#include <gtest/gtest.h>

#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

class KernelRandomEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { RAND_set_rand_method(&testing::kKernelSource); }
    void TearDown() override { RAND_set_rand_method(nullptr); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new KernelRandomEnvironment);

}  // namespace
}  // namespace cadb
