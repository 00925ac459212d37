#include <openssl/evp.h>

#include <array>
#include <climits>
#include <cstring>
#include <new>

#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/goste.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

constexpr int kDigestSize = 32;
constexpr int kMacSize = 4;
constexpr int kMacBits = 32;
constexpr std::uint32_t kLive = 0x474f5354;  // marks a constructed state

// libcrypto hands a record zeroed memory for its context; the GOST context
// is constructed there on first use and sits at the start, so that callers
// may reach it through EVP_MD_CTX_md_data.
template <typename Ctx>
struct DigestState {
    Ctx ctx;
    std::uint32_t live;
};

template <typename Ctx>
DigestState<Ctx>* state_of(EVP_MD_CTX* md) {
    auto* s = static_cast<DigestState<Ctx>*>(EVP_MD_CTX_md_data(md));
    if (s != nullptr && s->live != kLive) {
        new (s) DigestState<Ctx>{};
        s->live = kLive;
    }
    return s;
}

template <typename Ctx>
int cleanup(EVP_MD_CTX* md) {
    auto* s = static_cast<DigestState<Ctx>*>(EVP_MD_CTX_md_data(md));
    if (s != nullptr && s->live == kLive) {
        s->~DigestState<Ctx>();
        std::memset(static_cast<void*>(s), 0, sizeof *s);
    }
    return 1;
}

// EVP_MD_CTX_copy_ex has copied the bytes; the copy gets its own context.
template <typename Ctx, int (*copy_fn)(Ctx*, const Ctx*)>
int copy(EVP_MD_CTX* to, const EVP_MD_CTX* from) {
    auto* src =
        static_cast<const DigestState<Ctx>*>(EVP_MD_CTX_md_data(const_cast<EVP_MD_CTX*>(from)));
    auto* dst = static_cast<DigestState<Ctx>*>(EVP_MD_CTX_md_data(to));
    if (src == nullptr || dst == nullptr || src->live != kLive) return 1;
    new (dst) DigestState<Ctx>{};
    dst->live = kLive;
    return copy_fn(&dst->ctx, &src->ctx);
}

int hash_init(EVP_MD_CTX* md) {
    auto* s = state_of<GOSTH>(md);
    return s != nullptr && GOSTH_init(&s->ctx, nullptr, nullptr);
}

int hash_init_cp(EVP_MD_CTX* md) {
    auto* s = state_of<GOSTH>(md);
    return s != nullptr && GOSTH_init_cp(&s->ctx, nullptr, GOSTH_get_cp_sbox());
}

int hash_update(EVP_MD_CTX* md, const void* data, size_t count) {
    auto* s = state_of<GOSTH>(md);
    if (s == nullptr) return 0;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const long n = count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<long>(count);
        if (GOSTH_update(&s->ctx, p, n) != n) return 0;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return 1;
}

int hash_final(EVP_MD_CTX* md, unsigned char* out) {
    auto* s = state_of<GOSTH>(md);
    return s != nullptr && GOSTH_final(&s->ctx, out) == kDigestSize;
}

// The MAC record has no key of its own: the caller loads key and S-box with
// GOSTE_mac_init on the record's context before the first update. The init
// only records that no key was given.
int mac_init(EVP_MD_CTX* md) {
    auto* s = state_of<GOSTE>(md);
    if (s == nullptr) return 0;
    GOSTE_mac_init(&s->ctx, nullptr, GOSTE_get_default_sbox());
    return 1;
}

int mac_update(EVP_MD_CTX* md, const void* data, size_t count) {
    auto* s = state_of<GOSTE>(md);
    if (s == nullptr) return 0;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const long n = count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<long>(count);
        if (GOSTE_mac_process(&s->ctx, p, n) != n) return 0;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return 1;
}

int mac_final(EVP_MD_CTX* md, unsigned char* out) {
    auto* s = state_of<GOSTE>(md);
    return s != nullptr && GOSTE_mac_final(&s->ctx, out, kMacBits) == kMacSize;
}

EVP_MD* make_hash(int type, int sign_type, int (*init)(EVP_MD_CTX*)) {
    EVP_MD* md = EVP_MD_meth_new(OBJ_nid2openssl(type), OBJ_nid2openssl(sign_type));
    if (md == nullptr) return nullptr;
    const bool ok = EVP_MD_meth_set_result_size(md, kDigestSize) &&
                    EVP_MD_meth_set_input_blocksize(md, kDigestSize) &&
                    EVP_MD_meth_set_app_datasize(md, sizeof(DigestState<GOSTH>)) &&
                    EVP_MD_meth_set_init(md, init) && EVP_MD_meth_set_update(md, hash_update) &&
                    EVP_MD_meth_set_final(md, hash_final) &&
                    EVP_MD_meth_set_copy(md, copy<GOSTH, GOSTH_copy>) &&
                    EVP_MD_meth_set_cleanup(md, cleanup<GOSTH>);
    if (!ok) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

EVP_MD* make_mac() {
    EVP_MD* md = EVP_MD_meth_new(OBJ_nid2openssl(NID_GOST28147_MAC_CP), NID_undef);
    if (md == nullptr) return nullptr;
    const bool ok =
        EVP_MD_meth_set_result_size(md, kMacSize) && EVP_MD_meth_set_input_blocksize(md, 1) &&
        EVP_MD_meth_set_app_datasize(md, sizeof(DigestState<GOSTE>)) &&
        EVP_MD_meth_set_init(md, mac_init) && EVP_MD_meth_set_update(md, mac_update) &&
        EVP_MD_meth_set_final(md, mac_final) && EVP_MD_meth_set_copy(md, copy<GOSTE, GOSTE_copy>) &&
        EVP_MD_meth_set_cleanup(md, cleanup<GOSTE>);
    if (!ok) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

// Records whose signature type equals their own type come after the records
// that name them as signature type: libcrypto's name table then resolves
// the signature name to the record of that type.
struct Digests {
    std::array<const EVP_MD*, 7> all;
};

const Digests& digests() {
    static const Digests d{{
        make_mac(),
        make_hash(NID_RUS_HASH, NID_R3410_R3411, hash_init),
        make_hash(NID_RUS_HASH_CP, NID_R3411_WITH_R3410_CP, hash_init_cp),
        make_hash(NID_R3411_WITH_R3410_CP, NID_R3411_WITH_R3410_CP, hash_init_cp),
        make_hash(NID_ECR3410_R3411, NID_ECR3410_R3411, hash_init),
        make_hash(NID_R3411_WITH_ECR3410_CP, NID_R3411_WITH_ECR3410_CP, hash_init_cp),
        make_hash(NID_R3410_R3411, NID_R3410_R3411, hash_init),
    }};
    return d;
}

}  // namespace

const EVP_MD* EVP_gost_mac() { return digests().all[0]; }
const EVP_MD* EVP_rus_hash() { return digests().all[1]; }
const EVP_MD* EVP_rus_hash_cp() { return digests().all[2]; }
const EVP_MD* EVP_r3411_with_r3410_cp() { return digests().all[3]; }
const EVP_MD* EVP_ecr3410_r3411() { return digests().all[4]; }
const EVP_MD* EVP_r3411_with_ecr3410_cp() { return digests().all[5]; }

std::span<const EVP_MD* const> EVP_gost_digests() { return digests().all; }

}  // namespace cadb
