#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/core/token_key.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_local.h"
#include "crypto/ecgost/ecgost_mod_q.h"
#include "crypto/pse/bn_mask.h"
#include "crypto/pse/pse.h"

namespace cadb {
namespace ecgost {

bool random_key_form(BIGNUM* out, const BIGNUM* q) {
    const int bits = BN_num_bits(q);
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) return false;
    BN_set_flags(out, BN_FLG_CONSTTIME);
    do {
        // The reduction takes the place of subtracting q while the number is
        // at least q (once at most, with the top bit set): the same number,
        // without a branch on the private value, in the fixed-width
        // arithmetic of signing.
        if (!BN_rand(out, bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) ||
            !reduce_secret(out, out, q, ctx.get()))
            return false;
    } while (BN_is_zero(out));
    return true;
}

bool store_masked(BnMaskedPtr& m, const BIGNUM* v) {
    if (!m) m.reset(BN_MASKED_new());
    return m && BN_mask(m.get(), v);
}

EcPointPtr point_from_octets(ECURVE* c, const unsigned char* in, std::size_t len) {
    return EcPointPtr(ECPOINT_bi2point(c, in, len, nullptr));
}

}  // namespace ecgost

ECGOST* ECGOST_new() {
    auto key = std::make_unique<ECGOST>();
    key->curve = ECURVE_new(EC_FORM_PROJECTIVE);
    if (!key->curve) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return key.release();
}

ECGOST* ECGOST_new_by_curve(ECURVE* c) {
    auto key = std::make_unique<ECGOST>();
    key->curve = c ? ECURVE_up_ref(c) : ECURVE_init(nullptr, EC_FORM_PROJECTIVE);
    key->d.reset(BN_MASKED_new());
    if (key->curve) key->Q.reset(ECPOINT_new(key->curve));
    if (!key->curve || !key->d || !key->Q) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_MALLOC);
        ECGOST_free(key.release());
        return nullptr;
    }
    return key.release();
}

ECGOST* ECGOST_up_ref(ECGOST* key) {
    if (key) key->references.fetch_add(1, std::memory_order_relaxed);
    return key;
}

void ECGOST_free(ECGOST* key) {
    if (!key || key->references.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    // Points refer to the curve: they go first.
    key->Q.reset();
    ECURVE_free(key->curve);
    PSE_free(key->pse);
    if (key->token_method != nullptr && key->token_method->free_data != nullptr)
        key->token_method->free_data(key->token_data);
    delete key;
}

int ECGOST_set_pse(ECGOST* key, PSE* pse) {
    if (!key) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_NULL_PARAMETER);
        return 0;
    }
    PSE* fresh = PSE_up_ref(pse);
    PSE* old;
    {
        // Wrapping reads the store under the key lock: it never sees a
        // reference being swapped.
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        old = key->pse;
        key->pse = fresh;
    }
    PSE_free(old);
    return 1;
}

int ECGOST_set_private(ECGOST* key, const BIGNUM* d) {
    // Masked into a new record first, so that signing and wrapping, which
    // read the number under the key lock, see the old number or the new
    // one, never a record being rewritten.
    BnMaskedPtr m(BN_MASKED_new());
    if (!key || !d || !m || !BN_mask(m.get(), d)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_INTERNAL);
        return 0;
    }
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    key->d = std::move(m);
    key->check.reset();
    return 1;
}

BIGNUM* ECGOST_get_private(const ECGOST* key) {
    if (!key) return nullptr;
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    return key->d ? BN_unmask_dup(key->d.get()) : nullptr;
}

int ECGOST_set_curve_by_nid(ECGOST* key, int nid) {
    const int code = GOST_nid2curve_code(nid);
    ECURVE* c = code ? ECURVE_new_by_code(code) : nullptr;
    if (!key || !c) {
        ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_LIB_ECGOST);
        ECURVE_free(c);
        return 0;
    }
    if (key->Q) {
        // Re-express the point on the new curve: same coordinates, new field.
        EcPointPtr moved(ECPOINT_dup(key->Q.get()));
        if (!moved || !ECPOINT_to_affine(moved.get())) {
            ECURVE_free(c);
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_LIB_ECGOST);
            return 0;
        }
        const bool inf = ECPOINT_is_infinity(moved.get());
        moved->curve = c;
        moved->form = c->form;
        if (inf) {
            ECPOINT_set_infinity(moved.get());
        } else if (c->form == EC_FORM_PROJECTIVE) {
            BN_one(moved->z.get());
        }
        key->Q = std::move(moved);
    }
    ECURVE_free(key->curve);
    key->curve = c;
    key->nid = nid;
    return 1;
}

int ECGOST_key_pair_generation(ECGOST* key) {
    auto fail = [] {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_KEY_PAIR_GENERATION, ERR_LIB_ECGOST);
        return 0;
    };
    if (!key || !key->curve || !key->curve->q || !key->curve->P) return fail();
    ECURVE* c = key->curve;
    BnPtr d = bn_new();
    BnMaskedPtr masked(BN_MASKED_new());
    EcPointPtr Q(ECPOINT_dup(c->P.get()));
    if (!d || !masked || !Q || !ecgost::random_key_form(d.get(), c->q.get()) ||
        !ECPOINT_mul_secret(Q.get(), d.get()) || !ECPOINT_to_affine(Q.get()) ||
        !BN_mask(masked.get(), d.get()))
        return fail();
    Q->table.reset();
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    key->d = std::move(masked);
    key->Q = std::move(Q);
    key->check.reset();
    return 1;
}

int ECGOST_generate_pubkey(ECGOST* key) {
    // The private number is always held masked, so it is unmasked here for
    // the one multiplication and the clear copy wiped after.
    BnPtr d = key ? ecgost::unmask(key->d) : nullptr;
    if (!d || key->check || !key->curve->P) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_GENERATE_PUBKEY, ERR_LIB_ECGOST);
        return 0;
    }
    EcPointPtr Q(ECPOINT_dup(key->curve->P.get()));
    if (!Q || !ECPOINT_mul_secret(Q.get(), d.get()) || !ECPOINT_to_affine(Q.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_GENERATE_PUBKEY, ERR_LIB_ECGOST);
        return 0;
    }
    Q->table.reset();
    key->Q = std::move(Q);
    return 1;
}

int ECGOST_decode_pubkey(ECGOST* key) {
    if (!key || !key->curve || !key->curve->p || key->encoded_pub.empty()) {
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPUBLICKEY, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const auto& bytes = key->encoded_pub;
    const std::size_t n = (static_cast<std::size_t>(BN_num_bits(key->curve->p.get())) + 7) / 8;
    EcPointPtr Q(bytes.size() == 2 * n
                     ? ECPOINT_le2point(key->curve, bytes.data(), bytes.size(), nullptr)
                     : ECPOINT_bi2point(key->curve, bytes.data(), bytes.size(), nullptr));
    if (!Q) {
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPUBLICKEY, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    }
    key->Q = std::move(Q);
    key->encoded_pub.clear();
    return 1;
}

}  // namespace cadb
