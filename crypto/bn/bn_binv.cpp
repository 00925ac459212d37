#include <openssl/bn.h>
#include <openssl/crypto.h>

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
    // this := (carry·2^(64n) + this) / 2.
    void shr1(unsigned carry = 0) {
        for (std::size_t i = 0; i + 1 < w_.size(); ++i) w_[i] = (w_[i] >> 1) | (w_[i + 1] << 63);
        w_.back() = (w_.back() >> 1) | (static_cast<std::uint64_t>(carry) << 63);
    }
    // this := this / 2 mod m, for odd m and this < m.
    void half_mod(const Words& m) {
        if (even()) {
            shr1();
        } else {
            shr1(add(m));
        }
    }
    // this := this - b mod m, for this, b < m.
    void sub_mod(const Words& b, const Words& m) {
        if (sub(b)) add(m);
    }

  private:
    std::vector<std::uint64_t> w_;
};

// r := x^-1 mod m for odd m and 0 < x < m; false when gcd(x, m) != 1.
bool inverse_odd_modulus(BIGNUM* r, const BIGNUM* x, const BIGNUM* m) {
    const std::size_t n = (static_cast<std::size_t>(BN_num_bits(m)) + 63) / 64;
    const Words mod(m, n);
    // Invariants: x1·x = u and x2·x = v (mod m).
    Words u(x, n), v(m, n), x1(std::uint64_t{1}, n), x2(std::uint64_t{0}, n);
    while (!u.zero()) {
        while (u.even()) {
            u.shr1();
            x1.half_mod(mod);
        }
        while (v.even()) {
            v.shr1();
            x2.half_mod(mod);
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
