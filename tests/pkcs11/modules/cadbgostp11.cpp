// A PKCS#11 module of the tests' own with the GOST R 34.10-2001 mechanisms
// SoftHSM2 lacks, built on the library's algorithms (see
// tests/pkcs11/gost_module.h). It keeps to the standard rather than to the
// library's habits, so that the library's mistakes show: private objects are
// hidden until the user logs in, secret values are sensitive, lengths are
// checked, a pulled token invalidates every session.
#include <sys/random.h>

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/rus/goste.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"
#include "crypto/rus/sbox.h"
#include "tests/pkcs11/gost_module.h"

using namespace cadb;
using cadb::testing::GostModuleControl;

namespace {

// Return values and attributes the library itself never names.
constexpr CK_RV CKR_ATTRIBUTE_VALUE_INVALID = 0x013;
constexpr CK_RV CKR_DATA_LEN_RANGE = 0x021;
constexpr CK_RV CKR_FUNCTION_NOT_SUPPORTED = 0x054;
constexpr CK_RV CKR_KEY_HANDLE_INVALID = 0x060;
constexpr CK_RV CKR_KEY_TYPE_INCONSISTENT = 0x063;
constexpr CK_RV CKR_KEY_FUNCTION_NOT_PERMITTED = 0x068;
constexpr CK_RV CKR_MECHANISM_INVALID = 0x070;
constexpr CK_RV CKR_MECHANISM_PARAM_INVALID = 0x071;
constexpr CK_RV CKR_OPERATION_ACTIVE = 0x090;
constexpr CK_RV CKR_OPERATION_NOT_INITIALIZED = 0x091;
constexpr CK_RV CKR_TEMPLATE_INCOMPLETE = 0x0D0;
constexpr CK_RV CKR_USER_TYPE_INVALID = 0x103;
constexpr CK_RV CKR_WRAPPED_KEY_INVALID = 0x110;
constexpr CK_RV CKR_ACTION_PROHIBITED = 0x01B;
constexpr CK_ATTRIBUTE_TYPE CKA_LOCAL = 0x163;
constexpr CK_ATTRIBUTE_TYPE CKA_NEVER_EXTRACTABLE = 0x164;
constexpr CK_ATTRIBUTE_TYPE CKA_ALWAYS_SENSITIVE = 0x165;
constexpr CK_FLAGS CKF_TOKEN_INITIALIZED = 0x400;
constexpr CK_FLAGS CKF_USER_PIN_INITIALIZED = 0x008;

constexpr CK_SLOT_ID kSlotIds[2] = {1, 2};
constexpr const char kPin[] = "1234";

// DER identifiers of the parameter sets.
struct Named {
    std::vector<unsigned char> der;
    int nid;
};
const std::vector<Named>& curve_sets() {
    static const std::vector<Named> sets = {
        {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}, 283},
        {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x02}, 284},
        {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x03}, 285},
        {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00}, 286},
        {{0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x01}, 287},
    };
    return sets;
}
// Encryption parameter sets 1.2.643.2.2.31.1..4 (CryptoPro A..D).
const unsigned char* sbox_of(const unsigned char* der, std::size_t len) {
    static const unsigned char prefix[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F};
    if (len != 9 || std::memcmp(der, prefix, sizeof prefix) != 0) return nullptr;
    switch (der[8]) {
        case 1: return GOSTE_get_cp_sbox_A();
        case 2: return GOSTE_get_cp_sbox_B();
        case 3: return GOSTE_get_cp_sbox_C();
        case 4: return GOSTE_get_cp_sbox_D();
        default: return nullptr;
    }
}

using Bytes = std::vector<unsigned char>;

struct Wiped {
    Bytes v;
    ~Wiped() { OPENSSL_cleanse(v.data(), v.size()); }
};

struct Object {
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attrs;
    CK_SESSION_HANDLE owner = 0;  // session objects only
    ~Object() {
        for (auto& [t, v] : attrs) OPENSSL_cleanse(v.data(), v.size());
    }

    const Bytes* get(CK_ATTRIBUTE_TYPE t) const {
        auto it = attrs.find(t);
        return it == attrs.end() ? nullptr : &it->second;
    }
    CK_ULONG ulong_of(CK_ATTRIBUTE_TYPE t, CK_ULONG def) const {
        const Bytes* b = get(t);
        if (b == nullptr || b->size() != sizeof(CK_ULONG)) return def;
        CK_ULONG v;
        std::memcpy(&v, b->data(), sizeof v);
        return v;
    }
    bool flag(CK_ATTRIBUTE_TYPE t, bool def) const {
        const Bytes* b = get(t);
        return b == nullptr || b->size() != 1 ? def : (*b)[0] != 0;
    }
    void set_ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) {
        Bytes b(sizeof v);
        std::memcpy(b.data(), &v, sizeof v);
        attrs[t] = std::move(b);
    }
    void set_flag(CK_ATTRIBUTE_TYPE t, bool v) { attrs[t] = Bytes{static_cast<unsigned char>(v)}; }
};

struct Token {
    std::map<CK_OBJECT_HANDLE, std::unique_ptr<Object>> objects;
    bool logged_in = false;
};

enum class Op { None, Find, Sign, Digest };

