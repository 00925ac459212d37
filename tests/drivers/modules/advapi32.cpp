// Stand-in for the CryptoAPI provider, over a directory of key files: a
// container is the file <root>/<name>.key, whose first line names the kind
// of key ("gost2001", "gost94", "rsa" or "dsa") and whose further lines are
// its numbers in hexadecimal: p, a, b, q, Px, Py, d for GOST R 34.10-2001;
// p, q, a, x for GOST R 34.10-94; n, d for RSA; p, q, g, x for DSA. A GOST
// hash value installed on a hash object is read little-endian, as a
// provider reads it, and the signature s || r comes back little-endian. An
// RSA key signs MD5, SHA-1 and the SSL3 MD5-and-SHA-1 value with PKCS #1
// v1.5; a DSA key signs SHA-1 values, answering r and s each little-endian;
// either signature comes back as a whole little-endian.
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/vendor/capi_api.h"

using namespace cadb::vendor;

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct Provider {
    std::string kind;
    std::vector<Bn> n;  // the numbers of the key file, in order
};

struct Hash {
    Provider* prov = nullptr;
    ALG_ID alg = 0;
    std::vector<unsigned char> value;
    std::vector<unsigned char> signature;  // made once, returned by both calls
};

struct SimState {
    std::string root;
    int hashes_made = 0;
    int live_hashes = 0;
    bool fail_sign = false;
};
SimState sim;
std::recursive_mutex sim_mutex;
using Guard = std::lock_guard<std::recursive_mutex>;

std::size_t hash_len(ALG_ID alg) {
    switch (alg) {
        case kCalgMd5:
            return 16;
        case kCalgSha1:
            return 20;
        case kCalgSsl3Shamd5:
            return 36;
        case kCalgGostLibrary:
        case kCalgGostCryptoPro:
            return 32;
        default:
            return 0;
    }
}

