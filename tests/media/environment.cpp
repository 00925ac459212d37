#include "tests/pkcs11/softhsm.h"

// Registered before main runs, so every test of this folder has its token.
static ::testing::Environment* const kSoftHsm =
    ::testing::AddGlobalTestEnvironment(new cadb::testing::SoftHsmEnvironment);
