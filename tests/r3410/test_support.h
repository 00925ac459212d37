// Shared pieces of the GOST R 34.10-94 tests: a random source, key owners and
// the vector-file reader.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/rand/rand.h"
#include "tests/support/kernel_random.h"

namespace cadb::testing {

// Every test draws from the kernel's source; the previous method comes back
// afterwards.
class R3410Test : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = RAND_get_rand_method();
        RAND_set_rand_method(&kKernelSource);
        ERR_clear_error();
    }
    void TearDown() override { RAND_set_rand_method(previous_); }

  private:
    const RAND_METHOD* previous_ = nullptr;
};

struct GostsDeleter {
    void operator()(GOSTS* k) const { GOSTS_free(k); }
};
using KeyPtr = std::unique_ptr<GOSTS, GostsDeleter>;
struct SigDeleter {
    void operator()(R3410_SIG* s) const { R3410_SIG_free(s); }
};
using SigPtr = std::unique_ptr<R3410_SIG, SigDeleter>;

// A key on a built-in set with a fresh key pair.
inline KeyPtr key_on_code(int code) {
    KeyPtr key(GOSTS_new());
    if (!key || !R3410_set_params_by_code(key.get(), code) ||
        !GOSTS_generate_pubkey(key.get(), nullptr, 0)) {
        return nullptr;
    }
    return key;
}

// Codes of every set the library offers.
inline const std::vector<int>& offered_codes() {
    static const std::vector<int> codes = {R3410_PARAMS_DEFAULT,        R3410_PARAMS_CRYPTOPRO_A,
                                           R3410_PARAMS_CRYPTOPRO_B,    R3410_PARAMS_CRYPTOPRO_C,
                                           R3410_PARAMS_CRYPTOPRO_D,
                                           R3410_PARAMS_CRYPTOPRO_XCHA, R3410_PARAMS_CRYPTOPRO_XCHB,
                                           R3410_PARAMS_CRYPTOPRO_XCHC, R3410_PARAMS_SECOND};
    return codes;
}

// "name = value" lines of a vector file; '#' starts a comment line.
inline std::map<std::string, std::string> read_vector_file(const std::string& name) {
    std::ifstream in(std::string(CADB_VECTORS_DIR) + "/" + name);
    std::map<std::string, std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find(" = ");
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return out;
}

inline BnPtr bn_hex(const std::string& hex) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex.c_str());
    return BnPtr(bn);
}

inline std::vector<unsigned char> bn_bytes(const BIGNUM* bn, int len) {
    std::vector<unsigned char> out(static_cast<std::size_t>(len));
    BN_bn2binpad(bn, out.data(), len);
    return out;
}

inline int last_reason() { return ERR_code_reason(ERR_peek_last_error()); }

}  // namespace cadb::testing
