// The built-in GOST R 34.10-94 parameter sets.
#pragma once

#include <span>

namespace cadb {

struct R3410_PARAM_SET {
    int code;  // R3410ParamCode, 0 for a set no code selects
    int nid;   // parameter-set object number, 0 for the library's own sets
    std::span<const unsigned char> p, q, a;  // big-endian
};

// The set of a code, or null for an unknown code.
const R3410_PARAM_SET* R3410_param_set_by_code(int code);
// The set of a parameter-set NID, or null for an unknown one.
const R3410_PARAM_SET* R3410_param_set_by_nid(int nid);
// The 512-bit test set of the standard (procedure A from x0 = 24265,
// c = 29505, then procedure C from d = 2); the key-agreement self test runs
// on it because it is the cheapest.
const R3410_PARAM_SET& R3410_test_param_set();
// Every built-in set, for the integrity digest.
std::span<const R3410_PARAM_SET> R3410_param_sets();

}  // namespace cadb
