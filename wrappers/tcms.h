// The object layer's message: one library message context for the
// enrolment control's signed requests, revocation requests and the checking
// of an authority's signed responses; and the signer results a failed check
// leaves behind.
//
// Failures are false or null results with the reason on the library's error
// queue; only TCMS::verify writes log lines.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/cms/cms.h"
#include "wrappers/refcounted.h"
#include "wrappers/tbuffer.h"

namespace cadb {

class TCertificate;
class TPrivateKey;
class TCertStore;

// The signer records of a message, taken over from its context.
class TSignerInfoMap {
  public:
    TSignerInfoMap() = default;
    TSignerInfoMap(const TSignerInfoMap&) = delete;
    TSignerInfoMap& operator=(const TSignerInfoMap&) = delete;
    ~TSignerInfoMap();

    // Takes the list, freeing the one held.
    void takeOver(STACK_OF(CMS_SIGNATURE) * list);
    int count() const;
    const CMS_SIGNATURE* at(int index) const;

  private:
    STACK_OF(CMS_SIGNATURE) * list_ = nullptr;
};

class TCMS : public TRefCounted {
  public:
    static constexpr std::int32_t kTypeData = 21;
    static constexpr std::int32_t kTypeSigned = 22;
    static constexpr std::int32_t kTypeEnveloped = 23;
    static constexpr std::int32_t kContentPKIData = 251;
    static constexpr std::int32_t kContentResponseBody = 252;

    TCMS();

    // 21, 22 or 23 with the context's option bits; any other type: false,
    // nothing changed.
    bool setType(std::int32_t type, int options);
    // 251 or 252; any other code: false, nothing changed.
    bool setContentType(std::int32_t code);
    // Digest 3, 4 or 64 is kept for this and later signers; another value
    // signs with the kept one. Certificate and key must be a pair.
    bool addSignature(const TCertificate* certificate, const TPrivateKey* key,
                      std::int32_t digest);
    // The content when writing, the encoded message when reading. An empty
    // buffer: false.
    bool setContent(const TBuffer& buffer);
    bool final();
    // 1 DER or 2 PEM; other values: false.
    bool setFormat(std::int32_t format);
    // The message in the output format, owned here until the next call.
    TBuffer* getEncoded();
    // The type the library determines for a fed message, 0 when none.
    int getType();
    // Checks every signer against the store, with flags as the mask of
    // ignorable chain errors and reserved, when given, as the time
    // (struct tm) to check at. True only when every signer's certificate and
    // signature passed; after a failure the signer records are kept here and
    // *out (when given) points at them.
    bool verify(TCertStore* store, int flags, TSignerInfoMap** out, const void* reserved);

    CMS* get() const { return message_.get(); }
    const TSignerInfoMap& signers() const { return signers_; }

  protected:
    ~TCMS() override;

  private:
    CmsPtr message_;
    std::unique_ptr<TBuffer> cache_;
    std::int32_t type_ = kTypeSigned;
    std::int32_t contentType_ = kContentPKIData;
    std::int32_t digest_ = 64;
    std::int32_t format_ = 1;
    TSignerInfoMap signers_;
};

}  // namespace cadb
