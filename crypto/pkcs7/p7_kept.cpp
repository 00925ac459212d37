#include "crypto/pkcs7/p7_kept.h"

#include <openssl/crypto.h>

namespace cadb {

P7KeptBuffer::~P7KeptBuffer() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

}  // namespace cadb
