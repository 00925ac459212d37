// An owned handle on one certificate (a library certificate context), as the
// enrolment control loads, copies, shows and matches certificates against
// keys.
//
// Failures are false or null results with the reason on the library's error
// queue; nothing logs.
#pragma once

#include <istream>
#include <memory>
#include <vector>

#include "crypto/x509/cert_ctx.h"
#include "wrappers/tbuffer.h"

namespace cadb {

class TPrivateKey;

struct CertCtxDeleter {
    void operator()(CERT_CTX* ctx) const { CERT_CTX_free(ctx); }
};
using CertCtxOwner = std::unique_ptr<CERT_CTX, CertCtxDeleter>;

class TCertificate {
  public:
    static constexpr int kFormatDER = 1;
    static constexpr int kFormatPEM = 2;
    static constexpr int kFormatText = 5;

    TCertificate();  // an empty context, DER output
    // Copies go through the DER encoding; a source without a certificate
    // gives a copy without a context, one held unparsed a copy of its bytes.
    // Assignment keeps its own format.
    TCertificate(const TCertificate& other);
    explicit TCertificate(const CERT* cert);
    TCertificate& operator=(const TCertificate& other);
    virtual ~TCertificate();

    // The certificate as 2 PEM, 5 printed text, otherwise DER; null without
    // a parsed certificate.
    std::unique_ptr<TBuffer> encode(int format) const;
    // The certificate in the output format, owned here until the next call.
    // A certificate held without a parsed form gives its own bytes as DER
    // or PEM, and no printed text.
    TBuffer* getEncoded();
    // Reads a certificate in DER, PEM or bare base64. False leaves no context.
    bool loadDER(const unsigned char* data, int length);
    bool loadBuffer(const TBuffer& buffer);
    // Reads the certificate at a medium path; a pkcs11 path reads it from a
    // token.
    bool loadFile(const char* path);
    // Holds the DER bytes of a certificate the library cannot read (a key
    // type it does not compute) as they are, without a parsed form:
    // getCERT() stays null, and every use of the parsed certificate fails as
    // for no certificate. False for no bytes.
    bool holdUnparsed(const unsigned char* der, int length);
    // 1, 2 or 5 (else 0, no change).
    int setFormat(int code);
    // True when the certificate and the key's library key form a pair.
    bool matchesKey(const TPrivateKey& key) const;

    CERT* getCERT() const;
    CERT_CTX* context() const { return ctx_.get(); }
    int format() const { return format_; }

  private:
    bool readInto(CertCtxOwner ctx);
    void copyFrom(const CERT* cert);

    CertCtxOwner ctx_;
    std::vector<unsigned char> unparsed_;  // the bytes of a certificate held unread
    std::unique_ptr<TBuffer> cache_;
    int format_ = kFormatDER;
};

// Reads a whole stream (as ReadStreamToBuffer) and loads it into target.
bool ReadStreamToCertificate(std::istream& stream, TCertificate& target);

}  // namespace cadb
