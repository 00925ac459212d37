#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <new>

#include "crypto/core/objects.h"
#include "crypto/rus/evp_cipher_params.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/goste.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

constexpr int kKeySize = 32;
constexpr std::uint32_t kLive = 0x474f5354;  // marks a constructed state

// libcrypto hands the record zeroed memory; the GOST context is constructed
// in it on first use and destroyed by the record's cleanup.
struct CipherState {
    GOSTE goste;
    // S-box named by the algorithm parameters, for the next key init.
    const unsigned char* next_sbox;
    std::uint32_t live;
};

CipherState* state_of(EVP_CIPHER_CTX* ctx) {
    auto* s = static_cast<CipherState*>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (s != nullptr && s->live != kLive) {
        new (s) CipherState{};
        s->live = kLive;
    }
    return s;
}

int cleanup(EVP_CIPHER_CTX* ctx) {
    auto* s = static_cast<CipherState*>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (s != nullptr && s->live == kLive) {
        s->~CipherState();
        std::memset(static_cast<void*>(s), 0, sizeof *s);
    }
    return 1;
}

// EVP_CIPHER_CTX_copy has copied the bytes; the copy gets its own context.
int ctrl(EVP_CIPHER_CTX* ctx, int type, int, void* out) {
    if (type != EVP_CTRL_COPY) return -1;
    auto* src = static_cast<CipherState*>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    auto* dst = static_cast<CipherState*>(
        EVP_CIPHER_CTX_get_cipher_data(static_cast<EVP_CIPHER_CTX*>(out)));
    if (src == nullptr || dst == nullptr || src->live != kLive) return 1;
    new (dst) CipherState{};
    dst->live = kLive;
    dst->next_sbox = src->next_sbox;
    return GOSTE_copy(&dst->goste, &src->goste);
}

// Feeds a libcrypto length to a worker that takes a long.
template <typename Worker>
int run(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len,
        Worker worker) {
    CipherState* s = state_of(ctx);
    if (s == nullptr) return 0;
    return len == 0 || worker(&s->goste, in, out, static_cast<long>(len)) == static_cast<long>(len);
}

int change_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int enc) {
    CipherState* s = state_of(ctx);
    return s != nullptr && GOSTE_ss_init(&s->goste, enc, key, nullptr);
}

int change_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len) {
    return run(ctx, out, in, len, GOSTE_ss_process);
}

int gamma_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
    CipherState* s = state_of(ctx);
    return s != nullptr && GOSTE_gamma_init(&s->goste, key, EVP_CIPHER_CTX_iv(ctx), nullptr);
}

int gamma_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len) {
    return run(ctx, out, in, len, GOSTE_gamma_update);
}

int gammar_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
    CipherState* s = state_of(ctx);
    return s != nullptr && GOSTE_gamma_fb_init(&s->goste, key, EVP_CIPHER_CTX_iv(ctx), nullptr);
}

int gammar_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len) {
    return EVP_CIPHER_CTX_encrypting(ctx) ? run(ctx, out, in, len, GOSTE_gamma_fbe_update)
                                          : run(ctx, out, in, len, GOSTE_gamma_fbd_update);
}

int gammar_cp_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
    CipherState* s = state_of(ctx);
    return s != nullptr &&
           GOSTE_gamma_fb_cp_init(&s->goste, key, EVP_CIPHER_CTX_iv(ctx), s->next_sbox);
}

int gammar_cp_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len) {
    return EVP_CIPHER_CTX_encrypting(ctx) ? run(ctx, out, in, len, GOSTE_gamma_fbe_process)
                                          : run(ctx, out, in, len, GOSTE_gamma_fbd_process);
}

// Writes the IV the message starts from and the S-box the key runs on.
int gammar_cp_set_params(EVP_CIPHER_CTX* ctx, ASN1_TYPE* params) {
    CipherState* s = state_of(ctx);
    if (s == nullptr) return -1;
    const unsigned char* sbox = s->goste.table != nullptr ? s->goste.sbox : s->next_sbox;
    const int nid = GOSTE_get_sbox_nid(sbox != nullptr ? sbox : GOSTE_get_default_sbox());
    return GOST_CIPHER_PARAMS_encode(params, EVP_CIPHER_CTX_original_iv(ctx), nid) ? 1 : -1;
}

