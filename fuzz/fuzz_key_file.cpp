// Key files in every form (traditional and PKCS#8, DER and PEM, password-
// encrypted, wrapped under a key store) through the key reader, with and
// without a password and a store; a key that reads is written in every form
// and read back as the same key.
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/engine/engine.h"
#include "crypto/keys/pkey.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_key32.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rus/sbox.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

// One store for the whole run: wrapped keys written by the round trip
// unwrap under it, hostile ones must fail cleanly.
PSE* one_store() {
    static PSE* store = [] {
        PSE* s = PSE_new();
        unsigned char mkey[32], kek[PSE_BLOCK_SIZE];
        for (int i = 0; i < 32; ++i) mkey[i] = static_cast<unsigned char>(i * 7 + 1);
        std::memcpy(s->sbox, GOSTE_get_cp_sbox_A(), sizeof s->sbox);
        PSE_key32_load(&s->master_key, mkey);
        PSE_generate_kek(s, kek);
        return s;
    }();
    return store;
}

void round_trip(PKEY* key, PSE* store) {
    if (key == nullptr) return;
    if (key->fingerprint == nullptr) abort();
    if (key->state != PKEY_STATE_NO_PRIVATE) {
        for (int form : {PKEY_FORM_TRADITIONAL, PKEY_FORM_PKCS8}) {
            BUFFER* file = PKEY_get_passwd(key, FORM_PEM, form, store, "pw", 2);
            if (file == nullptr) continue;
            PKEY* back = PKEY_read_buffer_passwd(file->data, file->length, store, "pw", 2);
            if (back == nullptr || EVP_PKEY_eq(back->key, key->key) != 1) abort();
            PKEY_free(back);
            BUFFER_free(file);
        }
    }
    PKEY_free(key);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> rest = in.rest();
    const int len = static_cast<int>(rest.size());
    cadb::PSE* store = choice & 1 ? one_store() : nullptr;
    const char* password = choice & 2 ? "pw" : nullptr;
    round_trip(cadb::PKEY_read_buffer_passwd(rest.data(), len, store, password, 2), store);
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
