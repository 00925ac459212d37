#include "crypto/rus/goste.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "crypto/check/ram_check.h"
#include "crypto/core/err.h"
#include "crypto/rus/cipher_rounds.h"

namespace cadb {
namespace {

std::unique_ptr<GOSTE_TABLE, GosteTableFree> new_table() {
    return std::unique_ptr<GOSTE_TABLE, GosteTableFree>(new (std::nothrow) GOSTE_TABLE);
}

void key_words(const GOSTE* ctx, std::uint32_t k[8]) {
    for (int i = 0; i < 8; ++i) k[i] = gost::load32(ctx->key.key + 4 * i);
}

}  // namespace

void GosteTableFree::operator()(GOSTE_TABLE* t) const {
    OPENSSL_cleanse(t, sizeof *t);
    delete t;
}

GOSTE::~GOSTE() { GOSTE_cleanup(this); }

GOSTE* GOSTE_new() {
    void* mem = ::operator new(sizeof(GOSTE), std::nothrow);
    if (mem == nullptr) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTE_NEW, ERR_R_MALLOC);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return nullptr;
    }
    if (!GOST_ram_check(mem, sizeof(GOSTE))) {
        ::operator delete(mem);
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTE_NEW, ERR_R_CHECK_RAM_FAILURE);
        return nullptr;
    }
    return new (mem) GOSTE;
}

void GOSTE_cleanup(GOSTE* ctx) {
    if (ctx == nullptr) return;
    PSE_key32_wipe(&ctx->key);
    ctx->own_table.reset();
    ctx->table = nullptr;
    ctx->N1 = ctx->N2 = ctx->N3 = ctx->N4 = 0;
    ctx->position = ctx->mac_count = 0;
    ctx->marker = 0;
    OPENSSL_cleanse(ctx->sbox, sizeof ctx->sbox);
    ctx->options = 0;
    ctx->direction = 0;
    ctx->mode = 0;
    ctx->mesh_count = 0;
}

void GOSTE_free(GOSTE* ctx) { delete ctx; }

int GOSTE_copy(GOSTE* dst, const GOSTE* src) {
    if (dst == nullptr || src == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (dst == src) return 1;
    std::unique_ptr<GOSTE_TABLE, GosteTableFree> own;
    if (src->own_table) {
        own = new_table();
        if (!own) {
            ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
            return 0;
        }
        std::memcpy(own.get(), src->own_table.get(), sizeof(GOSTE_TABLE));
    }
    GOSTE_cleanup(dst);
    dst->key = src->key;
    dst->own_table = std::move(own);
    dst->table = dst->own_table ? dst->own_table.get() : src->table;
    dst->N1 = src->N1;
    dst->N2 = src->N2;
    dst->N3 = src->N3;
    dst->N4 = src->N4;
    dst->position = src->position;
    dst->mac_count = src->mac_count;
    dst->marker = src->marker;
    std::memcpy(dst->sbox, src->sbox, sizeof dst->sbox);
    dst->options = src->options;
    dst->direction = src->direction;
    dst->mode = src->mode;
    dst->mesh_count = src->mesh_count;
    return 1;
}

int GOSTE_set_key(GOSTE* ctx, const unsigned char* key32) {
    if (ctx == nullptr || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!PSE_key32_load(&ctx->key, key32)) {
        PSE_key32_wipe(&ctx->key);
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        return 0;
    }
    return 1;
}

int GOSTE_set_key_checked(GOSTE* ctx, const unsigned char* key32) {
    if (ctx == nullptr || key32 == nullptr) return 0;
    return GOSTE_set_key(ctx, key32);
}

int GOSTE_set_sbox(GOSTE* ctx, const unsigned char* sbox) {
    if (ctx == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (sbox == nullptr) sbox = GOSTE_get_cipher_sbox();
    std::memmove(ctx->sbox, sbox, sizeof ctx->sbox);
    ctx->own_table.reset();
    ctx->table = GOSTE_static_table(ctx->sbox);
    if (ctx->table != nullptr) return 1;
    ctx->own_table = new_table();
    if (!ctx->own_table) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return 0;
    }
    GOSTE_expand_sbox(ctx->sbox, ctx->own_table.get());
    ctx->table = ctx->own_table.get();
    return 1;
}

void GOSTE_encrypt_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2) {
    std::uint32_t k[8];
    key_words(ctx, k);
    gost::encrypt(*ctx->table, k, *n1, *n2);
    OPENSSL_cleanse(k, sizeof k);
}

void GOSTE_decrypt_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2) {
    std::uint32_t k[8];
    key_words(ctx, k);
    gost::decrypt(*ctx->table, k, *n1, *n2);
    OPENSSL_cleanse(k, sizeof k);
}

void GOSTE_mac_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2) {
    std::uint32_t k[8];
    key_words(ctx, k);
    gost::mac16(*ctx->table, k, *n1, *n2);
    OPENSSL_cleanse(k, sizeof k);
}

}  // namespace cadb
