#include <openssl/bn.h>

#include <climits>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_local.h"
#include "crypto/ecgost/ecgost_mod_q.h"

namespace cadb {
namespace {

// e := digest read big-endian, mod q; 0 becomes 1. A length the big-number
// reader cannot take whole is refused.
bool digest_number(BIGNUM* e, const unsigned char* dgst, std::size_t len, const BIGNUM* q,
                   BN_CTX* ctx) {
    if (len > static_cast<std::size_t>(INT_MAX)) return false;
    if (!BN_bin2bn(dgst, static_cast<int>(len), e) || !BN_nnmod(e, e, q, ctx)) return false;
    return !BN_is_zero(e) || BN_one(e);
}

// r := x(k·P) mod q for the given k.
bool r_for_k(BIGNUM* r, const BIGNUM* k, const ECURVE* c, BN_CTX* ctx) {
    EcPointPtr W(ECPOINT_dup(c->P.get()));
    return W && ECPOINT_mul_secret(W.get(), k) && ECPOINT_get_x(W.get(), r) &&
           BN_nnmod(r, r, c->q.get(), ctx);
}

// (k, r) with r != 0. A given k that yields r = 0 fails: drawing again is
// not possible, and looping would never end.
bool setup_pair(const ECGOST* key, const unsigned char* kbytes, std::size_t klen, BIGNUM* k,
                BIGNUM* r) {
    const ECURVE* c = key->curve;
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) return false;
    BN_set_flags(k, BN_FLG_CONSTTIME);
    for (;;) {
        if (kbytes) {
            if (!BN_bin2bn(kbytes, static_cast<int>(klen), k) ||
                !ecgost::reduce_secret(k, k, c->q.get(), ctx.get()))
                return false;
            if (BN_is_zero(k)) {
                CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_SIGN_SETUP, ECGOST_R_K_IS_ZERO);
                return false;
            }
        } else if (!BN_rand_below(k, c->q.get())) {
            return false;
        }
        if (!r_for_k(r, k, c, ctx.get())) return false;
        if (!BN_is_zero(r)) return true;
        if (kbytes) return false;
    }
}

// 1 when the affine x of W, reduced mod q, is r; 0 when not (W at infinity
// has no x: no signature verifies to it); -1 on failure. The affine x is
// one of r, r + q, ... below p, so each candidate t is compared as t·Z^2
// with W's Jacobian X: no inversion needed.
int x_reduces_to(const ECPOINT* W, const BIGNUM* r, const BIGNUM* q, BN_CTX* ctx) {
    if (ECPOINT_is_infinity(W)) return 0;
    const BIGNUM* p = W->curve->p.get();
    BnCtxFrame fr(ctx);
    BIGNUM* x = fr.get();
    BIGNUM* z2 = fr.get();
    BIGNUM* t = fr.get();
    BIGNUM* tz = fr.get();
    if (!tz || !BN_nnmod(x, W->x.get(), p, ctx) || !BN_copy(t, r)) return -1;
    if (W->form == EC_FORM_PROJECTIVE ? !BN_mod_sqr(z2, W->z.get(), p, ctx) : !BN_one(z2))
        return -1;
    while (BN_cmp(t, p) < 0) {
        if (!BN_mod_mul(tz, t, z2, p, ctx)) return -1;
        if (BN_cmp(tz, x) == 0) return 1;
        if (!BN_add(t, t, q)) return -1;
    }
    return 0;
}

bool usable(const ECGOST* key) {
    return key && key->curve && key->curve->q && key->curve->P && !BN_is_zero(key->curve->q.get());
}

}  // namespace

ECGOST_SIG* ECGOST_SIG_new() {
    auto sig = std::make_unique<ECGOST_SIG>();
    sig->r.reset(BN_new());
    sig->s.reset(BN_new());
    if (!sig->r || !sig->s) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_SIG_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return sig.release();
}

void ECGOST_SIG_free(ECGOST_SIG* sig) { delete sig; }

int ECGOST_sign_setup(ECGOST* key, const unsigned char* kbytes, std::size_t klen, BIGNUM** k_out,
                      BIGNUM** r_out) {
    BnPtr k = bn_new(), r = bn_new();
    if (!usable(key) || !k || !r ||
        (kbytes && (klen == 0 || klen > static_cast<std::size_t>(INT_MAX))) ||
        !setup_pair(key, kbytes, klen, k.get(), r.get())) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_SIGN_SETUP, ERR_LIB_ECGOST);
        return 0;
    }
    if (!k_out && !r_out) {
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        if (!ecgost::store_masked(key->k, k.get())) {
            ERR_set_last_error(ERR_CLASS_SIGNING);
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_SIGN_SETUP, ERR_LIB_ECGOST);
            return 0;
        }
        key->r = std::move(r);
        return 1;
    }
    if (k_out) *k_out = k.release();
    if (r_out) *r_out = r.release();
    return 1;
}

