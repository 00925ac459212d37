#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_local.h"
#include "crypto/ecgost/ecgost_mod_q.h"
#include "crypto/pse/pse_secrets.h"

namespace cadb {
namespace {

bool has_cofactor(const ECURVE* c) { return c && c->h && !BN_is_zero(c->h.get()); }

std::size_t field_bytes(const ECURVE* c) {
    return (static_cast<std::size_t>(BN_num_bits(c->p.get())) + 7) / 8;
}

// The peer's point re-expressed on the context's curve and validated: not
// infinity, coordinates in the field, on the curve, and of order q when
// with_order is set. Null when any test fails.
EcPointPtr checked_peer(const ECPOINT* peer, ECURVE* c, bool with_order) {
    EcPointPtr a(ECPOINT_dup(peer));
    if (!a || !ECPOINT_to_affine(a.get()) || ECPOINT_is_infinity(a.get())) return nullptr;
    EcPointPtr on_c(ECPOINT_new(c));
    if (!on_c || !BN_copy(on_c->x.get(), a->x.get()) || !BN_copy(on_c->y.get(), a->y.get()))
        return nullptr;
    on_c->form = c->form;
    if (c->form == EC_FORM_PROJECTIVE && !BN_one(on_c->z.get())) return nullptr;
    if (!ECGOST_is_pubkey_valid(on_c.get(), with_order)) return nullptr;
    return on_c;
}

}  // namespace

ECDH* ECDH_new(ECURVE* c, int mode) {
    if (!c) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_NEW, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    auto dh = std::make_unique<ECDH>();
    dh->curve = ECURVE_up_ref(c);
    dh->mode = has_cofactor(c) ? mode : ECDH_COFACTOR_NONE;
    return dh.release();
}

void ECDH_free(ECDH* dh) {
    if (!dh || dh->references.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    dh->pub.reset();
    ECURVE_free(dh->curve);
    delete dh;
}

int ECDH_size(const ECDH* dh) {
    return dh && dh->curve && dh->curve->p ? static_cast<int>(field_bytes(dh->curve)) : 0;
}

int ECDH_point_size(const ECDH* dh) { return 2 * ECDH_size(dh); }

ECDH* ECGOST_dup_ECDH(const ECGOST* key) {
    if (!key || !key->curve) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_NEW, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(
        ECDH_new(key->curve,
                 has_cofactor(key->curve) ? ECDH_COFACTOR_COMPATIBLE : ECDH_COFACTOR_NONE),
        ECDH_free);
    if (!dh) return nullptr;
    if (key->Q) {
        dh->pub.reset(ECPOINT_dup(key->Q.get()));
        if (!dh->pub) return nullptr;
    }
    // An opaque key's number is no private number: it cannot agree.
    if (key->d && key->d->set && !key->check) {
        dh->d.reset(BN_MASKED_dup(key->d.get()));
        if (!dh->d) return nullptr;
    }
    return dh.release();
}

int ECDH_generate_key(ECDH* dh) {
    auto fail = [] {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_GENERATE_KEY, ERR_LIB_ECGOST);
        return 0;
    };
    if (!dh || !dh->curve || !dh->curve->q || !dh->curve->P) return fail();
    dh->result.reset();
    BnPtr d = ecgost::unmask(dh->d);
    if (!d) {
        d = bn_new();
        if (!d || !ecgost::random_key_form(d.get(), dh->curve->q.get())) return fail();
        dh->pub.reset();
    }
    if (!dh->pub) {
        EcPointPtr pub(ECPOINT_dup(dh->curve->P.get()));
        if (!pub || !ECPOINT_mul_secret(pub.get(), d.get()) || !ECPOINT_to_affine(pub.get()))
            return fail();
        pub->table.reset();
        dh->pub = std::move(pub);
    }
    // Masked again under a fresh mask.
    if (!ecgost::store_masked(dh->d, d.get())) return fail();
    return 1;
}

int ECDH_compute_key(const ECPOINT* peer, ECDH* dh) {
    auto fail = [](int reason) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        if (reason != ERR_LIB_ECGOST) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_COMPUTE_KEY, reason);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_COMPUTE_KEY, ERR_LIB_ECGOST);
        return 0;
    };
    if (!dh || !peer || !dh->curve || !dh->curve->q) return fail(ERR_R_NULL_PARAMETER);
    dh->result.reset();
    ECURVE* c = dh->curve;
    // With a cofactor mode the multiplication by h removes any small-order
    // part, so the order test is left to it.
    EcPointPtr point = checked_peer(peer, c, dh->mode == ECDH_COFACTOR_NONE);
    if (!point) return fail(ECGOST_R_INVALID_PARAMETERS);
    BnPtr d = ecgost::unmask(dh->d);
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr k = bn_new(), x = bn_new();
    if (!d || !ctx || !k || !x) return fail(ERR_LIB_ECGOST);
    const BIGNUM* q = c->q.get();
    // The cofactor modes multiply the peer's point by h first: a public
    // product that leaves a point of odd order, on which the secret
    // multiply runs without exceptional cases. The secret factor is then d
    // (mode 1, k = h·d) or (h^-1 mod q)·d mod q (mode 2).
    switch (dh->mode) {
        case ECDH_COFACTOR_NONE:
            if (!BN_copy(k.get(), d.get())) return fail(ERR_R_MALLOC);
            break;
        case ECDH_COFACTOR_MULTIPLY:
            if (!has_cofactor(c)) return fail(ERR_R_INTERNAL);
            if (!ECPOINT_mul(point.get(), c->h.get()) || !BN_copy(k.get(), d.get()))
                return fail(ERR_LIB_ECGOST);
            break;
        case ECDH_COFACTOR_COMPATIBLE:
            if (!has_cofactor(c)) return fail(ERR_R_INTERNAL);
            if (!ECPOINT_mul(point.get(), c->h.get()) ||
                !BN_mod_binary_inverse(k.get(), c->h.get(), q) ||
                !ecgost::product_secret(k.get(), k.get(), d.get(), q, ctx.get()))
                return fail(ERR_LIB_ECGOST);
            break;
        default:
            return fail(ECGOST_R_INVALID_PARAMETERS);
    }
    d.reset();
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    if (ECPOINT_is_infinity(point.get()) || !ECPOINT_mul_secret(point.get(), k.get()) ||
        ECPOINT_is_infinity(point.get()) || !ECPOINT_get_x(point.get(), x.get()) ||
        !ecgost::store_masked(dh->result, x.get()))
        return fail(ERR_LIB_ECGOST);
    return 1;
}

