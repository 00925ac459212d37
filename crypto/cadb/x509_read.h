// The strict readers behind certificates and CRLs: one encoded object that
// fills the given bytes, in DER, PEM or bare base64 under a PEM label; and
// the readers and writer both object types share.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>

#include <vector>

#include "crypto/cadb/buffer.h"

namespace cadb {

// How one object type is read, written, printed and released.
struct X509_OBJECT_CODEC {
    d2i_of_void* d2i;
    void (*free)(void*);
    const char* label;  // PEM label
    i2d_of_void* i2d;
    int (*print)(BIO*, void*);
    bool any_base64;  // form 0 tries bare base64 after DER and PEM
};

// Decodes len bytes in one form: 1 DER (the object must fill the bytes),
// 2 PEM (one block under the label, possibly preceded by text and followed by
// white space only; its DER must fill the block), 6 bare base64 (wrapped
// under the label, a line break added before the trailer when the text does
// not end in one). The new object, or null; libcrypto's queue is left as it
// was.
void* X509_object_decode(const unsigned char* data, long len, int form,
                         const X509_OBJECT_CODEC& codec);

// The readers and the writer of one object type, each failure reported
// once under library 66 and the caller's function code.
// From a stream in form 1 (DER) or 2 (PEM): null stream, "invalid encode
// type", "invalid data".
void* X509_object_read_bio(int form, BIO* in, const X509_OBJECT_CODEC& codec, int func);
// From bytes in form 0 (DER, then PEM, then bare base64 when the codec
// says so), 1 or 2: null or empty bytes, "invalid encode type", "invalid
// data".
void* X509_object_read_buffer(int form, const unsigned char* bytes, int len,
                              const X509_OBJECT_CODEC& codec, int func);
// The object in form 2 (PEM under the label), 5 (printed text) or, for any
// other form, DER; a failure is reported as "CADB lib".
BUFFER* X509_object_get(void* obj, int form, const X509_OBJECT_CODEC& codec, int func);

// Everything a stream still holds, or false when it cannot be read.
bool BIO_read_all(BIO* in, std::vector<unsigned char>& out);

}  // namespace cadb
