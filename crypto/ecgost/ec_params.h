// Parameter-set records of the built-in curves: every number as hex text, so
// that the integrity digest can cover the very text the curves are built from.
#pragma once

namespace cadb {

struct EC_WINDOW_TABLE {
    int bits;
    int w;
    int n;
    // n uncompressed points "04" + x + y; point i is 2^(w·i)·P.
    const char* const* points;
};

struct EC_PARAMS {
    int nid;
    const char* p;
    const char* a;
    const char* b;
    const char* base;  // "04" + x + y
    const char* q;
    const char* h;      // cofactor, or null
    const char* extra;  // null in every built-in set
    const char* J;      // j-invariant, used when a and b are both missing
    const EC_WINDOW_TABLE* table;
};

// The built-in sets in code order 11..17; null outside.
const EC_PARAMS* ec_params_for_code(int code);
// The place of a built-in record (the sets in code order, then the self
// test's) in [0, kEcParamsCount), or -1 for any other record.
constexpr int kEcParamsCount = 8;
int ec_params_index(const EC_PARAMS* set);

// SEC 2 secp112r2 (cofactor 4), the curve of the key-agreement self test.
const EC_PARAMS* ec_params_self_test();

// The generated window tables.
extern const EC_WINDOW_TABLE ec_table_p256;
extern const EC_WINDOW_TABLE ec_table_cryptopro_a;
extern const EC_WINDOW_TABLE ec_table_cryptopro_b;
extern const EC_WINDOW_TABLE ec_table_cryptopro_c;

}  // namespace cadb
