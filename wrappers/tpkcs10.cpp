#include "wrappers/tpkcs10.h"

#include "wrappers/log.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tx509name.h"
#include "wrappers/x509_ext.h"

namespace cadb {
namespace {

const STACK_OF(X509_EXTENSION) * extension_stack(const TStack_V3EXT* set) {
    return set != nullptr ? set->stack() : nullptr;
}

// The request through its DER encoding, as a new record.
PKCS10* round_trip(const PKCS10* request) {
    if (request == nullptr) return nullptr;
    BufferPtr der(PKCS10_get(request, TPKCS10::kFormatDER));
    if (!der || der->data == nullptr || der->length <= 0) return nullptr;
    return PKCS10_load(reinterpret_cast<const char*>(der->data), der->length);
}

}  // namespace

TPKCS10::TPKCS10(const TPKCS10& other) : format_(other.format_) { copyFrom(other); }

TPKCS10& TPKCS10::operator=(const TPKCS10& other) {
    if (this != &other) {
        request_.reset();
        copyFrom(other);
    }
    return *this;
}

void TPKCS10::copyFrom(const TPKCS10& other) {
    try {
        request_.reset(round_trip(other.request_.get()));
    } catch (...) {
        request_.reset();
    }
}

TPKCS10::~TPKCS10() {
    request_.reset();
    try {
        cache_.reset();
    } catch (...) {
        LogMessage("TPKCS10::~TPKCS10()... Exception Caught II.");
    }
}

bool TPKCS10::make(const TX509Name& name, const TPrivateKey& subjectKey,
                   const TPKCS10SignParams& params) {
    request_.reset();
    try {
        PKEY* signer = params.signingKey != nullptr ? params.signingKey->getPKEY() : nullptr;
        request_.reset(PKCS10_make(name.get(), subjectKey.getPKEY(), signer, params.hashAlgId,
                                   nullptr, extension_stack(params.extensions), 1));
    } catch (...) {
        request_.reset();
    }
    return request_ != nullptr;
}

bool TPKCS10::loadDER(const unsigned char* data, int length) {
    if (data == nullptr || length <= 0) return false;
    request_.reset();
    try {
        request_.reset(PKCS10_load(reinterpret_cast<const char*>(data), length));
    } catch (...) {
        request_.reset();
    }
    return request_ != nullptr;
}

bool TPKCS10::loadBuffer(const TBuffer& buffer) {
    return loadDER(buffer.getData(), buffer.getLength());
}

int TPKCS10::setFormat(int code) {
    if (code != kFormatDER && code != kFormatPEM && code != kFormatText && code != kFormatBase64)
        return 0;
    format_ = code;
    return getEncoded() != nullptr ? 1 : 0;
}

TBuffer* TPKCS10::getEncoded() {
    cache_.reset();
    if (!request_) return nullptr;
    try {
        BUFFER* encoded = PKCS10_get(request_.get(), format_);
        if (encoded == nullptr) return nullptr;
        cache_ = std::make_unique<TBuffer>(static_cast<const BUFFER*>(nullptr));
        cache_->attach(encoded);
        return cache_.get();
    } catch (...) {
        cache_.reset();
        return nullptr;
    }
}

}  // namespace cadb
