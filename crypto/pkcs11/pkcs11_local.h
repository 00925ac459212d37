// Helpers shared by the registry, the token objects and the templates.
#pragma once

#include <exception>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pkcs11/cryptoki.h"

// Queues a failure of library 81 at this line.
#define PKCS11_ERR(func, reason) CADB_ERR(::cadb::ERR_LIB_PKCS11, (func), (reason))
// Keeps a failed token call's return value for the caller (the first failure
// of an operation wins) and queues the library's own error.
#define PKCS11_RV_ERR(func, reason, rv)                           \
    do {                                                          \
        ::cadb::ERR_set_last_rv((rv), ::cadb::TOKEN_CODE_PKCS11); \
        CADB_ERR(::cadb::ERR_LIB_PKCS11, (func), (reason));       \
    } while (0)

namespace cadb {
struct PKCS11_OBJ;
struct PKCS11_TEMPLATE;
}  // namespace cadb

namespace cadb::pkcs11 {

// Searches that tell a failed token call from an empty result: 1 with the
// match as the current object, 0 when nothing matched, -1 on failure (queued).
int find_next_status(PKCS11_OBJ* ctx);
int find_first_status(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t);
// The same with a class template narrowed by CKA_ID and CKA_LABEL, each only
// when given.
int find_by_status(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* (*base)(), const char* id, const char* label,
                   int func);
// One search of the token, the current object left as it was. A module may
// show a process only what it saw at its last search (SoftHSM2's file store
// re-reads the token only then, and takes the process's own writes for a
// look), so whoever decides from the token's objects first searches.
bool refresh_view(PKCS11_OBJ* ctx);
// Every object matching t, the search ended before the caller sees them. A
// module that hands out a handle twice is looping: the search ends there.
bool find_all(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t, std::vector<CK_OBJECT_HANDLE>* out);
// Destroys every object of the class template with CKA_ID = id except kept
// (0 keeps none): 1 when no other is left, kept then the current object.
int destroy_all_but(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* (*base)(), const char* id,
                    CK_OBJECT_HANDLE kept, int func);

// Fetches a list the PKCS#11 way: call(NULL, &n) for the size, then
// call(array, &n). The count the module gives back is never trusted beyond
// the array it was handed: a list that grew between the two calls is asked
// for again, and a count past the array is refused. CKR_HOST_MEMORY when the
// list cannot be held.
template <class Call>
CK_RV fetch_list(Call call, std::vector<CK_ULONG>& out) {
    // A few rounds settle any real module; one that never settles fails.
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        CK_ULONG n = 0;
        CK_RV rv = call(nullptr, &n);
        if (rv != CKR_OK) return rv;
        try {
            out.assign(n, 0);
        } catch (const std::exception&) {
            return CKR_HOST_MEMORY;
        }
        if (n == 0) return CKR_OK;
        CK_ULONG got = n;
        rv = call(out.data(), &got);
        if (rv == CKR_BUFFER_TOO_SMALL) continue;
        if (rv != CKR_OK) return rv;
        if (got > n) return CKR_GENERAL_ERROR;
        out.resize(got);
        return CKR_OK;
    }
    return CKR_BUFFER_TOO_SMALL;
}

// The IDs of every slot, with or without a token.
inline CK_RV fetch_slot_list(CK_FUNCTION_LIST* f, std::vector<CK_SLOT_ID>& out) {
    return fetch_list(
        [f](CK_SLOT_ID* ids, CK_ULONG* n) { return f->C_GetSlotList(CK_FALSE, ids, n); }, out);
}

}  // namespace cadb::pkcs11
