// Key generation: GOST key pairs inside a key store, every type in memory.
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/keys/pkey_local.h"
#include "crypto/r3410/dsa_default.h"
#include "crypto/r3410/r3410.h"

namespace cadb {
namespace {

// The RSA row of the algorithm table.
constexpr int kRsaMinBits = 512;
constexpr int kRsaMaxBits = 2048;
// The DSA row; the built-in DSA parameters have this size.
constexpr int kDsaBits = 1024;

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

struct ProgressHook {
    PKEY_PROGRESS_CB cb;
};

int relay_progress(EVP_PKEY_CTX* ctx) {
    const auto* hook = static_cast<const ProgressHook*>(EVP_PKEY_CTX_get_app_data(ctx));
    if (hook != nullptr && hook->cb != nullptr)
        hook->cb(EVP_PKEY_CTX_get_keygen_info(ctx, 0), EVP_PKEY_CTX_get_keygen_info(ctx, 1),
                 nullptr);
    return 1;
}

// libcrypto's key generation of a type (libcrypto's number) or on the
// parameters of a key object.
EVP_PKEY* evp_keygen(int openssl_type, EVP_PKEY* params, int paramset, int rsa_bits,
                     PKEY_PROGRESS_CB cb) {
    EvpPkeyCtxPtr ctx(params != nullptr ? EVP_PKEY_CTX_new(params, nullptr)
                                        : EVP_PKEY_CTX_new_id(openssl_type, nullptr),
                      EVP_PKEY_CTX_free);
    ProgressHook hook{cb};
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0) return nullptr;
    if (rsa_bits != 0 && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), rsa_bits) <= 0) return nullptr;
    if (paramset != 0 && EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_KEYGEN,
                                           EVP_PKEY_CTRL_GOST_PARAMSET, paramset, nullptr) <= 0)
        return nullptr;
    if (cb != nullptr) {
        EVP_PKEY_CTX_set_app_data(ctx.get(), &hook);
        EVP_PKEY_CTX_set_cb(ctx.get(), relay_progress);
    }
    EVP_PKEY* out = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &out) <= 0) return nullptr;
    return out;
}

// The library's own DSA parameter set as a key object.
EVP_PKEY* default_dsa_params() {
    DSA* dsa = DSA_new();
    BIGNUM* p = DSA_get_default_p();
    BIGNUM* q = DSA_get_default_q();
    BIGNUM* g = DSA_get_default_g();
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (dsa == nullptr || p == nullptr || q == nullptr || g == nullptr || pkey == nullptr ||
        !DSA_set0_pqg(dsa, p, q, g)) {
        BN_free(p);
        BN_free(q);
        BN_free(g);
        DSA_free(dsa);
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    if (!EVP_PKEY_assign_DSA(pkey, dsa)) {
        DSA_free(dsa);
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}

// A GOST R 34.10-94 key pair on the p, q and a of a parameters object.
EVP_PKEY* r3410_on_params(const EVP_PKEY* params) {
    const auto* from = static_cast<const GOSTS*>(EVP_PKEY_get0(params));
    std::unique_ptr<GOSTS, decltype(&GOSTS_free)> key(GOSTS_new(), GOSTS_free);
    if (from == nullptr || !from->p || !from->q || !from->a || !key) return nullptr;
    key->p.reset(BN_dup(from->p.get()));
    key->q.reset(BN_dup(from->q.get()));
    key->a.reset(BN_dup(from->a.get()));
    key->bits_p = from->bits_p;
    key->bits_q = from->bits_q;
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (!key->p || !key->q || !key->a || !GOSTS_generate_pubkey(key.get(), nullptr, 0) ||
        pkey == nullptr || !EVP_PKEY_assign(pkey, OBJ_nid2openssl(NID_R3410), key.get())) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    key.release();
    return pkey;
}

EVP_PKEY* soft_key(int type, int n, PKEY_PROGRESS_CB cb, const PKEY_PARAMS* params) {
    switch (type) {
        case EVP_PKEY_RSA:
        case NID_rsa:
            return evp_keygen(EVP_PKEY_RSA, nullptr, 0, n, cb);
        case EVP_PKEY_DSA: {
            if (params != nullptr) return evp_keygen(0, params->parameters, 0, 0, nullptr);
            EvpPkeyPtr dflt(default_dsa_params(), EVP_PKEY_free);
            return dflt ? evp_keygen(0, dflt.get(), 0, 0, nullptr) : nullptr;
        }
        case NID_R3410:
            if (params != nullptr) return r3410_on_params(params->parameters);
            return evp_keygen(OBJ_nid2openssl(type), nullptr, 0, 0, nullptr);
        case NID_ECR3410:
        case NID_ECR3410_CP:
        case NID_R3410_CP:
            return evp_keygen(OBJ_nid2openssl(type), nullptr, n, 0, nullptr);
        default:
            return nullptr;
    }
}

// Sizes the algorithm table does not offer are refused before any work.
bool size_allowed(int type, int n, const PKEY_PARAMS* params) {
    if (type == EVP_PKEY_RSA || type == NID_rsa) return n >= kRsaMinBits && n <= kRsaMaxBits;
    if (type == EVP_PKEY_DSA && params == nullptr) return n == 0 || n == kDsaBits;
    return true;
}

}  // namespace

PKEY* pkey_adopt(EVP_PKEY* pkey, int type, int func) {
    PKEY* key = PKEY_new();
    if (key == nullptr) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    key->key = pkey;
    key->type = type;
    key->size = EVP_PKEY_get_bits(pkey);
    // Through a SubjectPublicKeyInfo: proves the key encodes.
    key->fingerprint = FINGER_PRINT_get(pkey);
    if (key->fingerprint == nullptr) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_LIB_CADB);
        PKEY_free(key);
        return nullptr;
    }
    return key;
}

