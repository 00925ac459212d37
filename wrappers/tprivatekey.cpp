#include "wrappers/tprivatekey.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "crypto/bio/etoken.h"
#include "crypto/bio/rutoken.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/media_io.h"
#include "wrappers/pse_container.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

// The key library reports progress without a result; the dialog binding's
// callback has one.
void progress_to_ui(int stage, int count, void* arg) { displProgressCBK(stage, count, arg); }

// Makes ui current for the scope when one is given; null keeps the current
// object.
class OptionalUIScope {
  public:
    explicit OptionalUIScope(TUICallbacks* ui) {
        if (ui != nullptr) scope_.emplace(ui);
    }

  private:
    std::optional<TCurrentUIScope> scope_;
};

// The parameter generation is given for a pair of the offered table, or
// nothing when the pair is not offered.
std::optional<int> offered_parameter(std::uint32_t type, std::uint32_t set) {
    switch (type) {
        case NID_rsa:
        case EVP_PKEY_DSA:
        case NID_R3410:
        case NID_ECR3410:
            return 0;  // the set is not the caller's to choose
        case NID_ECR3410_CP:
            if (set >= NID_R3410_2001_A_PARAMSET && set <= NID_R3410_2001_XCHB_PARAMSET)
                return static_cast<int>(set);
            return std::nullopt;
        case NID_R3410_CP:
            if (set >= NID_R3410_94_A_PARAMSET && set <= NID_R3410_94_XCHC_PARAMSET)
                return static_cast<int>(set);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

constexpr int kDefaultParamsType = EVP_PKEY_DSA;
constexpr int kDefaultParamsBits = 1024;

}  // namespace

TPKeyParams::TPKeyParams() : params_(PKEY_PARAMS_new()) {}

TPKeyParams::~TPKeyParams() = default;

bool TPKeyParams::generate(int type, int bits, TUICallbacks* ui) {
    if (type != EVP_PKEY_DSA && type != NID_R3410 && type != NID_ECR3410) return false;
    params_.reset();
    OptionalUIScope scope(ui);
    try {
        params_.reset(PKEY_PARAMS_generate(type, bits, progress_to_ui));
    } catch (...) {
        params_.reset();
    }
    return params_ != nullptr;
}

TPrivateKey::TPrivateKey() {
    ETOKEN_set_passwd_cb(etoken_passwd_cb);
    RUTOKEN_set_passwd_cb(rutoken_passwd_cb);
    PKCS11_set_passwd_cb(pkcs11_passwd_cb);
}

TPrivateKey::~TPrivateKey() { wipePassword(); }

void TPrivateKey::wipePassword() {
    OPENSSL_cleanse(password_.data(), password_.size());
    passwordLength_ = 0;
}

const char* TPrivateKey::passwordOrNull() const {
    return password_[0] != 0 ? password_.data() : nullptr;
}

PKEY_CTX* TPrivateKey::freshContext(PSE* store) {
    ctx_.reset(PKEY_CTX_new());
    if (!ctx_) return nullptr;
    if (store != nullptr && PKEY_CTX_set_PSE(ctx_.get(), store) != 1) {
        ctx_.reset();
        return nullptr;
    }
    return ctx_.get();
}

bool TPrivateKey::generateWith(int type, int n, bool bindStore) {
    try {
        PKEY_CTX* ctx = freshContext(nullptr);
        if (ctx == nullptr) return false;
        // The store is attached before generation so that a GOST key is made
        // inside it.
        if (PKEY_CTX_set_progress_cb(ctx, progress_to_ui) != 1 ||
            (bindStore && PKEY_CTX_set_PSE(ctx, pse_.getPSE()) != 1) ||
            PKEY_CTX_generate(ctx, type, n) != 1) {
            ctx_.reset();
            return false;
        }
        return true;
    } catch (...) {
        ctx_.reset();
        return false;
    }
}

bool TPrivateKey::generate(int parameter, TUICallbacks* ui) {
    OptionalUIScope scope(ui);
    return generateWith(NID_rsaEncryption, parameter, false);
}

bool TPrivateKey::generateWithParams(const TPKeyParams* params) {
    const PKEY_PARAMS* record = params != nullptr ? params->get() : nullptr;
    const int type = record != nullptr && record->type != 0 ? record->type : kDefaultParamsType;
    const int bits = record != nullptr && record->size != 0 ? record->size : kDefaultParamsBits;
    return generateWith(type, bits, false);
}

bool TPrivateKey::generateByAlgorithm(std::uint32_t type, std::uint32_t paramSet,
                                      TUICallbacks* ui) {
    const std::optional<int> n = offered_parameter(type, paramSet);
    if (!n) return false;
    OptionalUIScope scope(ui);
    return generateWith(static_cast<int>(type), *n, true);
}

bool TPrivateKey::loadWithCallback(const TBuffer& encoded, const TPSE* store, TUICallbacks* ui,
                                   const char* prompt) {
    ctx_.reset();
    if (encoded.isEmpty()) return false;
    OptionalUIScope scope(ui);
    try {
        PKEY_CTX* ctx = freshContext(nullptr);
        const char* arg = prompt != nullptr ? prompt : KeyPasswordPrompt().c_str();
        if (ctx == nullptr ||
            PKEY_CTX_set_buffer(ctx, encoded.getData(), encoded.getLength()) != 1 ||
            PKEY_CTX_set_PSE(ctx, store != nullptr ? store->getPSE() : nullptr) != 1 ||
            PKEY_CTX_set_passwd_cb_arg(ctx, const_cast<char*>(arg)) != 1 ||
            PKEY_CTX_set_passwd_cb(ctx, getPassCBK) != 1 || PKEY_CTX_read(ctx) != 1) {
            ctx_.reset();
            return false;
        }
        return true;
    } catch (...) {
        ctx_.reset();
        return false;
    }
}

bool TPrivateKey::loadWithPassword(const TBuffer& encoded, const TPSE* store, const char* password,
                                   int length) {
    ctx_.reset();
    if (encoded.isEmpty()) return false;
    // Password bytes, even none, make the context read without asking: the
    // caller asks through loadWithCallback when this fails.
    static const char kNone[] = "";
    if (password == nullptr || length <= 0) {
        password = password != nullptr ? password : kNone;
        length = static_cast<int>(std::strlen(password));
    }
    try {
        PKEY_CTX* ctx = freshContext(nullptr);
        if (ctx == nullptr ||
            PKEY_CTX_set_buffer(ctx, encoded.getData(), encoded.getLength()) != 1 ||
            PKEY_CTX_set_PSE(ctx, store != nullptr ? store->getPSE() : nullptr) != 1 ||
            PKEY_CTX_set_passwd(ctx, password, length) != 1 ||
            PKEY_CTX_set_passwd_cb_arg(ctx, const_cast<char*>(KeyPasswordPrompt().c_str())) != 1 ||
            PKEY_CTX_set_passwd_cb(ctx, getPassCBK) != 1 || PKEY_CTX_read(ctx) != 1) {
            ctx_.reset();
            return false;
        }
        return true;
    } catch (...) {
        ctx_.reset();
        return false;
    }
}

bool TPrivateKey::loadFile(const TPSE* store, const char* path) {
    if (store == nullptr || path == nullptr) return false;
    if (IsMediaPathPresent(path) != 1) return false;
    try {
        if (!ctx_ && freshContext(nullptr) == nullptr) return false;
        PKEY_CTX* ctx = ctx_.get();
        return PKEY_CTX_set_PSE(ctx, store->getPSE()) == 1 && PKEY_CTX_set_path(ctx, path) == 1 &&
               PKEY_CTX_set_passwd_cb_arg(ctx, const_cast<char*>(KeyPasswordPrompt().c_str())) ==
                   1 &&
               PKEY_CTX_set_passwd_cb(ctx, getPassCBK) == 1 && PKEY_CTX_read(ctx) == 1;
    } catch (...) {
        return false;
    }
}

int TPrivateKey::setType(int selector, int form) {
    if (selector == kSelectPEM) {
        encoding_ = kEncodingPEM;
    } else if (selector == kSelectDER) {
        encoding_ = kEncodingDER;
    } else {
        return 0;
    }
    if (form != kFormTraditional && form != kFormPKCS8) return 0;
    form_ = form;
    return 1;
}

void TPrivateKey::setPSE(const TPSE& store) {
    if (store.getPSE() != nullptr) pse_.assign(store);
    if (ctx_) PKEY_CTX_set_PSE(ctx_.get(), pse_.getPSE());
}

void TPrivateKey::setPassword(const char* bytes, int length) {
    // A password that does not fit is refused whole: a cut one would lock the
    // key under a password nobody typed.
    if (bytes != nullptr && length > 0 && static_cast<std::size_t>(length) <= kPasswordRoom) {
        wipePassword();
        std::memcpy(password_.data(), bytes, static_cast<std::size_t>(length));
        passwordLength_ = length;
    }
    if (ctx_ && pse_.getPSE() != nullptr)
        PKEY_CTX_set_passwd(ctx_.get(), passwordOrNull(), passwordLength_);
}

PKEY_CTX* TPrivateKey::getKey() {
    if (!ctx_) ctx_.reset(PKEY_CTX_new());
    return ctx_.get();
}

PKEY* TPrivateKey::getPKEY() const { return ctx_ ? PKEY_CTX_get_PKEY(ctx_.get()) : nullptr; }

TBuffer* TPrivateKey::encodeCode(int encoding, int form, PSE* store, const char* password,
                                 int length) {
    cache_.reset();
    PKEY* key = getPKEY();
    if (key == nullptr) return nullptr;
    try {
        BUFFER* encoded =
            PKEY_get_passwd(key, encoding, form, store, password, password ? length : 0);
        if (encoded == nullptr) return nullptr;
        cache_ = std::make_unique<TBuffer>(static_cast<const BUFFER*>(nullptr));
        cache_->attach(encoded);
        return cache_.get();
    } catch (...) {
        cache_.reset();
        return nullptr;
    }
}

TBuffer* TPrivateKey::encode(int selector, int form, const TPSE& store, const char* password,
                             int length) {
    if (!ctx_) return nullptr;
    if (selector != kSelectPEM && selector != kSelectDER) return nullptr;
    encoding_ = selector == kSelectPEM ? kEncodingPEM : kEncodingDER;
    if (form != kFormTraditional && form != kFormPKCS8) return nullptr;
    form_ = form;
    const char* pass = password != nullptr && password[0] != 0 ? password : nullptr;
    return encodeCode(encoding_, form_, store.getPSE(), pass, length);
}

TBuffer* TPrivateKey::save() {
    // The stored code is used as it stands, so every save writes the encoding
    // last chosen.
    if (!ctx_) return nullptr;
    return encodeCode(encoding_, form_, pse_.getPSE(), passwordOrNull(), passwordLength_);
}

TPrivateKey& TPrivateKey::operator=(const TPrivateKey& other) {
    if (this == &other) return *this;
    try {
        BufferPtr encoded;
        if (PKEY* key = other.getPKEY())
            encoded.reset(PKEY_get_passwd(key, encoding_, form_, other.pse_.getPSE(),
                                          other.passwordOrNull(),
                                          other.passwordOrNull() ? other.passwordLength_ : 0));
        ctx_.reset();
        pse_.assign(other.pse_);
        if (other.passwordOrNull() != nullptr) {
            wipePassword();
            std::memcpy(password_.data(), other.password_.data(), kPasswordRoom);
            passwordLength_ = other.passwordLength_;
        }
        if (encoded && encoded->data != nullptr) {
            PKEY_CTX* ctx = freshContext(nullptr);
            if (ctx == nullptr || PKEY_CTX_set_buffer(ctx, encoded->data, encoded->length) != 1 ||
                PKEY_CTX_set_PSE(ctx, pse_.getPSE()) != 1 ||
                PKEY_CTX_set_passwd(ctx, other.passwordOrNull(), other.passwordLength_) != 1 ||
                PKEY_CTX_read(ctx) != 1)
                ctx_.reset();
        }
    } catch (...) {
        ctx_.reset();
    }
    return *this;
}

}  // namespace cadb
