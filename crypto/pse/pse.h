// The key-store record: the store's master key and key-encryption key, its
// S-box set, path and fingerprint. Keys and cipher contexts made from a store
// hold a counted reference to it.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/pse/pse_key32.h"

namespace cadb {

// Function code of the PSE library.
constexpr int PSE_F_PSE_NEW = 102;

struct PSE {
    PSE_KEY32 master_key{};
    PSE_KEY32 kek{};
    unsigned char sbox[64]{};     // the GOST 28147-89 set every operation of the store uses
    std::int32_t references = 1;  // changed only under lock CRYPTO_LOCK_PSE
    std::string path;             // set when the store is read
    unsigned char fingerprint[32]{};
};

// A zeroed record with one reference, or null: (PSE, PSE_new, memory alloc
// failure) with error class 11.
PSE* PSE_new();
// Adds a reference and returns pse; null gives null.
PSE* PSE_up_ref(PSE* pse);
// Drops one reference and returns how many remain. The last one wipes both
// keys, the path and the whole record, then frees it, all under the lock.
// Null is ignored (0).
int PSE_free(PSE* pse);
inline int PSE_free_checked(PSE* pse) { return PSE_free(pse); }
inline int PSE_free_or_null(PSE* pse) { return PSE_free(pse); }

}  // namespace cadb
