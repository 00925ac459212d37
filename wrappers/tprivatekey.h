// The private key as the enrolment control handles it: one library key
// context that generates, loads and re-encodes the key, the key store whose
// key-encryption key protects it, and the password it is saved under. Every
// cryptographic decision is the key context's; this class fixes which types
// and parameter sets are offered and what survives a failure.
//
// Nothing here logs or throws: failures are false or null results, and the
// reason stays on the library's error queue.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "crypto/keys/pkey.h"
#include "crypto/store/pkey_ctx.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tpse.h"

namespace cadb {

class TUICallbacks;

struct PkeyCtxDeleter {
    void operator()(PKEY_CTX* ctx) const { PKEY_CTX_free(ctx); }
};
using PkeyCtxOwner = std::unique_ptr<PKEY_CTX, PkeyCtxDeleter>;

// Domain parameters (DSA, GOST R 34.10-94) generated for a later key.
class TPKeyParams {
  public:
    TPKeyParams();  // an empty record
    TPKeyParams(const TPKeyParams&) = delete;
    TPKeyParams& operator=(const TPKeyParams&) = delete;
    virtual ~TPKeyParams();

    // New parameters of type 116, 177 or 181 (the library refuses 181) and
    // size bits, with ui current for the progress callback when given. Any
    // other type is refused before the library is asked.
    bool generate(int type, int bits, TUICallbacks* ui = nullptr);
    const PKEY_PARAMS* get() const { return params_.get(); }

  private:
    struct Deleter {
        void operator()(PKEY_PARAMS* p) const { PKEY_PARAMS_free(p); }
    };
    std::unique_ptr<PKEY_PARAMS, Deleter> params_;
};

class TPrivateKey {
  public:
    // Encoding codes of a saved key, and the selectors that choose them.
    static constexpr int kEncodingDER = 1;
    static constexpr int kEncodingPEM = 2;
    static constexpr int kSelectPEM = 1;
    static constexpr int kSelectDER = 2;
    // Key-file forms.
    static constexpr int kFormTraditional = 1;
    static constexpr int kFormPKCS8 = 4;
    static constexpr std::size_t kPasswordRoom = 1024;

    // Installs the object layer's token password callbacks in the library.
    TPrivateKey();
    TPrivateKey(const TPrivateKey&) = delete;
    // Takes the other's key by an encoding round trip under its store and
    // password; without a key on the other side this object holds none.
    TPrivateKey& operator=(const TPrivateKey& other);
    virtual ~TPrivateKey();  // the password is wiped

    // An RSA key (rsaEncryption) of `parameter` bits, not bound to the store.
    bool generate(int parameter, TUICallbacks* ui = nullptr);
    // A key of the record's type (116 when none) and size (1024 when none);
    // the record's parameter object itself is not used.
    bool generateWithParams(const TPKeyParams* params);
    // A key of a type and parameter set from the offered table, generated
    // under the bound key store. A pair outside the table is refused and the
    // held key kept.
    bool generateByAlgorithm(std::uint32_t type, std::uint32_t paramSet,
                             TUICallbacks* ui = nullptr);

    // Reads an encoded key under store; a password is asked through the
    // current user-interface object with prompt (the key password prompt
    // when null).
    bool loadWithCallback(const TBuffer& encoded, const TPSE* store, TUICallbacks* ui = nullptr,
                          const char* prompt = nullptr);
    // Reads an encoded key with the given password (none: the key is read as
    // unprotected; the user is never asked).
    bool loadWithPassword(const TBuffer& encoded, const TPSE* store, const char* password,
                          int length);
    // Reads the key file at path under store, asking a password through the
    // current user-interface object. A missing medium is refused without a
    // read; a failed read keeps the context.
    bool loadFile(const TPSE* store, const char* path);

    // selector 1 PEM, 2 DER; form 1 traditional, 4 PKCS#8. 0 for another
    // value (a bad form leaves the encoding already changed).
    int setType(int selector, int form);
    // Binds the key to other's store (an empty other keeps the own store).
    void setPSE(const TPSE& store);
    // Keeps up to kPasswordRoom bytes (a longer password, or length 0, keeps
    // the old one) and hands the password to the key context.
    void setPassword(const char* bytes, int length);

    // The key context, created empty on first use.
    PKEY_CTX* getKey();
    // The library key, or null.
    PKEY* getPKEY() const;
    bool hasKey() const { return getPKEY() != nullptr; }
    const TPSE& pse() const { return pse_; }
    int encodingCode() const { return encoding_; }
    int formCode() const { return form_; }

    // The key in the chosen encoding and form, under the bound store and
    // password; cached and owned here until the next save. Null without a
    // key.
    TBuffer* save();
    // Chooses encoding (by selector) and form, then encodes the key under
    // store and password as save does.
    TBuffer* encode(int selector, int form, const TPSE& store, const char* password, int length);

  private:
    bool generateWith(int type, int n, bool bindStore);
    // Frees the held context and makes a fresh one with the store attached.
    PKEY_CTX* freshContext(PSE* store);
    TBuffer* encodeCode(int encoding, int form, PSE* store, const char* password, int length);
    const char* passwordOrNull() const;
    void wipePassword();

    PkeyCtxOwner ctx_;
    std::unique_ptr<TBuffer> cache_;
    int encoding_ = kEncodingPEM;
    TPSE pse_;
    std::array<char, kPasswordRoom + 1> password_{};  // one zero byte past the end
    int passwordLength_ = 0;
    int form_ = kFormPKCS8;
};

}  // namespace cadb
