// Signature forms: r||s (type 0), the CryptoPro s||r of 32 bytes each (type
// 274) and the DER SEQUENCE { r, s } (any other type).
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <climits>

#include "crypto/core/err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_asn1_items.h"
#include "crypto/r3410/r3410_local.h"

namespace cadb {
namespace {

constexpr int kCryptoProHalf = 32;
using SigPtr = std::unique_ptr<R3410_SIG, decltype(&R3410_SIG_free)>;

// Writes two numbers of n bytes each, big-endian and left-padded.
int write_halves(const BIGNUM* first, const BIGNUM* second, int n, unsigned char* out) {
    return BN_bn2binpad(first, out, n) == n && BN_bn2binpad(second, out + n, n) == n;
}

// Reads two halves of len / 2 bytes each; a half longer than the
// big-number reader's int length is refused rather than cut short.
int read_halves(R3410_SIG* sig, const unsigned char* in, long len, bool s_first) {
    if (len <= 0 || len / 2 > INT_MAX) return 0;
    const int n = static_cast<int>(len / 2);
    BIGNUM* first = s_first ? sig->s.get() : sig->r.get();
    BIGNUM* second = s_first ? sig->r.get() : sig->s.get();
    if (!BN_bin2bn(in, n, first) || !BN_bin2bn(in + n, n, second)) return 0;
    sig->qlen = n;
    return 1;
}

R3410_SIG* decode_halves(R3410_SIG** sig, const unsigned char** in, long len, bool s_first,
                         int func) {
    SigPtr fresh(sig == nullptr || *sig == nullptr ? R3410_SIG_new() : nullptr, R3410_SIG_free);
    R3410_SIG* target = fresh ? fresh.get() : (sig != nullptr ? *sig : nullptr);
    if (target == nullptr || !read_halves(target, *in, len, s_first)) {
        CADB_ERR(ERR_LIB_GOSTS, func, ERR_R_MALLOC);
        return nullptr;
    }
    *in += len;
    fresh.release();
    if (sig != nullptr) *sig = target;
    return target;
}

// Decodes a signature of the given type; the whole input must be the
// signature.
SigPtr decode(int type, const unsigned char* in, int len) {
    const unsigned char* p = in;
    SigPtr sig(nullptr, R3410_SIG_free);
    if (type == 0) {
        if (len <= 0 || len % 2 != 0) {
            CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_D2I_GOSTS_SIG, ERR_R_MALLOC);
            return sig;
        }
        sig.reset(decode_halves(nullptr, &p, len, false, GOSTS_F_D2I_GOSTS_SIG));
    } else if (type == NID_CRYPTOPRO_GOSTR3411_94_WITH_GOSTR3410_94) {
        sig.reset(d2i_GOSTS_SIG(nullptr, &p, len));
    } else {
        sig.reset(d2i_R3410_SIG(nullptr, &p, len));
        if (sig && p != in + len) {
            CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410_SIG, ERR_R_ASN1_LENGTH_MISMATCH_);
            sig.reset();
        }
    }
    return sig;
}

}  // namespace

R3410_SIG* d2i_GOSTS_SIG(R3410_SIG** sig, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len != 2 * kCryptoProHalf) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_D2I_GOSTS_SIG, ERR_R_MALLOC);
        return nullptr;
    }
    return decode_halves(sig, in, len, true, GOSTS_F_D2I_GOSTS_SIG);
}

int i2d_GOSTS_SIG(const R3410_SIG* sig, unsigned char** out) {
    if (sig == nullptr || !sig->r || !sig->s) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_I2D_GOSTS_SIG, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (out == nullptr) return 2 * kCryptoProHalf;
    if (!write_halves(sig->s.get(), sig->r.get(), kCryptoProHalf, *out)) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_I2D_GOSTS_SIG, ERR_LIB_BN_);
        return 0;
    }
    *out += 2 * kCryptoProHalf;
    return 2 * kCryptoProHalf;
}

