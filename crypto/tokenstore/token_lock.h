// What the library keeps on one token under a name (a key store's four
// objects, a key pair's CKA_ID) is changed by one writer at a time, across
// every process of this user: a token has no lock of its own, so a lock file
// named by the token itself (its maker, model and serial number as it reports
// them, whichever module file reaches it) stands in for it (see DeviceLock).
// A thread that holds a token's lock takes it again at once.
#pragma once

#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/device_lock.h"

namespace cadb {

class TokenLock {
  public:
    // Takes the lock of the token ctx has open, waiting as long as a key
    // store's writers wait for each other, then searches the token once, so
    // that every decision made under the hold sees what other processes wrote
    // before it. Failures as DeviceLock::acquire; a search the token refuses
    // lets the lock go again and fails.
    bool acquire(PKCS11_OBJ* ctx, int func);

  private:
    DeviceLock lock_;
};

}  // namespace cadb