Bn le_number(const std::vector<unsigned char>& v) {
    std::vector<unsigned char> be(v.rbegin(), v.rend());
    return Bn(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}

// s || r, each padded to 32 bytes, then reversed into the provider's order.
std::vector<unsigned char> pack(const BIGNUM* s, const BIGNUM* r) {
    std::vector<unsigned char> out(64);
    BN_bn2binpad(s, out.data(), 32);
    BN_bn2binpad(r, out.data() + 32, 32);
    std::reverse(out.begin(), out.end());
    return out;
}

// The DER prefix of a PKCS #1 DigestInfo for the hash, empty for the SSL3
// value, which is signed bare.
std::vector<unsigned char> digest_info(ALG_ID alg) {
    switch (alg) {
        case kCalgMd5:
            return {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                    0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
        case kCalgSha1:
            return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03,
                    0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
        default:
            return {};
    }
}

bool sign_rsa(Hash& h, BN_CTX* ctx) {
    const Provider& p = *h.prov;
    if (h.alg != kCalgMd5 && h.alg != kCalgSha1 && h.alg != kCalgSsl3Shamd5) return false;
    const BIGNUM *N = p.n[0].get(), *D = p.n[1].get();
    const std::size_t k = static_cast<std::size_t>(BN_num_bytes(N));
    std::vector<unsigned char> t = digest_info(h.alg);
    t.insert(t.end(), h.value.begin(), h.value.end());
    if (k < t.size() + 11) return false;
    // 00 01 FF .. FF 00 T
    std::vector<unsigned char> em(k, 0xFF);
    em[0] = 0x00;
    em[1] = 0x01;
    em[k - t.size() - 1] = 0x00;
    std::copy(t.begin(), t.end(), em.end() - static_cast<long>(t.size()));
    Bn m(BN_bin2bn(em.data(), static_cast<int>(k), nullptr)), s(BN_new());
    if (!BN_mod_exp(s.get(), m.get(), D, N, ctx)) return false;
    h.signature.assign(k, 0);
    BN_bn2binpad(s.get(), h.signature.data(), static_cast<int>(k));
    std::reverse(h.signature.begin(), h.signature.end());
    return true;
}

bool sign_dsa(Hash& h, BN_CTX* ctx) {
    const Provider& p = *h.prov;
    if (h.alg != kCalgSha1) return false;
    const BIGNUM *P = p.n[0].get(), *Q = p.n[1].get(), *G = p.n[2].get(), *X = p.n[3].get();
    const int qlen = BN_num_bytes(Q);
    Bn z(BN_bin2bn(h.value.data(), static_cast<int>(h.value.size()), nullptr)), k(BN_new()),
        r(BN_new()), s(BN_new()), t(BN_new());
    do {
        BN_rand_range(k.get(), Q);
        BN_mod_exp(r.get(), G, k.get(), P, ctx);
        BN_nnmod(r.get(), r.get(), Q, ctx);
        BN_mod_mul(t.get(), X, r.get(), Q, ctx);
        BN_mod_add(t.get(), t.get(), z.get(), Q, ctx);
        BN_mod_inverse(s.get(), k.get(), Q, ctx);
        BN_mod_mul(s.get(), s.get(), t.get(), Q, ctx);
    } while (BN_is_zero(r.get()) || BN_is_zero(s.get()));
    // r then s, each little-endian.
    h.signature.assign(2 * static_cast<std::size_t>(qlen), 0);
    BN_bn2lebinpad(r.get(), h.signature.data(), qlen);
    BN_bn2lebinpad(s.get(), h.signature.data() + qlen, qlen);
    return true;
}

bool sign(Hash& h) {
    Provider& p = *h.prov;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    if (p.kind == "rsa" && p.n.size() == 2) return sign_rsa(h, ctx.get());
    if (p.kind == "dsa" && p.n.size() == 4) return sign_dsa(h, ctx.get());
    if (h.alg != kCalgGostLibrary && h.alg != kCalgGostCryptoPro) return false;
    Bn e = le_number(h.value), k(BN_new()), r(BN_new()), s(BN_new()), t(BN_new());
    if (p.kind == "gost2001" && p.n.size() == 7) {
        const BIGNUM *P = p.n[0].get(), *A = p.n[1].get(), *B = p.n[2].get(), *Q = p.n[3].get();
        std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> g(
            EC_GROUP_new_curve_GFp(P, A, B, ctx.get()), EC_GROUP_free);
        std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> G(EC_POINT_new(g.get()), EC_POINT_free),
            C(EC_POINT_new(g.get()), EC_POINT_free);
        if (!EC_POINT_set_affine_coordinates(g.get(), G.get(), p.n[4].get(), p.n[5].get(),
                                             ctx.get()) ||
            !EC_GROUP_set_generator(g.get(), G.get(), Q, BN_value_one()))
            return false;
        BN_nnmod(e.get(), e.get(), Q, ctx.get());
        if (BN_is_zero(e.get())) BN_one(e.get());
        do {
            BN_rand_range(k.get(), Q);
            EC_POINT_mul(g.get(), C.get(), k.get(), nullptr, nullptr, ctx.get());
            EC_POINT_get_affine_coordinates(g.get(), C.get(), r.get(), nullptr, ctx.get());
            BN_nnmod(r.get(), r.get(), Q, ctx.get());
            BN_mod_mul(s.get(), r.get(), p.n[6].get(), Q, ctx.get());
            BN_mod_mul(t.get(), k.get(), e.get(), Q, ctx.get());
            BN_mod_add(s.get(), s.get(), t.get(), Q, ctx.get());
        } while (BN_is_zero(r.get()) || BN_is_zero(s.get()));
    } else if (p.kind == "gost94" && p.n.size() == 4) {
        const BIGNUM *P = p.n[0].get(), *Q = p.n[1].get(), *A = p.n[2].get(), *X = p.n[3].get();
        BN_nnmod(e.get(), e.get(), Q, ctx.get());
        if (BN_is_zero(e.get())) BN_one(e.get());
        do {
            BN_rand_range(k.get(), Q);
            BN_mod_exp(r.get(), A, k.get(), P, ctx.get());
            BN_nnmod(r.get(), r.get(), Q, ctx.get());
            BN_mod_mul(s.get(), X, r.get(), Q, ctx.get());
            BN_mod_mul(t.get(), k.get(), e.get(), Q, ctx.get());
            BN_mod_add(s.get(), s.get(), t.get(), Q, ctx.get());
        } while (BN_is_zero(r.get()) || BN_is_zero(s.get()));
    } else {
        return false;
    }
    h.signature = pack(s.get(), r.get());
    return true;
}

}  // namespace

#define SIM_API extern "C" __attribute__((visibility("default")))

// Not called by the library: how a test gets a provider handle.
SIM_API CapiBool CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char*,
                                      std::uint32_t, std::uint32_t) {
    const Guard g(sim_mutex);
    if (prov == nullptr || container == nullptr) return 0;
    std::ifstream in(sim.root + "/" + container + ".key");
    auto p = std::make_unique<Provider>();
    if (!std::getline(in, p->kind)) return 0;
    for (std::string line; std::getline(in, line);) {
        BIGNUM* b = nullptr;
        if (line.empty() || BN_hex2bn(&b, line.c_str()) == 0) return 0;
        p->n.emplace_back(b);
    }
    *prov = reinterpret_cast<HCRYPTPROV>(p.release());
    return 1;
}

