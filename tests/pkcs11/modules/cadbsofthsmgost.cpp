// A PKCS#11 module of the tests' own that passes every call to SoftHSM2 and
// adds GOST R 34.10-2001 key-pair generation and signing, computed with the
// library's algorithms. The keys are SoftHSM2 token objects of key type
// CKK_GOSTR3410 (SoftHSM2 keeps such objects whole though it offers no GOST
// mechanism), so processes that load this module share them as they share
// any SoftHSM2 object. The private value is kept readable inside SoftHSM2
// for the signing here, and is reported sensitive to the caller.
#include <dlfcn.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/pkcs11/cryptoki.h"

using namespace cadb;

namespace {

constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";
constexpr CK_RV CKR_FUNCTION_FAILED = 0x006;
constexpr CK_RV CKR_ATTRIBUTE_SENSITIVE = 0x011;
constexpr CK_RV CKR_DATA_LEN_RANGE = 0x021;
constexpr CK_RV CKR_KEY_TYPE_INCONSISTENT = 0x063;
constexpr CK_RV CKR_MECHANISM_INVALID = 0x070;
constexpr CK_RV CKR_TEMPLATE_INCOMPLETE = 0x0D0;
constexpr CK_ATTRIBUTE_TYPE CKA_EXTRACTABLE = 0x162;
constexpr CK_FLAGS CKF_SIGN = 0x800;
constexpr CK_FLAGS CKF_GENERATE_KEY_PAIR = 0x10000;

using Bytes = std::vector<unsigned char>;
using EcgostPtr = std::unique_ptr<ECGOST, decltype(&ECGOST_free)>;

CK_FUNCTION_LIST* g_inner = nullptr;
CK_FUNCTION_LIST g_list{};
std::mutex g_mutex;
std::map<CK_SESSION_HANDLE, CK_OBJECT_HANDLE> g_signing;  // session -> GOST key

struct Wiped {
    Bytes v;
    ~Wiped() { OPENSSL_cleanse(v.data(), v.size()); }
};

struct Curve {
    unsigned char last[2];
    int nid;
};
// The five CryptoPro sets 1.2.643.2.2.35.1-3 and 1.2.643.2.2.36.0-1.
int curve_nid(const Bytes& der) {
    static const Curve sets[] = {
        {{0x23, 1}, 283}, {{0x23, 2}, 284}, {{0x23, 3}, 285}, {{0x24, 0}, 286}, {{0x24, 1}, 287}};
    static const unsigned char head[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02};
    if (der.size() != 9 || !std::equal(head, head + 7, der.begin())) return 0;
    for (const Curve& c : sets)
        if (der[7] == c.last[0] && der[8] == c.last[1]) return c.nid;
    return 0;
}

bool random_bytes(unsigned char* out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::getrandom(out + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

const CK_ATTRIBUTE* find_attr(const CK_ATTRIBUTE* t, CK_ULONG n, CK_ATTRIBUTE_TYPE type) {
    for (CK_ULONG i = 0; t != nullptr && i < n; ++i)
        if (t[i].type == type) return &t[i];
    return nullptr;
}

Bytes bytes_of(const CK_ATTRIBUTE* a) {
    if (a == nullptr || a->pValue == nullptr) return {};
    const auto* p = static_cast<const unsigned char*>(a->pValue);
    return Bytes(p, p + a->ulValueLen);
}

bool read_attr(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type, Bytes* out) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    if (g_inner->C_GetAttributeValue(s, o, &a, 1) != CKR_OK || a.ulValueLen == ~CK_ULONG{0})
        return false;
    out->assign(a.ulValueLen, 0);
    a.pValue = out->data();
    return g_inner->C_GetAttributeValue(s, o, &a, 1) == CKR_OK;
}

bool is_gost_private(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o) {
    CK_OBJECT_CLASS cls = 0;
    CK_KEY_TYPE type = 0;
    CK_ATTRIBUTE a[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_KEY_TYPE, &type, sizeof type}};
    return g_inner->C_GetAttributeValue(s, o, a, 2) == CKR_OK && cls == CKO_PRIVATE_KEY &&
           type == CKK_GOSTR3410;
}

// The caller's template with the attributes given here in place of its own.
std::vector<CK_ATTRIBUTE> with(const CK_ATTRIBUTE* t, CK_ULONG n,
                               const std::vector<CK_ATTRIBUTE>& own) {
    std::vector<CK_ATTRIBUTE> out(own);
    for (CK_ULONG i = 0; t != nullptr && i < n; ++i) {
        const bool replaced = std::any_of(
            own.begin(), own.end(), [&](const CK_ATTRIBUTE& a) { return a.type == t[i].type; });
        if (!replaced) out.push_back(t[i]);
    }
    return out;
}

CK_BBOOL kTrue = 1, kFalse = 0;

// ---- mechanisms

CK_RV get_mechanism_list(CK_SLOT_ID slot, CK_MECHANISM_TYPE* list, CK_ULONG* count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG n = 0;
    CK_RV rv = g_inner->C_GetMechanismList(slot, nullptr, &n);
    if (rv != CKR_OK) return rv;
    std::vector<CK_MECHANISM_TYPE> all(n);
    if (n > 0 && (rv = g_inner->C_GetMechanismList(slot, all.data(), &n)) != CKR_OK) return rv;
    all.resize(n);
    all.push_back(CKM_GOSTR3410_KEY_PAIR_GEN);
    all.push_back(CKM_GOSTR3410);
    const CK_ULONG room = *count;
    *count = all.size();
    if (list == nullptr) return CKR_OK;
    if (room < all.size()) return CKR_BUFFER_TOO_SMALL;
    std::copy(all.begin(), all.end(), list);
    return CKR_OK;
}

CK_RV get_mechanism_info(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info) {
    if (type != CKM_GOSTR3410_KEY_PAIR_GEN && type != CKM_GOSTR3410)
        return g_inner->C_GetMechanismInfo(slot, type, info);
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    info->ulMinKeySize = info->ulMaxKeySize = 256;
    info->flags = type == CKM_GOSTR3410 ? CKF_SIGN : CKF_GENERATE_KEY_PAIR;
    return CKR_OK;
}

// ---- objects: a GOST private key keeps its value readable inside

CK_RV create_object(CK_SESSION_HANDLE s, CK_ATTRIBUTE* t, CK_ULONG n, CK_OBJECT_HANDLE* out) {
    const CK_ATTRIBUTE* cls = find_attr(t, n, CKA_CLASS);
    const CK_ATTRIBUTE* type = find_attr(t, n, CKA_KEY_TYPE);
    if (cls == nullptr || type == nullptr || cls->ulValueLen != sizeof(CK_OBJECT_CLASS) ||
        type->ulValueLen != sizeof(CK_KEY_TYPE) ||
        *static_cast<CK_OBJECT_CLASS*>(cls->pValue) != CKO_PRIVATE_KEY ||
        *static_cast<CK_KEY_TYPE*>(type->pValue) != CKK_GOSTR3410)
        return g_inner->C_CreateObject(s, t, n, out);
    std::vector<CK_ATTRIBUTE> all =
        with(t, n, {{CKA_SENSITIVE, &kFalse, 1}, {CKA_EXTRACTABLE, &kTrue, 1}});
    return g_inner->C_CreateObject(s, all.data(), all.size(), out);
}

CK_RV get_attribute_value(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE* t, CK_ULONG n) {
    if (find_attr(t, n, CKA_VALUE) == nullptr || !is_gost_private(s, o))
        return g_inner->C_GetAttributeValue(s, o, t, n);
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < n; ++i) {
        if (t[i].type == CKA_VALUE) {
            t[i].ulValueLen = ~CK_ULONG{0};
            result = CKR_ATTRIBUTE_SENSITIVE;
            continue;
        }
        const CK_RV rv = g_inner->C_GetAttributeValue(s, o, &t[i], 1);
        if (rv != CKR_OK && result == CKR_OK) result = rv;
    }
    return result;
}

