#include "wrappers/tpse.h"

#include "crypto/core/err.h"
#include "crypto/rand/pse_rand.h"
#include "wrappers/ui_binding.h"

namespace cadb {

bool PseStoreWasThere() {
    const unsigned long e = ERR_peek_last_error();
    return ERR_code_lib(e) == ERR_LIB_CADB && ERR_code_reason(e) == CADB_R_KEY_STORE_EXISTS;
}

TPSE::~TPSE() { close(); }

void TPSE::close() {
    if (ctx_ != nullptr) {
        PSE_CTX_free(ctx_);  // releases its record
    } else if (pse_ != nullptr) {
        PSE_free(pse_);
    }
    ctx_ = nullptr;
    pse_ = nullptr;
}

PSE* TPSE::attach(PSE* record) {
    close();
    pse_ = record != nullptr ? PSE_up_ref(record) : nullptr;
    return pse_;
}

void TPSE::assign(const TPSE& other) {
    PSE* store = other.getPSE();
    if (store == nullptr || store == getPSE()) return;
    attach(store);
}

bool TPSE::create(const char* path) {
    close();
    ctx_ = PSE_CTX_new();
    return ctx_ != nullptr && path != nullptr && PSE_CTX_set_path(ctx_, path, 0) == 1 &&
           PSE_CTX_create(ctx_) == 1 && PSE_CTX_write(ctx_) == 1;
}

bool TPSE::createOrOpen(const char* path, int openFlags, bool& existed) {
    existed = false;
    close();
    ctx_ = PSE_CTX_new();
    if (ctx_ == nullptr || path == nullptr || PSE_CTX_set_path(ctx_, path, 0) != 1 ||
        PSE_CTX_set_flags(ctx_, PSE_CTX_FLAG_NEW_STORE) != 1 || PSE_CTX_create(ctx_) != 1)
        return false;
    ERR_set_mark();
    if (PSE_CTX_write(ctx_) == 1) {
        ERR_clear_last_mark();
        return true;
    }
    existed = PseStoreWasThere();
    if (!existed) {
        ERR_clear_last_mark();
        return false;
    }
    ERR_pop_to_mark();
    return open(path, openFlags);
}

bool TPSE::open(const char* path, int flags) {
    close();
    ctx_ = PSE_CTX_new();
    return ctx_ != nullptr && path != nullptr && PSE_CTX_set_path(ctx_, path, 0) == 1 &&
           (flags == 0 || PSE_CTX_set_flags(ctx_, flags) == 1) && PSE_CTX_read(ctx_) == 1;
}

PSE* TPSE::getPSE() const { return ctx_ != nullptr ? PSE_CTX_get_pse(ctx_) : pse_; }

bool TPSE::initRandom(unsigned char* state36, TUICallbacks* ui, void* arg) {
    PSE* store = getPSE();
    if (store == nullptr) return false;
    TCurrentUIScope scope(ui);
    CADB_rand_init_pse(store, state36, rndInitCBK, arg);
    return false;
}

bool TPSE::saveRandState(unsigned char* out36) {
    PSE* store = getPSE();
    return store != nullptr && out36 != nullptr && CADB_rand_save_state(store, out36) > 0;
}

}  // namespace cadb