BIGNUM* ECDH_get_result(const ECDH* dh) {
    return dh && dh->result ? BN_unmask_dup(dh->result.get()) : nullptr;
}

ECPOINT* ECDH_compute_vko(const ECPOINT* peer, const BIGNUM* ukm, ECDH* dh) {
    auto fail = []() -> ECPOINT* {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECDH_COMPUTE_KEY, ERR_LIB_ECGOST);
        return nullptr;
    };
    if (!dh || !peer || !dh->curve || !dh->curve->q) return fail();
    EcPointPtr K = checked_peer(peer, dh->curve, true);
    BnPtr d = ecgost::unmask(dh->d);
    BnCtxPtr ctx(BN_CTX_new());
    if (!K || !d || !ctx) return fail();
    if (ukm && !ecgost::product_secret(d.get(), ukm, d.get(), dh->curve->q.get(), ctx.get()))
        return fail();
    // A UKM that is a multiple of q would give infinity: no key comes of it.
    if (!ECPOINT_mul_secret(K.get(), d.get()) || ECPOINT_is_infinity(K.get()) ||
        !ECPOINT_to_affine(K.get()))
        return fail();
    return K.release();
}

int ECGOST_DH_generate_key(ECDH* dh, PSE* pse, const unsigned char* key36,
                           const unsigned char* point, std::size_t point_len, unsigned char* out,
                           std::size_t* out_len, int flags) {
    auto fail = [](int reason) {
        ERR_set_last_error(reason == ECGOST_R_INVALID_PARAMETERS ? ERR_CLASS_BAD_ARGUMENT
                                                                 : ERR_CLASS_KEY_AGREEMENT);
        if (reason != ERR_LIB_ECGOST)
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_GENERATE_KEY, reason);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_GENERATE_KEY, ERR_LIB_ECGOST);
        return 0;
    };
    if (!dh || !out_len) return fail(ECGOST_R_INVALID_PARAMETERS);
    if (!ECGOST_DH_check(dh)) return fail(ERR_LIB_ECGOST);
    dh->d.reset();
    dh->pub.reset();
    dh->result.reset();
    if (key36 && point) {
        // With a store the 36 bytes are a wrapped key and its check value;
        // without one the first 32 are the clear number.
        unsigned char clear[32];
        const bool unwrapped = !pse || PSE_read_opaque(pse, key36, clear);
        BnPtr d(unwrapped ? BN_bin2bn(pse ? clear : key36, 32, nullptr) : nullptr);
        OPENSSL_cleanse(clear, sizeof clear);
        if (!unwrapped) return fail(ERR_LIB_PSE);
        if (!d) return fail(ERR_R_MALLOC);
        // A number outside [1, q) is no private key: 0 would agree on
        // nothing, and one at or above q names the key below it.
        if (BN_is_zero(d.get()) || BN_cmp(d.get(), dh->curve->q.get()) >= 0)
            return fail(ECGOST_R_INVALID_PARAMETERS);
        EcPointPtr pub = ecgost::point_from_octets(dh->curve, point, point_len);
        if (!pub || !ecgost::store_masked(dh->d, d.get())) return fail(ERR_LIB_ECGOST);
        dh->pub = std::move(pub);
    } else if (!ECDH_generate_key(dh)) {
        return fail(ERR_LIB_ECGOST);
    }
    const int compressed = flags & ECGOST_FLAG_COMPRESSED;
    const std::size_t need = ECPOINT_point2bin(dh->pub.get(), compressed, nullptr, 0);
    const std::size_t room = *out_len;
    *out_len = need;
    if (need == 0 || !out || room < need ||
        ECPOINT_point2bin(dh->pub.get(), compressed, out, room) != need)
        return fail(ERR_LIB_ECGOST);
    return 1;
}

