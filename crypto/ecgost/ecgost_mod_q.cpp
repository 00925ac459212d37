#include "crypto/ecgost/ecgost_mod_q.h"

#include <openssl/crypto.h>

#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include "crypto/ecgost/ec_ct_field.h"

namespace cadb::ecgost {
namespace {

using ec::ct::Fe;

// Calls op with the word count of q's field, among the widths of the
// constant-time point multiplication; -1 for a q outside them or even.
template <class Op>
int in_width(const BIGNUM* q, Op&& op) {
    if (!BN_is_odd(q) || BN_is_negative(q)) return -1;
    const int limbs = (BN_num_bits(q) + 63) / 64;
    if (limbs <= 4) return op(std::integral_constant<int, 4>{});
    if (limbs <= 6) return op(std::integral_constant<int, 6>{});
    if (limbs <= 8) return op(std::integral_constant<int, 8>{});
    if (limbs <= 11) return op(std::integral_constant<int, 11>{});
    return -1;
}

// The field of q is built for each call: one division of the public
// 2^(128·N) by q, small beside the point multiplication of a signature.
template <int N>
int s_in_width(BIGNUM* s, const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
               const BIGNUM* q, BN_CTX* ctx) {
    ec::ct::Field<N> f;
    if (!f.init(q, ctx)) return 0;
    Fe<N> fr, fd, fk, fe, rd, ke, sum, out;
    int done = -1;
    // A Montgomery product a·b·R^-1 needs one reduction step for a < q and
    // any b < R, so neither secret needs reducing first (r and e are below
    // q); the sum (r·d + k·e)·R^-1 goes back to an ordinary residue by one
    // more product, with R^2.
    if (ec::ct::fe_from_bn(fd, d) && ec::ct::fe_from_bn(fk, k)) {
        done = 0;
        if (ec::ct::fe_from_bn(fr, r) && ec::ct::fe_from_bn(fe, e)) {
            f.mul(rd, fr, fd);
            f.mul(ke, fk, fe);
            f.add(sum, rd, ke);
            f.to_field(out, sum);
            done = ec::ct::fe_to_bn(s, out) ? 1 : 0;
        }
    }
    for (Fe<N>* v : {&fd, &fk, &rd, &ke, &sum, &out}) OPENSSL_cleanse(v, sizeof *v);
    return done;
}

template <int N>
int reduced_in_width(BIGNUM* out, const BIGNUM* a, const BIGNUM* q, BN_CTX* ctx) {
    ec::ct::Field<N> f;
    if (!f.init(q, ctx)) return 0;
    Fe<N> fa, t;
    int done = -1;
    // a·R^2·R^-1 = a·R mod q, fully reduced for any a < R; then out of
    // Montgomery form: a mod q.
    if (ec::ct::fe_from_bn(fa, a)) {
        f.to_field(t, fa);
        f.from_field(t, t);
        done = ec::ct::fe_to_bn(out, t) ? 1 : 0;
    }
    OPENSSL_cleanse(&fa, sizeof fa);
    OPENSSL_cleanse(&t, sizeof t);
    return done;
}

// The big-endian bytes be[0, n), n <= 8·N, as N words (not reduced).
template <int N>
void fe_from_be(Fe<N>& r, const unsigned char* be, std::size_t n) {
    r = Fe<N>{};
    for (std::size_t i = 0; i < n; ++i)
        r.v[i / 8] |= static_cast<ec::ct::u64>(be[n - 1 - i]) << (8 * (i % 8));
}

// Horner's rule over pieces of N words from the top: value := value·R + c,
// with R = 2^(64·N). In Montgomery form that is (value·R)·R + c·R, two
// products by R^2 and a sum, each below q; the pieces' count is the
// length's, not the value's.
template <int N>
int wide_reduced_in_width(BIGNUM* out, const BIGNUM* a, int len, const BIGNUM* q, BN_CTX* ctx) {
    std::vector<unsigned char> be(static_cast<std::size_t>(len));
    if (BN_bn2binpad(a, be.data(), len) != len) return -1;
    ec::ct::Field<N> f;
    int done = 0;
    if (f.init(q, ctx)) {
        constexpr std::size_t kPiece = 8 * N;
        const std::size_t total = be.size();
        Fe<N> acc{}, c, t;
        for (std::size_t at = 0, n = (total - 1) % kPiece + 1; at < total; at += n, n = kPiece) {
            fe_from_be(c, be.data() + at, n);
            f.to_field(t, acc);
            f.to_field(c, c);
            f.add(acc, t, c);
        }
        f.from_field(acc, acc);
        done = ec::ct::fe_to_bn(out, acc) ? 1 : 0;
        for (Fe<N>* v : {&acc, &c, &t}) OPENSSL_cleanse(v, sizeof *v);
    }
    OPENSSL_cleanse(be.data(), be.size());
    return done;
}

template <int N>
int product_in_width(BIGNUM* out, const BIGNUM* a, const BIGNUM* b, const BIGNUM* q, BN_CTX* ctx) {
    ec::ct::Field<N> f;
    if (!f.init(q, ctx)) return 0;
    Fe<N> fa, fb, t;
    int done = -1;
    // a·b·R^-1 needs one reduction step for a < q and any b < R, so the
    // secret needs no reducing first; one more product, by R^2, gives a·b.
    if (ec::ct::fe_from_bn(fb, b)) {
        done = 0;
        if (ec::ct::fe_from_bn(fa, a)) {
            f.mul(t, fa, fb);
            f.to_field(t, t);
            done = ec::ct::fe_to_bn(out, t) ? 1 : 0;
        }
    }
    OPENSSL_cleanse(&fb, sizeof fb);
    OPENSSL_cleanse(&t, sizeof t);
    return done;
}

}  // namespace

int signature_s_fixed(BIGNUM* s, const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
                      const BIGNUM* q, BN_CTX* ctx) {
    // Only the sign of the secrets is looked at: their size is seen by the
    // fixed-width conversion, which reads the whole width whatever it holds.
    if (BN_is_negative(d) || BN_is_negative(k) || BN_is_negative(r) || BN_is_negative(e) ||
        BN_cmp(r, q) >= 0 || BN_cmp(e, q) >= 0)
        return -1;
    return in_width(q,
                    [&](auto n) { return s_in_width<decltype(n)::value>(s, r, d, k, e, q, ctx); });
}

bool signature_s(BIGNUM* s, const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
                 const BIGNUM* q, BN_CTX* ctx) {
    const int done = signature_s_fixed(s, r, d, k, e, q, ctx);
    if (done >= 0) return done == 1;
    BN_CTX_start(ctx);
    BIGNUM* t = BN_CTX_get(ctx);
    const bool ok = t && BN_mod_mul(t, r, d, q, ctx) && BN_mod_mul(s, k, e, q, ctx) &&
                    BN_mod_add(s, s, t, q, ctx);
    if (t) BN_clear(t);
    BN_CTX_end(ctx);
    return ok;
}

int reduce_fixed(BIGNUM* out, const BIGNUM* a, const BIGNUM* q, BN_CTX* ctx) {
    if (BN_is_negative(a)) return -1;
    return in_width(q,
                    [&](auto n) { return reduced_in_width<decltype(n)::value>(out, a, q, ctx); });
}

bool reduce_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* q, BN_CTX* ctx) {
    const int done = reduce_fixed(out, a, q, ctx);
    if (done >= 0) return done == 1;
    return BN_nnmod(out, a, q, ctx) == 1;
}

