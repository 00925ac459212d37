#include <openssl/bn.h>

#include <algorithm>

#include "crypto/bn/bn_ext.h"
#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

constexpr int kMaxPrivateBytes = 32;

int public_from(GOSTS* key, const BIGNUM* x, BN_CTX* ctx) {
    BnPtr y = bn_new();
    if (!y || !gosts_exp_secret(y.get(), key->a.get(), x, key->p.get(), ctx)) return 0;
    key->y = std::move(y);
    return 1;
}

}  // namespace

int GOSTS_generate_pubkey(GOSTS* key, const unsigned char* xbytes, int len) {
    if (!gosts_has_params(key) || (xbytes != nullptr && len <= 0)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr x = bn_new();
    if (!ctx || !x) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, ERR_R_MALLOC);
        return 0;
    }
    BN_set_flags(x.get(), BN_FLG_CONSTTIME);
    if (xbytes != nullptr) {
        if (!BN_bin2bn(xbytes, std::min(len, kMaxPrivateBytes), x.get()) ||
            !BN_nnmod(x.get(), x.get(), key->q.get(), ctx.get())) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, ERR_LIB_BN_);
            return 0;
        }
        if (BN_is_zero(x.get())) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, R3410_R_INVALID_PRIVATE_KEY);
            return 0;
        }
    } else if (!BN_rand_below(x.get(), key->q.get())) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, ERR_LIB_RAND_);
        return 0;
    }
    if (!public_from(key, x.get(), ctx.get()) || !gosts_private_store(key, std::move(x))) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_GENERATE_PUBKEY, ERR_LIB_BN_);
        return 0;
    }
    return 1;
}

int R3410_generate_pubkey(GOSTS* key) {
    // The private number is held protected; the power is taken from a clear
    // copy that lives only for this call.
    BnPtr x = gosts_private_copy(key);
    BnCtxPtr ctx(BN_CTX_new());
    if (!gosts_has_params(key) || !x || !ctx) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GENERATE_PUBKEY, R3410_R_INVALID_PRIVATE_KEY);
        return 0;
    }
    if (!public_from(key, x.get(), ctx.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GENERATE_PUBKEY, ERR_LIB_BN_);
        return 0;
    }
    return 1;
}

}  // namespace cadb
