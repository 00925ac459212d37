// DER forms of GOST R 34.10-94 parameters and keys.
#include <openssl/asn1.h>

#include <vector>

#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_asn1_items.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

// The largest groups the standard defines; larger numbers from outside are
// refused before any arithmetic is done with them.
constexpr int kMaxBitsP = 1024;
constexpr int kMaxBitsQ = 256;

struct Params {
    BnPtr p, q, a;
};

int read_params(Params& out, const ASN1_INTEGER* p, const ASN1_INTEGER* q, const ASN1_INTEGER* a) {
    out.p = bn_of_asn1_int(p);
    out.q = bn_of_asn1_int(q);
    out.a = bn_of_asn1_int(a);
    if (!out.p || !out.q || !out.a) return 0;
    const int bits_p = BN_num_bits(out.p.get()), bits_q = BN_num_bits(out.q.get());
    return bits_p <= kMaxBitsP && bits_q <= kMaxBitsQ && bits_q >= 2 && bits_q < bits_p &&
           !BN_is_zero(out.a.get()) && BN_cmp(out.a.get(), out.p.get()) < 0;
}

void install_params(GOSTS* key, Params& params) {
    key->bits_p = BN_num_bits(params.p.get());
    key->bits_q = BN_num_bits(params.q.get());
    key->p = std::move(params.p);
    key->q = std::move(params.q);
    key->a = std::move(params.a);
}

// Fills the caller's key or a new one; on failure a new key is freed and the
// caller's is left as it was.
class TargetKey {
  public:
    explicit TargetKey(GOSTS** slot)
        : slot_(slot), fresh_(slot == nullptr || *slot == nullptr ? GOSTS_new() : nullptr) {}
    ~TargetKey() { GOSTS_free(fresh_); }
    GOSTS* get() const { return fresh_ != nullptr ? fresh_ : *slot_; }
    GOSTS* release() {
        GOSTS* key = get();
        if (slot_ != nullptr) *slot_ = key;
        fresh_ = nullptr;
        return key;
    }

  private:
    GOSTS** slot_;
    GOSTS* fresh_;
};

}  // namespace

int i2d_R3410params(const GOSTS* key, unsigned char** out) {
    if (!gosts_has_params(key)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PARAMS, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    AsnIntPtr p = asn1_int_of(key->p.get()), q = asn1_int_of(key->q.get()),
              a = asn1_int_of(key->a.get());
    AsnIntPtr x0, c;
    R3410_GENVAL values{};
    R3410_GEN gen{};
    gen.type = R3410_GEN_NONE;
    gen.value.none = ASN1_NULL_new();
    if (key->x0 != 0 && key->c != 0) {
        x0.reset(ASN1_INTEGER_new());
        c.reset(ASN1_INTEGER_new());
        if (!x0 || !c || !ASN1_INTEGER_set_uint64(x0.get(), key->x0) ||
            !ASN1_INTEGER_set_uint64(c.get(), key->c)) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PARAMS, ERR_R_MALLOC);
            return 0;
        }
        values = {x0.get(), c.get()};
        gen.type = R3410_GEN_VALUES;
        gen.value.values = &values;
    }
    if (!p || !q || !a) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PARAMS, ERR_R_MALLOC);
        return 0;
    }
    const R3410_PARAMS_DER der{p.get(), q.get(), a.get(), &gen};
    const int len = asn1_encode(&der, out, ASN1_ITEM_rptr(R3410_PARAMS_DER));
    if (len <= 0) CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PARAMS, ERR_R_NESTED_ASN1_ERROR_);
    return len > 0 ? len : 0;
}