struct Session {
    int slot = 0;
    std::uint64_t epoch = 0;  // the insertion the session belongs to
    Op op = Op::None;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t next = 0;
    CK_OBJECT_HANDLE key = 0;
};

std::recursive_mutex g_mutex;
bool g_initialized = false;
GostModuleControl g_control;
Token g_tokens[2];
std::map<CK_SESSION_HANDLE, Session> g_sessions;
CK_SESSION_HANDLE g_next_session = 1;
CK_OBJECT_HANDLE g_next_object = 1;
std::uint64_t g_epoch = 1;  // advances whenever the token is pulled
int g_digests = 0;          // hashes C_Digest has handed out

using Lock = std::lock_guard<std::recursive_mutex>;

Token& token() { return g_tokens[g_control.token & 1]; }
bool slot_has_token(CK_SLOT_ID id) { return id == kSlotIds[g_control.token_slot & 1]; }

// The token is pulled: every session dies with its session objects, the
// login is gone.
void pull_token() {
    ++g_epoch;
    g_sessions.clear();
    for (Token& t : g_tokens) {
        t.logged_in = false;
        for (auto it = t.objects.begin(); it != t.objects.end();) {
            it = it->second->owner != 0 ? t.objects.erase(it) : std::next(it);
        }
    }
}

// The session, when it is still valid.
Session* session_of(CK_SESSION_HANDLE h, CK_RV* rv) {
    if (!g_initialized) {
        *rv = CKR_CRYPTOKI_NOT_INITIALIZED;
        return nullptr;
    }
    auto it = g_sessions.find(h);
    if (it == g_sessions.end() || it->second.epoch != g_epoch) {
        *rv = CKR_SESSION_HANDLE_INVALID;
        return nullptr;
    }
    *rv = CKR_OK;
    return &it->second;
}

bool visible(const Object& o) { return token().logged_in || !o.flag(CKA_PRIVATE, false); }

Object* object_of(CK_OBJECT_HANDLE h) {
    auto it = token().objects.find(h);
    if (it == token().objects.end() || !visible(*it->second)) return nullptr;
    return it->second.get();
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

using EcgostPtr = std::unique_ptr<ECGOST, decltype(&ECGOST_free)>;

int curve_nid(const Bytes* der) {
    if (der == nullptr) return 0;
    for (const Named& n : curve_sets()) {
        if (n.der == *der) return n.nid;
    }
    return 0;
}

// The library key of a private-key object: its curve and private number.
EcgostPtr key_of(const Object& o) {
    EcgostPtr key(nullptr, ECGOST_free);
    const int nid = curve_nid(o.get(CKA_GOSTR3410_PARAMS));
    const Bytes* value = o.get(CKA_VALUE);
    if (nid == 0 || value == nullptr || value->size() != 32) return key;
    key.reset(ECGOST_new_by_curve(nullptr));
    if (!key || !ECGOST_set_curve_by_nid(key.get(), nid)) return EcgostPtr(nullptr, ECGOST_free);
    Wiped be{Bytes(value->rbegin(), value->rend())};
    BnPtr d(BN_bin2bn(be.v.data(), 32, nullptr));
    if (!d || !ECGOST_set_private(key.get(), d.get())) return EcgostPtr(nullptr, ECGOST_free);
    BN_clear(d.get());
    return key;
}

// GOST R 34.11-94 with the CryptoPro parameters, written as the library's
// hash writes it. The digest and the agreement mechanisms both hand it out
// least significant byte first, as a token does: the key transport of RFC
// 4490 uses the agreement reversed back as its KEK.
bool hash_cp(const unsigned char* data, std::size_t len, unsigned char* out32) {
    GOSTH ctx;
    if (!GOSTH_init_cp(&ctx, nullptr, GOSTH_get_cp_sbox())) return false;
    if (len > 0 && GOSTH_update(&ctx, data, static_cast<long>(len)) != static_cast<long>(len))
        return false;
    return GOSTH_final(&ctx, out32) == 32;
}

// The key-agreement value of RFC 4357: the hash of the point (UKM·d)·peer,
// written x then y, little-endian. ukm is little-endian.
bool vko(const Object& priv, const unsigned char* peer, std::size_t peer_len,
         const unsigned char* ukm, std::size_t ukm_len, unsigned char* out32) {
    EcgostPtr key = key_of(priv);
    if (!key || peer_len != 64 || ukm_len != 8) return false;
    EcPointPtr q(ECPOINT_le2point(key->curve, peer, peer_len, nullptr));
    std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(ECGOST_dup_ECDH(key.get()), ECDH_free);
    unsigned char be[8];
    std::reverse_copy(ukm, ukm + 8, be);
    BnPtr u(BN_bin2bn(be, 8, nullptr));
    if (!q || !dh || !u) return false;
    EcPointPtr k(ECDH_compute_vko(q.get(), u.get(), dh.get()));
    Wiped point{Bytes(64)};
    return k && ECPOINT_point2le(k.get(), point.v.data(), 64) == 64 &&
           hash_cp(point.v.data(), 64, out32);
}

CK_RV copy_template(Object& o, const CK_ATTRIBUTE* t, CK_ULONG n) {
    if (n > 0 && t == nullptr) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < n; ++i) {
        if (t[i].ulValueLen > 0 && t[i].pValue == nullptr) return CKR_ATTRIBUTE_VALUE_INVALID;
        const auto* p = static_cast<const unsigned char*>(t[i].pValue);
        o.attrs[t[i].type] = Bytes(p, p + t[i].ulValueLen);
    }
    return CKR_OK;
}

