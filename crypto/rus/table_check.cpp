// Integrity of the built-in S-box sets and their shared tables.
#include <iterator>

#include "crypto/check/integrity_digest.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

// The covered sets in the order they are hashed; the test set is not among
// them.
const unsigned char* (*const kCovered[])() = {
    GOSTE_get_cipher_sbox, GOSTH_get_default_sbox, GOSTH_get_cp_sbox,  GOSTE_get_cp_sbox_A,
    GOSTE_get_cp_sbox_B,   GOSTE_get_cp_sbox_C,    GOSTE_get_cp_sbox_D};

int fail() {
    CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_CHECK_TABLES, ERR_R_INTERNAL);
    ERR_set_last_error(ERR_CLASS_INTERNAL);
    return 0;
}

}  // namespace

int GOSTE_check_tables() {
    const GOSTE_TABLE* tables[std::size(kCovered)];
    for (std::size_t i = 0; i < std::size(kCovered); ++i) {
        tables[i] = GOSTE_static_table(kCovered[i]());
        if (tables[i] == nullptr) return fail();
    }
    static RememberedDigest remembered(CRYPTO_LOCK_SELF_TEST);
    const bool ok = remembered.check([&tables](GOSTH* h) {
        for (auto set : kCovered)
            if (GOSTH_update(h, set(), GOST_SBOX_SIZE) != GOST_SBOX_SIZE) return false;
        for (const GOSTE_TABLE* t : tables)
            if (GOSTH_update(h, t, sizeof *t) != static_cast<long>(sizeof *t)) return false;
        return true;
    });
    return ok ? 1 : fail();
}

}  // namespace cadb
