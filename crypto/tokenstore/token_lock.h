// What the library keeps on one token under a name (a key store's four
// objects, a key pair's CKA_ID) is changed by one writer at a time, across
// every process of this user: a token has no lock of its own, so a lock file
// named by the token's identity (the module's file and the token's maker,
// model and serial number) stands in for it, in the user's runtime folder.
#pragma once

#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/pse_commit.h"

namespace cadb {

class TokenLock {
  public:
    // Takes the lock of the token ctx has open, waiting as long as a key
    // store's writers wait for each other (pse_lock_wait). On failure the
    // last entry on the queue is (66, func, reason), the reason
    // CADB_R_KEY_STORE_BUSY when another writer keeps the lock and
    // CADB_R_NO_LOCK_FOLDER when there is no place for the lock file, and
    // the error class is that of a key store's input and output.
    bool acquire(const PKCS11_OBJ* ctx, int func);

  private:
    PseFolderLock lock_;
};

}  // namespace cadb
