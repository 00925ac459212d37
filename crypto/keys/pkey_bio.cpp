// GOST key records read as the bare private-key DER from a stream.
#include <openssl/bio.h>
#include <openssl/crypto.h>

#include <vector>

#include "crypto/ecgost/ecgost.h"
#include "crypto/keys/pkey.h"
#include "crypto/r3410/r3410.h"

namespace cadb {
namespace {

// A key file larger than this is no key file.
constexpr std::size_t kMaxKeyBytes = 1 << 16;

// The whole stream, or nothing when it is empty or too long. The bytes hold
// a private key: wiped when released.
struct StreamBytes {
    std::vector<unsigned char> b;
    ~StreamBytes() { OPENSSL_cleanse(b.data(), b.size()); }
    bool read(BIO* in) {
        b.resize(kMaxKeyBytes + 1);
        std::size_t got = 0;
        int n;
        while (in != nullptr && got < b.size() &&
               (n = BIO_read(in, b.data() + got, static_cast<int>(b.size() - got))) > 0)
            got += static_cast<std::size_t>(n);
        OPENSSL_cleanse(b.data() + got, b.size() - got);
        b.resize(got);
        return got > 0 && got <= kMaxKeyBytes;
    }
};

template <typename T, T* (*Decode)(T**, const unsigned char**, long), void (*Free)(T*)>
T* whole(BIO* in) {
    StreamBytes bytes;
    if (!bytes.read(in)) return nullptr;
    const unsigned char* p = bytes.b.data();
    const long len = static_cast<long>(bytes.b.size());
    T* key = Decode(nullptr, &p, len);
    if (key != nullptr && p != bytes.b.data() + len) {
        Free(key);
        key = nullptr;
    }
    return key;
}

}  // namespace

GOSTS* d2i_R3410PrivateKey_bio(BIO* in) {
    return whole<GOSTS, d2i_R3410PrivateKey, GOSTS_free>(in);
}

ECGOST* d2i_ECGOSTPrivateKey_bio(BIO* in) {
    return whole<ECGOST, d2i_ECGOSTPrivateKey, ECGOST_free>(in);
}

}  // namespace cadb
