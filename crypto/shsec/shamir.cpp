#include "crypto/shsec/shamir.h"

#include <openssl/crypto.h>

#include <new>

#include "crypto/core/err.h"
#include "crypto/core/hmac.h"
#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

// A failure's entry, then the closing "SHAMIR lib" entry of the function.
int fail(int func, int reason = ERR_R_INTERNAL) {
    CADB_ERR(ERR_LIB_SHAMIR, func, reason);
    CADB_ERR(ERR_LIB_SHAMIR, func, ERR_LIB_SHAMIR);
    return 0;
}

// A random number of bits(p) bits reduced mod p, drawn again while zero.
bool random_nonzero_below(BIGNUM* r, const BIGNUM* p, BN_CTX* ctx) {
    for (int tries = 0; tries < 64; ++tries) {
        if (!::BN_rand(r, BN_num_bits(p), BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
            !BN_nnmod(r, r, p, ctx))
            return false;
        if (!BN_is_zero(r)) return true;
    }
    return false;  // a source that keeps giving zero is broken
}

// Grows v to n entries; false when memory runs out. The arrays follow what
// is actually known or held, so a threshold read from a medium costs
// nothing until as many shares are there.
bool grow(std::vector<BnPtr>& v, int n) {
    try {
        if (v.size() < static_cast<std::size_t>(n)) v.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void forget_shares(SHAMIR_SHARED_SECRET* s) {
    for (auto& v : s->x) v.reset();
    for (auto& v : s->y) v.reset();
    s->held = 0;
}

// y := a0 + a1 x + ... + a(t-1) x^(t-1) mod p, by Horner's rule.
bool evaluate(const SHAMIR_SHARED_SECRET* s, const BIGNUM* x, BIGNUM* y, BN_CTX* ctx) {
    BN_zero(y);
    for (int i = s->threshold - 1; i >= 0; --i)
        if (!BN_mod_mul(y, y, x, s->p.get(), ctx) ||
            !BN_mod_add(y, y, s->a[i].get(), s->p.get(), ctx))
            return false;
    return true;
}

// Solves the Vandermonde system of the t held shares for the coefficients,
// by Gaussian elimination mod p.
bool solve_coefficients(SHAMIR_SHARED_SECRET* s, BN_CTX* ctx) {
    const int t = s->threshold;
    const BIGNUM* p = s->p.get();
    std::vector<std::vector<BnPtr>> m(t);
    for (int i = 0; i < t; ++i) {
        BnPtr power(BN_new());
        if (!power || !BN_one(power.get())) return false;
        for (int j = 0; j < t; ++j) {
            m[i].push_back(bn_dup(power.get()));
            if (!m[i].back() || !BN_mod_mul(power.get(), power.get(), s->x[i].get(), p, ctx))
                return false;
        }
        m[i].push_back(bn_dup(s->y[i].get()));
        if (!m[i].back()) return false;
    }
    BnPtr inv(BN_new()), f(BN_new()), tmp(BN_new());
    if (!inv || !f || !tmp) return false;
    for (int col = 0; col < t; ++col) {
        int pivot = col;
        while (pivot < t && BN_is_zero(m[pivot][col].get())) ++pivot;
        if (pivot == t) return false;  // distinct x values never get here
        std::swap(m[col], m[pivot]);
        if (!BN_mod_inverse(inv.get(), m[col][col].get(), p, ctx)) return false;
        for (int j = col; j <= t; ++j)
            if (!BN_mod_mul(m[col][j].get(), m[col][j].get(), inv.get(), p, ctx)) return false;
        for (int r = 0; r < t; ++r) {
            if (r == col || BN_is_zero(m[r][col].get())) continue;
            if (!BN_copy(f.get(), m[r][col].get())) return false;
            for (int j = col; j <= t; ++j)
                if (!BN_mod_mul(tmp.get(), f.get(), m[col][j].get(), p, ctx) ||
                    !BN_mod_sub(m[r][j].get(), m[r][j].get(), tmp.get(), p, ctx))
                    return false;
        }
    }
    if (!grow(s->a, t)) return false;
    for (int i = 0; i < t; ++i) s->a[i] = std::move(m[i][t]);
    s->flags |= SHAMIR_HAS_COEFFICIENTS;
    return true;
}

}  // namespace

SHAMIR_SHARED_SECRET* SHAMIR_SHARED_SECRET_new(const BIGNUM* prime, int t) {
    if (!prime || t < 2 || BN_is_negative(prime) || BN_cmp(prime, BN_value_one()) <= 0) {
        fail(SHAMIR_F_SHAMIR_SHARED_SECRET_NEW);
        return nullptr;
    }
    auto* s = new (std::nothrow) SHAMIR_SHARED_SECRET;
    if (s) {
        s->threshold = t;
        s->p = bn_dup(prime);
    }
    if (!s || !s->p) {
        delete s;
        fail(SHAMIR_F_SHAMIR_SHARED_SECRET_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return s;
}

void SHAMIR_SHARED_SECRET_free(SHAMIR_SHARED_SECRET* s) {
    if (!s) return;
    OPENSSL_cleanse(s->check.data(), s->check.size());
    delete s;  // every number is wiped by its owner
}

int SHAMIR_SHARED_SECRET_init(SHAMIR_SHARED_SECRET* s, const BIGNUM* secret) {
    if (!s || !secret || BN_is_negative(secret) || BN_cmp(secret, s->p.get()) >= 0)
        return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_INIT);
    BnCtxPtr ctx(BN_CTX_new());
    if (!grow(s->a, s->threshold)) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_INIT);
    s->secret = bn_dup(secret);
    s->a[0] = bn_dup(secret);
    if (!ctx || !s->secret || !s->a[0]) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_INIT);
    forget_shares(s);
    s->flags &= ~SHAMIR_HAS_COEFFICIENTS;
    for (int i = 1; i < s->threshold; ++i) {
        s->a[i].reset(BN_new());
        if (!s->a[i] || !random_nonzero_below(s->a[i].get(), s->p.get(), ctx.get()))
            return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_INIT);
    }
    s->flags |= SHAMIR_HAS_COEFFICIENTS;
    return 1;
}

