#include "wrappers/tcmc.h"

#include "wrappers/tpkcs10.h"

namespace cadb {

TCMC::TCMC() : message_(CMC_new()) {}

TCMC::~TCMC() = default;

bool TCMC::setContentType(std::int32_t code) {
    const bool known = code == kContentPKIData || code == kContentResponseBody;
    contentType_ = known ? code : 0;
    return known;
}

void TCMC::reset() {
    try {
        cache_.reset();
        message_.reset(CMC_new());
    } catch (...) {
    }
}

bool TCMC::pushPKCS10(const TPKCS10& request, int bodyPartId) {
    if (!message_) return false;
    // The record keeps a request of its own: a copy through the DER.
    if (request.get() == nullptr) return false;
    BufferPtr der(PKCS10_get(request.get(), TPKCS10::kFormatDER));
    if (!der || der->data == nullptr || der->length <= 0) return false;
    PKCS10* copy = PKCS10_load(reinterpret_cast<const char*>(der->data), der->length);
    if (copy == nullptr || CMP_push_PKCS10(message_.get(), bodyPartId, &copy) <= 0) return false;
    contentType_ = kContentPKIData;
    return true;
}

bool TCMC::setTransactionId(int bodyPartId, const TBuffer& id) {
    return message_ && CMS_set_trans_id(message_.get(), bodyPartId, id.get()) > 0;
}

bool TCMC::addRevocationRequest(const TRevokeRequest& request) {
    const bool known_reason = request.reason >= 0 && request.reason <= 10 && request.reason != 7;
    if (!message_ || !known_reason || !request.issuer) return false;
    return CMS_add_revreq_info(message_.get(), request.bodyPartId, request.issuer->get(), request.serial.get(),
                               request.reason, &request.invalidityDate,
                               request.hasSharedSecret ? request.sharedSecret.c_str() : nullptr,
                               request.comment.c_str()) == 1;
}

bool TCMC::getEncoded(TBuffer& out) {
    if (!message_) return false;
    BUFFER* encoded = CMC_get(message_.get(), contentType_);
    if (encoded == nullptr) return false;
    auto fresh = std::make_unique<TBuffer>();
    fresh->attach(encoded);
    cache_ = std::move(fresh);
    out = *cache_;
    return true;
}

}  // namespace cadb
