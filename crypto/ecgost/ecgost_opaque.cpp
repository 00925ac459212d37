#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstdint>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_local.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_secrets.h"

namespace cadb {
namespace {

constexpr int kKeyBytes = 32;

// A buffer for clear key bytes, wiped on every way out.
struct ClearBlock {
    unsigned char bytes[PSE_BLOCK_SIZE]{};
    ~ClearBlock() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

std::uint32_t read_be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

void write_be32(std::uint32_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// The store to use: the given one (attached to a key that has none), else
// the key's own.
PSE* store_for(ECGOST* key, PSE* given) {
    if (given && !key->pse) ECGOST_set_pse(key, given);
    return given ? given : key->pse;
}

}  // namespace

int ECGOST_encrypt_opaque(ECGOST* key, PSE* pse) {
    auto fail = [](int reason) {
        if (reason != ERR_LIB_PSE) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_ENCRYPT_OPAQUE, reason);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_ENCRYPT_OPAQUE, ERR_LIB_PSE);
        return 0;
    };
    if (!key) return fail(ERR_R_NULL_PARAMETER);
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    if (!key->d || !key->d->set) return fail(ERR_LIB_PSE);
    if (key->check) return 1;
    PSE* store = store_for(key, pse);
    if (!store) return fail(ERR_LIB_PSE);
    BnPtr d = ecgost::unmask(key->d);
    ClearBlock clear;
    unsigned char block[PSE_BLOCK_SIZE];
    if (!d) return fail(ERR_R_MALLOC);
    if (BN_bn2binpad(d.get(), clear.bytes, kKeyBytes) < 0 ||
        !PSE_write_opaque(store, clear.bytes, block))
        return fail(ERR_LIB_PSE);
    BnPtr wrapped(BN_bin2bn(block, kKeyBytes, nullptr));
    if (!wrapped || !ecgost::store_masked(key->d, wrapped.get())) return fail(ERR_R_MALLOC);
    key->check = read_be32(block + kKeyBytes);
    return 1;
}

int ECGOST_decrypt_opaque(ECGOST* key, PSE* pse) {
    auto fail = [](int reason) {
        if (reason != ERR_LIB_PSE) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DECRYPT_OPAQUE, reason);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DECRYPT_OPAQUE, ERR_LIB_PSE);
        return 0;
    };
    if (!key) return fail(ERR_R_NULL_PARAMETER);
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    if (!key->d || !key->d->set) return fail(ERR_LIB_PSE);
    if (!key->check) return 1;
    PSE* store = store_for(key, pse);
    if (!store) return fail(ERR_LIB_PSE);
    BnPtr wrapped = ecgost::unmask(key->d);
    unsigned char block[PSE_BLOCK_SIZE];
    ClearBlock clear;
    if (!wrapped || BN_bn2binpad(wrapped.get(), block, kKeyBytes) < 0) return fail(ERR_LIB_PSE);
    write_be32(*key->check, block + kKeyBytes);
    if (!PSE_read_opaque(store, block, clear.bytes)) return fail(ERR_LIB_PSE);
    // The clear number goes straight back under a mask.
    BnPtr d(BN_bin2bn(clear.bytes, kKeyBytes, nullptr));
    if (!d || !ecgost::store_masked(key->d, d.get())) return fail(ERR_R_MALLOC);
    key->check.reset();
    return 1;
}

int ECGOST_generate_key(PSE* pse, int code, unsigned char* out36, unsigned char* point_out,
                        std::size_t* point_len, int flags) {
    auto fail = [out36](int reason) {
        if (out36) OPENSSL_cleanse(out36, PSE_BLOCK_SIZE);
        if (reason == ECGOST_R_INVALID_PARAMETERS) {
            ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_GENERATE_KEY, reason);
        }
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_GENERATE_KEY, ERR_LIB_ECGOST);
        return 0;
    };
    if (!pse || !out36 || !point_out || !point_len) return fail(ECGOST_R_INVALID_PARAMETERS);
    EcCurvePtr c(ECURVE_new_by_code(code));
    if (!c) return fail(ERR_LIB_ECGOST);
    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(ECGOST_new_by_curve(c.get()), ECGOST_free);
    if (!key || !ECGOST_DH_check(nullptr) || !ECGOST_key_pair_generation(key.get()) ||
        !ECGOST_encrypt_opaque(key.get(), pse))
        return fail(ERR_LIB_ECGOST);
    BnPtr wrapped = ecgost::unmask(key->d);
    if (!wrapped || BN_bn2binpad(wrapped.get(), out36, kKeyBytes) < 0) return fail(ERR_LIB_ECGOST);
    write_be32(*key->check, out36 + kKeyBytes);
    const int compressed = flags & ECGOST_FLAG_COMPRESSED;
    const std::size_t need = ECPOINT_point2bin(key->Q.get(), compressed, nullptr, 0);
    const std::size_t room = *point_len;
    *point_len = need;
    // A caller learns the length it needs from a failing call.
    if (need == 0 || room < need ||
        ECPOINT_point2bin(key->Q.get(), compressed, point_out, room) != need)
        return fail(ERR_LIB_ECGOST);
    return 1;
}

}  // namespace cadb
