// Arithmetic modulo a prime p = 2^256 - c with a small c (CryptoPro A and
// XchA: c = 617), in the manner of the Montgomery field beside it: the same
// instructions and memory accesses whatever the values, results always
// fully reduced. Since 2^256 = c (mod p), the upper half of a product folds
// onto the lower half with one multiplication per word, which is cheaper
// than a Montgomery reduction; residues stay in ordinary form, so entering
// and leaving the field form is a copy.
#pragma once

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <bit>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "crypto/ecgost/ec_ct_field.h"

namespace cadb::ec::ct {

// Word addition and subtraction with carry in and out (0 or 1), which the
// compiler turns into carry-chained instructions.
[[gnu::always_inline]] inline u64 add_carry(u64 a, u64 b, u64& carry) {
#if defined(__x86_64__)
    unsigned long long r;
    carry = _addcarry_u64(static_cast<unsigned char>(carry), a, b, &r);
    return r;
#else
    const u128 z = static_cast<u128>(a) + b + carry;
    carry = static_cast<u64>(z >> 64);
    return static_cast<u64>(z);
#endif
}

[[gnu::always_inline]] inline u64 sub_borrow(u64 a, u64 b, u64& borrow) {
#if defined(__x86_64__)
    unsigned long long r;
    borrow = _subborrow_u64(static_cast<unsigned char>(borrow), a, b, &r);
    return r;
#else
    const u128 z = static_cast<u128>(a) - b - borrow;
    borrow = static_cast<u64>(z >> 64) & 1;
    return static_cast<u64>(z);
#endif
}

class PseudoMersenneField {
  public:
    static constexpr int kLimbs = 4;
    using F = Fe<kLimbs>;

    // True when p = 2^256 - c for an odd c below 2^32.
    static bool suits(const BIGNUM* p) {
        if (BN_num_bits(p) != 256 || !BN_is_odd(p)) return false;
        BIGNUM* c = BN_new();
        const bool ok = c && BN_set_bit(c, 256) && BN_sub(c, c, p) && BN_num_bits(c) <= 32;
        BN_free(c);
        return ok;
    }

    bool init(const BIGNUM* p, BN_CTX*) {
        if (!suits(p) || !fe_from_bn(p_, p)) return false;
        c_ = 0 - p_.v[0];  // p's low word is 2^64 - c; the others are all ones
        one_ = F{};
        one_.v[0] = 1;
        // p - 2 = 2^256 - (c + 2) is a run of ones from the top down to its
        // highest zero bit, which c + 2 <= 2^32 + 1 puts at bit 32 or below:
        // in p's low word less 2, which does not borrow.
        const u64 low = p_.v[0] - 2;
        tail_bits_ = 64;
        while (low >> (tail_bits_ - 1) & 1) --tail_bits_;
        tail_ = low & ((u64{1} << tail_bits_) - 1);
        return true;
    }

    const F& one() const { return one_; }

    void to_field(F& r, const F& a) const { r = a; }
    void from_field(F& r, const F& a) const { r = a; }

    void mul(F& r, const F& a, const F& b) const {
        u64 t[8] = {};
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            u64 carry = 0;
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                const u128 z = static_cast<u128>(a.v[j]) * b.v[i] + t[i + j] + carry;
                t[i + j] = static_cast<u64>(z);
                carry = static_cast<u64>(z >> 64);
            }
            t[i + 4] = carry;
        }
        reduce_wide(r, t);
    }

    // The six cross products once and doubled, then the four squares.
    void sqr(F& r, const F& a) const {
        const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3];
        u64 t[8];
        u128 z = static_cast<u128>(a0) * a1;
        t[1] = static_cast<u64>(z);
        z = static_cast<u128>(a0) * a2 + static_cast<u64>(z >> 64);
        t[2] = static_cast<u64>(z);
        z = static_cast<u128>(a0) * a3 + static_cast<u64>(z >> 64);
        t[3] = static_cast<u64>(z);
        t[4] = static_cast<u64>(z >> 64);
        z = static_cast<u128>(a1) * a2 + t[3];
        t[3] = static_cast<u64>(z);
        z = static_cast<u128>(a1) * a3 + t[4] + static_cast<u64>(z >> 64);
        t[4] = static_cast<u64>(z);
        t[5] = static_cast<u64>(z >> 64);
        z = static_cast<u128>(a2) * a3 + t[5];
        t[5] = static_cast<u64>(z);
        t[6] = static_cast<u64>(z >> 64);
        t[7] = t[6] >> 63;
