// Prime-field arithmetic in fixed-width Montgomery form for multiplications
// by secret scalars: every operation runs the same instructions and touches
// the same memory whatever the values, and no result depends on a branch.
// N 64-bit limbs hold a residue; the field prime must be odd and below
// 2^(64·N).
#pragma once

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstdint>

namespace cadb::ec::ct {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

template <int N>
struct Fe {
    u64 v[N];
};

// All ones when x == y, else 0, without a branch.
inline u64 eq_mask(u64 x, u64 y) {
    const u64 d = x ^ y;
    return ((d | (0 - d)) >> 63) - 1;
}

// r := mask ? x : r.
template <int N>
inline void cmov(Fe<N>& r, const Fe<N>& x, u64 mask) {
#pragma GCC unroll 16
    for (int i = 0; i < N; ++i) r.v[i] = (x.v[i] & mask) | (r.v[i] & ~mask);
}

// r |= mask ? x : 0: picks one of several entries into a zeroed r while
// reading every one of them.
template <int N>
inline void or_masked(Fe<N>& r, const Fe<N>& x, u64 mask) {
#pragma GCC unroll 16
    for (int i = 0; i < N; ++i) r.v[i] |= x.v[i] & mask;
}

template <int N>
inline u64 is_zero_mask(const Fe<N>& a) {
    u64 acc = 0;
#pragma GCC unroll 16
    for (int i = 0; i < N; ++i) acc |= a.v[i];
    return eq_mask(acc, 0);
}

// A residue from a non-negative number below 2^(64·N); false when it does
// not fit.
template <int N>
bool fe_from_bn(Fe<N>& r, const BIGNUM* a) {
    unsigned char buf[8 * N];
    if (BN_bn2lebinpad(a, buf, sizeof buf) != static_cast<int>(sizeof buf)) return false;
#pragma GCC unroll 16
    for (int i = 0; i < N; ++i) {
        u64 w = 0;
        for (int j = 7; j >= 0; --j) w = (w << 8) | buf[8 * i + j];
        r.v[i] = w;
    }
    OPENSSL_cleanse(buf, sizeof buf);
    return true;
}

template <int N>
bool fe_to_bn(BIGNUM* r, const Fe<N>& a) {
    unsigned char buf[8 * N];
#pragma GCC unroll 16
    for (int i = 0; i < N; ++i)
        for (int j = 0; j < 8; ++j) buf[8 * i + j] = static_cast<unsigned char>(a.v[i] >> (8 * j));
    const bool ok = BN_lebin2bn(buf, sizeof buf, r) != nullptr;
    OPENSSL_cleanse(buf, sizeof buf);
    return ok;
}

template <int N>
class Field {
  public:
    static constexpr int kLimbs = N;

    // Sets up the field of the odd prime p < 2^(64·N).
    bool init(const BIGNUM* p, BN_CTX* ctx) {
        if (!BN_is_odd(p) || BN_num_bits(p) > 64 * N || !fe_from_bn(p_, p)) return false;
        // -p^-1 mod 2^64 by Newton's iteration: each step doubles the
        // correct low bits, from 3 bits for an odd p.
        u64 inv = p_.v[0];
        for (int i = 0; i < 6; ++i) inv *= 2 - p_.v[0] * inv;
        n0_ = 0 - inv;
        BN_CTX_start(ctx);
        BIGNUM* t = BN_CTX_get(ctx);
        // R^2 mod p, and p - 2 for the inverse.
        const bool ok = t && BN_set_bit(t, 128 * N) && BN_mod(t, t, p, ctx) && fe_from_bn(rr_, t) &&
                        BN_copy(t, p) && BN_sub_word(t, 2) && fe_from_bn(pm2_, t);
        BN_CTX_end(ctx);
        if (!ok) return false;
        Fe<N> plain_one{};
        plain_one.v[0] = 1;
        to_field(one_, plain_one);
        return true;
    }

    const Fe<N>& one() const { return one_; }

