// What the library keeps on one token under a name (a key store's four
// objects, a key pair's CKA_ID) is changed by one writer at a time, across
// every process of this user: a token has no lock of its own, so a lock file
// named by the token's identity (the module's file and the token's maker,
// model and serial number) stands in for it (see DeviceLock). A thread that
// holds a token's lock takes it again at once.
#pragma once

#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/device_lock.h"

namespace cadb {

class TokenLock {
  public:
    // Takes the lock of the token ctx has open, waiting as long as a key
    // store's writers wait for each other; failures as DeviceLock::acquire.
    bool acquire(const PKCS11_OBJ* ctx, int func);

  private:
    DeviceLock lock_;
};

}  // namespace cadb