int SHAMIR_SHARED_SECRET_get_point(SHAMIR_SHARED_SECRET* s, BIGNUM* x, BIGNUM* y) {
    if (!s || !x || !y) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT);
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT);
    if (!(s->flags & SHAMIR_HAS_COEFFICIENTS) &&
        (s->held < s->threshold || !solve_coefficients(s, ctx.get())))
        return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT);
    if (!random_nonzero_below(x, s->p.get(), ctx.get()) || !evaluate(s, x, y, ctx.get()))
        return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT);
    return 1;
}

int SHAMIR_SHARED_SECRET_add_point(SHAMIR_SHARED_SECRET* s, const BIGNUM* x, const BIGNUM* y) {
    auto refuse = [] {
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_ADD_POINT, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_ADD_POINT, ERR_LIB_SHAMIR);
        return 0;
    };
    if (!s || !x || !y || s->held >= s->threshold || BN_is_zero(x) || BN_is_negative(x) ||
        BN_is_negative(y) || BN_cmp(x, s->p.get()) >= 0 || BN_cmp(y, s->p.get()) >= 0)
        return refuse();
    for (int i = 0; i < s->held; ++i)
        if (BN_cmp(s->x[i].get(), x) == 0) return refuse();
    BnPtr xs = bn_dup(x), ys = bn_dup(y);
    if (!xs || !ys || !grow(s->x, s->held + 1) || !grow(s->y, s->held + 1)) return refuse();
    s->x[s->held] = std::move(xs);
    s->y[s->held] = std::move(ys);
    ++s->held;
    return 1;
}

int SHAMIR_SHARED_SECRET_get_secret(SHAMIR_SHARED_SECRET* s, BIGNUM* out) {
    if (!s || !out || s->held < s->threshold) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr sum(BN_new()), num(BN_new()), den(BN_new()), term(BN_new());
    if (!ctx || !sum || !num || !den || !term)
        return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
    const BIGNUM* p = s->p.get();
    BN_zero(sum.get());
    // secret = sum of y_i * prod_{j != i} x_j / (x_j - x_i)  (mod p)
    for (int i = 0; i < s->threshold; ++i) {
        if (!BN_one(num.get()) || !BN_one(den.get()))
            return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
        for (int j = 0; j < s->threshold; ++j) {
            if (j == i) continue;
            if (!BN_mod_mul(num.get(), num.get(), s->x[j].get(), p, ctx.get()) ||
                !BN_mod_sub(term.get(), s->x[j].get(), s->x[i].get(), p, ctx.get()) ||
                !BN_mod_mul(den.get(), den.get(), term.get(), p, ctx.get()))
                return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
        }
        if (!BN_mod_inverse(den.get(), den.get(), p, ctx.get()) ||
            !BN_mod_mul(term.get(), num.get(), den.get(), p, ctx.get()) ||
            !BN_mod_mul(term.get(), term.get(), s->y[i].get(), p, ctx.get()) ||
            !BN_mod_add(sum.get(), sum.get(), term.get(), p, ctx.get()))
            return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
    }
    if (!BN_copy(out, sum.get())) return fail(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET);
    return 1;
}

std::vector<unsigned char> SHAMIR_check_value(int check_nid, const BIGNUM* secret, int bits) {
    const EVP_MD* md = check_nid == NID_hmacWithSHA1 ? EVP_sha1()
                       : check_nid == NID_HMAC_R3411 ? EVP_rus_hash()
                                                     : nullptr;
    if (!md || !secret || bits <= 0 || BN_num_bits(secret) > bits) return {};
    std::vector<unsigned char> bytes((bits + 7) / 8);
    std::vector<unsigned char> mac(EVP_MAX_MD_SIZE);
    unsigned int mac_len = 0;
    const bool ok = BN_bn2binpad(secret, bytes.data(), static_cast<int>(bytes.size())) >= 0 &&
                    hmac_digest(md, bytes.data(), bytes.size(), bytes.data(), bytes.size(),
                                mac.data(), &mac_len);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!ok) return {};
    mac.resize(mac_len);
    return mac;
}

}  // namespace cadb