SIM_API CapiBool CryptReleaseContext(HCRYPTPROV prov, std::uint32_t) {
    const Guard g(sim_mutex);
    delete reinterpret_cast<Provider*>(prov);
    return 1;
}

SIM_API CapiBool CryptCreateHash(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY key, std::uint32_t flags,
                                 HCRYPTHASH* hash) {
    const Guard g(sim_mutex);
    ++sim.hashes_made;
    if (prov == 0 || key != 0 || flags != 0 || hash == nullptr || hash_len(alg) == 0) return 0;
    auto* h = new Hash;
    h->prov = reinterpret_cast<Provider*>(prov);
    h->alg = alg;
    ++sim.live_hashes;
    *hash = reinterpret_cast<HCRYPTHASH>(h);
    return 1;
}

SIM_API CapiBool CryptSetHashParam(HCRYPTHASH hash, std::uint32_t param, const unsigned char* data,
                                   std::uint32_t) {
    const Guard g(sim_mutex);
    auto* h = reinterpret_cast<Hash*>(hash);
    if (h == nullptr || param != kHpHashVal || data == nullptr) return 0;
    h->value.assign(data, data + hash_len(h->alg));
    return 1;
}

SIM_API CapiBool CryptSignHashA(HCRYPTHASH hash, std::uint32_t key_spec, const char* description,
                                std::uint32_t, unsigned char* signature, std::uint32_t* length) {
    const Guard g(sim_mutex);
    auto* h = reinterpret_cast<Hash*>(hash);
    if (h == nullptr || length == nullptr || description != nullptr || h->value.empty() ||
        (key_spec != kAtSignature && key_spec != kAtKeyExchange) || sim.fail_sign)
        return 0;
    if (h->signature.empty() && !sign(*h)) return 0;
    if (signature == nullptr) {
        *length = static_cast<std::uint32_t>(h->signature.size());
        return 1;
    }
    if (*length < h->signature.size()) return 0;
    std::memcpy(signature, h->signature.data(), h->signature.size());
    *length = static_cast<std::uint32_t>(h->signature.size());
    return 1;
}

SIM_API CapiBool CryptDestroyHash(HCRYPTHASH hash) {
    const Guard g(sim_mutex);
    auto* h = reinterpret_cast<Hash*>(hash);
    if (h == nullptr) return 0;
    delete h;
    --sim.live_hashes;
    return 1;
}

// Controls for the tests.
SIM_API void simConfigure(const char* root) {
    const Guard g(sim_mutex);
    sim.root = root;
    sim.hashes_made = 0;
    sim.fail_sign = false;
}
SIM_API int simHashesMade() { return sim.hashes_made; }
SIM_API int simLiveHashes() { return sim.live_hashes; }
SIM_API void simFailSign(int on) { sim.fail_sign = on != 0; }
