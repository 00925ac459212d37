#include "crypto/core/capi_sign.h"

#include <algorithm>
#include <mutex>

#include "platform/module.h"
#include "platform/no_destructor.h"
#include "platform/vendor/capi_api.h"

namespace cadb {
namespace {

struct Api {
#define CADB_CAPI_MEMBER(name) vendor::name##_t name = nullptr;
    CADB_CAPI_ENTRIES(CADB_CAPI_MEMBER)
#undef CADB_CAPI_MEMBER
    bool loaded = false;
};

// Loaded once for the life of the process: a provider handle outlives any
// one signature. Never unloaded by a destructor at exit.
const Api& api() {
    static NoDestructor<Module> library;
    static Api resolved;
    static std::once_flag once;
    std::call_once(once, [] {
        *library = module_load("advapi32.dll");
        if (!*library) return;
        bool all = true;
#define CADB_CAPI_RESOLVE(name) all = module_entry(*library, #name, resolved.name) && all;
        CADB_CAPI_ENTRIES(CADB_CAPI_RESOLVE)
#undef CADB_CAPI_RESOLVE
        resolved.loaded = all;
    });
    return resolved;
}

std::size_t hash_length(std::uint32_t alg) {
    switch (alg) {
        case vendor::kCalgMd5:
            return 16;
        case vendor::kCalgSha1:
            return 20;
        case vendor::kCalgSsl3Shamd5:
            return 36;
        default:
            return 32;
    }
}

}  // namespace

std::uint32_t CAPI_alg_of_nid(int digest_nid) {
    switch (digest_nid) {
        case 4:
            return vendor::kCalgMd5;
        case 41:
        case 64:
            return vendor::kCalgSha1;
        case 114:
            return vendor::kCalgSsl3Shamd5;
        case 176:
            return vendor::kCalgGostLibrary;
        case 288:
            return vendor::kCalgGostCryptoPro;
        default:
            return 0;
    }
}

int CAPI_sign_digest(std::uintptr_t provider, std::uint32_t key_spec, int digest_nid,
                     const unsigned char* dgst, std::size_t dlen, unsigned char* sig,
                     std::size_t sig_room, std::size_t* sig_len) {
    if (sig_len != nullptr) *sig_len = 0;
    const std::uint32_t alg = CAPI_alg_of_nid(digest_nid);
    if (alg == 0) return 0;
    // The provider reads as many bytes as its hash has: a shorter digest
    // would be read past its end.
    if (provider == 0 || dgst == nullptr || sig == nullptr || sig_len == nullptr ||
        dlen != hash_length(alg))
        return -1;
    const Api& a = api();
    if (!a.loaded) return -1;
    vendor::HCRYPTHASH hash = 0;
    if (!a.CryptCreateHash(provider, alg, 0, 0, &hash)) return -1;
    std::uint32_t length = 0;
    const bool ok = a.CryptSetHashParam(hash, vendor::kHpHashVal, dgst, 0) &&
                    a.CryptSignHashA(hash, key_spec, nullptr, 0, nullptr, &length) &&
                    length > 0 && length <= sig_room &&
                    a.CryptSignHashA(hash, key_spec, nullptr, 0, sig, &length) && length > 0 &&
                    length <= sig_room;
    a.CryptDestroyHash(hash);
    if (!ok) return -1;
    // The provider's order is little-endian.
    std::reverse(sig, sig + length);
    *sig_len = length;
    return static_cast<int>(length);
}

}  // namespace cadb
