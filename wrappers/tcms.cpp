#include "wrappers/tcms.h"

#include "crypto/core/err.h"
#include "wrappers/log.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tcertstore.h"
#include "wrappers/tprivatekey.h"

namespace cadb {

TSignerInfoMap::~TSignerInfoMap() { takeOver(nullptr); }

void TSignerInfoMap::takeOver(STACK_OF(CMS_SIGNATURE) * list) {
    sk_CMS_SIGNATURE_pop_free(list_, CMS_signature_free);
    list_ = list;
}

int TSignerInfoMap::count() const { return sk_CMS_SIGNATURE_num(list_) > 0 ? sk_CMS_SIGNATURE_num(list_) : 0; }

const CMS_SIGNATURE* TSignerInfoMap::at(int index) const {
    return index >= 0 && index < count() ? sk_CMS_SIGNATURE_value(list_, index) : nullptr;
}

TCMS::TCMS() : message_(CMS_new()) {}

TCMS::~TCMS() {
    try {
        cache_.reset();
    } catch (...) {
    }
}

bool TCMS::setType(std::int32_t type, int options) {
    if (type != kTypeData && type != kTypeSigned && type != kTypeEnveloped) return false;
    type_ = type;
    return message_ && CMS_set_type(message_.get(), type, options) > 0;
}

bool TCMS::setContentType(std::int32_t code) {
    if (code != kContentPKIData && code != kContentResponseBody) return false;
    contentType_ = code;
    return message_ && CMS_set_content_type(message_.get(), code) > 0;
}

bool TCMS::addSignature(const TCertificate* certificate, const TPrivateKey* key,
                        std::int32_t digest) {
    if (digest == 3 || digest == 4 || digest == 64) digest_ = digest;
    const CERT* cert = certificate != nullptr ? certificate->getCERT() : nullptr;
    const PKEY* pkey = key != nullptr ? key->getPKEY() : nullptr;
    return message_ && CMS_add_signature(message_.get(), cert, pkey, digest_) > 0;
}

bool TCMS::setContent(const TBuffer& buffer) {
    if (buffer.isEmpty() || buffer.getLength() <= 0) return false;
    return message_ && CMS_update_data(message_.get(), buffer.getData(), buffer.getLength()) > 0;
}

bool TCMS::final() { return message_ && CMS_final(message_.get()) > 0; }

bool TCMS::setFormat(std::int32_t format) {
    if (format != 1 && format != 2) return false;
    format_ = format;
    return true;
}

TBuffer* TCMS::getEncoded() {
    try {
        cache_.reset();
    } catch (...) {
    }
    if (!message_) return nullptr;
    BUFFER* encoded = CMS_get(message_.get(), format_);
    if (encoded == nullptr) return nullptr;
    auto buffer = std::make_unique<TBuffer>();
    buffer->attach(encoded);
    cache_ = std::move(buffer);
    return cache_.get();
}

int TCMS::getType() { return message_ ? CMS_get_type(message_.get()) : 0; }

bool TCMS::verify(TCertStore* store, int flags, TSignerInfoMap** out, const void* reserved) {
    if (out != nullptr) *out = nullptr;
    const int verified =
        message_ ? CMS_verify(message_.get(), store != nullptr ? store->get() : nullptr,
                              static_cast<const struct tm*>(reserved),
                              static_cast<VERIFY_IGNORE_MASK>(static_cast<std::uint32_t>(flags)))
                 : 0;
    if (verified <= 0) return false;
    CMS* cms = message_.get();
    for (int i = 0; i < sk_CMS_SIGNATURE_num(cms->signatures); ++i) {
        const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(cms->signatures, i);
        LogMessageNoCRLF("TCMS::verify()...certificate=%i signature=%i\n", s->chain_result,
                         s->signature_result);
        if (s->chain_result <= 0 || s->signature_result <= 0) {
            LogMessage("TCMS::verify()...Signature Invalid");
            signers_.takeOver(cms->signatures);
            cms->signatures = nullptr;
            if (out != nullptr) *out = &signers_;
            return false;
        }
    }
    return verified == 1;
}

}  // namespace cadb