CK_OBJECT_HANDLE store(std::unique_ptr<Object> o, CK_SESSION_HANDLE session) {
    if (!o->flag(CKA_TOKEN, false)) o->owner = session;
    const CK_OBJECT_HANDLE h = g_next_object++;
    token().objects[h] = std::move(o);
    return h;
}

// ---- general and slot functions

CK_RV initialize(CK_VOID_PTR) {
    Lock l(g_mutex);
    if (g_initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    g_initialized = true;
    return CKR_OK;
}
CK_RV finalize(CK_VOID_PTR) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    pull_token();
    g_initialized = false;
    return CKR_OK;
}
void pad(unsigned char* dst, std::size_t n, const char* text) {
    std::memset(dst, ' ', n);
    std::memcpy(dst, text, std::min(n, std::strlen(text)));
}
CK_RV get_info(CK_INFO* info) {
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 20};
    pad(info->manufacturerID, sizeof info->manufacturerID, "cadb tests");
    pad(info->libraryDescription, sizeof info->libraryDescription, "GOST test module");
    return CKR_OK;
}
CK_RV get_slot_list(CK_BBOOL present, CK_SLOT_ID* slots, CK_ULONG* count) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<CK_SLOT_ID> ids;
    for (CK_SLOT_ID id : kSlotIds) {
        if (!present || slot_has_token(id)) ids.push_back(id);
    }
    if (slots != nullptr) {
        if (*count < ids.size()) {
            *count = ids.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(ids.begin(), ids.end(), slots);
    }
    *count = ids.size();
    return CKR_OK;
}
int slot_index(CK_SLOT_ID id) { return id == kSlotIds[0] ? 0 : id == kSlotIds[1] ? 1 : -1; }
CK_RV get_slot_info(CK_SLOT_ID id, CK_SLOT_INFO* info) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot_index(id) < 0) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    pad(info->slotDescription, sizeof info->slotDescription, "GOST test slot");
    pad(info->manufacturerID, sizeof info->manufacturerID, "cadb tests");
    info->flags = slot_has_token(id) ? CKF_TOKEN_PRESENT : 0;
    return CKR_OK;
}
CK_RV get_token_info(CK_SLOT_ID id, CK_TOKEN_INFO* info) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot_index(id) < 0) return CKR_SLOT_ID_INVALID;
    if (!slot_has_token(id)) return CKR_TOKEN_NOT_PRESENT;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    pad(info->label, sizeof info->label, g_control.token == 0 ? "gost token 0" : "gost token 1");
    pad(info->manufacturerID, sizeof info->manufacturerID, "cadb tests");
    pad(info->model, sizeof info->model, "memory");
    pad(info->serialNumber, sizeof info->serialNumber, g_control.token == 0 ? "0000" : "0001");
    info->flags = CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
    info->ulMaxSessionCount = CK_UNAVAILABLE_INFORMATION;
    info->ulMaxRwSessionCount = CK_UNAVAILABLE_INFORMATION;
    info->ulMaxPinLen = 32;
    info->ulMinPinLen = 4;
    info->ulTotalPublicMemory = info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    return CKR_OK;
}
std::vector<CK_MECHANISM_TYPE> mechanisms() {
    std::vector<CK_MECHANISM_TYPE> m = {CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410};
    if (g_control.offer_digest) m.push_back(CKM_GOSTR3411);
    if (g_control.offer_wrap) m.push_back(CKM_GOSTR3410_KEY_WRAP);
    if (g_control.offer_derive) m.push_back(CKM_GOSTR3410_DERIVE);
    return m;
}
bool offered(CK_MECHANISM_TYPE t) {
    const auto m = mechanisms();
    return std::find(m.begin(), m.end(), t) != m.end();
}
CK_RV get_mechanism_list(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot_index(id) < 0) return CKR_SLOT_ID_INVALID;
    if (!slot_has_token(id)) return CKR_TOKEN_NOT_PRESENT;
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    const auto m = mechanisms();
    if (list != nullptr) {
        if (*count < m.size()) {
            *count = m.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(m.begin(), m.end(), list);
    }
    *count = m.size();
    return CKR_OK;
}
CK_RV get_mechanism_info(CK_SLOT_ID id, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot_index(id) < 0) return CKR_SLOT_ID_INVALID;
    if (!offered(type)) return CKR_MECHANISM_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    *info = {256, 256, 0};
    return CKR_OK;
}

// ---- sessions and login