ECGOST_SIG* ECGOST_do_sign(const unsigned char* dgst, std::size_t len, ECGOST* key) {
    auto fail = [](int reason) -> ECGOST_SIG* {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DO_SIGN, reason);
        return nullptr;
    };
    if (!dgst || len == 0 || !usable(key)) return fail(ERR_R_NULL_PARAMETER);
    const BIGNUM* q = key->curve->q.get();
    BnCtxPtr ctx(BN_CTX_new());
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> sig(ECGOST_SIG_new(), ECGOST_SIG_free);
    BnPtr e = bn_new();
    if (!ctx || !sig || !e) return fail(ERR_R_MALLOC);
    if (!digest_number(e.get(), dgst, len, q, ctx.get())) return fail(ERR_LIB_ECGOST);
    BnPtr d, k, r;
    bool opaque;
    {
        // One key may sign on several threads: its private number is read,
        // and a pair prepared by ECGOST_sign_setup taken for exactly one
        // signature, under the key lock that wrapping holds too.
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        d = ecgost::unmask(key->d);
        opaque = key->check.has_value();
        k = ecgost::unmask(key->k);
        r = std::move(key->r);
        key->k.reset();
    }
    if (!d || opaque) return fail(ERR_LIB_ECGOST);
    for (;;) {
        if (!k || !r) {
            k = bn_new();
            r = bn_new();
            if (!k || !r || !setup_pair(key, nullptr, 0, k.get(), r.get()))
                return fail(ERR_LIB_ECGOST);
        }
        // s := (r·d + k·e) mod q.
        if (!ecgost::signature_s(sig->s.get(), r.get(), d.get(), k.get(), e.get(), q, ctx.get()))
            return fail(ERR_LIB_ECGOST);
        if (!BN_is_zero(sig->s.get())) break;
        k.reset();
        r.reset();
    }
    if (!BN_copy(sig->r.get(), r.get())) return fail(ERR_R_MALLOC);
    return sig.release();
}

int ECGOST_do_verify(const unsigned char* dgst, std::size_t len, const ECGOST_SIG* sig,
                     ECGOST* key) {
    auto error = [] {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DO_VERIFY, ERR_LIB_ECGOST);
        return -1;
    };
    if (!dgst || len == 0 || !sig || !sig->r || !sig->s || !usable(key) || !key->Q) return error();
    const BIGNUM* q = key->curve->q.get();
    auto reject = [](int reason) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DO_VERIFY, reason);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DO_VERIFY, ERR_LIB_ECGOST);
        return 0;
    };
    const BIGNUM* r = sig->r.get();
    const BIGNUM* s = sig->s.get();
    if (BN_is_zero(r) || BN_is_negative(r)) return reject(ECGOST_R_ZERO_R);
    if (BN_cmp(r, q) >= 0) return reject(ECGOST_R_R_TOO_BIG);
    if (BN_is_zero(s) || BN_is_negative(s)) return reject(ECGOST_R_ZERO_S);
    if (BN_cmp(s, q) >= 0) return reject(ECGOST_R_S_TOO_BIG);
    // A public point at infinity or off the curve would let anyone sign for
    // the key: with Q at infinity, W no longer depends on it.
    if (!ECGOST_is_pubkey_valid(key->Q.get(), 0)) return reject(ECGOST_R_INVALID_PARAMETERS);

    BnCtxPtr ctx(BN_CTX_new());
    BnPtr e = bn_new(), v = bn_new(), z1 = bn_new(), z2 = bn_new();
    EcPointPtr W(ECPOINT_new(key->curve));
    // v := e^-1; z1 := s·v; z2 := -r·v; W := z1·P + z2·Q; x(W) mod q = r?
    if (!ctx || !e || !v || !z1 || !z2 || !W || !digest_number(e.get(), dgst, len, q, ctx.get()) ||
        !BN_mod_binary_inverse(v.get(), e.get(), q) ||
        !BN_mod_mul(z1.get(), s, v.get(), q, ctx.get()) ||
        !BN_mod_mul(z2.get(), r, v.get(), q, ctx.get()) || !BN_sub(z2.get(), q, z2.get()) ||
        !ECPOINT_mul2_public(W.get(), z1.get(), key->Q.get(), z2.get()))
        return error();
    const int match = x_reduces_to(W.get(), r, q, ctx.get());
    if (match < 0) return error();
    if (match == 1) return 1;
    ERR_set_last_error(ERR_CLASS_SIGNATURE_MISMATCH);
    return reject(ECGOST_R_SIGNATURE_FAILURE);
}

}  // namespace cadb
