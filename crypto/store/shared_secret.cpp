#include "crypto/store/shared_secret.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

// A random secret of all zero bytes cannot be shared (0 is no secret to a
// polynomial); the draw is repeated, a bounded number of times, since a
// source that keeps giving zeros is broken.
constexpr int kZeroRedraws = 16;

// The largest prime a generated sharing has, so a stored record naming a
// bigger one is forged.
constexpr int kMaxPrimeBits = 8 * SHARED_SECRET_MAX_LEN + 1;

template <typename T>
T* fail(int func, int reason = ERR_R_INTERNAL) {
    CADB_ERR(ERR_LIB_CADB, func, reason);
    return nullptr;
}

int fail_int(int func) {
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
    return 0;
}

// Bytes that hold secret material, wiped when they go.
class SecretBytes {
  public:
    explicit SecretBytes(std::size_t n) : bytes_(n) {}
    ~SecretBytes() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    unsigned char* data() { return bytes_.data(); }
    int size() const { return static_cast<int>(bytes_.size()); }

  private:
    std::vector<unsigned char> bytes_;
};

struct ParamsDeleter {
    void operator()(SHAMIR_SHARED_SECRET_PARAMS* p) const { SHAMIR_SHARED_SECRET_PARAMS_free(p); }
};
using ParamsPtr = std::unique_ptr<SHAMIR_SHARED_SECRET_PARAMS, ParamsDeleter>;
struct PointDeleter {
    void operator()(SHAMIR_SHARED_SECRET_POINT* p) const { SHAMIR_SHARED_SECRET_POINT_free(p); }
};
using PointPtr = std::unique_ptr<SHAMIR_SHARED_SECRET_POINT, PointDeleter>;

// The DER encoding of a record in a new buffer; the temporary encoding is
// wiped, as shares and check values are as good as the secret to a thief.
template <typename T>
BUFFER* der_buffer(const T* record, int (*i2d)(const T*, unsigned char**), int func) {
    unsigned char* der = nullptr;
    const int len = i2d(record, &der);
    if (len <= 0 || !der) {
        ERR_move_openssl_errors(ERR_LIB_CADB, func);
        return fail<BUFFER>(func);
    }
    BUFFER* out = BUFFER_fill(der, len);
    OPENSSL_cleanse(der, static_cast<std::size_t>(len));
    OPENSSL_free(der);
    return out ? out : fail<BUFFER>(func, ERR_R_MALLOC);
}

// An INTEGER of a stored record as a plain int within [lo, hi].
bool int_in_range(const ASN1_INTEGER* v, std::int64_t lo, std::int64_t hi, int* out) {
    std::int64_t n = 0;
    if (!ASN1_INTEGER_get_int64(&n, v) || n < lo || n > hi) return false;
    *out = static_cast<int>(n);
    return true;
}

}  // namespace

SHARED_SECRET* SHARED_SECRET_generate(const unsigned char* secret, int len, int threshold) {
    constexpr int f = CADB_F_SHARED_SECRET_GENERATE;
    if (len < SHARED_SECRET_MIN_LEN || len > SHARED_SECRET_MAX_LEN ||
        threshold > SHARED_SECRET_MAX_THRESHOLD)
        return fail<SHARED_SECRET>(f);
    threshold = std::max(threshold, 2);

    SecretBytes bytes(static_cast<std::size_t>(len));
    BnPtr value = bn_new();
    if (!value) return fail<SHARED_SECRET>(f, ERR_R_MALLOC);
    if (secret) {
        std::copy(secret, secret + len, bytes.data());
        if (!BN_bin2bn(bytes.data(), len, value.get())) return fail<SHARED_SECRET>(f);
    } else {
        for (int i = 0; i < kZeroRedraws && BN_is_zero(value.get()); ++i)
            if (RAND_bytes(bytes.data(), len) != len || !BN_bin2bn(bytes.data(), len, value.get()))
                return fail<SHARED_SECRET>(f);
    }
    if (BN_is_zero(value.get())) return fail<SHARED_SECRET>(f);

    BnPtr prime = bn_new();
    if (!prime) return fail<SHARED_SECRET>(f, ERR_R_MALLOC);
    if (!::BN_generate_prime_ex(prime.get(), 8 * len + 1, 0, nullptr, nullptr, nullptr)) {
        ERR_move_openssl_errors(ERR_LIB_CADB, f);
        return fail<SHARED_SECRET>(f);
    }
    SharedSecretPtr s(SHAMIR_SHARED_SECRET_new(prime.get(), threshold));
    if (!s || !SHAMIR_SHARED_SECRET_init(s.get(), value.get())) return fail<SHARED_SECRET>(f);
    s->secret_bits = 8 * len;
    // The check value is kept so that the generating sharing can itself
    // rebuild from shares handed back to it, as a sharing read from its
    // parameters does.
    s->check_nid = NID_HMAC_R3411;
    s->check = SHAMIR_check_value(s->check_nid, value.get(), s->secret_bits);
    if (s->check.empty()) return fail<SHARED_SECRET>(f);
    return s.release();
}

BUFFER* SHARED_SECRET_get_params(const SHARED_SECRET* s) {
    constexpr int f = CADB_F_SHARED_SECRET_GET_PARAMS;
    if (!s) return fail<BUFFER>(f);
    ParamsPtr params(SHAMIR_SHARED_SECRET_PARAMS_to_asn1(s, EVP_rus_hash()));
    if (!params) return fail<BUFFER>(f);
    return der_buffer<SHAMIR_SHARED_SECRET_PARAMS>(params.get(), i2d_SHAMIR_SHARED_SECRET_params,
                                                   f);
}