PKEY* PKEY_generate_soft(int type, int n, PKEY_PROGRESS_CB cb, const PKEY_PARAMS* params) {
    if (params != nullptr) {
        if (params->parameters == nullptr) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, ERR_R_INTERNAL);
            return nullptr;
        }
        type = params->type;
    }
    if (!pkey_type_known(type)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, CADB_R_UNKNOWN_ALGORITHM);
        return nullptr;
    }
    if (!size_allowed(type, n, params)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, CADB_R_INVALID_KEY_SIZE);
        return nullptr;
    }
    EVP_PKEY* pkey = soft_key(type, n, cb, params);
    if (pkey == nullptr) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_PKEY_GENERATE);
        return nullptr;
    }
    return pkey_adopt(pkey, type, CADB_F_PKEY_GENERATE);
}

PKEY* PKEY_generate(int type, int n, PKEY_PROGRESS_CB cb, const PKEY_PARAMS* params, PSE* store) {
    if (params != nullptr || type == EVP_PKEY_RSA || type == NID_rsa || type == EVP_PKEY_DSA)
        return PKEY_generate_soft(type, n, cb, params);
    if (!pkey_is_gost(type)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, CADB_R_UNKNOWN_ALGORITHM);
        return nullptr;
    }
    if (store == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, ERR_R_INTERNAL);
        return nullptr;
    }
    EVP_PKEY* pkey = pkey_generate_in_store(type, n, store);
    if (pkey == nullptr) return nullptr;
    // A key that does not unwrap under the store it was made in is no key:
    // nothing of it is kept.
    if (!EVP_PKEY_decrypt_opaque(pkey, store)) {
        EVP_PKEY_free(pkey);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GENERATE, ERR_LIB_CADB);
        return nullptr;
    }
    return pkey_adopt(pkey, type, CADB_F_PKEY_GENERATE);
}

PKEY_PARAMS* PKEY_PARAMS_new() {
    auto* params = static_cast<PKEY_PARAMS*>(OPENSSL_zalloc(sizeof(PKEY_PARAMS)));
    if (params == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_PARAMS_NEW, ERR_R_MALLOC);
    }
    return params;
}

void PKEY_PARAMS_clear(PKEY_PARAMS* params) {
    if (params == nullptr) return;
    EVP_PKEY_free(params->parameters);
    *params = PKEY_PARAMS{};
}

void PKEY_PARAMS_free(PKEY_PARAMS* params) {
    PKEY_PARAMS_clear(params);
    OPENSSL_free(params);
}

PKEY_PARAMS* PKEY_PARAMS_generate(int type, int bits, PKEY_PROGRESS_CB cb) {
    if (type != EVP_PKEY_DSA && type != NID_R3410) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_PARAMS_GENERATE, CADB_R_UNKNOWN_ALGORITHM);
        return nullptr;
    }
    if (bits != kDsaBits) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_PARAMS_GENERATE, CADB_R_INVALID_KEY_SIZE);
        return nullptr;
    }
    EVP_PKEY* made = nullptr;
    if (type == EVP_PKEY_DSA) {
        EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_DSA, nullptr), EVP_PKEY_CTX_free);
        ProgressHook hook{cb};
        if (ctx && EVP_PKEY_paramgen_init(ctx.get()) > 0 &&
            EVP_PKEY_CTX_set_dsa_paramgen_bits(ctx.get(), bits) > 0 &&
            EVP_PKEY_CTX_set_dsa_paramgen_q_bits(ctx.get(), 160) > 0) {
            if (cb != nullptr) {
                EVP_PKEY_CTX_set_app_data(ctx.get(), &hook);
                EVP_PKEY_CTX_set_cb(ctx.get(), relay_progress);
            }
            if (EVP_PKEY_paramgen(ctx.get(), &made) <= 0) made = nullptr;
        }
    } else {
        GOSTS* key = R3410_gen_params(bits, 256, 0, 0, nullptr, cb, nullptr);
        made = key != nullptr ? EVP_PKEY_new() : nullptr;
        if (made != nullptr && !EVP_PKEY_assign(made, OBJ_nid2openssl(NID_R3410), key)) {
            EVP_PKEY_free(made);
            made = nullptr;
        }
        if (made == nullptr) GOSTS_free(key);
    }
    PKEY_PARAMS* params = made != nullptr ? PKEY_PARAMS_new() : nullptr;
    if (params == nullptr) {
        EVP_PKEY_free(made);
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_PKEY_PARAMS_GENERATE);
        return nullptr;
    }
    params->type = type;
    params->size = bits;
    params->parameters = made;
    return params;
}

}  // namespace cadb
