// Internal to the key store's random generator.
#pragma once

#include <openssl/crypto.h>

#include "crypto/core/err.h"

namespace cadb {

// Takes back every error and the error class an attempt left, when the
// attempt's failure is expected and handled (a board that is absent, a saved
// state that does not decrypt). Otherwise its entries stay.
class ErrorScope {
  public:
    ErrorScope() : error_class_(ERR_get_last_error()), marked_(ERR_set_mark() != 0) {}
    ~ErrorScope() {
        if (marked_) ERR_clear_last_mark();
    }
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;
    void discard() {
        // Without a mark the queue was empty: everything on it is the
        // attempt's.
        if (marked_)
            ERR_pop_to_mark();
        else
            ERR_clear_error();
        marked_ = false;
        ERR_set_last_error(error_class_);
    }

  private:
    int error_class_;
    bool marked_;
};

// A 32-byte secret on the stack, wiped on every path.
struct Secret32 {
    unsigned char b[32];
    ~Secret32() { OPENSSL_cleanse(b, sizeof b); }
};

// Releases the current method and leaves none current, even one whose
// cleanup refuses.
void pse_rand_unset_method();

}  // namespace cadb