CK_RV open_session(CK_SLOT_ID id, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE* out) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot_index(id) < 0) return CKR_SLOT_ID_INVALID;
    if (!slot_has_token(id)) return CKR_TOKEN_NOT_PRESENT;
    if (out == nullptr || (flags & CKF_SERIAL_SESSION) == 0) return CKR_ARGUMENTS_BAD;
    const CK_SESSION_HANDLE h = g_next_session++;
    Session s;
    s.slot = slot_index(id);
    s.epoch = g_epoch;
    g_sessions[h] = s;
    *out = h;
    return CKR_OK;
}
void drop_session_objects(CK_SESSION_HANDLE h) {
    for (Token& t : g_tokens) {
        for (auto it = t.objects.begin(); it != t.objects.end();) {
            it = it->second->owner == h ? t.objects.erase(it) : std::next(it);
        }
    }
}
CK_RV close_session(CK_SESSION_HANDLE h) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    g_sessions.erase(h);
    drop_session_objects(h);
    // The last session closed logs the user out.
    if (g_sessions.empty()) token().logged_in = false;
    return CKR_OK;
}
CK_RV close_all_sessions(CK_SLOT_ID id) {
    Lock l(g_mutex);
    if (!g_initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    for (auto it = g_sessions.begin(); it != g_sessions.end();) {
        if (kSlotIds[it->second.slot] == id) {
            drop_session_objects(it->first);
            it = g_sessions.erase(it);
        } else {
            ++it;
        }
    }
    if (g_sessions.empty()) token().logged_in = false;
    return CKR_OK;
}
CK_RV get_session_info(CK_SESSION_HANDLE h, CK_SESSION_INFO* info) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->slotID = kSlotIds[s->slot];
    info->state = token().logged_in ? CKS_RW_USER_FUNCTIONS : 2;  // CKS_RW_PUBLIC_SESSION
    info->flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    return CKR_OK;
}
CK_RV login(CK_SESSION_HANDLE h, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG len) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (user != CKU_USER) return CKR_USER_TYPE_INVALID;
    if (token().logged_in) return CKR_USER_ALREADY_LOGGED_IN;
    if (pin == nullptr || len != std::strlen(kPin) || std::memcmp(pin, kPin, len) != 0)
        return CKR_PIN_INCORRECT;
    token().logged_in = true;
    return CKR_OK;
}
CK_RV logout(CK_SESSION_HANDLE h) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (!token().logged_in) return CKR_USER_NOT_LOGGED_IN;
    token().logged_in = false;
    return CKR_OK;
}

// ---- objects

CK_RV create_object(CK_SESSION_HANDLE h, CK_ATTRIBUTE* t, CK_ULONG n, CK_OBJECT_HANDLE* out) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    if (g_control.full) return kGostFullTokenRv;
    auto o = std::make_unique<Object>();
    if ((rv = copy_template(*o, t, n)) != CKR_OK) return rv;
    if (o->get(CKA_CLASS) == nullptr) return CKR_TEMPLATE_INCOMPLETE;
    const CK_ULONG cls = o->ulong_of(CKA_CLASS, CKO_DATA);
    if (cls == CKO_PRIVATE_KEY && !o->get(CKA_PRIVATE)) o->set_flag(CKA_PRIVATE, true);
    if (o->flag(CKA_PRIVATE, false) && !token().logged_in) return CKR_USER_NOT_LOGGED_IN;
    if (cls == CKO_PRIVATE_KEY || cls == CKO_PUBLIC_KEY) {
        if (o->ulong_of(CKA_KEY_TYPE, 0) != CKK_GOSTR3410) return CKR_KEY_TYPE_INCONSISTENT;
        if (curve_nid(o->get(CKA_GOSTR3410_PARAMS)) == 0) return CKR_TEMPLATE_INCOMPLETE;
        const Bytes* v = o->get(CKA_VALUE);
        if (v == nullptr || v->size() != (cls == CKO_PRIVATE_KEY ? 32u : 64u))
            return CKR_ATTRIBUTE_VALUE_INVALID;
        if (cls == CKO_PRIVATE_KEY) {
            if (!o->get(CKA_SENSITIVE)) o->set_flag(CKA_SENSITIVE, true);
            o->set_flag(CKA_LOCAL, false);
        }
    }
    *out = store(std::move(o), h);
    return CKR_OK;
}
CK_RV destroy_object(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE obj) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (object_of(obj) == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    token().objects.erase(obj);
    return CKR_OK;
}
bool hidden_value(const Object& o, CK_ATTRIBUTE_TYPE type) {
    const CK_ULONG cls = o.ulong_of(CKA_CLASS, CKO_DATA);
    if (type != CKA_VALUE) return false;
    if (cls == CKO_PRIVATE_KEY) return true;
    return cls == CKO_SECRET_KEY &&
           (o.flag(CKA_SENSITIVE, false) || !o.flag(CKA_EXTRACTABLE, true));
}
CK_RV get_attribute_value(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE obj, CK_ATTRIBUTE* t,
                          CK_ULONG n) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    const Object* o = object_of(obj);
    if (o == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    if (n > 0 && t == nullptr) return CKR_ARGUMENTS_BAD;
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < n; ++i) {
        const Bytes* v = o->get(t[i].type);
        if (hidden_value(*o, t[i].type)) {
            t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_SENSITIVE;
        } else if (v == nullptr) {
            t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (t[i].pValue == nullptr) {
            t[i].ulValueLen = v->size();
        } else if (t[i].ulValueLen < v->size()) {
            t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(t[i].pValue, v->data(), v->size());
            t[i].ulValueLen = v->size();
        }
    }
    return result;
}
CK_RV set_attribute_value(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE obj, CK_ATTRIBUTE* t, CK_ULONG n) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    Object* o = object_of(obj);
    if (o == nullptr) return CKR_OBJECT_HANDLE_INVALID;
    if (o->flag(CKA_PRIVATE, false) && !token().logged_in) return CKR_USER_NOT_LOGGED_IN;
    for (CK_ULONG i = 0; t != nullptr && i < n; ++i) {
        if (t[i].type == CKA_CLASS || t[i].type == CKA_KEY_TYPE ||
            (o->ulong_of(CKA_CLASS, CKO_DATA) == CKO_PRIVATE_KEY && t[i].type == CKA_VALUE))
            return CKR_ACTION_PROHIBITED;
    }
    return copy_template(*o, t, n);
}
bool matches(const Object& o, const std::vector<std::pair<CK_ATTRIBUTE_TYPE, Bytes>>& want) {
    for (const auto& [type, value] : want) {
        const Bytes* v = o.get(type);
        if (v == nullptr || *v != value || hidden_value(o, type)) return false;
    }
    return true;
}
CK_RV find_init(CK_SESSION_HANDLE h, CK_ATTRIBUTE* t, CK_ULONG n) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::None) return CKR_OPERATION_ACTIVE;
    if (g_control.refuse_find) return kGostRefusedSearchRv;
    if (n > 0 && t == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<std::pair<CK_ATTRIBUTE_TYPE, Bytes>> want;
    for (CK_ULONG i = 0; i < n; ++i) {
        const auto* p = static_cast<const unsigned char*>(t[i].pValue);
        if (t[i].ulValueLen > 0 && p == nullptr) return CKR_ATTRIBUTE_VALUE_INVALID;
        want.emplace_back(t[i].type, Bytes(p, p + t[i].ulValueLen));
    }
    s->found.clear();
    for (const auto& [handle, o] : token().objects) {
        if (visible(*o) && matches(*o, want)) s->found.push_back(handle);
    }
    s->next = 0;
    s->op = Op::Find;
    return CKR_OK;
}
CK_RV find_objects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* count) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::Find) return CKR_OPERATION_NOT_INITIALIZED;
    if (out == nullptr || count == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG n = 0;
    while (n < max && s->next < s->found.size()) out[n++] = s->found[s->next++];
    *count = n;
    return CKR_OK;
}
CK_RV find_final(CK_SESSION_HANDLE h) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::Find) return CKR_OPERATION_NOT_INITIALIZED;
    s->op = Op::None;
    s->found.clear();
    return CKR_OK;
}

