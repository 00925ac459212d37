#include "crypto/r3410/r3410_dh.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <new>
#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/r3410/r3410_local.h"
#include "crypto/r3410/r3410_params.h"

namespace cadb {
namespace {

using DhPtr = std::unique_ptr<R3410_DH, decltype(&R3410_DH_free)>;

BnPtr secret_copy(const BN_MASKED* v) { return BnPtr(v != nullptr ? BN_unmask_dup(v) : nullptr); }

BnMaskedPtr masked(const BIGNUM* v) {
    BnMaskedPtr m(BN_MASKED_new());
    if (!m || !BN_mask(m.get(), v)) return nullptr;
    return m;
}

// 1 < y < p - 1 and y^q = 1 (mod p): the value lies in the group of order q,
// so the shared number cannot be forced into a small subgroup.
bool peer_value_valid(const R3410_DH* dh, const BIGNUM* y, BN_CTX* ctx) {
    BnCtxFrame frame(ctx);
    BIGNUM* pm1 = frame.get();
    BIGNUM* t = frame.get();
    if (t == nullptr || !BN_sub(pm1, dh->p.get(), BN_value_one())) return false;
    if (BN_cmp(y, BN_value_one()) <= 0 || BN_cmp(y, pm1) >= 0) return false;
    return BN_mod_exp(t, y, dh->q.get(), dh->p.get(), ctx) && BN_is_one(t);
}

int compute(R3410_DH* dh, const unsigned char* peer, int peer_len) {
    dh->result.reset();
    const int size = R3410_DH_size(dh);
    if (size == 0 || !dh->q || !dh->priv || peer == nullptr || peer_len <= 0 || peer_len > size) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr y(BN_bin2bn(peer, peer_len, nullptr));
    BnPtr z = bn_new();
    if (!ctx || !y || !z) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, ERR_R_MALLOC);
        return 0;
    }
    if (!peer_value_valid(dh, y.get(), ctx.get())) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    BnPtr x = secret_copy(dh->priv.get());
    if (!x || !gosts_exp_secret(z.get(), y.get(), x.get(), dh->p.get(), ctx.get())) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, ERR_LIB_BN_);
        return 0;
    }
    if (!(dh->result = masked(z.get()))) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, ERR_R_INTERNAL);
        return 0;
    }
    return 1;
}

DhPtr test_context() {
    const R3410_PARAM_SET& set = R3410_test_param_set();
    DhPtr dh(R3410_DH_new(), R3410_DH_free);
    if (!dh || !(dh->p = bn_from_bytes(set.p)) || !(dh->q = bn_from_bytes(set.q)) ||
        !(dh->g = bn_from_bytes(set.a))) {
        return DhPtr(nullptr, R3410_DH_free);
    }
    dh->marker = GOST_MARKER_R3410_DH;
    return dh;
}

int run_check() {
    DhPtr a = test_context(), b = test_context();
    if (!a || !b) return 0;
    const int n = R3410_DH_size(a.get());
    std::vector<unsigned char> pa(n), pb(n), za(n), zb(n);
    int la = n, lb = n;
    return R3410_DH_generate_key(a.get(), pa.data()) && R3410_DH_generate_key(b.get(), pb.data()) &&
           R3410_DH_compute_key_out(a.get(), pb.data(), n, za.data(), &la) &&
           R3410_DH_compute_key_out(b.get(), pa.data(), n, zb.data(), &lb) && la == lb &&
           CRYPTO_memcmp(za.data(), zb.data(), static_cast<size_t>(la)) == 0;
}

}  // namespace

R3410_DH* R3410_DH_new() {
    auto* dh = new (std::nothrow) R3410_DH;
    if (dh == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DUP_DH, ERR_R_MALLOC);
    }
    return dh;
}

void R3410_DH_free(R3410_DH* dh) { delete dh; }

R3410_DH* R3410_dup_DH(const GOSTS* key) {
    if (!gosts_has_params(key)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DUP_DH, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return nullptr;
    }
    DhPtr dh(R3410_DH_new(), R3410_DH_free);
    if (!dh || !(dh->p = bn_dup(key->p.get())) || !(dh->q = bn_dup(key->q.get())) ||
        !(dh->g = bn_dup(key->a.get())) || (key->y && !(dh->pub = bn_dup(key->y.get())))) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DUP_DH, ERR_R_MALLOC);
        return nullptr;
    }
    if (key->x && (key->has_check || !(dh->priv = BnMaskedPtr(BN_MASKED_dup(key->x.get()))))) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DUP_DH, R3410_R_INVALID_PRIVATE_KEY);
        return nullptr;
    }
    return dh.release();
}

int R3410_DH_size(const R3410_DH* dh) {
    return dh != nullptr && dh->p ? BN_num_bytes(dh->p.get()) : 0;
}

int R3410_DH_generate_key(R3410_DH* dh, unsigned char* out) {
    if (dh == nullptr || !dh->p || !dh->q || !dh->g) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    if (!R3410_DH_check(dh)) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_LIB_GOSTS);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_R_MALLOC);
        return 0;
    }
    if (!dh->priv) {
        BnPtr x = bn_new();
        if (!x || !BN_rand_below(x.get(), dh->q.get())) {
            ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_LIB_RAND_);
            return 0;
        }
        if (!(dh->priv = masked(x.get()))) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_R_INTERNAL);
            return 0;
        }
        dh->pub.reset();
    }
    if (!dh->pub) {
        BnPtr x = secret_copy(dh->priv.get());
        BnPtr y = bn_new();
        if (!x || !y || !gosts_exp_secret(y.get(), dh->g.get(), x.get(), dh->p.get(), ctx.get())) {
            ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_LIB_BN_);
            return 0;
        }
        dh->pub = std::move(y);
    }
    const int n = R3410_DH_size(dh);
    if (out != nullptr && BN_bn2binpad(dh->pub.get(), out, n) != n) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_GENERATE_KEY, ERR_LIB_BN_);
        return 0;
    }
    return 1;
}

int R3410_DH_compute_key(R3410_DH* dh, const unsigned char* peer, int peer_len) {
    if (dh == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    if (!R3410_DH_check(dh)) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, ERR_LIB_GOSTS);
        return 0;
    }
    return compute(dh, peer, peer_len);
}

int R3410_DH_compute_key_out(R3410_DH* dh, const unsigned char* peer, int peer_len,
                             unsigned char* out, int* out_len) {
    if (out == nullptr || out_len == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    if (!R3410_DH_compute_key(dh, peer, peer_len)) return 0;
    // Padded to the length of p, as X9.42 key derivation expects.
    const int n = R3410_DH_size(dh);
    const int room = *out_len;
    *out_len = n;
    BnPtr z = secret_copy(dh->result.get());
    if (room < n || !z || BN_bn2binpad(z.get(), out, n) != n) {
        ERR_set_last_error(ERR_CLASS_KEY_AGREEMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_COMPUTE_KEY, ERR_R_INTERNAL);
        return 0;
    }
    return 1;
}

int R3410_DH_check(const R3410_DH* dh) {
    if (dh != nullptr && dh->marker == GOST_MARKER_R3410_DH) return 1;
    if (!R3410_check_params() || !run_check()) {
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_DH_CHECK, ERR_R_SELF_TESTING_ERROR);
        return 0;
    }
    return 1;
}

}  // namespace cadb