int gammar_cp_get_params(EVP_CIPHER_CTX* ctx, ASN1_TYPE* params) {
    unsigned char iv[GOST_CIPHER_IV_SIZE];
    int nid = 0;
    const int r = GOST_CIPHER_PARAMS_decode(params, iv, &nid);
    if (r != 1) return -1;
    const unsigned char* sbox = GOSTE_get_sbox_by_nid(nid);
    CipherState* s = state_of(ctx);
    if (sbox == nullptr || s == nullptr) return -1;
    s->next_sbox = sbox;
    return EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv, -1) ? 1 : -1;
}

using InitFn = int (*)(EVP_CIPHER_CTX*, const unsigned char*, const unsigned char*, int);
using CipherFn = int (*)(EVP_CIPHER_CTX*, unsigned char*, const unsigned char*, size_t);
using ParamsFn = int (*)(EVP_CIPHER_CTX*, ASN1_TYPE*);

struct CipherSpec {
    int nid;
    int block;
    int iv_len;
    unsigned long mode;
    InitFn init;
    CipherFn cipher;
    // Algorithm-parameter coders; null: the IV alone as an OCTET STRING.
    ParamsFn set_params = nullptr;
    ParamsFn get_params = nullptr;
};

// libcrypto lets each slot of a record be set once.
EVP_CIPHER* make(const CipherSpec& spec) {
    EVP_CIPHER* c = EVP_CIPHER_meth_new(OBJ_nid2openssl(spec.nid), spec.block, kKeySize);
    if (c == nullptr) return nullptr;
    const unsigned long asn1 = spec.set_params != nullptr ? 0 : EVP_CIPH_FLAG_DEFAULT_ASN1;
    bool ok = EVP_CIPHER_meth_set_iv_length(c, spec.iv_len) &&
              EVP_CIPHER_meth_set_flags(c, spec.mode | EVP_CIPH_CUSTOM_COPY | asn1) &&
              EVP_CIPHER_meth_set_init(c, spec.init) &&
              EVP_CIPHER_meth_set_do_cipher(c, spec.cipher) &&
              EVP_CIPHER_meth_set_cleanup(c, cleanup) && EVP_CIPHER_meth_set_ctrl(c, ctrl) &&
              EVP_CIPHER_meth_set_impl_ctx_size(c, sizeof(CipherState));
    if (ok && spec.set_params != nullptr)
        ok = EVP_CIPHER_meth_set_set_asn1_params(c, spec.set_params) &&
             EVP_CIPHER_meth_set_get_asn1_params(c, spec.get_params);
    if (!ok) {
        EVP_CIPHER_meth_free(c);
        return nullptr;
    }
    return c;
}

struct Ciphers {
    std::array<const EVP_CIPHER*, 4> all;
};

const Ciphers& ciphers() {
    static const Ciphers c{{
        make({NID_RUS_CHANGE, 8, 0, EVP_CIPH_ECB_MODE, change_init, change_cipher}),
        make({NID_RUS_GAMMA, 1, GOST_CIPHER_IV_SIZE, EVP_CIPH_OFB_MODE, gamma_init, gamma_cipher}),
        make({NID_RUS_GAMMAR, 1, GOST_CIPHER_IV_SIZE, EVP_CIPH_CFB_MODE, gammar_init,
              gammar_cipher}),
        make({NID_RUS_GAMMAR_CP, 1, GOST_CIPHER_IV_SIZE, EVP_CIPH_CFB_MODE, gammar_cp_init,
              gammar_cp_cipher, gammar_cp_set_params, gammar_cp_get_params}),
    }};
    return c;
}

}  // namespace

const EVP_CIPHER* EVP_rus_change() { return ciphers().all[0]; }
const EVP_CIPHER* EVP_rus_gamma() { return ciphers().all[1]; }
const EVP_CIPHER* EVP_rus_gammar() { return ciphers().all[2]; }
const EVP_CIPHER* EVP_rus_gammar_cp() { return ciphers().all[3]; }

std::span<const EVP_CIPHER* const> EVP_gost_ciphers() { return ciphers().all; }

}  // namespace cadb