SHARED_SECRET* SHARED_SECRET_read_params(const unsigned char* der, int len) {
    constexpr int f = CADB_F_SHARED_SECRET_READ_PARAMS;
    if (!der || len <= 0) return fail<SHARED_SECRET>(f);
    const unsigned char* p = der;
    ParamsPtr params(d2i_SHAMIR_SHARED_SECRET_params(nullptr, &p, len));
    if (!params) return fail<SHARED_SECRET>(f);

    BnPtr prime(ASN1_INTEGER_to_BN(params->prime, nullptr));
    if (!prime) return fail<SHARED_SECRET>(f, ERR_R_MALLOC);
    const int prime_bits = BN_num_bits(prime.get());
    int threshold = 0, bits = 0;
    // A stored record is outside input: its sizes are held to what a
    // generated sharing can have before anything is allocated by them.
    if (prime_bits < 3 || prime_bits > kMaxPrimeBits || !BN_is_odd(prime.get()) ||
        !int_in_range(params->threshold, 2, SHARED_SECRET_MAX_THRESHOLD, &threshold) ||
        !int_in_range(params->secret_bits, 1, prime_bits, &bits))
        return fail<SHARED_SECRET>(f);

    SharedSecretPtr s(SHAMIR_SHARED_SECRET_new(prime.get(), threshold));
    if (!s) return fail<SHARED_SECRET>(f);
    const ASN1_OBJECT* alg = nullptr;
    X509_ALGOR_get0(&alg, nullptr, nullptr, params->algorithm);
    s->secret_bits = bits;
    s->check_nid = alg ? cadb::OBJ_obj2nid(alg) : 0;
    const unsigned char* check = ASN1_STRING_get0_data(params->check);
    s->check.assign(check, check + ASN1_STRING_length(params->check));
    return s.release();
}

BUFFER* SHARED_SECRET_get_point(SHARED_SECRET* s) {
    constexpr int f = CADB_F_SHARED_SECRET_GET_POINT;
    if (!s) return fail<BUFFER>(f);
    BnPtr x = bn_new(), y = bn_new();
    if (!x || !y) return fail<BUFFER>(f, ERR_R_MALLOC);
    if (!SHAMIR_SHARED_SECRET_get_point(s, x.get(), y.get())) return fail<BUFFER>(f);
    PointPtr point(SHAMIR_SHARED_SECRET_POINT_to_asn1(x.get(), y.get()));
    if (!point) return fail<BUFFER>(f);
    return der_buffer<SHAMIR_SHARED_SECRET_POINT>(point.get(), i2d_SHAMIR_SHARED_SECRET_point, f);
}

int SHARED_SECRET_add_point(SHARED_SECRET* s, const unsigned char* der, int len) {
    constexpr int f = CADB_F_SHARED_SECRET_ADD_POINT;
    if (!s || !der || len <= 0) return fail_int(f);
    const unsigned char* p = der;
    PointPtr point(d2i_SHAMIR_SHARED_SECRET_point(nullptr, &p, len));
    if (!point) return fail_int(f);
    BnPtr x(ASN1_INTEGER_to_BN(point->x, nullptr)), y(ASN1_INTEGER_to_BN(point->y, nullptr));
    if (!x || !y) {
        CADB_ERR(ERR_LIB_CADB, f, ERR_R_MALLOC);
        return 0;
    }
    if (!SHAMIR_SHARED_SECRET_add_point(s, x.get(), y.get())) return fail_int(f);
    return 1;
}

BUFFER* SHARED_SECRET_get_secret(SHARED_SECRET* s) {
    constexpr int f = CADB_F_SHARED_SECRET_GET_SECRET;
    if (!s || (s->check_nid != NID_hmacWithSHA1 && s->check_nid != NID_HMAC_R3411) ||
        s->secret_bits <= 0)
        return fail<BUFFER>(f);
    BnPtr value = bn_new();
    if (!value) return fail<BUFFER>(f, ERR_R_MALLOC);
    if (!SHAMIR_SHARED_SECRET_get_secret(s, value.get())) return fail<BUFFER>(f);

    // A wrong set of shares gives some other number; the check value is what
    // tells. An empty check (the number is longer than the secret) fails too.
    std::vector<unsigned char> mac = SHAMIR_check_value(s->check_nid, value.get(), s->secret_bits);
    const bool match = !mac.empty() && mac.size() == s->check.size() &&
                       CRYPTO_memcmp(mac.data(), s->check.data(), mac.size()) == 0;
    OPENSSL_cleanse(mac.data(), mac.size());
    if (!match) return fail<BUFFER>(f);

    SecretBytes bytes(static_cast<std::size_t>((s->secret_bits + 7) / 8));
    if (BN_bn2binpad(value.get(), bytes.data(), bytes.size()) != bytes.size())
        return fail<BUFFER>(f);
    BUFFER* out = BUFFER_fill(bytes.data(), bytes.size());
    return out ? out : fail<BUFFER>(f, ERR_R_MALLOC);
}

void SHARED_SECRET_free(SHARED_SECRET* s) { SHAMIR_SHARED_SECRET_free(s); }

}  // namespace cadb
