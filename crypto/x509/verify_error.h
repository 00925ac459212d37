// One error recorded by a verification: an X.509 verification error number
// (or a message code), its text, and whether the caller's mask made it
// ignorable.
#pragma once

#include <openssl/safestack.h>

#include <cstdint>

#include "crypto/cadb/buffer.h"

namespace cadb {

struct X509_VERIFY_ERROR {
    int code;
    BUFFER* text;
    int ignorable;  // 1 when the code's bit is set in the caller's mask
};
DEFINE_STACK_OF(X509_VERIFY_ERROR)

X509_VERIFY_ERROR* X509_VERIFY_ERROR_new();
// Releases the text and the record. Null accepted.
void X509_VERIFY_ERROR_free(X509_VERIFY_ERROR* e);
void X509_VERIFY_ERROR_list_free(STACK_OF(X509_VERIFY_ERROR) * errors);

// The mask of ignorable errors: bit n set makes error n ignorable. Error 0
// is never ignorable, and a number the mask cannot hold (64 and above, or
// negative) never is either.
using VERIFY_IGNORE_MASK = std::uint64_t;
int X509_VERIFY_ERROR_is_ignorable(int code, VERIFY_IGNORE_MASK mask);

// A new record {code, text, ignorable by mask}, or null.
X509_VERIFY_ERROR* X509_VERIFY_ERROR_make(int code, const char* text, VERIFY_IGNORE_MASK mask);

}  // namespace cadb
