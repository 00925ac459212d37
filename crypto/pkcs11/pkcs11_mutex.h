// Recursive mutexes for the library's contexts (token objects, key,
// certificate and key-store contexts): each context owns one and holds it for
// every operation, and operations that call other operations of the same
// context lock it again on the same thread.
#pragma once

namespace cadb {

struct PKCS11_MUTEX;

// Creates an unowned mutex into *out: 1, or 0 for a null out or no memory.
int PKCS11_mutex_new(PKCS11_MUTEX** out);
// Waits without time limit: 1, or 0 for null.
int PKCS11_mutex_lock(PKCS11_MUTEX* m);
// 1, or 0 for null.
int PKCS11_mutex_unlock(PKCS11_MUTEX* m);
// Releases the mutex, which no thread may hold: 1, or 0 for null.
int PKCS11_mutex_free(PKCS11_MUTEX* m);

}  // namespace cadb
