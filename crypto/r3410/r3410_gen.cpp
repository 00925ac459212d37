// Parameter generation by the procedures of the standard: A builds a prime p
// of t bits together with the chain of primes below it, each one proven
// prime from the one before; B builds q and a 512-bit prime Q by A and then p
// with qQ | p - 1; C finds a of order q.
#include <openssl/bn.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

constexpr int kSmallPrimes = 2047;

const std::array<uint32_t, kSmallPrimes>& small_primes() {
    static std::array<uint32_t, kSmallPrimes> table;
    static std::once_flag once;
    std::call_once(once, [] {
        int n = 0;
        for (uint32_t v = 2; n < kSmallPrimes; ++v) {
            bool prime = true;
            for (int i = 0; i < n && table[i] * table[i] <= v; ++i) {
                if (v % table[i] == 0) {
                    prime = false;
                    break;
                }
            }
            if (prime) table[n++] = v;
        }
    });
    return table;
}

// The smallest prime of t bits, 2 <= t <= 16.
uint32_t smallest_prime_of_bits(int t) {
    for (uint32_t v = 1u << (t - 1);; ++v) {
        bool prime = v >= 2;
        for (uint32_t f = 2; f * f <= v; ++f) {
            if (v % f == 0) {
                prime = false;
                break;
            }
        }
        if (prime) return v;
    }
}

// The standard's 16-bit linear congruential sequence.
struct Lcg {
    uint32_t y;
    uint32_t c;
    uint32_t next() { return y = (19381u * y + c) & 0xFFFFu; }
};

class Progress {
  public:
    Progress(R3410_gen_callback cb, void* arg) : cb_(cb), arg_(arg) {}
    void operator()(int stage) const {
        if (cb_ != nullptr) cb_(stage, 0, arg_);
    }

  private:
    R3410_gen_callback cb_;
    void* arg_;
};

// Y := y_0 + y_1 2^16 + ... + y_(r-1) 2^(16(r-1)), with y_0 the current value
// of the sequence; the sequence then stands at y_r.
int next_words(BIGNUM* Y, Lcg& lcg, int r) {
    std::vector<unsigned char> be(2 * static_cast<size_t>(r));
    for (int i = 0; i < r; ++i) {
        const uint32_t w = lcg.y;
        be[be.size() - 2 * i - 2] = static_cast<unsigned char>(w >> 8);
        be[be.size() - 2 * i - 1] = static_cast<unsigned char>(w);
        lcg.next();
    }
    return BN_bin2bn(be.data(), static_cast<int>(be.size()), Y) != nullptr;
}

// N := ceil(2^(t-1) / f) + floor(2^(t-1) Y / (f 2^(16r))), made even.
int start_multiplier(BIGNUM* N, const BIGNUM* f, const BIGNUM* Y, int t, int r, BN_CTX* ctx) {
    BnCtxFrame frame(ctx);
    BIGNUM* top = frame.get();
    BIGNUM* num = frame.get();
    BIGNUM* den = frame.get();
    BIGNUM* rem = frame.get();
    BIGNUM* second = frame.get();
    if (second == nullptr) return 0;
    BN_zero(top);
    if (!BN_set_bit(top, t - 1)) return 0;
    if (!BN_div(N, rem, top, f, ctx)) return 0;
    if (!BN_is_zero(rem) && !BN_add_word(N, 1)) return 0;
    if (!BN_mul(num, top, Y, ctx) || !BN_lshift(den, f, 16 * r)) return 0;
    if (!BN_div(second, nullptr, num, den, ctx) || !BN_add(N, N, second)) return 0;
    if (BN_is_odd(N) && !BN_add_word(N, 1)) return 0;
    return 1;
}

