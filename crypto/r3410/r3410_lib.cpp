#include <openssl/crypto.h>

#include <new>

#include "crypto/bn/bn_ext.h"
#include "crypto/check/ram_check.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_local.h"
#include "crypto/r3410/r3410_params.h"

namespace cadb {

GOSTS* GOSTS_new() {
    void* mem = OPENSSL_zalloc(sizeof(GOSTS));
    if (mem == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_GOSTS_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    if (!GOST_ram_check(mem, sizeof(GOSTS))) {
        OPENSSL_free(mem);
        CADB_ERR(ERR_LIB_GOSTE, GOSTS_F_GOSTS_NEW, ERR_R_CHECK_RAM_FAILURE);
        return nullptr;
    }
    return new (mem) GOSTS;
}

void GOSTS_free(GOSTS* key) {
    if (key == nullptr) return;
    if (key->references.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    key->~GOSTS();
    OPENSSL_clear_free(key, sizeof(GOSTS));
}

GOSTS* GOSTS_up_ref(GOSTS* key) {
    if (key != nullptr) key->references.fetch_add(1, std::memory_order_relaxed);
    return key;
}

int GOSTS_size(const GOSTS* key) {
    return key != nullptr && key->p ? BN_num_bytes(key->p.get()) : 0;
}

int gosts_qlen(const GOSTS* key) {
    return key != nullptr && key->q ? bn_bytes_of_bits(BN_num_bits(key->q.get())) : 0;
}

int GOSTS_signature_size(const GOSTS* key) {
    const int n = gosts_qlen(key);
    if (n == 0) return 0;
    // SEQUENCE of two INTEGERs, each with a possible sign byte; short
    // lengths while n < 124.
    const int der = 2 + 2 * (2 + n + 1);
    return der > 64 ? der : 64;
}

int R3410_set_pse(GOSTS* key, PSE* store) {
    if (key == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_SET_PSE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    key->pse.reset(PSE_up_ref(store));
    return 1;
}

R3410_SIG* R3410_SIG_new() {
    auto* sig = new (std::nothrow) R3410_SIG;
    if (sig == nullptr || !(sig->r = bn_new()) || !(sig->s = bn_new())) {
        delete sig;
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_R3410_SIG_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return sig;
}

void R3410_SIG_free(R3410_SIG* sig) { delete sig; }

namespace {

int set_params(GOSTS* key, const R3410_PARAM_SET& set) {
    if (key == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_SET_PARAMS, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (gosts_has_params(key)) return 1;
    BnPtr p = bn_from_bytes(set.p), q = bn_from_bytes(set.q), a = bn_from_bytes(set.a);
    if (!p || !q || !a) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_SET_PARAMS, ERR_R_MALLOC);
        return 0;
    }
    key->bits_p = BN_num_bits(p.get());
    key->bits_q = BN_num_bits(q.get());
    key->p = std::move(p);
    key->q = std::move(q);
    key->a = std::move(a);
    if (set.nid != 0) key->param_nid = set.nid;
    return 1;
}

}  // namespace

int R3410_set_params_by_code(GOSTS* key, int code) {
    const R3410_PARAM_SET* set = R3410_param_set_by_code(code);
    if (set == nullptr) {
        ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
        CADB_ERR(ERR_LIB_R3410, R3410_F_R3410_SET_PARAMS, GOSTS_R_INVALID_DOMAIN_PARAMETERS);
        return 0;
    }
    return set_params(key, *set);
}

int R3410_set_params_by_nid(GOSTS* key, int nid) {
    const R3410_PARAM_SET* set = R3410_param_set_by_nid(nid);
    if (set == nullptr) set = R3410_param_set_by_nid(NID_CRYPTOPRO_R3410_94_A);
    return set_params(key, *set);
}

int R3410_set_default_params(GOSTS* key) {
    return R3410_set_params_by_code(key, R3410_PARAMS_DEFAULT);
}

// The private number is read and replaced under the key lock, so that a
// signature never sees a key half switched between its plain and wrapped
// forms.
BnPtr gosts_private_copy(const GOSTS* key) {
    if (key == nullptr) return nullptr;
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    if (!key->x || key->has_check) return nullptr;
    return BnPtr(BN_unmask_dup(key->x.get()));
}

BnPtr gosts_wrapped_copy(const GOSTS* key) {
    if (key == nullptr) return nullptr;
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    if (!key->x || !key->has_check) return nullptr;
    return BnPtr(BN_unmask_dup(key->x.get()));
}

int gosts_private_store(GOSTS* key, BnPtr x) {
    BnMaskedPtr m(BN_MASKED_new());
    if (key == nullptr || !x || !m || !BN_mask(m.get(), x.get())) return 0;
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    key->x = std::move(m);
    key->check.reset();
    key->has_check = false;
    return 1;
}

int gosts_wrapped_store(GOSTS* key, BnPtr wrapped, BnPtr check) {
    BnMaskedPtr m(BN_MASKED_new());
    if (key == nullptr || !wrapped || !check || !m || !BN_mask(m.get(), wrapped.get())) return 0;
    LockGuard guard(CRYPTO_LOCK_GOSTS);
    key->x = std::move(m);
    key->check = std::move(check);
    key->has_check = true;
    return 1;
}

int gosts_exp_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* e, const BIGNUM* p, BN_CTX* ctx) {
    return BN_mod_exp_mont_consttime(out, a, e, p, ctx, nullptr);
}

}  // namespace cadb
