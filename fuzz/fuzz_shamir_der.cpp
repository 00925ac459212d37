// DER decoders of secret-sharing parameters and shares: a record is taken
// only whole, what decodes encodes to bytes that decode to the same, and
// decoded parameters make a sharing that takes shares.
#include <openssl/err.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/shsec/shamir.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

template <typename T, typename D2i, typename I2d, typename Free>
void round_trip(const std::vector<unsigned char>& der, D2i d2i, I2d i2d, Free release) {
    const unsigned char* p = der.data();
    T* rec = d2i(nullptr, &p, static_cast<long>(der.size()));
    if (rec == nullptr) return;
    const long used = p - der.data();
    if (used != static_cast<long>(der.size())) abort();
    unsigned char* out = nullptr;
    const int n = i2d(rec, &out);
    if (n <= 0) abort();
    const unsigned char* q = out;
    T* again = d2i(nullptr, &q, n);
    unsigned char* out2 = nullptr;
    if (again == nullptr || i2d(again, &out2) != n ||
        std::memcmp(out, out2, static_cast<std::size_t>(n)) != 0)
        abort();
    OPENSSL_free(out2);
    OPENSSL_free(out);
    release(again);
    release(rec);
}

// Parameters and shares read from media go straight into a sharing: a
// hostile prime or threshold must be refused or wait for shares, never
// crash or exhaust memory.
void rebuild(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    SHAMIR_SHARED_SECRET_PARAMS* params =
        d2i_SHAMIR_SHARED_SECRET_params(nullptr, &p, static_cast<long>(der.size()));
    if (params == nullptr) return;
    BIGNUM* prime = ASN1_INTEGER_to_BN(params->prime, nullptr);
    const long t = ASN1_INTEGER_get(params->threshold);
    SHAMIR_SHARED_SECRET* s = prime != nullptr && t > 0 && t <= INT32_MAX
                                  ? SHAMIR_SHARED_SECRET_new(prime, static_cast<int>(t))
                                  : nullptr;
    if (s != nullptr) {
        BIGNUM* x = BN_new();
        BIGNUM* y = BN_new();
        for (unsigned w = 1; w <= 4 && x != nullptr && y != nullptr; ++w) {
            BN_set_word(x, w);
            BN_set_word(y, w * 7);
            SHAMIR_SHARED_SECRET_add_point(s, x, y);
        }
        SHAMIR_SHARED_SECRET_get_secret(s, x);
        BN_free(x);
        BN_free(y);
        SHAMIR_SHARED_SECRET_free(s);
    }
    BN_free(prime);
    SHAMIR_SHARED_SECRET_PARAMS_free(params);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> rest = in.rest();
    if (choice & 2) rebuild(rest);
    if (choice & 1)
        round_trip<SHAMIR_SHARED_SECRET_PARAMS>(rest, d2i_SHAMIR_SHARED_SECRET_params,
                                                i2d_SHAMIR_SHARED_SECRET_params,
                                                SHAMIR_SHARED_SECRET_PARAMS_free);
    else
        round_trip<SHAMIR_SHARED_SECRET_POINT>(rest, d2i_SHAMIR_SHARED_SECRET_point,
                                               i2d_SHAMIR_SHARED_SECRET_point,
                                               SHAMIR_SHARED_SECRET_POINT_free);
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
