#include "crypto/pse/pse_secrets.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>
#include <memory>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/goste.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

constexpr int kKeySize = 32;

void pse_error(int func, int reason) { CADB_ERR(ERR_LIB_PSE, func, reason); }

struct GosteFree {
    void operator()(GOSTE* c) const { GOSTE_free(c); }
};
using GostePtr = std::unique_ptr<GOSTE, GosteFree>;

struct GosthFree {
    void operator()(GOSTH* c) const { GOSTH_free(c); }
};

// 32 bytes that are wiped when they go out of scope.
struct SecretBytes {
    std::array<unsigned char, kKeySize> b{};
    ~SecretBytes() { OPENSSL_cleanse(b.data(), b.size()); }
    unsigned char* data() { return b.data(); }
};

// Runs one GOST 28147-89 simple-substitution pass over 32 bytes in place.
bool ecb32(int direction, const unsigned char* key, const unsigned char* sbox, unsigned char* buf) {
    GostePtr ctx(GOSTE_new());
    return ctx && GOSTE_ss_init(ctx.get(), direction, key, sbox) &&
           GOSTE_ss_process(ctx.get(), buf, nullptr, kKeySize) == kKeySize;
}

bool mac32(const unsigned char* key, const unsigned char* sbox, const unsigned char* data,
           unsigned char* out4) {
    return GOSTE_mac(nullptr, data, kKeySize, key, sbox, out4) != nullptr;
}

// The key record is clear only between these two calls.
class Unmasked {
  public:
    explicit Unmasked(PSE_KEY32* k) : k_(k), ok_(PSE_key32_unmask(k) == 1) {}
    ~Unmasked() {
        if (!ok_) PSE_key32_wipe(k_);
    }
    bool ok() const { return ok_; }
    const unsigned char* key() const { return k_->key; }
    bool remask() { return ok_ = PSE_key32_mask(k_) == 1; }

  private:
    PSE_KEY32* k_;
    bool ok_;
};

}  // namespace

int PSE_encrypt32(const unsigned char* clear32, unsigned char* out36, PSE_KEY32* key,
                  const unsigned char* sbox) {
    if (!clear32 || !out36 || !key) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_ENCRYPT32, ERR_LIB_PSE);
        return 0;
    }
    Unmasked k(key);
    SecretBytes work;
    std::memcpy(work.data(), clear32, kKeySize);
    unsigned char mac[4];
    if (!k.ok() || !mac32(k.key(), sbox, work.data(), mac) ||
        !ecb32(1, k.key(), sbox, work.data()) || !k.remask()) {
        pse_error(PSE_F_PSE_ENCRYPT32, ERR_LIB_PSE);
        return 0;
    }
    std::memcpy(out36, work.data(), kKeySize);
    std::memcpy(out36 + kKeySize, mac, sizeof mac);
    return 1;
}

int PSE_decrypt32(const unsigned char* block36, unsigned char* out32, PSE_KEY32* key,
                  const unsigned char* sbox) {
    if (!block36 || !out32 || !key) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_DECRYPT32, ERR_LIB_PSE);
        return 0;
    }
    Unmasked k(key);
    SecretBytes work;
    std::memcpy(work.data(), block36, kKeySize);
    unsigned char mac[4];
    if (!k.ok() || !ecb32(0, k.key(), sbox, work.data()) ||
        !mac32(k.key(), sbox, work.data(), mac) || !k.remask()) {
        pse_error(PSE_F_PSE_DECRYPT32, ERR_LIB_PSE);
        return 0;
    }
    // Constant time: the MAC guards secrets.
    if (CRYPTO_memcmp(mac, block36 + kKeySize, sizeof mac) != 0) {
        ERR_set_last_error(ERR_CLASS_MAC_MISMATCH);
        pse_error(PSE_F_PSE_DECRYPT32, PSE_R_INVALID_MAC);
        pse_error(PSE_F_PSE_DECRYPT32, ERR_LIB_PSE);
        return 0;  // work is wiped: unauthenticated plaintext never leaves
    }
    std::memcpy(out32, work.data(), kKeySize);
    return 1;
}

int PSE_key32_generate(unsigned char* out32) {
    if (!out32 || RAND_bytes(out32, kKeySize) != kKeySize) {
        if (out32) OPENSSL_cleanse(out32, kKeySize);
        pse_error(PSE_F_PSE_KEY32_GENERATE, ERR_LIB_PSE);
        return 0;
    }
    return 1;
}

unsigned char* PSE_read_opaque(PSE* pse, const unsigned char* block36, unsigned char* out32) {
    if (!pse) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_READ_OPAQUE, ERR_LIB_PSE);
        return nullptr;
    }
    LockGuard lock(CRYPTO_LOCK_PSE);
    if (!PSE_decrypt32(block36, out32, &pse->kek, pse->sbox)) {
        pse_error(PSE_F_PSE_READ_OPAQUE, ERR_LIB_PSE);
        return nullptr;
    }
    return out32;
}

unsigned char* PSE_write_opaque(PSE* pse, const unsigned char* clear32, unsigned char* out36) {
    if (!pse) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_WRITE_OPAQUE, ERR_LIB_PSE);
        return nullptr;
    }
    LockGuard lock(CRYPTO_LOCK_PSE);
    if (!PSE_encrypt32(clear32, out36, &pse->kek, pse->sbox)) {
        pse_error(PSE_F_PSE_WRITE_OPAQUE, ERR_LIB_PSE);
        return nullptr;
    }
    return out36;
}