int reduce_wide_fixed(BIGNUM* out, const BIGNUM* a, int len, const BIGNUM* q, BN_CTX* ctx) {
    if (BN_is_negative(a) || len <= 0) return -1;
    return in_width(
        q, [&](auto n) { return wide_reduced_in_width<decltype(n)::value>(out, a, len, q, ctx); });
}

bool reduce_wide_secret(BIGNUM* out, const BIGNUM* a, int len, const BIGNUM* q, BN_CTX* ctx) {
    const int done = reduce_wide_fixed(out, a, len, q, ctx);
    if (done >= 0) return done == 1;
    return BN_nnmod(out, a, q, ctx) == 1;
}

int product_fixed(BIGNUM* out, const BIGNUM* a, const BIGNUM* b, const BIGNUM* q, BN_CTX* ctx) {
    // Only the secret's sign is looked at; its size is seen by the
    // fixed-width conversion.
    if (BN_is_negative(a) || BN_is_negative(b) || BN_cmp(a, q) >= 0) return -1;
    return in_width(
        q, [&](auto n) { return product_in_width<decltype(n)::value>(out, a, b, q, ctx); });
}

bool product_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* b, const BIGNUM* q, BN_CTX* ctx) {
    BN_CTX_start(ctx);
    bool ok = true;
    if (BN_is_negative(a) || BN_cmp(a, q) >= 0) {
        BIGNUM* reduced = BN_CTX_get(ctx);
        ok = reduced && BN_nnmod(reduced, a, q, ctx);
        a = reduced;
    }
    if (ok) {
        const int done = product_fixed(out, a, b, q, ctx);
        ok = done >= 0 ? done == 1 : BN_mod_mul(out, a, b, q, ctx) == 1;
    }
    BN_CTX_end(ctx);
    return ok;
}

}  // namespace cadb::ecgost