// ---- generation and signing

CK_RV generate_key_pair(CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_ATTRIBUTE* pub_t, CK_ULONG pub_n,
                        CK_ATTRIBUTE* priv_t, CK_ULONG priv_n, CK_OBJECT_HANDLE* pub_out,
                        CK_OBJECT_HANDLE* priv_out) {
    if (m == nullptr || m->mechanism != CKM_GOSTR3410_KEY_PAIR_GEN)
        return g_inner->C_GenerateKeyPair(s, m, pub_t, pub_n, priv_t, priv_n, pub_out, priv_out);
    if (pub_out == nullptr || priv_out == nullptr) return CKR_ARGUMENTS_BAD;
    Bytes curve = bytes_of(find_attr(pub_t, pub_n, CKA_GOSTR3410_PARAMS));
    Bytes hash = bytes_of(find_attr(pub_t, pub_n, CKA_GOSTR3411_PARAMS));
    Bytes cipher = bytes_of(find_attr(pub_t, pub_n, CKA_GOST28147_PARAMS));
    const int nid = curve_nid(curve);
    if (nid == 0 || hash.empty()) return CKR_TEMPLATE_INCOMPLETE;
    EcgostPtr key(ECGOST_new_by_curve(nullptr), ECGOST_free);
    if (!key || !ECGOST_set_curve_by_nid(key.get(), nid)) return CKR_GENERAL_ERROR;
    Wiped d{Bytes(32)};
    BnPtr dn(BN_new());
    BnCtxPtr bn_ctx(BN_CTX_new());
    do {
        if (!dn || !bn_ctx || !random_bytes(d.v.data(), 32) ||
            !BN_bin2bn(d.v.data(), 32, dn.get()) ||
            !BN_nnmod(dn.get(), dn.get(), key->curve->q.get(), bn_ctx.get()))
            return CKR_GENERAL_ERROR;
    } while (BN_is_zero(dn.get()));
    Bytes point(64);
    if (!ECGOST_set_private(key.get(), dn.get()) || !ECGOST_generate_pubkey(key.get()) ||
        BN_bn2lebinpad(dn.get(), d.v.data(), 32) != 32 ||
        ECPOINT_point2le(key->Q.get(), point.data(), 64) != 64)
        return CKR_GENERAL_ERROR;
    BN_clear(dn.get());
    CK_OBJECT_CLASS pub_class = CKO_PUBLIC_KEY, priv_class = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_GOSTR3410;
    std::vector<CK_ATTRIBUTE> params = {{CKA_KEY_TYPE, &type, sizeof type},
                                        {CKA_GOSTR3410_PARAMS, curve.data(), curve.size()},
                                        {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()}};
    if (!cipher.empty()) params.push_back({CKA_GOST28147_PARAMS, cipher.data(), cipher.size()});
    std::vector<CK_ATTRIBUTE> pub_own = params, priv_own = params;
    pub_own.push_back({CKA_CLASS, &pub_class, sizeof pub_class});
    pub_own.push_back({CKA_VALUE, point.data(), point.size()});
    priv_own.push_back({CKA_CLASS, &priv_class, sizeof priv_class});
    priv_own.push_back({CKA_VALUE, d.v.data(), d.v.size()});
    priv_own.push_back({CKA_SENSITIVE, &kFalse, 1});
    priv_own.push_back({CKA_EXTRACTABLE, &kTrue, 1});
    std::vector<CK_ATTRIBUTE> pub_all = with(pub_t, pub_n, pub_own);
    std::vector<CK_ATTRIBUTE> priv_all = with(priv_t, priv_n, priv_own);
    CK_RV rv = g_inner->C_CreateObject(s, pub_all.data(), pub_all.size(), pub_out);
    if (rv != CKR_OK) return rv;
    rv = g_inner->C_CreateObject(s, priv_all.data(), priv_all.size(), priv_out);
    if (rv != CKR_OK) g_inner->C_DestroyObject(s, *pub_out);
    return rv;
}