int ECGOST_DH_compute_key(ECDH* dh, const unsigned char* peer, std::size_t peer_len) {
    if (!dh || !peer) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_COMPUTE_KEY, ECGOST_R_INVALID_PARAMETERS);
        return 0;
    }
    EcPointPtr point = ecgost::point_from_octets(dh->curve, peer, peer_len);
    if (!point || !ECDH_compute_key(point.get(), dh)) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_COMPUTE_KEY, ERR_LIB_ECGOST);
        return 0;
    }
    return 1;
}

int ECGOST_DH_compute_key_out(ECDH* dh, const unsigned char* peer, std::size_t peer_len,
                              unsigned char* out, std::size_t* out_len) {
    if (!out_len) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_COMPUTE_KEY, ECGOST_R_INVALID_PARAMETERS);
        return 0;
    }
    if (!ECGOST_DH_compute_key(dh, peer, peer_len)) return 0;
    BnPtr shared(ECDH_get_result(dh));
    const std::size_t need = shared ? static_cast<std::size_t>(BN_num_bytes(shared.get())) : 0;
    const std::size_t room = *out_len;
    *out_len = need;
    if (!shared || !out || room < need || BN_bn2bin(shared.get(), out) < 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_COMPUTE_KEY, ERR_LIB_ECGOST);
        return 0;
    }
    return 1;
}

}  // namespace cadb
