// GOST R 34.10-94 DER decoders: parameters, private keys (plain and
// wrapped), public keys (bare and with parameters), the CryptoPro public
// key, and the DER and 64-byte signature forms. Whatever decodes must
// encode, and encode to the same bytes a second time round.
#include <openssl/bn.h>

#include <cstdlib>
#include <vector>

#include "crypto/r3410/r3410.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;
using Decoder = GOSTS* (*)(GOSTS**, const unsigned char**, long);
using Encoder = int (*)(const GOSTS*, unsigned char**);

Bytes encode(const GOSTS* key, Encoder i2d) {
    const int n = i2d(key, nullptr);
    if (n <= 0) return {};
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    if (i2d(key, &p) != n || p != out.data() + n) abort();
    return out;
}

// A decoded key is put to work: hostile numbers must be refused or give
// an answer, never crash or hang.
void use(GOSTS* key) {
    const unsigned char digest[32] = {7, 6, 5, 4, 3, 2, 1};
    unsigned char sig[256] = {};
    unsigned int len = sizeof sig;
    if (key->x && GOSTS_signature_size(key) <= static_cast<int>(sizeof sig))
        GOSTS_sign(0, digest, sizeof digest, sig, &len, key);
    sig[0] = 1;
    sig[40] = 1;
    GOSTS_verify(0, digest, sizeof digest, sig, 64, key);
}

void key_form(const Bytes& der, Decoder d2i, Encoder i2d, bool reuse) {
    GOSTS* key = reuse ? GOSTS_new() : nullptr;
    if (reuse && (key == nullptr || R3410_set_default_params(key) != 1)) abort();
    const unsigned char* p = der.data();
    GOSTS* got = d2i(reuse ? &key : nullptr, &p, static_cast<long>(der.size()));
    if (got == nullptr) {
        GOSTS_free(key);
        return;
    }
    if (p < der.data() || p > der.data() + der.size()) abort();
    use(got);
    const Bytes first = encode(got, i2d);
    if (!first.empty()) {
        const unsigned char* q = first.data();
        GOSTS* again = d2i(nullptr, &q, static_cast<long>(first.size()));
        if (again == nullptr || q != first.data() + first.size()) abort();
        if (encode(again, i2d) != first) abort();
        GOSTS_free(again);
    }
    GOSTS_free(got);
}

void cp_public_key(const Bytes& der) {
    GOSTS* key = GOSTS_new();
    if (key == nullptr || R3410_set_default_params(key) != 1) abort();
    const unsigned char* p = der.data();
    if (d2i_R3410_CP_PublicKey(key, &p, static_cast<long>(der.size())) == 1) {
        if (p < der.data() || p > der.data() + der.size()) abort();
        const int n = i2d_R3410_CP_PublicKey(key, nullptr);
        if (n > 0) {
            Bytes out(static_cast<std::size_t>(n));
            unsigned char* w = out.data();
            if (i2d_R3410_CP_PublicKey(key, &w) != n) abort();
        }
    }
    GOSTS_free(key);
}

using SigDecoder = R3410_SIG* (*)(R3410_SIG**, const unsigned char**, long);
using SigEncoder = int (*)(const R3410_SIG*, unsigned char**);

void signature(const Bytes& der, SigDecoder d2i, SigEncoder i2d) {
    const unsigned char* p = der.data();
    R3410_SIG* sig = d2i(nullptr, &p, static_cast<long>(der.size()));
    if (sig == nullptr) return;
    const int n = i2d(sig, nullptr);
    if (n > 0) {
        Bytes out(static_cast<std::size_t>(n));
        unsigned char* w = out.data();
        if (i2d(sig, &w) != n) abort();
        const unsigned char* q = out.data();
        R3410_SIG* back = d2i(nullptr, &q, n);
        if (back == nullptr || BN_cmp(back->r.get(), sig->r.get()) != 0 ||
            BN_cmp(back->s.get(), sig->s.get()) != 0)
            abort();
        R3410_SIG_free(back);
    }
    R3410_SIG_free(sig);
}

void verify_forms(const Bytes& in, int type) {
    static GOSTS* key = [] {
        GOSTS* k = GOSTS_new();
        if (k == nullptr || R3410_set_default_params(k) != 1 ||
            GOSTS_generate_pubkey(k, nullptr, 0) != 1)
            abort();
        return k;
    }();
    const unsigned char digest[32] = {1, 2, 3};
    if (GOSTS_verify(type, digest, sizeof digest, in.data(), static_cast<int>(in.size()), key) == 1)
        abort();
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    use_kernel_random();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const Bytes rest = in.rest();
    const bool reuse = (choice & 0x80) != 0;
    switch (choice % 9) {
        case 0:
            key_form(rest, d2i_R3410params, i2d_R3410params, reuse);
            break;
        case 1:
            key_form(rest, d2i_R3410PrivateKey, i2d_R3410PrivateKey, reuse);
            break;
        case 2:
            key_form(rest, d2i_R3410PublicKey, i2d_R3410PublicKey, reuse);
            break;
        case 3:
            cp_public_key(rest);
            break;
        case 4:
            signature(rest, d2i_R3410_SIG, i2d_R3410_SIG);
            break;
        case 5:
            signature(rest, d2i_GOSTS_SIG, i2d_GOSTS_SIG);
            break;
        case 6:
            verify_forms(rest, 0);
            break;
        case 7:
            verify_forms(rest, 274);
            break;
        default:
            verify_forms(rest, 1);
            break;
    }
    clear_errors();
    return 0;
}
