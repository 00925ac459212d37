// SubjectPublicKeyInfo and PKCS#8 through libcrypto's generic decoders with
// the engine's GOST key types loaded: decoding, printing, re-encoding, and
// signing and verifying with what was decoded.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <vector>

#include "crypto/engine/engine.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

void print_all(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_null());
    if (bio == nullptr) abort();
    EVP_PKEY_print_public(bio, key, 2, nullptr);
    EVP_PKEY_print_private(bio, key, 2, nullptr);
    EVP_PKEY_print_params(bio, key, 2, nullptr);
    BIO_free(bio);
}

// A decoded key is put to work through the generic layer: sign when it is
// private, verify a made-up signature either way.
void use(EVP_PKEY* key, bool is_private) {
    const unsigned char digest[32] = {7, 6, 5, 4, 3, 2, 1};
    unsigned char sig[512] = {};
    std::size_t len = sizeof sig;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    if (ctx == nullptr) return;
    if (is_private && EVP_PKEY_sign_init(ctx) == 1)
        EVP_PKEY_sign(ctx, sig, &len, digest, sizeof digest);
    sig[0] = 1;
    sig[40] = 1;
    if (EVP_PKEY_verify_init(ctx) == 1) EVP_PKEY_verify(ctx, sig, 64, digest, sizeof digest);
    EVP_PKEY_CTX_free(ctx);
}

void public_key(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    EVP_PKEY* key = ::d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
    if (key == nullptr) return;
    print_all(key);
    use(key, false);
    unsigned char* out = nullptr;
    const int n = ::i2d_PUBKEY(key, &out);
    if (n > 0) {
        const unsigned char* q = out;
        EVP_PKEY* again = ::d2i_PUBKEY(nullptr, &q, n);
        if (again == nullptr || EVP_PKEY_eq(again, key) != 1) abort();
        EVP_PKEY_free(again);
    }
    OPENSSL_free(out);
    EVP_PKEY_free(key);
}

void private_key(const std::vector<unsigned char>& der, bool through_info) {
    const unsigned char* p = der.data();
    EVP_PKEY* key = nullptr;
    if (through_info) {
        PKCS8_PRIV_KEY_INFO* info =
            ::d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
        if (info == nullptr) return;
        key = ::EVP_PKCS82PKEY(info);
        PKCS8_PRIV_KEY_INFO_free(info);
    } else {
        key = ::d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size()));
    }
    if (key == nullptr) return;
    print_all(key);
    use(key, true);
    PKCS8_PRIV_KEY_INFO* info = ::EVP_PKEY2PKCS8(key);
    PKCS8_PRIV_KEY_INFO_free(info);
    unsigned char* out = nullptr;
    const int n = ::i2d_PUBKEY(key, &out);
    (void)n;
    OPENSSL_free(out);
    EVP_PKEY_free(key);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> rest = in.rest();
    switch (choice % 3) {
        case 0:
            public_key(rest);
            break;
        case 1:
            private_key(rest, true);
            break;
        default:
            private_key(rest, false);
            break;
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
