// The object layer's CMC message: PKCS#10 requests, a transaction
// identifier and revocation requests gathered into one library CMC record
// and encoded as PKIData (or, for an authority's answer, ResponseBody). A
// signed request gives the encoding to a TCMS as its content.
//
// Failures are false results with the reason on the library's error queue.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "crypto/cms/cmc.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tx509name.h"

namespace cadb {

class TPKCS10;

// What a revocation request names: the certificate (by issuer and serial
// bytes), why, since when, and how the authority may believe the asker.
struct TRevokeRequest {
    std::int32_t bodyPartId = 0;
    std::unique_ptr<TX509Name> issuer;
    TBuffer serial;
    std::int32_t reason = 0;  // X.509 CRLReason: 0-6, 8-10
    std::tm invalidityDate{};
    bool hasSharedSecret = false;
    std::string sharedSecret;  // local code page
    std::string comment;       // local code page
};

class TCMC {
  public:
    static constexpr std::int32_t kContentPKIData = 251;
    static constexpr std::int32_t kContentResponseBody = 252;

    TCMC();
    TCMC(const TCMC&) = delete;
    TCMC& operator=(const TCMC&) = delete;
    virtual ~TCMC();

    // 251 or 252: stored, true. Any other code stores 0 (so that encoding
    // fails until a good code is set) and gives false.
    bool setContentType(std::int32_t code);
    // Forgets every request and control and the cached encoding.
    void reset();
    // A copy of the request, tagged with the body part id; the content type
    // becomes PKIData.
    bool pushPKCS10(const TPKCS10& request, int bodyPartId);
    // The transactionId control over the identifier's bytes, replacing an
    // earlier one.
    bool setTransactionId(int bodyPartId, const TBuffer& id);
    // A revokeRequest control. Reason 7 (unused by X.509) and reasons above
    // 10 are refused before the library sees them.
    bool addRevocationRequest(const TRevokeRequest& request);
    // The record encoded as the content type asks, into out (and kept here).
    bool getEncoded(TBuffer& out);

    std::int32_t contentType() const { return contentType_; }
    CMC* get() const { return message_.get(); }

  private:
    struct Free {
        void operator()(CMC* c) const { CMC_free(c); }
    };
    std::int32_t contentType_ = kContentPKIData;
    std::unique_ptr<CMC, Free> message_;
    std::unique_ptr<TBuffer> cache_;
};

}  // namespace cadb
