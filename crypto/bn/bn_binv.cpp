#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

// The loop runs on fixed-width word arrays rather than on BIGNUMs: a 256-bit
// inverse takes some 700 rounds, and libcrypto's per-call overhead would
// dominate each of them. Every value stays below the modulus, so the arrays
// never grow.
class Words {
  public:
    Words(const BIGNUM* a, std::size_t n) : w_(n) {
        std::vector<unsigned char> le(n * 8);
        BN_bn2lebinpad(a, le.data(), static_cast<int>(le.size()));
        for (std::size_t i = 0; i < n; ++i)
            for (int j = 7; j >= 0; --j) w_[i] = (w_[i] << 8) | le[i * 8 + j];
        OPENSSL_cleanse(le.data(), le.size());
    }
    Words(std::uint64_t v, std::size_t n) : w_(n) { w_[0] = v; }
    ~Words() { OPENSSL_cleanse(w_.data(), w_.size() * 8); }
    Words(const Words&) = delete;
    Words& operator=(const Words&) = delete;

    bool to_bn(BIGNUM* r) const {
        std::vector<unsigned char> le(w_.size() * 8);
        for (std::size_t i = 0; i < w_.size(); ++i)
            for (int j = 0; j < 8; ++j)
                le[i * 8 + j] = static_cast<unsigned char>(w_[i] >> (8 * j));
        const bool ok = BN_lebin2bn(le.data(), static_cast<int>(le.size()), r) != nullptr;
        OPENSSL_cleanse(le.data(), le.size());
        return ok;
    }

    bool even() const { return (w_[0] & 1) == 0; }
    bool zero() const {
        for (auto v : w_)
            if (v) return false;
        return true;
    }
    bool one() const {
        if (w_[0] != 1) return false;
        for (std::size_t i = 1; i < w_.size(); ++i)
            if (w_[i]) return false;
        return true;
    }
    bool less_than(const Words& b) const {
        for (std::size_t i = w_.size(); i-- > 0;)
            if (w_[i] != b.w_[i]) return w_[i] < b.w_[i];
        return false;
    }
    // this := this - b; returns the borrow out.
    unsigned sub(const Words& b) {
        unsigned borrow = 0;
        for (std::size_t i = 0; i < w_.size(); ++i) {
            const std::uint64_t d = w_[i] - b.w_[i];
            const unsigned next = (w_[i] < b.w_[i]) | (d < borrow);
            w_[i] = d - borrow;
            borrow = next;
        }
        return borrow;
    }
    // this := this + b; returns the carry out.
    unsigned add(const Words& b) {
        unsigned carry = 0;
        for (std::size_t i = 0; i < w_.size(); ++i) {
            const std::uint64_t s = w_[i] + b.w_[i];
            const unsigned next = s < w_[i];
            w_[i] = s + carry;
            carry = next | (w_[i] < s);
        }
        return carry;
    }
    // Trailing zero bits, at most 63 (a zero word counts as 63).
    unsigned trailing_zeros() const {
        return w_[0] == 0 ? 63u : static_cast<unsigned>(std::countr_zero(w_[0]));
    }
    // this := this / 2^t, for 1 <= t <= 63.
    void shr(unsigned t) {
        for (std::size_t i = 0; i + 1 < w_.size(); ++i)
            w_[i] = (w_[i] >> t) | (w_[i + 1] << (64 - t));
        w_.back() >>= t;
    }
    // this := this / 2^t mod m, for odd m, this < m and 1 <= t <= 63, in one
    // pass instead of t halvings: with k chosen so that this + k·m is a
    // multiple of 2^t (neg_minv = -m^-1 mod 2^64), (this + k·m) / 2^t < 2m.
    void div_pow2_mod(unsigned t, const Words& m, std::uint64_t neg_minv) {
        const std::uint64_t k = (w_[0] * neg_minv) & ((std::uint64_t{1} << t) - 1);
        unsigned __int128 acc = 0;
        for (std::size_t i = 0; i < w_.size(); ++i) {
            acc += static_cast<unsigned __int128>(k) * m.w_[i] + w_[i];
            w_[i] = static_cast<std::uint64_t>(acc);
            acc >>= 64;
        }
        const auto top = static_cast<std::uint64_t>(acc);
        shr(t);
        w_.back() |= top << (64 - t);
        // The sum may carry one bit past the top word; the subtraction of m
        // that it calls for absorbs it.
        if ((top >> t) != 0 || !less_than(m)) sub(m);
    }
    // this := this - b mod m, for this, b < m.
    void sub_mod(const Words& b, const Words& m) {
        if (sub(b)) add(m);
    }
    std::uint64_t low() const { return w_[0]; }

