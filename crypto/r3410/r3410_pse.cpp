// The wrapped ("opaque") form of private keys: the private number wrapped
// under a key store's key-encryption key, with the 4-byte check value the
// store computes over it.
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <array>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_dh.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

constexpr int kKeyBytes = 32;
constexpr int kCheckBytes = 4;
constexpr int kBlockBytes = kKeyBytes + kCheckBytes;

// Clears a secret buffer however the function leaves.
template <size_t N>
struct SecretBytes {
    std::array<unsigned char, N> b{};
    ~SecretBytes() { OPENSSL_cleanse(b.data(), b.size()); }
};

int fail(int func, int reason) {
    CADB_ERR(ERR_LIB_R3410, func, reason);
    return 0;
}

}  // namespace

int R3410_encrypt_opaque(GOSTS* key, PSE* store) {
    if (key == nullptr) return fail(R3410_F_R3410_ENCRYPT_OPAQUE, ERR_R_NULL_PARAMETER);
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    if (!key->x) return fail(R3410_F_R3410_ENCRYPT_OPAQUE, R3410_R_INVALID_PRIVATE_KEY);
    if (key->has_check) return 1;
    if (store != nullptr && !key->pse) key->pse.reset(PSE_up_ref(store));
    PSE* use = store != nullptr ? store : key->pse.get();
    if (use == nullptr) return fail(R3410_F_R3410_ENCRYPT_OPAQUE, ERR_LIB_PSE);

    BnPtr x = gosts_private_copy(key);
    SecretBytes<kKeyBytes> clear;
    SecretBytes<kBlockBytes> block;
    if (!x || BN_num_bytes(x.get()) > kKeyBytes ||
        BN_bn2binpad(x.get(), clear.b.data(), kKeyBytes) != kKeyBytes) {
        return fail(R3410_F_R3410_ENCRYPT_OPAQUE, ERR_LIB_PSE);
    }
    if (PSE_write_opaque(use, clear.b.data(), block.b.data()) == nullptr) {
        return fail(R3410_F_R3410_ENCRYPT_OPAQUE, ERR_LIB_PSE);
    }
    BnPtr wrapped(BN_bin2bn(block.b.data(), kKeyBytes, nullptr));
    BnPtr check(BN_bin2bn(block.b.data() + kKeyBytes, kCheckBytes, nullptr));
    if (!gosts_wrapped_store(key, std::move(wrapped), std::move(check))) {
        return fail(R3410_F_R3410_ENCRYPT_OPAQUE, ERR_R_MALLOC);
    }
    return 1;
}

int R3410_decrypt_opaque(GOSTS* key, PSE* store) {
    if (key == nullptr) return fail(R3410_F_R3410_DECRYPT_OPAQUE, ERR_R_NULL_PARAMETER);
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    if (!key->x) return fail(R3410_F_R3410_DECRYPT_OPAQUE, R3410_R_INVALID_PRIVATE_KEY);
    if (!key->has_check) return 1;
    if (store != nullptr && !key->pse) key->pse.reset(PSE_up_ref(store));
    PSE* use = store != nullptr ? store : key->pse.get();
    if (use == nullptr) return fail(R3410_F_R3410_DECRYPT_OPAQUE, ERR_LIB_PSE);

    BnPtr wrapped = gosts_wrapped_copy(key);
    SecretBytes<kBlockBytes> block;
    SecretBytes<kKeyBytes> clear;
    if (!wrapped || !key->check || BN_num_bytes(wrapped.get()) > kKeyBytes ||
        BN_num_bytes(key->check.get()) > kCheckBytes ||
        BN_bn2binpad(wrapped.get(), block.b.data(), kKeyBytes) != kKeyBytes ||
        BN_bn2binpad(key->check.get(), block.b.data() + kKeyBytes, kCheckBytes) != kCheckBytes) {
        return fail(R3410_F_R3410_DECRYPT_OPAQUE, ERR_LIB_PSE);
    }
    if (PSE_read_opaque(use, block.b.data(), clear.b.data()) == nullptr) {
        return fail(R3410_F_R3410_DECRYPT_OPAQUE, ERR_LIB_PSE);
    }
    BnPtr x(BN_bin2bn(clear.b.data(), kKeyBytes, nullptr));
    if (!gosts_private_store(key, std::move(x))) {
        return fail(R3410_F_R3410_DECRYPT_OPAQUE, ERR_R_MALLOC);
    }
    return 1;
}

int R3410_generate_key(PSE* store, int code, unsigned char* out36, unsigned char* y128) {
    if (store == nullptr || out36 == nullptr || y128 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GENERATE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    std::unique_ptr<GOSTS, decltype(&GOSTS_free)> key(GOSTS_new(), GOSTS_free);
    bool ok = R3410_DH_check(nullptr) && key && R3410_set_params_by_code(key.get(), code) &&
              GOSTS_generate_pubkey(key.get(), nullptr, 0) &&
              R3410_encrypt_opaque(key.get(), store);
    if (ok) {
        BnPtr wrapped = gosts_wrapped_copy(key.get());
        ok = wrapped && BN_bn2binpad(wrapped.get(), out36, kKeyBytes) == kKeyBytes &&
             BN_bn2binpad(key->check.get(), out36 + kKeyBytes, kCheckBytes) == kCheckBytes &&
             BN_bn2binpad(key->y.get(), y128, 128) == 128;
    }
    if (!ok) {
        OPENSSL_cleanse(out36, kBlockBytes);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GENERATE_KEY, ERR_LIB_GOSTS);
        return 0;
    }
    return 1;
}

}  // namespace cadb
