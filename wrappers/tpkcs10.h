// A certification request held for the enrolment control: made from a name
// and a key and signed, read from whatever form a user brings, copied, and
// handed out as DER, PEM, printed text or one-line base64.
//
// Failures are false or null results with the reason on the library's error
// queue; only the destructor logs.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/x509/pkcs10.h"
#include "wrappers/tbuffer.h"

namespace cadb {

class TPrivateKey;
class TStack_V3EXT;
class TX509Name;

// What a request is signed with, filled by the caller.
struct TPKCS10SignParams {
    TPrivateKey* signingKey = nullptr;
    std::int32_t hashAlgId = 0;  // digest NID; 0 lets the key choose
    std::int32_t reserved = 0;
    const TStack_V3EXT* extensions = nullptr;  // may be null
};

struct Pkcs10Deleter {
    void operator()(PKCS10* p) const { PKCS10_free(p); }
};
using Pkcs10Owner = std::unique_ptr<PKCS10, Pkcs10Deleter>;

class TPKCS10 {
  public:
    static constexpr int kFormatDER = 1;
    static constexpr int kFormatPEM = 2;
    static constexpr int kFormatText = 5;
    static constexpr int kFormatBase64 = 6;

    TPKCS10() = default;
    // The other's request by a DER round trip; none when it has none.
    TPKCS10(const TPKCS10& other);
    TPKCS10& operator=(const TPKCS10& other);
    virtual ~TPKCS10();

    // A request for name and subjectKey's key, signed with params' key and
    // digest, asking for params' extensions. The held request is dropped
    // first.
    bool make(const TX509Name& name, const TPrivateKey& subjectKey,
              const TPKCS10SignParams& params);
    // Reads a request in any form (DER, PEM, base64, base64 with stray
    // characters); nothing to read keeps the held request.
    bool loadDER(const unsigned char* data, int length);
    bool loadBuffer(const TBuffer& buffer);
    // 1, 2, 5 or 6 (else 0, nothing changed); the request is encoded anew.
    int setFormat(int code);
    // The request in the output format, owned here until the next call.
    TBuffer* getEncoded();

    PKCS10* get() const { return request_.get(); }
    int format() const { return format_; }

  private:
    void copyFrom(const TPKCS10& other);

    Pkcs10Owner request_;
    std::unique_ptr<TBuffer> cache_;
    int format_ = kFormatDER;
};

}  // namespace cadb