  private:
    std::vector<std::uint64_t> w_;
};

// -m^-1 mod 2^64 for odd m, by Newton's iteration (each step doubles the
// number of correct low bits, starting from 3).
std::uint64_t neg_inverse_mod_2_64(std::uint64_t m) {
    std::uint64_t inv = m;
    for (int i = 0; i < 5; ++i) inv *= 2 - m * inv;
    return ~inv + 1;
}

// r := x^-1 mod m for odd m and 0 < x < m; false when gcd(x, m) != 1.
bool inverse_odd_modulus(BIGNUM* r, const BIGNUM* x, const BIGNUM* m) {
    const std::size_t n = (static_cast<std::size_t>(BN_num_bits(m)) + 63) / 64;
    const Words mod(m, n);
    const std::uint64_t neg_minv = neg_inverse_mod_2_64(mod.low());
    // Invariants: x1·x = u and x2·x = v (mod m). Runs of factors of two are
    // halved away together.
    Words u(x, n), v(m, n), x1(std::uint64_t{1}, n), x2(std::uint64_t{0}, n);
    while (!u.zero()) {
        while (u.even()) {
            const unsigned t = u.trailing_zeros();
            u.shr(t);
            x1.div_pow2_mod(t, mod, neg_minv);
        }
        while (v.even()) {
            const unsigned t = v.trailing_zeros();
            v.shr(t);
            x2.div_pow2_mod(t, mod, neg_minv);
        }
        if (u.less_than(v)) {
            v.sub(u);
            x2.sub_mod(x1, mod);
        } else {
            u.sub(v);
            x1.sub_mod(x2, mod);
        }
    }
    // v is now gcd(x, m).
    return v.one() && x2.to_bn(r);
}

}  // namespace

int BN_mod_binary_inverse(BIGNUM* r, const BIGNUM* a, const BIGNUM* m) {
    if (!r || !a || !m) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (BN_is_negative(m) || BN_cmp(m, BN_value_one()) <= 0) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, BN_R_NO_INVERSE);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr x = bn_new();
    BnPtr result = bn_new();
    if (!ctx || !x || !result || !BN_nnmod(x.get(), a, m, ctx.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, ERR_R_MALLOC);
        return 0;
    }
    if (BN_is_zero(x.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, BN_R_NO_INVERSE);
        return 0;
    }

    bool found;
    if (BN_is_odd(m)) {
        found = inverse_odd_modulus(result.get(), x.get(), m);
    } else if (!BN_is_odd(x.get())) {
        found = false;
    } else if (BN_is_one(x.get())) {
        found = BN_one(result.get());
    } else {
        // An even modulus leaves the halving step without an odd number to
        // add, so invert the odd x instead: with y = m^-1 mod x, m·y = 1 + x·t
        // and x·(m - t) = 1 (mod m).
        BnPtr y = bn_new();
        found = y && BN_mod(y.get(), m, x.get(), ctx.get()) && !BN_is_zero(y.get()) &&
                inverse_odd_modulus(y.get(), y.get(), x.get()) &&
                BN_mul(y.get(), y.get(), m, ctx.get()) && BN_sub_word(y.get(), 1) &&
                BN_div(y.get(), nullptr, y.get(), x.get(), ctx.get()) &&
                BN_sub(result.get(), m, y.get());
    }
    if (!found || !BN_copy(r, result.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, BN_R_NO_INVERSE);
        return 0;
    }
    return 1;
}

}  // namespace cadb