int i2d_R3410_SIG(const R3410_SIG* sig, unsigned char** out) {
    if (sig == nullptr) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410_SIG, ERR_R_NULL_PARAMETER);
        return 0;
    }
    AsnIntPtr r = asn1_int_of(sig->r.get()), s = asn1_int_of(sig->s.get());
    if (!r || !s) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410_SIG, ERR_R_MALLOC);
        return 0;
    }
    const R3410_SIG_DER der{r.get(), s.get()};
    const int len = asn1_encode(&der, out, ASN1_ITEM_rptr(R3410_SIG_DER));
    if (len <= 0) CADB_ERR(ERR_LIB_R3410, R3410_F_I2D_R3410_SIG, ERR_R_NESTED_ASN1_ERROR_);
    return len > 0 ? len : 0;
}

R3410_SIG* d2i_R3410_SIG(R3410_SIG** sig, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410_SIG, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = *in;
    auto der = asn1_decode<R3410_SIG_DER>(&p, len, ASN1_ITEM_rptr(R3410_SIG_DER));
    BnPtr r = der ? bn_of_asn1_int(der->r) : nullptr;
    BnPtr s = der ? bn_of_asn1_int(der->s) : nullptr;
    if (!r || !s) {
        CADB_ERR(ERR_LIB_R3410, R3410_F_D2I_R3410_SIG, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    SigPtr fresh(sig == nullptr || *sig == nullptr ? R3410_SIG_new() : nullptr, R3410_SIG_free);
    R3410_SIG* target = fresh ? fresh.get() : (sig != nullptr ? *sig : nullptr);
    if (target == nullptr) return nullptr;
    target->qlen = std::max(BN_num_bytes(r.get()), BN_num_bytes(s.get()));
    target->r = std::move(r);
    target->s = std::move(s);
    fresh.release();
    if (sig != nullptr) *sig = target;
    *in = p;
    return target;
}

int GOSTS_sign(int type, const unsigned char* dgst, int dlen, unsigned char* sig,
               unsigned int* siglen, GOSTS* key) {
    if (sig == nullptr || siglen == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    *siglen = 0;
    if (key != nullptr && key->capi.provider != 0) {
        // The provider signs; its answer is the signature as it stands.
        const int room = GOSTS_signature_size(key);
        std::size_t got = 0;
        if (room <= 0 || dlen < 0 ||
            CAPI_sign_digest(key->capi.provider, key->capi.key_spec, 176, dgst,
                             static_cast<std::size_t>(dlen), sig, static_cast<std::size_t>(room),
                             &got) <= 0)
            return 0;
        *siglen = static_cast<unsigned int>(got);
        return 1;
    }
    SigPtr s(GOSTS_do_sign(dgst, dlen, key), R3410_SIG_free);
    if (!s) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN, ERR_LIB_GOSTS);
        return 0;
    }
    const int n = gosts_qlen(key);
    int len = 0;
    if (type == 0) {
        len = write_halves(s->r.get(), s->s.get(), n, sig) ? 2 * n : 0;
    } else if (type == NID_CRYPTOPRO_GOSTR3411_94_WITH_GOSTR3410_94) {
        unsigned char* p = sig;
        len = n <= kCryptoProHalf ? i2d_GOSTS_SIG(s.get(), &p) : 0;
    } else {
        unsigned char* p = sig;
        len = i2d_R3410_SIG(s.get(), &p);
    }
    if (len <= 0) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_SIGN, ERR_LIB_R3410);
        return 0;
    }
    *siglen = static_cast<unsigned int>(len);
    return 1;
}

int GOSTS_verify(int type, const unsigned char* dgst, int dlen, const unsigned char* sig,
                 int siglen, GOSTS* key) {
    if (sig == nullptr || siglen <= 0) {
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_VERIFY, ERR_R_NULL_PARAMETER);
        return 0;
    }
    SigPtr s = decode(type, sig, siglen);
    if (!s) return 0;
    return GOSTS_do_verify(dgst, dlen, s.get(), key) == 1 ? 1 : 0;
}

}  // namespace cadb
