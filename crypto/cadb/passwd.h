// The password encoding of stored secrets: passwords are typed in the local
// code page and protect stored data as UTF-8.
#pragma once

namespace cadb {

// The password in the stored encoding, as new text with a terminating zero
// (len < 0: strlen); *out_len, when given, receives its length. An empty
// password is copied. Null when the conversion is refused. The result holds
// a secret: release it with OPENSSL_clear_free(p, *out_len + 1).
char* PASSWD_encode(const char* passwd, int len, int* out_len);

}  // namespace cadb
