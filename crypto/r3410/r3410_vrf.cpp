#include <openssl/bn.h>

#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {

int GOSTS_do_verify(const unsigned char* dgst, int dlen, const R3410_SIG* sig, GOSTS* key) {
    if (!gosts_has_params(key) || !key->y || sig == nullptr || !sig->r || !sig->s) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, ERR_R_INTERNAL);
        return -1;
    }
    const BIGNUM* q = key->q.get();
    const BIGNUM* r = sig->r.get();
    const BIGNUM* s = sig->s.get();
    // A negative half is as far out of range as a zero one.
    if (BN_is_zero(r) || BN_is_negative(r)) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, R3410_R_R_IS_ZERO);
        return 0;
    }
    if (BN_cmp(r, q) >= 0) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, R3410_R_R_TOO_BIG);
        return 0;
    }
    if (BN_is_zero(s) || BN_is_negative(s)) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, R3410_R_S_IS_ZERO);
        return 0;
    }
    if (BN_cmp(s, q) >= 0) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, R3410_R_S_TOO_BIG);
        return 0;
    }

    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, ERR_R_MALLOC);
        return -1;
    }
    BnCtxFrame frame(ctx.get());
    BIGNUM* h = frame.get();
    BIGNUM* v = frame.get();
    BIGNUM* e = frame.get();
    BIGNUM* z1 = frame.get();
    BIGNUM* z2 = frame.get();
    BIGNUM* u = frame.get();
    // v := H^(q-2) mod q, the inverse of H since q is prime; then
    // u := (a^z1 y^z2 mod p) mod q with z1 = s v and z2 = (q - r) v.
    const bool ok =
        u != nullptr && gosts_digest_number(h, dgst, dlen, q, ctx.get()) &&
        BN_sub(e, q, BN_value_one()) && BN_sub_word(e, 1) && BN_mod_exp(v, h, e, q, ctx.get()) &&
        BN_mod_mul(z1, s, v, q, ctx.get()) && BN_sub(z2, q, r) &&
        BN_mod_mul(z2, z2, v, q, ctx.get()) &&
        BN_mod_exp2_mont(u, key->a.get(), z1, key->y.get(), z2, key->p.get(), ctx.get(), nullptr) &&
        BN_nnmod(u, u, q, ctx.get());
    if (!ok) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_DO_VERIFY, ERR_LIB_BN_);
        return -1;
    }
    if (BN_cmp(u, r) != 0) {
        ERR_set_last_error(ERR_CLASS_SIGNATURE_MISMATCH);
        return 0;
    }
    return 1;
}

}  // namespace cadb
