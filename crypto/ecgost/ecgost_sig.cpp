#include <openssl/bn.h>
#include <openssl/ec.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ecgost.h"

namespace cadb {
namespace {

constexpr std::size_t kCryptoProSigLen = 64;
// The 64-byte form is the one GOST R 34.10-94 uses too, and a wrong length
// reports as that library's decoder does: (GOSTS, d2i_GOSTS_SIG).
constexpr int kGostsD2iGostsSig = 119;

struct EcdsaSigDeleter {
    void operator()(ECDSA_SIG* s) const { ECDSA_SIG_free(s); }
};

std::size_t order_bytes(const ECURVE* c) {
    return c && c->q ? (static_cast<std::size_t>(BN_num_bits(c->q.get())) + 7) / 8 : 0;
}

// Two halves of n bytes each into (first, second). A half longer than the
// big-number reader's int length is refused rather than cut short.
bool read_halves(const unsigned char* in, std::size_t n, BIGNUM* first, BIGNUM* second) {
    if (n > static_cast<std::size_t>(INT_MAX)) return false;
    return BN_bin2bn(in, static_cast<int>(n), first) &&
           BN_bin2bn(in + n, static_cast<int>(n), second);
}

}  // namespace

// The DER form is the same SEQUENCE { INTEGER r, INTEGER s } as ECDSA's, so
// libcrypto's codec serves.
int i2d_ECGOST_SIG(const ECGOST_SIG* sig, unsigned char** out) {
    std::unique_ptr<ECDSA_SIG, EcdsaSigDeleter> der(ECDSA_SIG_new());
    BIGNUM* r = sig && sig->r ? BN_dup(sig->r.get()) : nullptr;
    BIGNUM* s = sig && sig->s ? BN_dup(sig->s.get()) : nullptr;
    if (!der || !r || !s || !ECDSA_SIG_set0(der.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_I2D_ECGOST_SIG, ERR_R_MALLOC);
        return 0;
    }
    const int len = ::i2d_ECDSA_SIG(der.get(), out);
    if (len <= 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_I2D_ECGOST_SIG, ERR_R_NESTED_ASN1_ERROR_);
        return 0;
    }
    return len;
}

ECGOST_SIG* d2i_ECGOST_SIG(ECGOST_SIG** sig, const unsigned char** in, long len) {
    const unsigned char* p = in ? *in : nullptr;
    std::unique_ptr<ECDSA_SIG, EcdsaSigDeleter> der(p ? ::d2i_ECDSA_SIG(nullptr, &p, len)
                                                      : nullptr);
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> out(ECGOST_SIG_new(), ECGOST_SIG_free);
    if (!der || !out) {
        ERR_move_openssl_errors(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG);
        return nullptr;
    }
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(der.get(), &r, &s);
    if (!BN_copy(out->r.get(), r) || !BN_copy(out->s.get(), s)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_R_MALLOC);
        return nullptr;
    }
    *in = p;
    if (sig) {
        ECGOST_SIG_free(*sig);
        *sig = out.get();
    }
    return out.release();
}

std::size_t ECGOST_SIG_to_bytes(const ECGOST_SIG* sig, int type, const ECURVE* c,
                                unsigned char* out, std::size_t out_len) {
    const std::size_t n = order_bytes(c);
    if (!sig || !sig->r || !sig->s || n == 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_I2D_ECGOST_SIG, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (type != ECGOST_SIG_RAW && type != ECGOST_SIG_CRYPTOPRO) {
        const int len = i2d_ECGOST_SIG(sig, nullptr);
        if (len <= 0 || !out) return len > 0 ? static_cast<std::size_t>(len) : 0;
        if (out_len < static_cast<std::size_t>(len)) {
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_I2D_ECGOST_SIG, ERR_R_INTERNAL);
            return 0;
        }
        unsigned char* p = out;
        return static_cast<std::size_t>(i2d_ECGOST_SIG(sig, &p));
    }
    if (!out) return 2 * n;
    const BIGNUM* first = type == ECGOST_SIG_RAW ? sig->r.get() : sig->s.get();
    const BIGNUM* second = type == ECGOST_SIG_RAW ? sig->s.get() : sig->r.get();
    if (out_len < 2 * n || BN_bn2binpad(first, out, static_cast<int>(n)) < 0 ||
        BN_bn2binpad(second, out + n, static_cast<int>(n)) < 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_I2D_ECGOST_SIG, ERR_R_INTERNAL);
        return 0;
    }
    return 2 * n;
}