// Finds the prime p = f (N + k) + 1 < 2^t, k = 0, 2, 4, ..., proven by
// 2^(p-1) = 1 and 2^(g (N + k)) != 1 (mod p). Draws new words when the
// candidates pass 2^t.
int find_prime(BIGNUM* p, const BIGNUM* f, const BIGNUM* g, int t, Lcg& lcg,
               const Progress& progress, BN_CTX* ctx, int func) {
    BnCtxFrame frame(ctx);
    BIGNUM* Y = frame.get();
    BIGNUM* N = frame.get();
    BIGNUM* limit = frame.get();
    BIGNUM* e = frame.get();
    if (e != nullptr) BN_zero(limit);
    if (e == nullptr || !BN_set_bit(limit, t)) {
        CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
        return 0;
    }
    const int r = (t + 15) / 16;
    for (;;) {
        if (!next_words(Y, lcg, r) || !start_multiplier(N, f, Y, t, r, ctx)) {
            CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
            return 0;
        }
        for (;;) {
            if (!BN_mul(p, f, N, ctx) || !BN_add_word(p, 1)) {
                CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
                return 0;
            }
            if (BN_cmp(p, limit) > 0) break;
            progress(0);
            if (R3410_is_prime(p)) {
                progress(1);
                if (!BN_mul(e, g, N, ctx)) {
                    CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
                    return 0;
                }
                const int proven = R3410_test_prime(p, e, ctx);
                if (proven < 0) {
                    CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
                    return 0;
                }
                if (proven == 1) {
                    progress(2);
                    return 1;
                }
            }
            if (!BN_add_word(N, 2)) {
                CADB_ERR(ERR_LIB_R3410, func, ERR_LIB_BN_);
                return 0;
            }
        }
    }
}

// Procedure A: p of t bits and q, the prime of floor(t/2) bits below it.
int proc_A(BIGNUM* p, BIGNUM* q, int t, Lcg& lcg, const Progress& progress, BN_CTX* ctx) {
    std::vector<int> ts{t};
    while (ts.back() >= 17) ts.push_back(ts.back() / 2);
    BnPtr prev = bn_new(), cur = bn_new(), one = bn_new();
    if (!prev || !cur || !one || !BN_set_word(prev.get(), smallest_prime_of_bits(ts.back())) ||
        !BN_one(one.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_A, ERR_R_MALLOC);
        return 0;
    }
    for (int m = static_cast<int>(ts.size()) - 2; m >= 0; --m) {
        if (!find_prime(cur.get(), prev.get(), one.get(), ts[m], lcg, progress, ctx,
                        R3410_F_R3410_PROC_A)) {
            return 0;
        }
        if (m == 1 && q != nullptr && !BN_copy(q, cur.get())) return 0;
        std::swap(prev, cur);
    }
    if (!BN_copy(p, prev.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_A, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

// Procedure B: q of bits_q bits and Q of 512 bits by procedure A, then p of
// bits_p bits with qQ | p - 1.
int proc_B(BIGNUM* p, BIGNUM* q, int bits_p, int bits_q, Lcg& lcg, const Progress& progress,
           BN_CTX* ctx) {
    BnCtxFrame frame(ctx);
    BIGNUM* Q = frame.get();
    BIGNUM* qQ = frame.get();
    if (qQ == nullptr) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_B, ERR_R_MALLOC);
        return 0;
    }
    if (!proc_A(q, nullptr, bits_q, lcg, progress, ctx) ||
        !proc_A(Q, nullptr, 512, lcg, progress, ctx)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_B, ERR_LIB_R3410);
        return 0;
    }
    if (!BN_mul(qQ, q, Q, ctx)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_B, ERR_LIB_BN_);
        return 0;
    }
    return find_prime(p, qQ, q, bits_p, lcg, progress, ctx, R3410_F_R3410_PROC_B);
}

// Procedure C: a := d^((p-1)/q) mod p for the first d (from the given one
// upward) that gives a != 1. d <= 1 becomes 2 and d >= p - 1 is reduced
// modulo p - 1.
int proc_C(GOSTS* key, BIGNUM* d, BN_CTX* ctx) {
    BnCtxFrame frame(ctx);
    BIGNUM* pm1 = frame.get();
    BIGNUM* e = frame.get();
    BnPtr a = bn_new();
    if (e == nullptr || !a || !BN_sub(pm1, key->p.get(), BN_value_one()) ||
        !BN_div(e, nullptr, pm1, key->q.get(), ctx)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_C, ERR_LIB_BN_);
        return 0;
    }
    if (BN_cmp(d, pm1) >= 0 && !BN_nnmod(d, d, pm1, ctx)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_C, ERR_LIB_BN_);
        return 0;
    }
    if (BN_cmp(d, BN_value_one()) <= 0 && !BN_set_word(d, 2)) return 0;
    for (;;) {
        if (!BN_mod_exp(a.get(), d, e, key->p.get(), ctx)) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_C, ERR_LIB_BN_);
            return 0;
        }
        if (!BN_is_one(a.get())) break;
        if (!BN_add_word(d, 1)) return 0;
        // a = 1 for every d only when q does not divide p - 1.
        if (BN_cmp(d, pm1) >= 0) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_PROC_C, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
            return 0;
        }
    }
    key->a = std::move(a);
    return 1;
}