GOSTS* d2i_R3410params(GOSTS** key, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PARAMS, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = *in;
    auto der = asn1_decode<R3410_PARAMS_DER>(&p, len, ASN1_ITEM_rptr(R3410_PARAMS_DER));
    if (!der) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PARAMS, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    Params params;
    uint64_t x0 = 0, c = 0;
    bool ok = read_params(params, der->p, der->q, der->a);
    if (ok && der->gen->type == R3410_GEN_VALUES) {
        ok = ASN1_INTEGER_get_uint64(&x0, der->gen->value.values->x0) &&
             ASN1_INTEGER_get_uint64(&c, der->gen->value.values->c) && x0 <= 0xFFFF && c <= 0xFFFF;
    }
    TargetKey target(key);
    if (!ok || target.get() == nullptr) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PARAMS, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return nullptr;
    }
    install_params(target.get(), params);
    target.get()->x0 = static_cast<uint32_t>(x0);
    target.get()->c = static_cast<uint32_t>(c);
    *in = p;
    return target.release();
}

int i2d_R3410PrivateKey(const GOSTS* key, unsigned char** out) {
    if (!gosts_has_params(key) || !key->y || !key->x) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PRIVATEKEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    AsnIntPtr version(ASN1_INTEGER_new());
    AsnIntPtr p = asn1_int_of(key->p.get()), q = asn1_int_of(key->q.get()),
              a = asn1_int_of(key->a.get()), y = asn1_int_of(key->y.get());
    AsnSecretIntPtr x;
    AsnIntPtr wrapped, check;
    R3410_WRAPPED wrapped_der{};
    R3410_PRIV_X priv{};
    if (key->has_check) {
        BnPtr w = gosts_wrapped_copy(key);
        wrapped = asn1_int_of(w.get());
        check = asn1_int_of(key->check.get());
        wrapped_der = {wrapped.get(), check.get()};
        priv.type = R3410_PRIV_WRAPPED;
        priv.value.wrapped = &wrapped_der;
        if (!wrapped || !check) version.reset();
    } else {
        BnPtr clear = gosts_private_copy(key);
        x.reset(asn1_int_of(clear.get()).release());
        priv.type = R3410_PRIV_PLAIN;
        priv.value.x = x.get();
        if (!x) version.reset();
    }
    if (!version || !ASN1_INTEGER_set(version.get(), key->version) || !p || !q || !a || !y) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PRIVATEKEY, ERR_R_MALLOC);
        return 0;
    }
    const R3410_PRIV_DER der{version.get(), p.get(), q.get(), a.get(), y.get(), &priv};
    const int len = asn1_encode(&der, out, ASN1_ITEM_rptr(R3410_PRIV_DER));
    if (len <= 0) CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PRIVATEKEY, ERR_R_NESTED_ASN1_ERROR_);
    return len > 0 ? len : 0;
}

GOSTS* d2i_R3410PrivateKey(GOSTS** key, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PRIVATEKEY, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = *in;
    auto der = asn1_decode<R3410_PRIV_DER>(&p, len, ASN1_ITEM_rptr(R3410_PRIV_DER));
    if (!der) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PRIVATEKEY, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    const AsnSecretIntWipe wipe(der->x->type == R3410_PRIV_PLAIN ? der->x->value.x : nullptr);
    Params params;
    int64_t version = 0;
    BnPtr y = bn_of_asn1_int(der->y);
    BnPtr x, check;
    bool ok = read_params(params, der->p, der->q, der->a) && y &&
              ASN1_INTEGER_get_int64(&version, der->version) && version >= 0 &&
              version <= INT32_MAX;
    if (ok && der->x->type == R3410_PRIV_WRAPPED) {
        x = bn_of_asn1_int(der->x->value.wrapped->key);
        check = bn_of_asn1_int(der->x->value.wrapped->check);
        // 32 wrapped bytes and a 4-byte check value.
        ok = x && check && BN_num_bytes(x.get()) <= 32 && BN_num_bytes(check.get()) <= 4;
    } else if (ok) {
        x = bn_of_asn1_int(der->x->value.x);
        ok = x && !BN_is_zero(x.get()) && BN_cmp(x.get(), params.q.get()) < 0;
    }
    TargetKey target(key);
    if (!ok || target.get() == nullptr) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PRIVATEKEY, R3410_R_INVALID_PRIVATE_KEY);
        return nullptr;
    }
    GOSTS* k = target.get();
    install_params(k, params);
    k->version = static_cast<int32_t>(version);
    k->y = std::move(y);
    if (check ? !gosts_wrapped_store(k, std::move(x), std::move(check))
              : !gosts_private_store(k, std::move(x))) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PRIVATEKEY, ERR_R_MALLOC);
        return nullptr;
    }
    *in = p;
    return target.release();
}

