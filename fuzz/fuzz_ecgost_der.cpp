// GOST R 34.10-2001 DER and byte decoders: parameters, private keys (plain
// and wrapped), public keys, and the three signature forms. Whatever decodes
// must encode again, and encode to the same bytes a second time round.
#include <openssl/bn.h>

#include <cstdlib>
#include <vector>

#include "crypto/ecgost/ecgost.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;
using Decoder = ECGOST* (*)(ECGOST**, const unsigned char**, long);
using Encoder = int (*)(const ECGOST*, unsigned char**);

Bytes encode(const ECGOST* key, Encoder i2d) {
    const int n = i2d(key, nullptr);
    if (n <= 0) return {};
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    if (i2d(key, &p) != n || p != out.data() + n) abort();
    return out;
}

// A decoded key is put to work: hostile curves and numbers must be refused
// or give an answer, never crash or hang.
void use(ECGOST* key) {
    const unsigned char digest[32] = {7, 6, 5, 4, 3, 2, 1};
    unsigned char sig[256] = {};
    std::size_t len = sizeof sig;
    if (!key->check) ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest, sizeof digest, sig, &len, key);
    sig[0] = 1;
    sig[40] = 1;
    ECGOST_verify(ECGOST_SIG_CRYPTOPRO, digest, sizeof digest, sig, 64, key);
}

void key_form(const Bytes& der, Decoder d2i, Encoder i2d, bool onto_curve) {
    ECGOST* key = nullptr;
    if (onto_curve) {
        key = ECGOST_new_by_curve(nullptr);
        if (key == nullptr) return;
    }
    const unsigned char* p = der.data();
    ECGOST* got = d2i(onto_curve ? &key : nullptr, &p, static_cast<long>(der.size()));
    if (got == nullptr) {
        ECGOST_free(key);
        return;
    }
    if (onto_curve && got != key) abort();
    if (p < der.data() || p > der.data() + der.size()) abort();
    use(got);
    const Bytes first = encode(got, i2d);
    if (!first.empty()) {
        // A bare public key needs a curve to become a point again.
        ECGOST* again = onto_curve ? ECGOST_new_by_curve(nullptr) : nullptr;
        const unsigned char* q = first.data();
        again = d2i(onto_curve ? &again : nullptr, &q, static_cast<long>(first.size()));
        if (again == nullptr || q != first.data() + first.size()) abort();
        if (encode(again, i2d) != first) abort();
        ECGOST_free(again);
    }
    ECGOST_free(got);
}

void signature(const Bytes& in, int type) {
    ECGOST_SIG* sig = ECGOST_SIG_from_bytes(type, in.data(), in.size());
    if (sig == nullptr) return;
    const std::size_t n = ECGOST_SIG_to_bytes(sig, type, nullptr, nullptr, 0);
    if (n != 0) {
        Bytes out(n);
        if (ECGOST_SIG_to_bytes(sig, type, nullptr, out.data(), out.size()) != n) abort();
        ECGOST_SIG* back = ECGOST_SIG_from_bytes(type, out.data(), out.size());
        if (back == nullptr || BN_cmp(back->r.get(), sig->r.get()) != 0 ||
            BN_cmp(back->s.get(), sig->s.get()) != 0)
            abort();
        ECGOST_SIG_free(back);
    }
    ECGOST_SIG_free(sig);
}

void der_signature(const Bytes& in) {
    const unsigned char* p = in.data();
    ECGOST_SIG* sig = d2i_ECGOST_SIG(nullptr, &p, static_cast<long>(in.size()));
    if (sig == nullptr) return;
    const int n = i2d_ECGOST_SIG(sig, nullptr);
    if (n > 0) {
        Bytes out(static_cast<std::size_t>(n));
        unsigned char* w = out.data();
        if (i2d_ECGOST_SIG(sig, &w) != n) abort();
    }
    ECGOST_SIG_free(sig);
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
    const bool onto_curve = (choice & 0x80) != 0;
    switch (choice % 8) {
        case 0:
            key_form(rest, d2i_ECGOSTparams, i2d_ECGOSTparams, onto_curve);
            break;
        case 1:
            key_form(rest, d2i_ECGOSTPrivateKey, i2d_ECGOSTPrivateKey, onto_curve);
            break;
        case 2:
            key_form(rest, d2i_ECGOSTPublicKey, i2d_ECGOSTPublicKey, onto_curve);
            break;
        case 3:
            der_signature(rest);
            break;
        case 4:
            signature(rest, ECGOST_SIG_RAW);
            break;
        case 5:
            signature(rest, ECGOST_SIG_CRYPTOPRO);
            break;
        default:
            signature(rest, 1);
            break;
    }
    clear_errors();
    return 0;
}