CK_RV sign_init(CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_OBJECT_HANDLE k) {
    if (m == nullptr || m->mechanism != CKM_GOSTR3410) {
        {
            std::lock_guard<std::mutex> l(g_mutex);
            g_signing.erase(s);
        }
        return g_inner->C_SignInit(s, m, k);
    }
    if (!is_gost_private(s, k)) return CKR_KEY_TYPE_INCONSISTENT;
    std::lock_guard<std::mutex> l(g_mutex);
    g_signing[s] = k;
    return CKR_OK;
}

// The signature of a 32-byte digest given least significant byte first, as
// s || r, each 32 bytes most significant byte first.
CK_RV sign(CK_SESSION_HANDLE s, CK_BYTE* data, CK_ULONG len, CK_BYTE* sig, CK_ULONG* sig_len) {
    CK_OBJECT_HANDLE k = 0;
    {
        std::lock_guard<std::mutex> l(g_mutex);
        const auto it = g_signing.find(s);
        if (it == g_signing.end()) return g_inner->C_Sign(s, data, len, sig, sig_len);
        k = it->second;
    }
    if (sig_len == nullptr || data == nullptr) return CKR_ARGUMENTS_BAD;
    if (sig == nullptr || *sig_len < 64) {
        const bool query = sig == nullptr;
        *sig_len = 64;
        return query ? CKR_OK : CKR_BUFFER_TOO_SMALL;
    }
    {
        std::lock_guard<std::mutex> l(g_mutex);
        g_signing.erase(s);
    }
    if (len != 32) return CKR_DATA_LEN_RANGE;
    Bytes curve;
    Wiped value;
    if (!read_attr(s, k, CKA_GOSTR3410_PARAMS, &curve) || !read_attr(s, k, CKA_VALUE, &value.v) ||
        value.v.size() != 32)
        return CKR_FUNCTION_FAILED;
    EcgostPtr key(ECGOST_new_by_curve(nullptr), ECGOST_free);
    Wiped be{Bytes(value.v.rbegin(), value.v.rend())};
    BnPtr d(BN_bin2bn(be.v.data(), 32, nullptr));
    if (!key || !d || !ECGOST_set_curve_by_nid(key.get(), curve_nid(curve)) ||
        !ECGOST_set_private(key.get(), d.get()))
        return CKR_FUNCTION_FAILED;
    BN_clear(d.get());
    unsigned char digest[32], nonce[32];
    std::reverse_copy(data, data + 32, digest);
    std::size_t out_len = 64;
    const bool ok = random_bytes(nonce, sizeof nonce) &&
                    ECGOST_sign_setup(key.get(), nonce, sizeof nonce, nullptr, nullptr) &&
                    ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest, 32, sig, &out_len, key.get());
    OPENSSL_cleanse(nonce, sizeof nonce);
    if (!ok || out_len != 64) return CKR_FUNCTION_FAILED;
    *sig_len = 64;
    return CKR_OK;
}

