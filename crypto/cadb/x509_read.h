// The strict readers behind certificates and CRLs: one encoded object that
// fills the given bytes, in DER, PEM or bare base64 under a PEM label.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>

#include <vector>

namespace cadb {

// How one object type is read and released.
struct X509_OBJECT_CODEC {
    d2i_of_void* d2i;
    void (*free)(void*);
    const char* label;  // PEM label
};

// Decodes len bytes in one form: 1 DER (the object must fill the bytes),
// 2 PEM (one block under the label, possibly preceded by text and followed by
// white space only; its DER must fill the block), 6 bare base64 (wrapped
// under the label, a line break added before the trailer when the text does
// not end in one). The new object, or null; libcrypto's queue is left as it
// was.
void* X509_object_decode(const unsigned char* data, long len, int form,
                         const X509_OBJECT_CODEC& codec);

// Everything a stream still holds, or false when it cannot be read.
bool BIO_read_all(BIO* in, std::vector<unsigned char>& out);

}  // namespace cadb
