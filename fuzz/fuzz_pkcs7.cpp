// The message engine's decoders: whole messages (BER and DER), recipient
// records in every form, the compact agreement record and the GOST
// key-transport record. Whatever decodes is written again and opened
// through the engine's reading chain, which must refuse or read it, never
// crash. A decoded message writes back the bytes it was read from.
#include <openssl/bio.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/pkcs7/pkcs7.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;

void message(const Bytes& der) {
    const unsigned char* p = der.data();
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    if (p7 == nullptr) return;
    const int len = i2d_PKCS7(p7, nullptr);
    if (len <= 0 || static_cast<std::size_t>(len) > der.size()) abort();
    Bytes out(static_cast<std::size_t>(len));
    unsigned char* q = out.data();
    if (i2d_PKCS7(p7, &q) != len || std::memcmp(out.data(), der.data(), out.size()) != 0) abort();
    p7->max_uncompressed = 1 << 16;
    const unsigned char key[32] = {1};
    if (PKCS7_type_nid(p7) == NID_pkcs7_encrypted) PKCS7_encrypted_set_key(p7, key, 32);
    BIO* b = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (b != nullptr) {
        unsigned char buf[4096];
        while (BIO_read(b, buf, sizeof buf) > 0) {
        }
        STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
        STACK_OF(X509)* certs = PKCS7_get_certificates(p7);
        for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers) && sk_X509_num(certs) > 0; ++i)
            PKCS7_signatureVerify(b, p7, sk_P7_SIGNER_INFO_value(signers, i),
                                  sk_X509_value(certs, 0));
        BIO_free_all(b);
    }
    // A modified message is written from its records.
    PKCS7_modified(p7);
    i2d_PKCS7(p7, nullptr);
    PKCS7_free(p7);
}

void recipient(const Bytes& der) {
    const unsigned char* p = der.data();
    PKCS7_RECIP_INFO* ri = d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(der.size()));
    if (ri != nullptr) {
        if (i2d_PKCS7_RECIP_INFO(ri, nullptr) <= 0) abort();
        X509_ALGOR_get_nested_nid(ri->key_enc_algor);
    }
    PKCS7_RECIP_INFO_free(ri);
    ri = d2i_PKCS7_RECIP_INFO_compact(der.data(), static_cast<long>(der.size()));
    if (ri != nullptr && i2d_PKCS7_RECIP_INFO_compact(ri, nullptr) <= 0) abort();
    PKCS7_RECIP_INFO_free(ri);
}

// A key-transport record decrypted with a fixed key of each GOST type: the
// checks before agreement and the agreement on a hostile ephemeral key.
void key_transport(const Bytes& der) {
    static EVP_PKEY* keys[2] = {};
    static const bool made = [] {
        const int types[2] = {NID_ECR3410_CP, NID_R3410_CP};
        for (int i = 0; i < 2; ++i) {
            EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(OBJ_nid2openssl(types[i]), nullptr);
            if (ctx != nullptr && EVP_PKEY_keygen_init(ctx) == 1) EVP_PKEY_keygen(ctx, &keys[i]);
            EVP_PKEY_CTX_free(ctx);
        }
        return true;
    }();
    (void)made;
    const unsigned char* p = der.data();
    GOST_KEY_TRANSPORT* kt = d2i_GOST_KEY_TRANSPORT(nullptr, &p, static_cast<long>(der.size()));
    if (kt != nullptr && i2d_GOST_KEY_TRANSPORT(kt, nullptr) <= 0) abort();
    GOST_KEY_TRANSPORT_free(kt);
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    unsigned char out[64];
    for (EVP_PKEY* k : keys)
        if (k != nullptr && ri != nullptr)
            PKCS7_CEK_DECRYPT_gost(out, sizeof out, der.data(), static_cast<int>(der.size()), ri,
                                   k);
    PKCS7_RECIP_INFO_free(ri);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool ready = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!ready || size == 0) return 0;
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const Bytes rest = in.rest();
    if (rest.empty()) return 0;
    switch (choice % 3) {
        case 0: message(rest); break;
        case 1: recipient(rest); break;
        default: key_transport(rest); break;
    }
    clear_errors();
    ::ERR_clear_error();
    return 0;
}