// ---- key generation, signing, hashing

CK_RV generate_key_pair(CK_SESSION_HANDLE h, CK_MECHANISM* m, CK_ATTRIBUTE* pub_t,
                        CK_ULONG pub_n, CK_ATTRIBUTE* priv_t, CK_ULONG priv_n,
                        CK_OBJECT_HANDLE* pub_out, CK_OBJECT_HANDLE* priv_out) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (m == nullptr || pub_out == nullptr || priv_out == nullptr) return CKR_ARGUMENTS_BAD;
    if (m->mechanism != CKM_GOSTR3410_KEY_PAIR_GEN) return CKR_MECHANISM_INVALID;
    auto pub = std::make_unique<Object>();
    auto priv = std::make_unique<Object>();
    if ((rv = copy_template(*pub, pub_t, pub_n)) != CKR_OK ||
        (rv = copy_template(*priv, priv_t, priv_n)) != CKR_OK)
        return rv;
    if (!priv->get(CKA_PRIVATE)) priv->set_flag(CKA_PRIVATE, true);
    if ((priv->flag(CKA_PRIVATE, true) || pub->flag(CKA_PRIVATE, false)) && !token().logged_in)
        return CKR_USER_NOT_LOGGED_IN;
    const int nid = curve_nid(pub->get(CKA_GOSTR3410_PARAMS));
    if (nid == 0) return CKR_TEMPLATE_INCOMPLETE;
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
    Wiped point{Bytes(64)};
    if (!ECGOST_set_private(key.get(), dn.get()) || !ECGOST_generate_pubkey(key.get()) ||
        BN_bn2lebinpad(dn.get(), d.v.data(), 32) != 32 ||
        ECPOINT_point2le(key->Q.get(), point.v.data(), 64) != 64)
        return CKR_GENERAL_ERROR;
    BN_clear(dn.get());
    for (Object* o : {pub.get(), priv.get()}) {
        o->set_ulong(CKA_KEY_TYPE, CKK_GOSTR3410);
        o->set_flag(CKA_LOCAL, true);
        for (CK_ATTRIBUTE_TYPE a : {CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS,
                                    CKA_GOST28147_PARAMS}) {
            if (pub->get(a) && !o->get(a)) o->attrs[a] = *pub->get(a);
        }
    }
    pub->set_ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub->attrs[CKA_VALUE] = point.v;
    priv->set_ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv->attrs[CKA_VALUE] = d.v;
    if (!priv->get(CKA_SENSITIVE)) priv->set_flag(CKA_SENSITIVE, true);
    priv->set_flag(CKA_ALWAYS_SENSITIVE, priv->flag(CKA_SENSITIVE, true));
    priv->set_flag(CKA_NEVER_EXTRACTABLE, !priv->flag(CKA_EXTRACTABLE, false));
    *pub_out = store(std::move(pub), h);
    *priv_out = store(std::move(priv), h);
    return CKR_OK;
}

