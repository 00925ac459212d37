#include "wrappers/tcertificate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "crypto/x509/cert.h"
#include "wrappers/tprivatekey.h"

namespace cadb {

TCertificate::TCertificate() : ctx_(CERT_CTX_new()) {}

TCertificate::TCertificate(const TCertificate& other) : format_(other.format_) {
    copyFrom(other.getCERT());
    if (ctx_ == nullptr) unparsed_ = other.unparsed_;
}

TCertificate::TCertificate(const CERT* cert) { copyFrom(cert); }

TCertificate& TCertificate::operator=(const TCertificate& other) {
    if (this != &other) {
        copyFrom(other.getCERT());
        if (ctx_ == nullptr) unparsed_ = other.unparsed_;
    }
    return *this;
}

TCertificate::~TCertificate() = default;

void TCertificate::copyFrom(const CERT* cert) {
    ctx_.reset();
    unparsed_.clear();
    if (cert == nullptr) return;
    try {
        BufferPtr der(CERT_get(cert, kFormatDER));
        if (!der || der->data == nullptr || der->length <= 0) return;
        CertCtxOwner ctx(CERT_CTX_new());
        if (ctx && CERT_CTX_set_buffer(ctx.get(), der->data, der->length) == 1)
            readInto(std::move(ctx));
    } catch (...) {
        ctx_.reset();
    }
}

bool TCertificate::readInto(CertCtxOwner ctx) {
    if (!ctx || CERT_CTX_read(ctx.get()) != 1 || CERT_CTX_get_CERT(ctx.get()) == nullptr)
        return false;
    ctx_ = std::move(ctx);
    return true;
}

CERT* TCertificate::getCERT() const { return ctx_ ? CERT_CTX_get_CERT(ctx_.get()) : nullptr; }

std::unique_ptr<TBuffer> TCertificate::encode(int format) const {
    const CERT* cert = getCERT();
    if (cert == nullptr) return nullptr;
    BUFFER* encoded = CERT_get(cert, format);
    if (encoded == nullptr) return nullptr;
    auto out = std::make_unique<TBuffer>(static_cast<const BUFFER*>(nullptr));
    out->attach(encoded);
    return out;
}

// The held bytes as they are, or under the certificate's PEM label.
static std::unique_ptr<TBuffer> encode_unparsed(const std::vector<unsigned char>& der, int format) {
    auto out = std::make_unique<TBuffer>();
    if (format == TCertificate::kFormatDER)
        return out->assign(der.data(), static_cast<int>(der.size())) ? std::move(out) : nullptr;
    if (format != TCertificate::kFormatPEM) return nullptr;
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem || PEM_write_bio(mem.get(), PEM_STRING_X509, "", der.data(),
                              static_cast<long>(der.size())) <= 0)
        return nullptr;
    char* text = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &text);
    return n > 0 && out->assign(text, static_cast<int>(n)) ? std::move(out) : nullptr;
}

TBuffer* TCertificate::getEncoded() {
    cache_.reset();
    try {
        cache_ = unparsed_.empty() ? encode(format_) : encode_unparsed(unparsed_, format_);
    } catch (...) {
        cache_.reset();
    }
    return cache_.get();
}

bool TCertificate::loadDER(const unsigned char* data, int length) {
    ctx_.reset();
    unparsed_.clear();
    // The context takes a length of 0 as "up to the terminator": refused
    // here so that nothing is read past the caller's bytes.
    if (data == nullptr || length <= 0) return false;
    try {
        CertCtxOwner ctx(CERT_CTX_new());
        if (!ctx || CERT_CTX_set_buffer(ctx.get(), data, length) != 1) return false;
        return readInto(std::move(ctx));
    } catch (...) {
        ctx_.reset();
        return false;
    }
}

bool TCertificate::loadBuffer(const TBuffer& buffer) {
    return loadDER(buffer.getData(), buffer.getLength());
}

bool TCertificate::loadFile(const char* path) {
    if (path == nullptr) return false;
    ctx_.reset();
    unparsed_.clear();
    try {
        CertCtxOwner ctx(CERT_CTX_new());
        if (!ctx || CERT_CTX_set_path(ctx.get(), path) != 1) return false;
        return readInto(std::move(ctx));
    } catch (...) {
        ctx_.reset();
        return false;
    }
}

bool TCertificate::holdUnparsed(const unsigned char* der, int length) {
    ctx_.reset();
    unparsed_.clear();
    if (der == nullptr || length <= 0) return false;
    try {
        unparsed_.assign(der, der + length);
        return true;
    } catch (...) {
        unparsed_.clear();
        return false;
    }
}

int TCertificate::setFormat(int code) {
    if (code != kFormatDER && code != kFormatPEM && code != kFormatText) return 0;
    format_ = code;
    return 1;
}

bool TCertificate::matchesKey(const TPrivateKey& key) const {
    const CERT* cert = getCERT();
    const PKEY* pkey = key.getPKEY();
    return cert != nullptr && pkey != nullptr && CERT_check_PKEY(cert, pkey) == 1;
}

bool ReadStreamToCertificate(std::istream& stream, TCertificate& target) {
    TBuffer bytes(static_cast<const BUFFER*>(nullptr));
    ReadStreamToBuffer(stream, bytes);
    return target.loadBuffer(bytes);
}

}  // namespace cadb