    // r := a·b·R^-1 mod p (coarsely integrated operand scanning).
    void mul(Fe<N>& r, const Fe<N>& a, const Fe<N>& b) const {
        u64 t[N + 2] = {};
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            u64 c = 0;
#pragma GCC unroll 16
            for (int j = 0; j < N; ++j) {
                const u128 z = static_cast<u128>(a.v[j]) * b.v[i] + t[j] + c;
                t[j] = static_cast<u64>(z);
                c = static_cast<u64>(z >> 64);
            }
            u128 z = static_cast<u128>(t[N]) + c;
            t[N] = static_cast<u64>(z);
            t[N + 1] = static_cast<u64>(z >> 64);
            const u64 m = t[0] * n0_;
            z = static_cast<u128>(m) * p_.v[0] + t[0];
            c = static_cast<u64>(z >> 64);
#pragma GCC unroll 16
            for (int j = 1; j < N; ++j) {
                z = static_cast<u128>(m) * p_.v[j] + t[j] + c;
                t[j - 1] = static_cast<u64>(z);
                c = static_cast<u64>(z >> 64);
            }
            z = static_cast<u128>(t[N]) + c;
            t[N - 1] = static_cast<u64>(z);
            t[N] = t[N + 1] + static_cast<u64>(z >> 64);
        }
        // t < 2p: subtract p unless that borrows past the top word.
        reduce_once(r, t, t[N]);
    }

    void sqr(Fe<N>& r, const Fe<N>& a) const { mul(r, a, a); }

    [[gnu::always_inline]] void add(Fe<N>& r, const Fe<N>& a, const Fe<N>& b) const {
        u64 t[N];
        u64 c = 0;
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const u128 z = static_cast<u128>(a.v[i]) + b.v[i] + c;
            t[i] = static_cast<u64>(z);
            c = static_cast<u64>(z >> 64);
        }
        reduce_once(r, t, c);
    }

    [[gnu::always_inline]] void sub(Fe<N>& r, const Fe<N>& a, const Fe<N>& b) const {
        u64 borrow = 0;
        Fe<N> t;
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const u128 z = static_cast<u128>(a.v[i]) - b.v[i] - borrow;
            t.v[i] = static_cast<u64>(z);
            borrow = static_cast<u64>(z >> 64) & 1;
        }
        // Add p back when the difference went below zero.
        const u64 mask = 0 - borrow;
        u64 c = 0;
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const u128 z = static_cast<u128>(t.v[i]) + (p_.v[i] & mask) + c;
            r.v[i] = static_cast<u64>(z);
            c = static_cast<u64>(z >> 64);
        }
    }

    // Ordinary residues into Montgomery form and back.
    void to_field(Fe<N>& r, const Fe<N>& a) const { mul(r, a, rr_); }
    void from_field(Fe<N>& r, const Fe<N>& a) const {
        Fe<N> plain_one{};
        plain_one.v[0] = 1;
        mul(r, a, plain_one);
    }

    // r := a^(p-2) = a^-1 (0 for a = 0), by 4-bit windows of the exponent.
    // The exponent is public: its digits may steer the loop and index the
    // table of powers.
    void inv(Fe<N>& r, const Fe<N>& a) const {
        Fe<N> pow[16];
        pow[0] = one_;
        for (int j = 1; j < 16; ++j) mul(pow[j], pow[j - 1], a);
        Fe<N> acc = one_;
        for (int i = 16 * N - 1; i >= 0; --i) {
            for (int s = 0; s < 4; ++s) sqr(acc, acc);
            const unsigned d = (pm2_.v[i / 16] >> (4 * (i % 16))) & 0xF;
            if (d) mul(acc, acc, pow[d]);
        }
        r = acc;
        OPENSSL_cleanse(pow, sizeof pow);
    }

  private:
    // r := t - p when t (with top carry word hi) is at least p, else t.
    [[gnu::always_inline]] void reduce_once(Fe<N>& r, const u64* t, u64 hi) const {
        Fe<N> s;
        u64 borrow = 0;
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) {
            const u128 z = static_cast<u128>(t[i]) - p_.v[i] - borrow;
            s.v[i] = static_cast<u64>(z);
            borrow = static_cast<u64>(z >> 64) & 1;
        }
        // Keep t only when it was below p: a borrow not covered by hi.
        const u64 keep_t = 0 - (borrow & (eq_mask(hi, 0) & 1));
#pragma GCC unroll 16
        for (int i = 0; i < N; ++i) r.v[i] = (t[i] & keep_t) | (s.v[i] & ~keep_t);
    }

    Fe<N> p_{}, rr_{}, one_{}, pm2_{};
    u64 n0_ = 0;
};

}  // namespace cadb::ec::ct