// A private key of this token the session may use for the given purpose.
CK_RV usable_key(CK_OBJECT_HANDLE k, CK_ATTRIBUTE_TYPE purpose, const Object** out) {
    if (!token().logged_in) return CKR_USER_NOT_LOGGED_IN;
    const Object* o = object_of(k);
    if (o == nullptr) return CKR_KEY_HANDLE_INVALID;
    if (o->ulong_of(CKA_CLASS, 0) != CKO_PRIVATE_KEY ||
        o->ulong_of(CKA_KEY_TYPE, 0) != CKK_GOSTR3410)
        return CKR_KEY_TYPE_INCONSISTENT;
    if (!o->flag(purpose, false)) return CKR_KEY_FUNCTION_NOT_PERMITTED;
    *out = o;
    return CKR_OK;
}

CK_RV sign_init(CK_SESSION_HANDLE h, CK_MECHANISM* m, CK_OBJECT_HANDLE k) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::None) return CKR_OPERATION_ACTIVE;
    if (m == nullptr) return CKR_ARGUMENTS_BAD;
    if (m->mechanism != CKM_GOSTR3410) return CKR_MECHANISM_INVALID;
    const Object* o = nullptr;
    if ((rv = usable_key(k, CKA_SIGN, &o)) != CKR_OK) return rv;
    s->op = Op::Sign;
    s->key = k;
    return CKR_OK;
}
// The signature of a 32-byte digest given least significant byte first, as
// the concatenation s || r, each 32 bytes most significant byte first.
CK_RV sign(CK_SESSION_HANDLE h, CK_BYTE* data, CK_ULONG len, CK_BYTE* sig, CK_ULONG* sig_len) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::Sign) return CKR_OPERATION_NOT_INITIALIZED;
    if (sig_len == nullptr || data == nullptr) return CKR_ARGUMENTS_BAD;
    if (sig == nullptr) {
        *sig_len = 64;
        return CKR_OK;
    }
    if (g_control.lie_sign_len != 0) {
        *sig_len = g_control.lie_sign_len;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (*sig_len < 64) {
        *sig_len = 64;
        return CKR_BUFFER_TOO_SMALL;
    }
    s->op = Op::None;
    if (len != 32) return CKR_DATA_LEN_RANGE;
    const Object* o = object_of(s->key);
    if (o == nullptr) return CKR_KEY_HANDLE_INVALID;
    EcgostPtr key = key_of(*o);
    unsigned char digest[32], k[32];
    std::reverse_copy(data, data + 32, digest);
    std::size_t out_len = 64;
    const bool ok = key && random_bytes(k, sizeof k) &&
                    ECGOST_sign_setup(key.get(), k, sizeof k, nullptr, nullptr) &&
                    ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest, 32, sig, &out_len, key.get());
    OPENSSL_cleanse(k, sizeof k);
    if (!ok || out_len != 64) return CKR_GENERAL_ERROR;
    *sig_len = 64;
    return CKR_OK;
}

CK_RV digest_init(CK_SESSION_HANDLE h, CK_MECHANISM* m) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::None) return CKR_OPERATION_ACTIVE;
    if (m == nullptr) return CKR_ARGUMENTS_BAD;
    if (m->mechanism != CKM_GOSTR3411 || !offered(m->mechanism)) return CKR_MECHANISM_INVALID;
    s->op = Op::Digest;
    return CKR_OK;
}
CK_RV digest(CK_SESSION_HANDLE h, CK_BYTE* data, CK_ULONG len, CK_BYTE* out, CK_ULONG* out_len) {
    Lock l(g_mutex);
    CK_RV rv;
    Session* s = session_of(h, &rv);
    if (s == nullptr) return rv;
    if (s->op != Op::Digest) return CKR_OPERATION_NOT_INITIALIZED;
    if (out_len == nullptr || (data == nullptr && len > 0)) return CKR_ARGUMENTS_BAD;
    if (out == nullptr) {
        *out_len = 32 + g_control.lie_digest_len;
        return CKR_OK;
    }
    if (*out_len < 32) {
        *out_len = 32;
        return CKR_BUFFER_TOO_SMALL;
    }
    s->op = Op::None;
    if (!hash_cp(data, len, out)) return CKR_GENERAL_ERROR;
    std::reverse(out, out + 32);
    ++g_digests;
    *out_len = 32 + g_control.lie_digest_len;
    return CKR_OK;
}

// ---- agreement and key transport

