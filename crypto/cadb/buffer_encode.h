// Library objects to bytes and back: DER, PEM, printed text and base64 of
// the DER, in the encoding forms shared by the library and the object layer.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>

#include "crypto/cadb/buffer.h"

namespace cadb {

// Encoding form codes.
enum EncodingForm : int {
    FORM_ANY = 0,  // readers: DER, then PEM, then bare base64 under the type's label
    FORM_DER = 1,
    FORM_PEM = 2,
    FORM_TEXT = 5,
    FORM_BASE64 = 6,  // base64 of the DER, no line breaks
};

using PrintFn = int (*)(BIO*, void*);

// DER encoding of any object with its encoder.
BUFFER* x2der(void* obj, i2d_of_void* i2d);

// PEM under label; with a cipher NID (0: none) the traditional PEM
// encryption under that cipher and password (len <= 0: strlen). An unknown
// cipher, or a cipher without a password, fails: nothing ever prompts.
BUFFER* x2pem(void* obj, i2d_of_void* i2d, const char* label, int cipher_nid, const char* passwd,
              int passwd_len);

// The object's printed text.
BUFFER* x2text(void* obj, PrintFn print);

// DER, PEM (no encryption) or base64 of the DER by form code; null for any
// other form.
BUFFER* x2form(void* obj, i2d_of_void* i2d, const char* label, int form);

// Decodes len bytes in the given form (FORM_ANY tries DER, then PEM, then
// the bytes as bare base64 under label). DER must fill the input exactly.
// The new object, or null.
void* form2x(const unsigned char* data, long len, int form, d2i_of_void* d2i, const char* label);

}  // namespace cadb