int random_u16(uint32_t* out) {
    BnPtr v = bn_new();
    if (!v || !BN_rand_bytes(v.get(), 2)) return 0;
    *out = static_cast<uint32_t>(BN_get_word(v.get())) & 0xFFFFu;
    return 1;
}

// d as text: hexadecimal after "0x", else decimal. The whole text must be a
// number.
BnPtr parse_d(const char* text) {
    BIGNUM* d = nullptr;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    const int used = hex ? BN_hex2bn(&d, digits) : BN_dec2bn(&d, digits);
    BnPtr owned(d);
    if (used == 0 || digits[used] != '\0') return nullptr;
    return owned;
}

}  // namespace

int R3410_test_prime(const BIGNUM* p, const BIGNUM* e, BN_CTX* ctx) {
    BnCtxFrame frame(ctx);
    BIGNUM* two = frame.get();
    BIGNUM* pm1 = frame.get();
    BIGNUM* v = frame.get();
    BnMontPtr mont(BN_MONT_CTX_new());
    if (v == nullptr || !mont || !BN_set_word(two, 2) || !BN_sub(pm1, p, BN_value_one()) ||
        !BN_MONT_CTX_set(mont.get(), p, ctx) || !BN_mod_exp_mont(v, two, pm1, p, ctx, mont.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_TEST_PRIME, ERR_LIB_BN_);
        return -1;
    }
    if (!BN_is_one(v)) return 0;
    if (!BN_mod_exp_mont(v, two, e, p, ctx, mont.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_TEST_PRIME, ERR_LIB_BN_);
        return -1;
    }
    return BN_is_one(v) ? 0 : 1;
}

int R3410_is_prime(const BIGNUM* n) {
    for (uint32_t f : small_primes()) {
        const BN_ULONG rem = BN_mod_word(n, f);
        if (rem == static_cast<BN_ULONG>(-1)) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_IS_PRIME, ERR_LIB_BN_);
            return 0;
        }
        if (rem == 0) return BN_is_word(n, f) ? 1 : 0;
    }
    return 1;
}

GOSTS* R3410_gen_params(int bits_p, int bits_q, uint32_t x0, uint32_t c, const char* d,
                        R3410_gen_callback cb, void* cb_arg) {
    const bool by_A = bits_p >= 510 && bits_p <= 512;
    const bool by_B = bits_p >= 1021 && bits_p <= 1024 && bits_q >= 255 && bits_q <= 256;
    if (!by_A && !by_B) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, R3410_R_INVALID_LENGTH_OF_P_AND_Q);
        return nullptr;
    }
    BnPtr given_d;
    if (d != nullptr && !(given_d = parse_d(d))) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return nullptr;
    }
    x0 &= 0xFFFFu;
    c &= 0xFFFFu;
    while (x0 == 0) {
        if (!random_u16(&x0)) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_LIB_RAND_);
            return nullptr;
        }
    }
    if (c == 0 && !random_u16(&c)) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_LIB_RAND_);
        return nullptr;
    }
    c |= 1;

    std::unique_ptr<GOSTS, decltype(&GOSTS_free)> key(GOSTS_new(), GOSTS_free);
    BnCtxPtr ctx(BN_CTX_new());
    if (!key || !ctx || !(key->p = bn_new()) || !(key->q = bn_new())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_R_MALLOC);
        return nullptr;
    }
    Lcg lcg{x0, c};
    const Progress progress(cb, cb_arg);
    const int ok =
        by_A ? proc_A(key->p.get(), key->q.get(), bits_p, lcg, progress, ctx.get())
             : proc_B(key->p.get(), key->q.get(), bits_p, bits_q, lcg, progress, ctx.get());
    if (!ok) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_LIB_R3410);
        return nullptr;
    }
    BnPtr dv = given_d ? bn_dup(given_d.get()) : bn_new();
    if (!dv || (!given_d && !BN_rand_bytes(dv.get(), BN_num_bytes(key->p.get())))) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_LIB_RAND_);
        return nullptr;
    }
    if (!proc_C(key.get(), dv.get(), ctx.get())) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_GEN_PARAMS, ERR_LIB_R3410);
        return nullptr;
    }
    if (!given_d) key->d = std::move(dv);
    key->bits_p = BN_num_bits(key->p.get());
    key->bits_q = BN_num_bits(key->q.get());
    key->x0 = x0;
    key->c = c;
    key->param_nid = 0;
    progress(3);
    return key.release();
}

}  // namespace cadb