// ---- what ends sessions ends their signing too

CK_RV close_session(CK_SESSION_HANDLE s) {
    {
        std::lock_guard<std::mutex> l(g_mutex);
        g_signing.erase(s);
    }
    return g_inner->C_CloseSession(s);
}

CK_RV close_all_sessions(CK_SLOT_ID slot) {
    {
        std::lock_guard<std::mutex> l(g_mutex);
        g_signing.clear();
    }
    return g_inner->C_CloseAllSessions(slot);
}

CK_RV finalize(CK_VOID_PTR reserved) {
    {
        std::lock_guard<std::mutex> l(g_mutex);
        g_signing.clear();
    }
    return g_inner->C_Finalize(reserved);
}

bool load() {
    if (g_inner != nullptr) return true;
    void* lib = ::dlopen(kSoftHsm, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    auto get = reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST**)>(::dlsym(lib, "C_GetFunctionList"));
    CK_FUNCTION_LIST* inner = nullptr;
    if (get == nullptr || get(&inner) != CKR_OK || inner == nullptr) return false;
    g_inner = inner;
    g_list = *inner;
    g_list.C_Finalize = finalize;
    g_list.C_GetMechanismList = get_mechanism_list;
    g_list.C_GetMechanismInfo = get_mechanism_info;
    g_list.C_CloseSession = close_session;
    g_list.C_CloseAllSessions = close_all_sessions;
    g_list.C_CreateObject = create_object;
    g_list.C_GetAttributeValue = get_attribute_value;
    g_list.C_GenerateKeyPair = generate_key_pair;
    g_list.C_SignInit = sign_init;
    g_list.C_Sign = sign;
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> l(g_mutex);
    if (!load()) return CKR_GENERAL_ERROR;
    *list = &g_list;
    return CKR_OK;
}
