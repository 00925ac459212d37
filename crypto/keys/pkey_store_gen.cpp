// GOST key pairs made inside a key store: the store's generator hands back
// the private key already wrapped under the store's key-encryption key, its
// check value and the public key, and the key record is built from them.
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <array>
#include <cstdint>
#include <memory>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/keys/pkey_local.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/r3410/r3410.h"

namespace cadb {
namespace {

constexpr int kWrappedBytes = 32;
constexpr int kCodeR3410 = 1;
constexpr int kCodeR3410CpA = 3;
constexpr int kCodeEcgost = 11;
constexpr int kCodeEcgostCpA = 12;

// The wrapped key and check value, wiped however the call ends.
struct WrappedBlock {
    std::array<unsigned char, PSE_BLOCK_SIZE> b{};
    ~WrappedBlock() { OPENSSL_cleanse(b.data(), b.size()); }
};

BnMaskedPtr masked(const unsigned char* bytes, int len) {
    BnPtr v(BN_bin2bn(bytes, len, nullptr));
    BnMaskedPtr m(BN_MASKED_new());
    if (!v || !m || !BN_mask(m.get(), v.get())) return nullptr;
    return m;
}

// The parameter-set NID a key of the type records: 181 always the process
// default curve, 271 n (0: CryptoPro A), 272 n (0 or unknown: CryptoPro A).
int paramset_of(int type, int n) {
    if (type == NID_ECR3410) return NID_PRIME256V1;
    if (type == NID_ECR3410_CP) return n == 0 ? NID_R3410_2001_A_PARAMSET : n;
    if (type == NID_R3410_CP)
        return n >= NID_R3410_94_A_PARAMSET && n <= NID_R3410_94_XCHC_PARAMSET
                   ? n
                   : NID_R3410_94_A_PARAMSET;
    return NID_R3410_94_A_PARAMSET;
}

EVP_PKEY* into_evp(int type, void* key) {
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (pkey == nullptr || !EVP_PKEY_assign(pkey, OBJ_nid2openssl(type), key)) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}

EVP_PKEY* ecgost_in_store(int type, int n, int code, PSE* store) {
    WrappedBlock wrapped;
    std::array<unsigned char, 133> point{};
    std::size_t point_len = point.size();
    if (!ECGOST_generate_key(store, code, wrapped.b.data(), point.data(), &point_len, 0))
        return nullptr;
    EcCurvePtr curve(ECURVE_new_by_code(code));
    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(
        curve ? ECGOST_new_by_curve(curve.get()) : nullptr, ECGOST_free);
    if (!key) return nullptr;
    key->nid = paramset_of(type, n);
    key->hash_nid = NID_R3411_CP_PARAMSET;
    key->d = masked(wrapped.b.data(), kWrappedBytes);
    const unsigned char* c = wrapped.b.data() + kWrappedBytes;
    key->check = (std::uint32_t{c[0]} << 24) | (std::uint32_t{c[1]} << 16) |
                 (std::uint32_t{c[2]} << 8) | c[3];
    if (!key->d || !key->Q ||
        ECPOINT_bi2point(key->curve, point.data(), point_len, key->Q.get()) == nullptr ||
        !ECGOST_set_pse(key.get(), store))
        return nullptr;
    EVP_PKEY* pkey = into_evp(type, key.get());
    if (pkey != nullptr) key.release();
    return pkey;
}

EVP_PKEY* r3410_in_store(int type, int n, int code, PSE* store) {
    WrappedBlock wrapped;
    std::array<unsigned char, 128> y{};
    if (!R3410_generate_key(store, code, wrapped.b.data(), y.data())) return nullptr;
    std::unique_ptr<GOSTS, decltype(&GOSTS_free)> key(GOSTS_new(), GOSTS_free);
    if (!key || !R3410_set_params_by_code(key.get(), code)) return nullptr;
    key->y.reset(BN_bin2bn(y.data(), static_cast<int>(y.size()), nullptr));
    key->x = masked(wrapped.b.data(), kWrappedBytes);
    key->check.reset(BN_bin2bn(wrapped.b.data() + kWrappedBytes, 4, nullptr));
    key->has_check = true;
    // 177 keys record the parameter NID as the caller gave it.
    key->param_nid = type == NID_R3410_CP ? paramset_of(type, n) : n;
    key->hash_nid = NID_R3411_CP_PARAMSET;
    if (!key->y || !key->x || !key->check || !R3410_set_pse(key.get(), store)) return nullptr;
    EVP_PKEY* pkey = into_evp(type, key.get());
    if (pkey != nullptr) key.release();
    return pkey;
}

}  // namespace

int PKEY_param_code(int type, int n) {
    switch (type) {
        case NID_R3410:
            return kCodeR3410;
        case NID_R3410_CP: {
            const int set = paramset_of(type, n);
            return kCodeR3410CpA + (set - NID_R3410_94_A_PARAMSET);
        }
        case NID_ECR3410:
            return kCodeEcgost;
        case NID_ECR3410_CP:
            // Only the CryptoPro sets: the store's generator and the key
            // record must name the same curve.
            if (n == 0) return kCodeEcgostCpA;
            if (n >= NID_R3410_2001_A_PARAMSET && n <= NID_R3410_2001_XCHB_PARAMSET)
                return kCodeEcgostCpA + (n - NID_R3410_2001_A_PARAMSET);
            return 0;
        default:
            return 0;
    }
}

EVP_PKEY* pkey_generate_in_store(int type, int n, PSE* store) {
    const int code = PKEY_param_code(type, n);
    if (code == 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, CADB_R_UNKNOWN_ALGORITHM);
        return nullptr;
    }
    EVP_PKEY* pkey = pkey_is_ecgost(type) ? ecgost_in_store(type, n, code, store)
                                          : r3410_in_store(type, n, code, store);
    if (pkey == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, ERR_LIB_CADB);
    return pkey;
}

}  // namespace cadb
