#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

struct Triple {
    BnPtr k, r, xr;
};

// k from the given bytes (reduced mod q; zero is refused) or random; r :=
// (a^k mod p) mod q; x*r mod q. A random k is drawn again while r = 0; a
// given k that gives r = 0 cannot be used.
int make_triple(const GOSTS* key, const unsigned char* kbytes, int klen, Triple& t, BN_CTX* ctx) {
    if (!(t.k = bn_new()) || !(t.r = bn_new()) || !(t.xr = bn_new())) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_R_MALLOC);
        return 0;
    }
    BN_set_flags(t.k.get(), BN_FLG_CONSTTIME);
    const BIGNUM* q = key->q.get();
    for (;;) {
        if (kbytes != nullptr) {
            if (klen <= 0 || !BN_bin2bn(kbytes, klen, t.k.get()) ||
                !BN_nnmod(t.k.get(), t.k.get(), q, ctx)) {
                CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, GOSTS_R_INVALID_K);
                return 0;
            }
            if (BN_is_zero(t.k.get())) {
                CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, GOSTS_R_INVALID_K);
                return 0;
            }
        } else if (!BN_rand_below(t.k.get(), q)) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_LIB_RAND_);
            return 0;
        }
        if (!gosts_exp_secret(t.r.get(), key->a.get(), t.k.get(), key->p.get(), ctx) ||
            !BN_nnmod(t.r.get(), t.r.get(), q, ctx)) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_LIB_BN_);
            return 0;
        }
        if (!BN_is_zero(t.r.get())) break;
        if (kbytes != nullptr) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, GOSTS_R_INVALID_K);
            return 0;
        }
    }
    BnPtr x = gosts_private_copy(key);
    if (!x) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, R3410_R_INVALID_PRIVATE_KEY);
        return 0;
    }
    if (!BN_mod_mul(t.xr.get(), x.get(), t.r.get(), q, ctx)) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_LIB_BN_);
        return 0;
    }
    return 1;
}

}  // namespace

int gosts_digest_number(BIGNUM* h, const unsigned char* dgst, int dlen, const BIGNUM* q,
                        BN_CTX* ctx) {
    if (dgst == nullptr || dlen <= 0 || !BN_bin2bn(dgst, dlen, h) || !BN_nnmod(h, h, q, ctx)) {
        return 0;
    }
    return BN_is_zero(h) ? BN_one(h) : 1;
}

int GOSTS_sign_setup(GOSTS* key, const unsigned char* kbytes, int klen) {
    if (!gosts_has_params(key)) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_R_INTERNAL);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    Triple t;
    if (!ctx || !make_triple(key, kbytes, klen, t, ctx.get())) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        return 0;
    }
    BnMaskedPtr k(BN_MASKED_new()), xr(BN_MASKED_new());
    if (!k || !xr || !BN_mask(k.get(), t.k.get()) || !BN_mask(xr.get(), t.xr.get())) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN_SETUP, ERR_R_INTERNAL);
        return 0;
    }
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    key->k = std::move(k);
    key->r = std::move(t.r);
    key->xr = std::move(xr);
    return 1;
}

R3410_SIG* GOSTS_do_sign(const unsigned char* dgst, int dlen, GOSTS* key) {
    if (!gosts_has_params(key)) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_SIGN, ERR_R_INTERNAL);
        return nullptr;
    }
    const BIGNUM* q = key->q.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr h = bn_new(), kh = bn_new();
    std::unique_ptr<R3410_SIG, decltype(&R3410_SIG_free)> sig(R3410_SIG_new(), R3410_SIG_free);
    if (!ctx || !h || !kh || !sig) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_SIGN, ERR_R_MALLOC);
        return nullptr;
    }
    if (!gosts_digest_number(h.get(), dgst, dlen, q, ctx.get())) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_SIGN, ERR_LIB_BN_);
        return nullptr;
    }
    for (;;) {
        Triple t;
        {
            LockGuard guard(CRYPTO_LOCK_GOSTS);
            BnMaskedPtr k = std::move(key->k), xr = std::move(key->xr);
            t.r = std::move(key->r);
            if (k && xr) {
                t.k.reset(BN_unmask_dup(k.get()));
                t.xr.reset(BN_unmask_dup(xr.get()));
            }
        }
        if ((!t.k || !t.r || !t.xr) && !make_triple(key, nullptr, 0, t, ctx.get())) {
            ERR_set_last_error(ERR_CLASS_SIGNING);
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_SIGN, ERR_LIB_GOSTS);
            return nullptr;
        }
        // s := (x r + k H) mod q; a zero s starts again with a fresh k.
        if (!BN_mod_mul(kh.get(), t.k.get(), h.get(), q, ctx.get()) ||
            !BN_mod_add(sig->s.get(), t.xr.get(), kh.get(), q, ctx.get())) {
            ERR_set_last_error(ERR_CLASS_SIGNING);
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_SIGN, ERR_LIB_BN_);
            return nullptr;
        }
        if (BN_is_zero(sig->s.get())) continue;
        sig->r = std::move(t.r);
        break;
    }
    sig->qlen = gosts_qlen(key);
    return sig.release();
}

}  // namespace cadb