ECGOST_SIG* ECGOST_SIG_from_bytes(int type, const unsigned char* in, std::size_t len) {
    if (!in) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (type != ECGOST_SIG_RAW && type != ECGOST_SIG_CRYPTOPRO) {
        if (len > static_cast<std::size_t>(LONG_MAX)) {
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_R_ASN1_LENGTH_MISMATCH_);
            return nullptr;
        }
        const unsigned char* p = in;
        ECGOST_SIG* sig = d2i_ECGOST_SIG(nullptr, &p, static_cast<long>(len));
        // Trailing bytes after the SEQUENCE make it another message.
        if (sig && p != in + len) {
            ECGOST_SIG_free(sig);
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_R_ASN1_LENGTH_MISMATCH_);
            return nullptr;
        }
        return sig;
    }
    if (type == ECGOST_SIG_RAW ? len == 0 || len % 2 != 0 : len != kCryptoProSigLen) {
        if (type == ECGOST_SIG_RAW)
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_R_MALLOC);
        else
            CADB_ERR(ERR_LIB_GOSTS, kGostsD2iGostsSig, ERR_R_MALLOC);
        return nullptr;
    }
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> sig(ECGOST_SIG_new(), ECGOST_SIG_free);
    const std::size_t n = len / 2;
    const bool ok =
        sig && (type == ECGOST_SIG_RAW ? read_halves(in, n, sig->r.get(), sig->s.get())
                                       : read_halves(in, n, sig->s.get(), sig->r.get()));
    if (!ok) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_D2I_ECGOST_SIG, ERR_LIB_BN_);
        return nullptr;
    }
    return sig.release();
}

namespace {

// The provider signs the digest (for the CryptoPro form its bytes reversed,
// in a copy, under the CryptoPro hash identifier); its answer is the
// CryptoPro form s || r, turned into the raw form when that is asked for.
// Nothing is queued: the caller sees the result.
int sign_by_provider(int type, const unsigned char* dgst, std::size_t dlen, unsigned char* sig,
                     std::size_t* sig_len, ECGOST* key) {
    const std::size_t room = *sig_len;
    *sig_len = 0;
    if (dgst == nullptr || dlen > 64) return 0;
    std::array<unsigned char, 64> digest{};
    std::copy(dgst, dgst + dlen, digest.begin());
    int nid = 176;
    if (type == ECGOST_SIG_CRYPTOPRO) {
        std::reverse(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(dlen));
        nid = 288;
    }
    std::array<unsigned char, 256> answer{};
    std::size_t got = 0;
    if (CAPI_sign_digest(key->capi.provider, key->capi.key_spec, nid, digest.data(), dlen,
                         answer.data(), answer.size(), &got) <= 0)
        return 0;
    std::size_t len = 0;
    if (type == ECGOST_SIG_RAW) {
        std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> s(
            ECGOST_SIG_from_bytes(ECGOST_SIG_CRYPTOPRO, answer.data(), got), ECGOST_SIG_free);
        len = s ? ECGOST_SIG_to_bytes(s.get(), ECGOST_SIG_RAW, key->curve, sig, room) : 0;
    } else if (got <= room) {
        std::copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(got), sig);
        len = got;
    }
    if (len == 0) return 0;
    *sig_len = len;
    return 1;
}

}  // namespace

int ECGOST_sign(int type, const unsigned char* dgst, std::size_t dlen, unsigned char* sig,
                std::size_t* sig_len, ECGOST* key) {
    if (!sig || !sig_len || !key) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DO_SIGN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (key->capi.provider != 0) return sign_by_provider(type, dgst, dlen, sig, sig_len, key);
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> s(ECGOST_do_sign(dgst, dlen, key),
                                                              ECGOST_SIG_free);
    const std::size_t len = s ? ECGOST_SIG_to_bytes(s.get(), type, key->curve, sig, *sig_len) : 0;
    if (len == 0) return 0;
    *sig_len = len;
    return 1;
}

int ECGOST_verify(int type, const unsigned char* dgst, std::size_t dlen, const unsigned char* sig,
                  std::size_t sig_len, ECGOST* key) {
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> s(
        ECGOST_SIG_from_bytes(type, sig, sig_len), ECGOST_SIG_free);
    return s && ECGOST_do_verify(dgst, dlen, s.get(), key) == 1 ? 1 : 0;
}

}  // namespace cadb
