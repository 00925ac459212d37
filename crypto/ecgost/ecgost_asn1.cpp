#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/objects.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "crypto/asn1/asn1_int.h"
#include "crypto/asn1/asn1_item.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_local.h"

namespace cadb {

// SEQUENCE { fieldType OBJECT IDENTIFIER, prime INTEGER }
struct ECGOST_FIELD_DER {
    ASN1_OBJECT* type;
    ASN1_INTEGER* p;
};
// SEQUENCE { a OCTET STRING, b OCTET STRING, seed BIT STRING OPTIONAL }
struct ECGOST_CURVE_DER {
    ASN1_OCTET_STRING* a;
    ASN1_OCTET_STRING* b;
    ASN1_BIT_STRING* seed;
};
struct ECGOST_ECPARAMS_DER {
    ASN1_INTEGER* version;
    ECGOST_FIELD_DER* field;
    ECGOST_CURVE_DER* curve;
    ASN1_OCTET_STRING* base;
    ASN1_INTEGER* order;
    ASN1_INTEGER* cofactor;
};
struct ECGOST_PARAMS_DER {
    int type;
    union {
        ASN1_OBJECT* named;
        ECGOST_ECPARAMS_DER* explicit_curve;
        ASN1_NULL* implicit;
    } value;
};
enum { ECGOST_PARAMS_NAMED = 0, ECGOST_PARAMS_EXPLICIT = 1, ECGOST_PARAMS_IMPLICIT = 2 };
struct ECGOST_WRAPPED_DER {
    ASN1_INTEGER* key;
    ASN1_INTEGER* check;
};
struct ECGOST_PRIV_VALUE {
    int type;
    union {
        ASN1_INTEGER* d;
        ECGOST_WRAPPED_DER* wrapped;
    } value;
};
enum { ECGOST_PRIV_PLAIN = 0, ECGOST_PRIV_WRAPPED = 1 };
struct ECGOST_PRIV_DER {
    ASN1_INTEGER* version;
    ECGOST_PARAMS_DER* params;
    ASN1_OCTET_STRING* pub;
    ECGOST_PRIV_VALUE* priv;
};

// clang-format off
ASN1_SEQUENCE(ECGOST_FIELD_DER) = {
    ASN1_SIMPLE(ECGOST_FIELD_DER, type, ASN1_OBJECT),
    ASN1_SIMPLE(ECGOST_FIELD_DER, p, ASN1_INTEGER),
} ASN1_SEQUENCE_END(ECGOST_FIELD_DER)

ASN1_SEQUENCE(ECGOST_CURVE_DER) = {
    ASN1_SIMPLE(ECGOST_CURVE_DER, a, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ECGOST_CURVE_DER, b, ASN1_OCTET_STRING),
    ASN1_OPT(ECGOST_CURVE_DER, seed, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(ECGOST_CURVE_DER)

ASN1_SEQUENCE(ECGOST_ECPARAMS_DER) = {
    ASN1_SIMPLE(ECGOST_ECPARAMS_DER, version, ASN1_INTEGER),
    ASN1_SIMPLE(ECGOST_ECPARAMS_DER, field, ECGOST_FIELD_DER),
    ASN1_SIMPLE(ECGOST_ECPARAMS_DER, curve, ECGOST_CURVE_DER),
    ASN1_SIMPLE(ECGOST_ECPARAMS_DER, base, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ECGOST_ECPARAMS_DER, order, ASN1_INTEGER),
    ASN1_OPT(ECGOST_ECPARAMS_DER, cofactor, ASN1_INTEGER),
} ASN1_SEQUENCE_END(ECGOST_ECPARAMS_DER)

ASN1_CHOICE(ECGOST_PARAMS_DER) = {
    ASN1_SIMPLE(ECGOST_PARAMS_DER, value.named, ASN1_OBJECT),
    ASN1_SIMPLE(ECGOST_PARAMS_DER, value.explicit_curve, ECGOST_ECPARAMS_DER),
    ASN1_SIMPLE(ECGOST_PARAMS_DER, value.implicit, ASN1_NULL),
} ASN1_CHOICE_END(ECGOST_PARAMS_DER)

ASN1_SEQUENCE(ECGOST_WRAPPED_DER) = {
    ASN1_SIMPLE(ECGOST_WRAPPED_DER, key, ASN1_INTEGER),
    ASN1_SIMPLE(ECGOST_WRAPPED_DER, check, ASN1_INTEGER),
} ASN1_SEQUENCE_END(ECGOST_WRAPPED_DER)

ASN1_CHOICE(ECGOST_PRIV_VALUE) = {
    ASN1_SIMPLE(ECGOST_PRIV_VALUE, value.d, ASN1_INTEGER),
    ASN1_SIMPLE(ECGOST_PRIV_VALUE, value.wrapped, ECGOST_WRAPPED_DER),
} ASN1_CHOICE_END(ECGOST_PRIV_VALUE)

ASN1_SEQUENCE(ECGOST_PRIV_DER) = {
    ASN1_SIMPLE(ECGOST_PRIV_DER, version, ASN1_INTEGER),
    ASN1_SIMPLE(ECGOST_PRIV_DER, params, ECGOST_PARAMS_DER),
    ASN1_SIMPLE(ECGOST_PRIV_DER, pub, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ECGOST_PRIV_DER, priv, ECGOST_PRIV_VALUE),
} ASN1_SEQUENCE_END(ECGOST_PRIV_DER)
    // clang-format on

    namespace {
    ASN1_OBJECT* prime_field_type() { return OBJ_dup(::OBJ_nid2obj(NID_X9_62_prime_field)); }
    constexpr int kExplicitVersion = 1;

    using ParamsPtr = AsnItemPtr<ECGOST_PARAMS_DER>;

    template <typename T>
    AsnItemPtr<T> new_item(const ASN1_ITEM* it) {
        return AsnItemPtr<T>(reinterpret_cast<T*>(ASN1_item_new(it)), AsnItemDeleter<T>{it});
    }

    std::size_t field_bytes(const ECURVE* c) {
        return (static_cast<std::size_t>(BN_num_bits(c->p.get())) + 7) / 8;
    }

    bool set_octets(ASN1_OCTET_STRING * s, const std::vector<unsigned char>& v) {
        return ASN1_OCTET_STRING_set(s, v.data(), static_cast<int>(v.size())) == 1;
    }

    std::vector<unsigned char> point_octets(const ECPOINT* pt) {
        std::vector<unsigned char> out(ECPOINT_point2bin(pt, 0, nullptr, 0));
        if (out.empty() || ECPOINT_point2bin(pt, 0, out.data(), out.size()) != out.size())
            return {};
        return out;
    }

    bool is_named_set(int nid) { return nid != 0 && GOST_nid2curve_code(nid) != 0; }

    // The parameters record of a curve: named when it is a built-in set.
    ParamsPtr params_of(const ECURVE* c) {
        auto params = new_item<ECGOST_PARAMS_DER>(ASN1_ITEM_rptr(ECGOST_PARAMS_DER));
        // A key that took implicit parameters has no curve of its own: there
        // is nothing to write, and a curve with p = 0 decodes nowhere.
        if (!params || !c || !c->p || BN_is_zero(c->p.get())) return nullptr;
        if (is_named_set(c->nid)) {
            const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(c->nid);
            params->type = ECGOST_PARAMS_NAMED;
            params->value.named = obj ? OBJ_dup(obj) : nullptr;
            return params->value.named ? std::move(params) : nullptr;
        }
        auto ec = new_item<ECGOST_ECPARAMS_DER>(ASN1_ITEM_rptr(ECGOST_ECPARAMS_DER));
        const std::size_t n = field_bytes(c);
        std::vector<unsigned char> a(n), b(n);
        const auto base = point_octets(c->P.get());
        if (!ec || base.empty() || BN_bn2binpad(c->a.get(), a.data(), static_cast<int>(n)) < 0 ||
            BN_bn2binpad(c->b.get(), b.data(), static_cast<int>(n)) < 0 ||
            !ASN1_INTEGER_set(ec->version, kExplicitVersion) ||
            !(ec->field->type = prime_field_type()) ||
            !BN_to_ASN1_INTEGER(c->p.get(), ec->field->p) || !set_octets(ec->curve->a, a) ||
            !set_octets(ec->curve->b, b) || !set_octets(ec->base, base) ||
            !BN_to_ASN1_INTEGER(c->q.get(), ec->order))
            return nullptr;
        if (c->h) {
            ec->cofactor = BN_to_ASN1_INTEGER(c->h.get(), nullptr);
            if (!ec->cofactor) return nullptr;
        }
        params->type = ECGOST_PARAMS_EXPLICIT;
        params->value.explicit_curve = ec.release();
        return params;
    }

    // A built-in curve equal to c, so that a curve spelled out in full still
    // gets its set's window table and number.
    ECURVE* builtin_equal(const ECURVE* c) {
        for (int code = ECURVE_CODE_P256; code <= ECURVE_CODE_TEST; ++code) {
            EcCurvePtr candidate(ECURVE_new_by_code(code));
            if (candidate && ECURVE_cmp(candidate.get(), c) == 0) return candidate.release();
        }
        return nullptr;
    }

    // A curve from explicit parameters, checked as far as the parameters of an
    // untrusted key must be: prime p and q, base on the curve and of order q.
    ECURVE* explicit_curve(const ECGOST_ECPARAMS_DER* ec) {
        if (!ec->field || !ec->field->type ||
            ::OBJ_obj2nid(ec->field->type) != NID_X9_62_prime_field) {
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ECGOST_R_UNSUPPORTED_FIELD_TYPE);
            return nullptr;
        }
        EcCurvePtr c(ECURVE_new(EC_FORM_PROJECTIVE));
        if (!c) return nullptr;
        c->p = bn_of_asn1_int(ec->field->p);
        c->q = bn_of_asn1_int(ec->order);
        c->a.reset(BN_bin2bn(ec->curve->a->data, ec->curve->a->length, nullptr));
        c->b.reset(BN_bin2bn(ec->curve->b->data, ec->curve->b->length, nullptr));
        if (ec->cofactor) {
            c->h = bn_of_asn1_int(ec->cofactor);
            if (!c->h) return nullptr;
        }
        // The sizes come from outside and the primality tests below cost the
        // cube of them: a field far above any standard curve is refused
        // first (libcrypto's own bound for prime-field curves), and by
        // Hasse's bound q has at most one bit more than p.
        constexpr int kMaxFieldBits = 661;
        if (!c->p || !c->q || !c->a || !c->b || BN_num_bits(c->p.get()) > kMaxFieldBits ||
            BN_num_bits(c->q.get()) > BN_num_bits(c->p.get()) + 1 ||
            BN_cmp(c->a.get(), c->p.get()) >= 0 || BN_cmp(c->b.get(), c->p.get()) >= 0 ||
            BN_num_bits(c->q.get()) < 2)
            return nullptr;
        BnCtxPtr ctx(BN_CTX_new());
        if (!ctx || BN_check_prime(c->p.get(), ctx.get(), nullptr) != 1 ||
            BN_check_prime(c->q.get(), ctx.get(), nullptr) != 1 || !ECURVE_prepare(c.get()))
            return nullptr;
        EcPointPtr base(ECPOINT_bi2point(c.get(), ec->base->data,
                                         static_cast<std::size_t>(ec->base->length), nullptr));
        // The base point of a set may well have x = 0 (set C's has), so the
        // public-key rule does not apply; on the curve and of order q does.
        EcPointPtr order_test(base ? ECPOINT_dup(base.get()) : nullptr);
        if (!order_test || ECPOINT_is_infinity(base.get()) || ECPOINT_lies(base.get()) != 1 ||
            !ECPOINT_mul(order_test.get(), c->q.get()) || !ECPOINT_is_infinity(order_test.get()))
            return nullptr;
        c->P = std::move(base);
        if (ECURVE* same = builtin_equal(c.get())) return same;
        return c.release();
    }

    // Applies decoded parameters to the key: a new curve, or none for NULL.
    bool apply_params(ECGOST * key, const ECGOST_PARAMS_DER* params) {
        ECURVE* c = nullptr;
        switch (params->type) {
            case ECGOST_PARAMS_NAMED: {
                const int nid = cadb::OBJ_obj2nid(params->value.named);
                const int code = is_named_set(nid) ? GOST_nid2curve_code(nid) : 0;
                c = code ? ECURVE_new_by_code(code) : nullptr;
                if (c) key->nid = nid;
                break;
            }
            case ECGOST_PARAMS_EXPLICIT:
                c = explicit_curve(params->value.explicit_curve);
                if (c && is_named_set(c->nid)) key->nid = c->nid;
                break;
            case ECGOST_PARAMS_IMPLICIT:
                return true;
            default:
                return false;
        }
        if (!c) return false;
        key->Q.reset();
        ECURVE_free(key->curve);
        key->curve = c;
        return true;
    }

    // The caller's key or a new one, released on failure only when new.
    class KeyTarget {
      public:
        explicit KeyTarget(ECGOST** given) : key_(given && *given ? *given : nullptr) {
            if (!key_) {
                owned_ = ECGOST_new();
                key_ = owned_;
            }
        }
        ~KeyTarget() { ECGOST_free(owned_); }
        ECGOST* get() const { return key_; }
        ECGOST* release(ECGOST** given) {
            owned_ = nullptr;
            if (given) *given = key_;
            return key_;
        }

      private:
        ECGOST* owned_ = nullptr;
        ECGOST* key_;
    };

}  // namespace

int i2d_ECGOSTparams(const ECGOST* key, unsigned char** out) {
    ParamsPtr params = params_of(key ? key->curve : nullptr);
    const int len = params ? asn1_encode(params.get(), out, ASN1_ITEM_rptr(ECGOST_PARAMS_DER)) : 0;
    if (len <= 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    }
    return len;
}

ECGOST* d2i_ECGOSTparams(ECGOST** key, const unsigned char** in, long len) {
    const unsigned char* p = in ? *in : nullptr;
    auto params = p ? asn1_decode<ECGOST_PARAMS_DER>(&p, len, ASN1_ITEM_rptr(ECGOST_PARAMS_DER))
                    : ParamsPtr(nullptr, {ASN1_ITEM_rptr(ECGOST_PARAMS_DER)});
    KeyTarget target(key);
    if (!params || p != *in + len || !target.get() || !apply_params(target.get(), params.get())) {
        ERR_move_openssl_errors(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPARAMS);
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPARAMS, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    *in = p;
    return target.release(key);
}

int i2d_ECGOSTPrivateKey(const ECGOST* key, unsigned char** out) {
    auto fail = [] {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    };
    if (!key || !key->curve || !key->Q || !key->d) return fail();
    auto der = new_item<ECGOST_PRIV_DER>(ASN1_ITEM_rptr(ECGOST_PRIV_DER));
    ParamsPtr params = params_of(key->curve);
    const auto pub = point_octets(key->Q.get());
    BnPtr d = ecgost::unmask(key->d);
    if (!der || !params || pub.empty() || !d || !ASN1_INTEGER_set(der->version, key->version) ||
        !set_octets(der->pub, pub))
        return fail();
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(der->params), ASN1_ITEM_rptr(ECGOST_PARAMS_DER));
    der->params = params.release();
    if (key->check) {
        auto wrapped = new_item<ECGOST_WRAPPED_DER>(ASN1_ITEM_rptr(ECGOST_WRAPPED_DER));
        if (!wrapped || !BN_to_ASN1_INTEGER(d.get(), wrapped->key) ||
            !ASN1_INTEGER_set_uint64(wrapped->check, *key->check))
            return fail();
        der->priv->type = ECGOST_PRIV_WRAPPED;
        der->priv->value.wrapped = wrapped.release();
    } else {
        der->priv->type = ECGOST_PRIV_PLAIN;
        der->priv->value.d = BN_to_ASN1_INTEGER(d.get(), nullptr);
        if (!der->priv->value.d) return fail();
    }
    const AsnSecretIntWipe wipe(der->priv->type == ECGOST_PRIV_PLAIN ? der->priv->value.d
                                                                     : nullptr);
    const int len = asn1_encode(der.get(), out, ASN1_ITEM_rptr(ECGOST_PRIV_DER));
    return len > 0 ? len : fail();
}

ECGOST* d2i_ECGOSTPrivateKey(ECGOST** key, const unsigned char** in, long len) {
    auto fail = [](int reason) -> ECGOST* {
        ERR_move_openssl_errors(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPRIVATEKEY);
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPRIVATEKEY, reason);
        return nullptr;
    };
    const unsigned char* p = in ? *in : nullptr;
    if (!p) return fail(ERR_R_NULL_PARAMETER);
    auto der = asn1_decode<ECGOST_PRIV_DER>(&p, len, ASN1_ITEM_rptr(ECGOST_PRIV_DER));
    if (!der || p != *in + len) return fail(ERR_R_NESTED_ASN1_ERROR_);
    const AsnSecretIntWipe wipe(der->priv->type == ECGOST_PRIV_PLAIN ? der->priv->value.d
                                                                     : nullptr);
    KeyTarget target(key);
    ECGOST* k = target.get();
    if (!k) return fail(ERR_R_MALLOC);
    // The curve is settled on a staged key and everything read before the
    // target changes, so that refused input leaves a caller's key as it was.
    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> staged(ECGOST_new_by_curve(k->curve),
                                                           ECGOST_free);
    if (!staged) return fail(ERR_R_MALLOC);
    staged->nid = k->nid;
    // Implicit parameters need a key that already has its curve.
    if (!apply_params(staged.get(), der->params) || !staged->curve->p ||
        BN_is_zero(staged->curve->p.get()))
        return fail(ERR_R_NESTED_ASN1_ERROR_);
    EcPointPtr Q(ECPOINT_bi2point(staged->curve, der->pub->data,
                                  static_cast<std::size_t>(der->pub->length), nullptr));
    if (!Q) return fail(ERR_R_NESTED_ASN1_ERROR_);
    BnPtr d;
    std::optional<std::uint32_t> check;
    if (der->priv->type == ECGOST_PRIV_WRAPPED) {
        std::uint64_t v = 0;
        d = bn_of_asn1_int(der->priv->value.wrapped->key);
        if (!ASN1_INTEGER_get_uint64(&v, der->priv->value.wrapped->check) || v > 0xFFFFFFFFu)
            return fail(ERR_LIB_BN_);
        check = static_cast<std::uint32_t>(v);
    } else {
        d = bn_of_asn1_int(der->priv->value.d);
        // A clear private number lies in [1, q - 1]: zero signs with k·e
        // alone, and a number from outside is never reduced silently.
        const BIGNUM* q = staged->curve->q.get();
        if (d && (BN_is_zero(d.get()) || (q && !BN_is_zero(q) && BN_cmp(d.get(), q) >= 0)))
            return fail(ERR_LIB_BN_);
    }
    if (!d || !ecgost::store_masked(staged->d, d.get())) return fail(ERR_LIB_BN_);
    // The old point refers to the old curve: it goes before the curve does.
    k->Q = std::move(Q);
    std::swap(k->curve, staged->curve);
    std::swap(k->d, staged->d);
    k->nid = staged->nid;
    k->check = check;
    // A pair prepared for the old key does not sign for this one.
    k->k.reset();
    k->r.reset();
    k->version = der->version->length > 0 ? der->version->data[0] : 0;
    *in = p;
    return target.release(key);
}

int i2d_ECGOSTPublicKey(const ECGOST* key, unsigned char** out) {
    const auto pub = key && key->Q ? point_octets(key->Q.get()) : std::vector<unsigned char>{};
    AsnItemPtr<ASN1_OCTET_STRING> os(
        ASN1_OCTET_STRING_new(),
        AsnItemDeleter<ASN1_OCTET_STRING>{ASN1_ITEM_rptr(ASN1_OCTET_STRING)});
    const int len =
        !pub.empty() && os && set_octets(os.get(), pub) ? i2d_ASN1_OCTET_STRING(os.get(), out) : 0;
    if (len <= 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_NEW, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    }
    return len;
}

ECGOST* d2i_ECGOSTPublicKey(ECGOST** key, const unsigned char** in, long len) {
    const unsigned char* p = in ? *in : nullptr;
    AsnItemPtr<ASN1_OCTET_STRING> os(
        p ? d2i_ASN1_OCTET_STRING(nullptr, &p, len) : nullptr,
        AsnItemDeleter<ASN1_OCTET_STRING>{ASN1_ITEM_rptr(ASN1_OCTET_STRING)});
    KeyTarget target(key);
    ECGOST* k = target.get();
    if (!os || p != *in + len || !k || os->length <= 0) {
        ERR_move_openssl_errors(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPUBLICKEY);
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_D2I_ECGOSTPUBLICKEY, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    std::vector<unsigned char> previous = std::move(k->encoded_pub);
    k->encoded_pub.assign(os->data, os->data + os->length);
    if (k->curve && k->curve->p && !BN_is_zero(k->curve->p.get()) && !ECGOST_decode_pubkey(k)) {
        // Refused octets must not wait in the key for a later decode.
        k->encoded_pub = std::move(previous);
        return nullptr;
    }
    *in = p;
    return target.release(key);
}

}  // namespace cadb