#pragma GCC unroll 5
        for (int i = 6; i > 1; --i) t[i] = (t[i] << 1) | (t[i - 1] >> 63);
        t[1] <<= 1;
        t[0] = 0;
        u64 carry = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            const u128 sq = static_cast<u128>(a.v[i]) * a.v[i];
            z = static_cast<u128>(t[2 * i]) + static_cast<u64>(sq) + carry;
            t[2 * i] = static_cast<u64>(z);
            z = static_cast<u128>(t[2 * i + 1]) + static_cast<u64>(sq >> 64) +
                static_cast<u64>(z >> 64);
            t[2 * i + 1] = static_cast<u64>(z);
            carry = static_cast<u64>(z >> 64);
        }
        reduce_wide(r, t);
    }

    // r := a·w for a word w below 2^32 (a small curve coefficient).
    [[gnu::always_inline]] void mul_word(F& r, const F& a, u64 w) const {
        u64 t[4];
        u64 carry = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            const u128 z = static_cast<u128>(a.v[i]) * w + carry;
            t[i] = static_cast<u64>(z);
            carry = static_cast<u64>(z >> 64);
        }
        fold(r, t, carry);
    }

    [[gnu::always_inline]] void add(F& r, const F& a, const F& b) const {
        u64 t[4];
        u64 carry = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) t[i] = add_carry(a.v[i], b.v[i], carry);
        // a + b < 2p: one subtraction of p at most, which is adding c
        // modulo 2^256; it is due when the sum carried out or when adding c
        // carries out.
        canonical(r, t, carry);
    }

    [[gnu::always_inline]] void sub(F& r, const F& a, const F& b) const {
        u64 t[4];
        u64 borrow = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) t[i] = sub_borrow(a.v[i], b.v[i], borrow);
        // Below zero: add p, which modulo 2^256 is subtracting c; the
        // wrapped difference is above c, so this borrows no further.
        u64 b2 = 0;
        r.v[0] = sub_borrow(t[0], c_ & (0 - borrow), b2);
#pragma GCC unroll 3
        for (int i = 1; i < 4; ++i) r.v[i] = sub_borrow(t[i], 0, b2);
    }

    // r := a^(p-2) = a^-1 (0 for a = 0) by a fixed chain of squarings and
    // multiplications that depends on p alone (no branch reads a): the run
    // of n ones at the top of p - 2 as a^(2^n - 1), built from a^(2^e - 1)
    // by doubling e (e squarings and a multiplication) or adding one to it
    // (a squaring and a multiplication) along n's bits, then one squaring
    // per low bit and a multiplication per set one. For c = 617 that is 255
    // squarings and 17 multiplications, where 4-bit windows took 256 and 79.
    void inv(F& r, const F& a) const {
        const int run = 256 - tail_bits_;
        F t = a, u;
        int e = 1;
        for (int i = std::bit_width(static_cast<unsigned>(run)) - 2; i >= 0; --i) {
            u = t;
            for (int s = 0; s < e; ++s) sqr(u, u);
            mul(t, u, t);
            e *= 2;
            if (run >> i & 1) {
                sqr(t, t);
                mul(t, t, a);
                ++e;
            }
        }
        for (int i = tail_bits_ - 1; i >= 0; --i) {
            sqr(t, t);
            if (tail_ >> i & 1) mul(t, t, a);
        }
        r = t;
        OPENSSL_cleanse(&t, sizeof t);
        OPENSSL_cleanse(&u, sizeof u);
    }

  private:
    // r := t mod p for a 512-bit t = H·2^256 + L, as L + c·H. Inlined into
    // each product: as a call, with the product passed through memory and
    // registers saved, it cost a tenth of a point multiplication.
    [[gnu::always_inline]] void reduce_wide(F& r, const u64* t) const {
        u64 lo[4];
        u64 carry = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            const u128 z = static_cast<u128>(t[i + 4]) * c_ + t[i] + carry;
            lo[i] = static_cast<u64>(z);
            carry = static_cast<u64>(z >> 64);
        }
        fold(r, lo, carry);
    }

    // r := (hi·2^256 + lo) mod p for hi below 2^32: adding hi·c to lo
    // wraps past 2^256 at most once, leaving a small value to which the
    // wrapped 2^256 (that is, c) adds without carrying out.
    [[gnu::always_inline]] void fold(F& r, const u64* lo, u64 hi) const {
        u64 t[4];
        const u128 hc = static_cast<u128>(hi) * c_;
        u64 carry = 0;
        t[0] = add_carry(lo[0], static_cast<u64>(hc), carry);
        t[1] = add_carry(lo[1], static_cast<u64>(hc >> 64), carry);
        t[2] = add_carry(lo[2], 0, carry);
        t[3] = add_carry(lo[3], 0, carry);
        u64 c2 = 0;
        t[0] = add_carry(t[0], c_ & (0 - carry), c2);
#pragma GCC unroll 3
        for (int i = 1; i < 4; ++i) t[i] = add_carry(t[i], 0, c2);
        canonical(r, t, 0);
    }

    // r := t (with the carry out of it, 0 or 1) reduced below p, given
    // t + carry·2^256 < 2p: t - p is t + c modulo 2^256, and is the answer
    // when the carry was set or when adding c carries out.
    [[gnu::always_inline]] void canonical(F& r, const u64* t, u64 carry) const {
        u64 s[4];
        u64 c2 = 0;
        s[0] = add_carry(t[0], c_, c2);
#pragma GCC unroll 3
        for (int i = 1; i < 4; ++i) s[i] = add_carry(t[i], 0, c2);
        const u64 take_s = 0 - ((carry | c2) & 1);
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) r.v[i] = (s[i] & take_s) | (t[i] & ~take_s);
    }

    F p_{}, one_{};
    u64 c_ = 0;
    // The low bits of p - 2 below its top run of ones, and how many.
    u64 tail_ = 0;
    int tail_bits_ = 0;
};

}  // namespace cadb::ec::ct
