// The fixed data of the known-answer tests: a key, an S-box set of their own
// (not one of the parameter sets, so that a damaged parameter table and a
// damaged test table are told apart), a start value and the expected answers.
// The answers were computed with a separate reference of the standards'
// algorithms. Inputs are generated at run time by self_test_input.
#pragma once

#include <cstddef>

namespace cadb {

struct GostSelfTestData {
    unsigned char key[32];
    unsigned char sbox[64];
    unsigned char iv[8];
    unsigned char ecb[8];       // one block of input encrypted
    unsigned char counter[13];  // 13 bytes of input, in 3 + 10 bytes
    unsigned char cfb[13];      // 13 bytes of input encrypted in one call
    unsigned char mac[4];       // MAC of 21 zero bytes
    unsigned char hash[32];     // 1 + 34 bytes of input (zero start value)
};

// Writable so that the tests can prove that a damaged table or answer is
// caught; nothing else writes it.
GostSelfTestData& gost_self_test_data();

// Input byte i of the tests.
inline unsigned char self_test_input(std::size_t i) {
    return static_cast<unsigned char>(i * 0x1D + 0x5B);
}

}  // namespace cadb
