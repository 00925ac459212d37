// Reading private keys from key-file bytes.
#include <openssl/crypto.h>

#include <array>
#include <cstring>

#include "crypto/cadb/passwd.h"
#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/keys/pkey_local.h"

namespace cadb {
namespace {

constexpr int kPasswordRoom = 4096;

// The user's password, asked at most once however many forms and attempts
// need it, served either in the stored password encoding or as typed.
class PasswordOnce {
  public:
    PasswordOnce(BUFFER_PASSWD_CB cb, void* arg) : cb_(cb), arg_(arg) {}
    ~PasswordOnce() {
        OPENSSL_cleanse(raw_.data(), raw_.size());
        if (converted_ != nullptr)
            OPENSSL_clear_free(converted_, static_cast<std::size_t>(converted_len_) + 1);
    }
    PasswordOnce(const PasswordOnce&) = delete;
    PasswordOnce& operator=(const PasswordOnce&) = delete;

    static int serve(char* out, int size, int, void* self) {
        return static_cast<PasswordOnce*>(self)->give(out, size);
    }
    void use_typed() { typed_ = true; }
    // A second attempt can tell something only when the two forms differ.
    bool forms_differ() const {
        return asked_ && converted_ != nullptr &&
               (converted_len_ != raw_len_ || std::memcmp(converted_, raw_.data(), raw_len_) != 0);
    }

  private:
    int give(char* out, int size) {
        if (!asked_) {
            asked_ = true;
            const int n = cb_(raw_.data(), kPasswordRoom, 0, arg_);
            if (n < 0 || n > kPasswordRoom) return -1;
            raw_len_ = n;
            converted_ = PASSWD_encode(raw_.data(), n, &converted_len_);
        }
        if (raw_len_ < 0) return -1;
        const char* src = !typed_ && converted_ != nullptr ? converted_ : raw_.data();
        const int len = !typed_ && converted_ != nullptr ? converted_len_ : raw_len_;
        if (out == nullptr || len > size) return -1;
        std::memcpy(out, src, static_cast<std::size_t>(len));
        return len;
    }

    BUFFER_PASSWD_CB cb_;
    void* arg_;
    bool asked_ = false;
    bool typed_ = false;
    std::array<char, kPasswordRoom + 1> raw_{};
    int raw_len_ = -1;
    char* converted_ = nullptr;
    int converted_len_ = 0;
};

EVP_PKEY* load(const unsigned char* bytes, int len, BUFFER_PASSWD_CB cb, void* arg) {
    if (cb == nullptr) return EVP_PKEY_load_private(bytes, len, nullptr, nullptr, nullptr);
    PasswordOnce password(cb, arg);
    ERR_set_mark();
    EVP_PKEY* pkey = EVP_PKEY_load_private(bytes, len, nullptr, PasswordOnce::serve, &password);
    if (pkey == nullptr && password.forms_differ()) {
        // A file written with the password as typed (traditional PEM, or an
        // older writer) opens on the second attempt.
        password.use_typed();
        pkey = EVP_PKEY_load_private(bytes, len, nullptr, PasswordOnce::serve, &password);
    }
    if (pkey != nullptr)
        ERR_pop_to_mark();
    else
        ERR_clear_last_mark();
    return pkey;
}

}  // namespace

PKEY* PKEY_read_buffer(const unsigned char* bytes, int len, PSE* store, BUFFER_PASSWD_CB cb,
                       void* arg) {
    if (bytes == nullptr || len <= 0) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_READ_BUFFER, ERR_R_INTERNAL);
        return nullptr;
    }
    EVP_PKEY* pkey = load(bytes, len, cb, arg);
    PKEY* key = nullptr;
    // The store goes only onto a GOST key: the other types have no use for
    // it.
    if (pkey != nullptr &&
        (store == nullptr || !pkey_is_gost(EVP_PKEY_nid(pkey)) || EVP_PKEY_set_pse(pkey, store)))
        key = PKEY_from_EVP(pkey, store);
    EVP_PKEY_free(pkey);
    if (key == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_READ_BUFFER, ERR_LIB_CADB);
    return key;
}

PKEY* PKEY_read_buffer_passwd(const unsigned char* bytes, int len, PSE* store, const char* passwd,
                              int passwd_len) {
    if (passwd == nullptr) return PKEY_read_buffer(bytes, len, store, nullptr, nullptr);
    BufferPtr pw(BUFFER_fill(passwd, passwd_len > 0 ? passwd_len : -1));
    if (!pw) return nullptr;
    ERR_set_mark();
    PKEY* key = PKEY_read_buffer(bytes, len, store, BUFFER_passwd_cb, pw.get());
    // The text form differs only for a password holding a zero byte.
    if (key == nullptr && std::memchr(pw->data, 0, static_cast<std::size_t>(pw->length)) != nullptr)
        key = PKEY_read_buffer(bytes, len, store, BUFFER_passwd_cb_str, pw.get());
    if (key != nullptr)
        ERR_pop_to_mark();
    else
        ERR_clear_last_mark();
    return key;
}

}  // namespace cadb