int i2d_R3410PublicKey(const GOSTS* key, unsigned char** out) {
    if (key == nullptr || !key->y || (key->write_params && !gosts_has_params(key))) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    AsnIntPtr y = asn1_int_of(key->y.get());
    AsnIntPtr p, q, a;
    R3410_PUB_SEQ seq{};
    R3410_PUB_DER der{};
    der.type = R3410_PUB_Y;
    der.value.y = y.get();
    if (key->write_params) {
        p = asn1_int_of(key->p.get());
        q = asn1_int_of(key->q.get());
        a = asn1_int_of(key->a.get());
        if (!p || !q || !a) y.reset();
        seq = {y.get(), p.get(), q.get(), a.get()};
        der.type = R3410_PUB_WITH_PARAMS;
        der.value.seq = &seq;
    }
    if (!y) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, ERR_R_MALLOC);
        return 0;
    }
    const int len = asn1_encode(&der, out, ASN1_ITEM_rptr(R3410_PUB_DER));
    if (len <= 0) CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, ERR_R_NESTED_ASN1_ERROR_);
    return len > 0 ? len : 0;
}

GOSTS* d2i_R3410PublicKey(GOSTS** key, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = *in;
    auto der = asn1_decode<R3410_PUB_DER>(&p, len, ASN1_ITEM_rptr(R3410_PUB_DER));
    if (!der) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    Params params;
    BnPtr y;
    bool ok;
    const bool with_params = der->type == R3410_PUB_WITH_PARAMS;
    if (with_params) {
        const R3410_PUB_SEQ* seq = der->value.seq;
        y = bn_of_asn1_int(seq->y);
        ok =
            y && read_params(params, seq->p, seq->q, seq->a) && BN_cmp(y.get(), params.p.get()) < 0;
    } else {
        y = bn_of_asn1_int(der->value.y);
        ok = y && BN_num_bits(y.get()) <= kMaxBitsP;
    }
    TargetKey target(key);
    if (!ok || target.get() == nullptr) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return nullptr;
    }
    if (with_params) install_params(target.get(), params);
    target.get()->y = std::move(y);
    target.get()->write_params = with_params;
    *in = p;
    return target.release();
}

int i2d_R3410_CP_PublicKey(const GOSTS* key, unsigned char** out) {
    const int n = GOSTS_size(key);
    if (n == 0 || !key->y || BN_num_bytes(key->y.get()) > n) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    std::vector<unsigned char> le(static_cast<size_t>(n));
    if (BN_bn2lebinpad(key->y.get(), le.data(), n) != n) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, ERR_LIB_BN_);
        return 0;
    }
    std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> os(
        ASN1_OCTET_STRING_new(), ASN1_OCTET_STRING_free);
    if (!os || !ASN1_OCTET_STRING_set(os.get(), le.data(), n)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410PUBLICKEY, ERR_R_MALLOC);
        return 0;
    }
    const int len = i2d_ASN1_OCTET_STRING(os.get(), out);
    return len > 0 ? len : 0;
}

int d2i_R3410_CP_PublicKey(GOSTS* key, const unsigned char** in, long len) {
    const int n = GOSTS_size(key);
    if (n == 0 || in == nullptr || *in == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const unsigned char* p = *in;
    std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> os(
        d2i_ASN1_OCTET_STRING(nullptr, &p, len), ASN1_OCTET_STRING_free);
    // The value is exactly as long as p: the form has no length of its own.
    if (!os || ASN1_STRING_length(os.get()) != n) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    }
    BnPtr y(BN_lebin2bn(ASN1_STRING_get0_data(os.get()), n, nullptr));
    if (!y) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410PUBLICKEY, ERR_LIB_BN_);
        return 0;
    }
    key->y = std::move(y);
    *in = p;
    return 1;
}

}  // namespace cadb