// A session secret key holding a 32-byte value, from the caller's template.
CK_RV new_secret(CK_SESSION_HANDLE h, CK_ATTRIBUTE* t, CK_ULONG n, const unsigned char* value,
                 CK_OBJECT_HANDLE* out) {
    auto o = std::make_unique<Object>();
    CK_RV rv = copy_template(*o, t, n);
    if (rv != CKR_OK) return rv;
    if (o->ulong_of(CKA_CLASS, CKO_SECRET_KEY) != CKO_SECRET_KEY) return CKR_TEMPLATE_INCOMPLETE;
    o->set_ulong(CKA_CLASS, CKO_SECRET_KEY);
    if (!o->get(CKA_KEY_TYPE)) o->set_ulong(CKA_KEY_TYPE, CKK_GOST28147);
    if (!o->get(CKA_SENSITIVE)) o->set_flag(CKA_SENSITIVE, true);
    if (!o->get(CKA_EXTRACTABLE)) o->set_flag(CKA_EXTRACTABLE, false);
    o->attrs[CKA_VALUE] = Bytes(value, value + 32);
    *out = store(std::move(o), h);
    return CKR_OK;
}

CK_RV derive_key(CK_SESSION_HANDLE h, CK_MECHANISM* m, CK_OBJECT_HANDLE base, CK_ATTRIBUTE* t,
                 CK_ULONG n, CK_OBJECT_HANDLE* out) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (m == nullptr || out == nullptr) return CKR_ARGUMENTS_BAD;
    if (m->mechanism != CKM_GOSTR3410_DERIVE || !offered(m->mechanism))
        return CKR_MECHANISM_INVALID;
    if (m->pParameter == nullptr || m->ulParameterLen != sizeof(CK_GOSTR3410_DERIVE_PARAMS))
        return CKR_MECHANISM_PARAM_INVALID;
    const auto* p = static_cast<const CK_GOSTR3410_DERIVE_PARAMS*>(m->pParameter);
    if (p->kdf != CKD_NULL || p->pPublicData == nullptr || p->ulPublicDataLen != 64 ||
        p->pUKM == nullptr || p->ulUKMLen != 8)
        return CKR_MECHANISM_PARAM_INVALID;
    const Object* o = nullptr;
    if ((rv = usable_key(base, CKA_DERIVE, &o)) != CKR_OK) return rv;
    Wiped kek{Bytes(32)};
    if (!vko(*o, p->pPublicData, 64, p->pUKM, 8, kek.v.data())) return CKR_MECHANISM_PARAM_INVALID;
    std::reverse(kek.v.begin(), kek.v.end());
    return new_secret(h, t, n, kek.v.data(), out);
}

// A minimal DER reader over the key-transport structure.
struct Der {
    const unsigned char* p;
    const unsigned char* end;
    // The next element of that tag: its contents in [*c, *c + *len).
    bool take(unsigned char tag, const unsigned char** c, std::size_t* len) {
        if (end - p < 2 || p[0] != tag) return false;
        std::size_t l = p[1];
        const unsigned char* q = p + 2;
        if (l & 0x80) {
            const std::size_t n = l & 0x7F;
            if (n == 0 || n > 2 || static_cast<std::size_t>(end - q) < n) return false;
            l = 0;
            for (std::size_t i = 0; i < n; ++i) l = (l << 8) | *q++;
        }
        if (static_cast<std::size_t>(end - q) < l) return false;
        *c = q;
        *len = l;
        p = q + l;
        return true;
    }
    bool peek(unsigned char tag) const { return p < end && p[0] == tag; }
};

// GostR3410-KeyTransport: encrypted key, MAC, cipher parameters, the
// ephemeral public key (x || y little-endian) and the UKM.
struct Transport {
    const unsigned char* enc;  // 32
    const unsigned char* mac;  // 4
    const unsigned char* sbox;
    const unsigned char* eph;  // 64
    const unsigned char* ukm;  // 8
};
bool parse_transport(const unsigned char* in, std::size_t len, Transport* t) {
    Der top{in, in + len};
    const unsigned char *c, *x;
    std::size_t n, m;
    if (!top.take(0x30, &c, &n) || top.p != top.end) return false;
    Der seq{c, c + n};
    if (!seq.take(0x30, &c, &n)) return false;
    Der key{c, c + n};
    if (!key.take(0x04, &t->enc, &m) || m != 32) return false;
    if (key.peek(0x80) && !key.take(0x80, &x, &m)) return false;
    if (!key.take(0x04, &t->mac, &m) || m != 4 || key.p != key.end) return false;
    if (!seq.take(0xA0, &c, &n) || seq.p != seq.end) return false;
    Der params{c, c + n};
    if (!params.take(0x06, &x, &m)) return false;
    unsigned char oid[9] = {0x06, 0x07};
    if (m != 7) return false;
    std::memcpy(oid + 2, x, 7);
    t->sbox = sbox_of(oid, sizeof oid);
    if (t->sbox == nullptr) return false;
    if (!params.take(0xA0, &c, &n)) return false;  // the ephemeral key is required here
    Der spki{c, c + n};
    if (!spki.take(0x30, &x, &m)) return false;  // algorithm
    if (!spki.take(0x03, &x, &m) || m < 1 || x[0] != 0) return false;
    Der bits{x + 1, x + m};
    if (!bits.take(0x04, &t->eph, &m) || m != 64) return false;
    if (!params.take(0x04, &t->ukm, &m) || m != 8 || params.p != params.end) return false;
    return true;
}