int PSE_save_mkey(const unsigned char* key32, int shares, unsigned char* out, int* len,
                  const unsigned char* sbox) {
    // Beyond eight shares the record no longer fits the store's buffers.
    if (!key32 || !len || shares < 1 || shares > PSE_MKEY_MAX_SHARES) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_SAVE_MKEY, ERR_LIB_PSE);
        return 0;
    }
    *len = static_cast<int>(PSE_MKEY_HEADER) + kKeySize * shares;
    if (!out) return 1;

    SecretBytes zero;
    unsigned char check[4];
    if (!mac32(key32, sbox, zero.data(), check)) {
        pse_error(PSE_F_PSE_SAVE_MKEY, ERR_LIB_PSE);
        return 0;
    }
    SecretBytes running;
    std::memcpy(running.data(), key32, kKeySize);
    unsigned char* share = out + PSE_MKEY_HEADER;
    for (int i = 1; i < shares; ++i, share += kKeySize) {
        if (RAND_bytes(share, kKeySize) != kKeySize) {
            OPENSSL_cleanse(out, static_cast<std::size_t>(*len));
            pse_error(PSE_F_PSE_SAVE_MKEY, ERR_LIB_PSE);
            return 0;
        }
        for (int j = 0; j < kKeySize; ++j) running.b[j] ^= share[j];
    }
    std::memcpy(share, running.data(), kKeySize);
    out[0] = PSE_MKEY_TAG;
    out[1] = static_cast<unsigned char>(shares);
    std::memcpy(out + 2, check, sizeof check);
    return 1;
}

int PSE_load_mkey(PSE_KEY32* key, const unsigned char* record, std::size_t len,
                  const unsigned char* sbox) {
    auto fail = [key](int reason) {
        PSE_key32_wipe(key);
        if (reason != ERR_LIB_PSE) pse_error(PSE_F_PSE_LOAD_MKEY, reason);
        pse_error(PSE_F_PSE_LOAD_MKEY, ERR_LIB_PSE);
        return 0;
    };
    if (!key || !record) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return fail(ERR_LIB_PSE);
    }
    // The share count comes from the medium: the length must agree with it.
    if (len < PSE_MKEY_HEADER + kKeySize || record[0] != PSE_MKEY_TAG || record[1] == 0 ||
        len != PSE_MKEY_HEADER + kKeySize * std::size_t{record[1]})
        return fail(ERR_LIB_PSE);

    SecretBytes master;
    for (const unsigned char* share = record + PSE_MKEY_HEADER; share < record + len;
         share += kKeySize)
        for (int j = 0; j < kKeySize; ++j) master.b[j] ^= share[j];

    SecretBytes zero;
    unsigned char check[4];
    if (!mac32(master.data(), sbox, zero.data(), check)) return fail(ERR_LIB_PSE);
    if (CRYPTO_memcmp(check, record + 2, sizeof check) != 0) {
        ERR_set_last_error(ERR_CLASS_MAC_MISMATCH);
        return fail(PSE_R_INVALID_MAC);
    }
    if (!PSE_key32_load(key, master.data())) return fail(ERR_LIB_PSE);
    return 1;
}

int PSE_finger_print(PSE* pse) {
    if (!pse) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        pse_error(PSE_F_PSE_FINGER_PRINT, ERR_LIB_PSE);
        return 0;
    }
    std::unique_ptr<GOSTH, GosthFree> h(GOSTH_new());
    // Unmasking changes the record in place: no other call on the store may
    // see it meanwhile.
    LockGuard lock(CRYPTO_LOCK_PSE);
    Unmasked k(&pse->master_key);
    unsigned char digest[32];
    bool ok = h && k.ok() && GOSTH_init(h.get(), nullptr, pse->sbox) &&
              GOSTH_update(h.get(), k.key(), kKeySize) == kKeySize &&
              GOSTH_update(h.get(), k.key(), kKeySize) == kKeySize;
    ok = k.remask() && ok && GOSTH_final(h.get(), digest) == 32;
    if (!ok) {
        pse_error(PSE_F_PSE_FINGER_PRINT, ERR_LIB_PSE);
        return 0;
    }
    std::memcpy(pse->fingerprint, digest, sizeof digest);
    return 1;
}

// The store's keys change only under the store lock, which the opaque reads
// and writes hold while they use the KEK. The random draw comes before the
// lock: the random layer's lock is taken before this one elsewhere.
int PSE_generate_kek(PSE* pse, unsigned char* out36) {
    SecretBytes kek;
    if (!pse || !out36 || !PSE_key32_generate(kek.data())) {
        pse_error(PSE_F_PSE_GENERATE_KEK, ERR_LIB_PSE);
        return 0;
    }
    LockGuard lock(CRYPTO_LOCK_PSE);
    if (!PSE_key32_load(&pse->kek, kek.data()) ||
        !PSE_encrypt32(kek.data(), out36, &pse->master_key, pse->sbox) || !PSE_finger_print(pse)) {
        PSE_key32_wipe(&pse->kek);
        pse_error(PSE_F_PSE_GENERATE_KEK, ERR_LIB_PSE);
        return 0;
    }
    return 1;
}

int PSE_load_kek(PSE* pse, const unsigned char* block36) {
    SecretBytes kek;
    if (!pse || !block36) {
        pse_error(PSE_F_PSE_LOAD_KEK, ERR_LIB_PSE);
        return 0;
    }
    LockGuard lock(CRYPTO_LOCK_PSE);
    if (!PSE_decrypt32(block36, kek.data(), &pse->master_key, pse->sbox) ||
        !PSE_key32_load(&pse->kek, kek.data()) || !PSE_finger_print(pse)) {
        PSE_key32_wipe(&pse->kek);
        pse_error(PSE_F_PSE_LOAD_KEK, ERR_LIB_PSE);
        return 0;
    }
    return 1;
}

}  // namespace cadb