CK_RV unwrap_key(CK_SESSION_HANDLE h, CK_MECHANISM* m, CK_OBJECT_HANDLE unwrapping,
                 CK_BYTE* wrapped, CK_ULONG wrapped_len, CK_ATTRIBUTE* t, CK_ULONG n,
                 CK_OBJECT_HANDLE* out) {
    Lock l(g_mutex);
    CK_RV rv;
    if (session_of(h, &rv) == nullptr) return rv;
    if (m == nullptr || out == nullptr || wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    if (m->mechanism != CKM_GOSTR3410_KEY_WRAP || !offered(m->mechanism))
        return CKR_MECHANISM_INVALID;
    if (m->pParameter == nullptr || m->ulParameterLen != sizeof(CK_GOSTR3410_KEY_WRAP_PARAMS))
        return CKR_MECHANISM_PARAM_INVALID;
    const auto* p = static_cast<const CK_GOSTR3410_KEY_WRAP_PARAMS*>(m->pParameter);
    // This module takes everything from the key-transport structure.
    if (p->pWrapOID != nullptr || p->pUKM != nullptr || p->hKey != 0)
        return CKR_MECHANISM_PARAM_INVALID;
    const Object* o = nullptr;
    if ((rv = usable_key(unwrapping, CKA_UNWRAP, &o)) != CKR_OK) return rv;
    Transport tr{};
    if (!parse_transport(wrapped, wrapped_len, &tr)) return CKR_WRAPPED_KEY_INVALID;
    Wiped kek{Bytes(32)}, kek_ukm{Bytes(32)}, cek{Bytes(32)};
    if (!vko(*o, tr.eph, 64, tr.ukm, 8, kek.v.data())) return CKR_WRAPPED_KEY_INVALID;
    std::unique_ptr<GOSTE, decltype(&GOSTE_free)> ctx(GOSTE_new(), GOSTE_free);
    unsigned char mac[4];
    if (!ctx || GOSTE_key_diversify(tr.ukm, kek.v.data(), kek_ukm.v.data(), tr.sbox) == nullptr ||
        GOSTE_ss_init(ctx.get(), 0, kek_ukm.v.data(), tr.sbox) != 1 ||
        GOSTE_ss_process(ctx.get(), tr.enc, cek.v.data(), 32) != 32)
        return CKR_GENERAL_ERROR;
    ctx.reset(GOSTE_new());
    if (!ctx || GOSTE_mac_init_iv(ctx.get(), kek_ukm.v.data(), tr.ukm, tr.sbox) != 1 ||
        GOSTE_mac_update(ctx.get(), cek.v.data(), nullptr, 32) != 32 ||
        GOSTE_mac_final(ctx.get(), mac, 32) != 4)
        return CKR_GENERAL_ERROR;
    if (CRYPTO_memcmp(mac, tr.mac, 4) != 0) return CKR_WRAPPED_KEY_INVALID;
    return new_secret(h, t, n, cek.v.data(), out);
}

CK_FUNCTION_LIST make_list() {
    CK_FUNCTION_LIST f{};
    f.version = {2, 20};
    f.C_Initialize = initialize;
    f.C_Finalize = finalize;
    f.C_GetInfo = get_info;
    f.C_GetSlotList = get_slot_list;
    f.C_GetSlotInfo = get_slot_info;
    f.C_GetTokenInfo = get_token_info;
    f.C_GetMechanismList = get_mechanism_list;
    f.C_GetMechanismInfo = get_mechanism_info;
    f.C_OpenSession = open_session;
    f.C_CloseSession = close_session;
    f.C_CloseAllSessions = close_all_sessions;
    f.C_GetSessionInfo = get_session_info;
    f.C_Login = login;
    f.C_Logout = logout;
    f.C_CreateObject = create_object;
    f.C_DestroyObject = destroy_object;
    f.C_GetAttributeValue = get_attribute_value;
    f.C_SetAttributeValue = set_attribute_value;
    f.C_FindObjectsInit = find_init;
    f.C_FindObjects = find_objects;
    f.C_FindObjectsFinal = find_final;
    f.C_DigestInit = digest_init;
    f.C_Digest = digest;
    f.C_SignInit = sign_init;
    f.C_Sign = sign;
    f.C_GenerateKeyPair = generate_key_pair;
    f.C_UnwrapKey = unwrap_key;
    f.C_DeriveKey = derive_key;
    return f;
}

CK_FUNCTION_LIST g_list = make_list();

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    *list = &g_list;
    return CKR_OK;
}

__attribute__((visibility("default"))) void cadb_gost_control(const GostModuleControl* c) {
    Lock l(g_mutex);
    const bool moved = c->token_slot != g_control.token_slot || c->token != g_control.token;
    g_control = *c;
    if (moved || c->pull) pull_token();
    g_control.pull = 0;
}

__attribute__((visibility("default"))) void cadb_gost_reset() {
    Lock l(g_mutex);
    pull_token();
    g_control = GostModuleControl{};
    g_digests = 0;
    for (Token& t : g_tokens) t.objects.clear();
}

__attribute__((visibility("default"))) int cadb_gost_count(CK_OBJECT_CLASS cls) {
    Lock l(g_mutex);
    int n = 0;
    for (const auto& [h, o] : token().objects) n += o->ulong_of(CKA_CLASS, CKO_DATA) == cls;
    return n;
}

__attribute__((visibility("default"))) int cadb_gost_digests() {
    Lock l(g_mutex);
    return g_digests;
}
}
