#include "crypto/pkcs11/pkcs11_template.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "crypto/core/objects.h"
#include "crypto/pkcs11/pkcs11_local.h"

namespace cadb {
namespace {

using Oid = std::array<unsigned char, 9>;

// DER of the parameter-set identifiers: tag 06, length 07, the content.
constexpr Oid kParamsA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};       // 35.1
constexpr Oid kParamsB = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x02};       // 35.2
constexpr Oid kParamsC = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x03};       // 35.3
constexpr Oid kParamsXA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00};      // 36.0
constexpr Oid kParamsXB = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x01};      // 36.1
constexpr Oid kDigestParams = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};  // 30.1
constexpr Oid kCipherParams = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};  // 31.1

const Oid& gost_params(int nid) {
    switch (nid) {
        case NID_R3410_2001_B_PARAMSET:
            return kParamsB;
        case NID_R3410_2001_C_PARAMSET:
            return kParamsC;
        case NID_R3410_2001_XCHA_PARAMSET:
            return kParamsXA;
        case NID_R3410_2001_XCHB_PARAMSET:
            return kParamsXB;
        default:
            return kParamsA;
    }
}

// One attribute of a fixed template.
struct Entry {
    enum Kind { ULONG, BOOL, TEXT, OID } kind;
    CK_ATTRIBUTE_TYPE type;
    CK_ULONG number = 0;
    const char* text = nullptr;
    const Oid* oid = nullptr;
};

Entry ulong_of(CK_ATTRIBUTE_TYPE type, CK_ULONG v) { return {Entry::ULONG, type, v}; }
Entry bool_of(CK_ATTRIBUTE_TYPE type, bool v) { return {Entry::BOOL, type, v ? 1UL : 0UL}; }
Entry text_of(CK_ATTRIBUTE_TYPE type, const char* s) { return {Entry::TEXT, type, 0, s}; }
Entry oid_of(CK_ATTRIBUTE_TYPE type, const Oid& o) { return {Entry::OID, type, 0, nullptr, &o}; }

PKCS11_TEMPLATE* build(int func, std::initializer_list<Entry> entries) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
    if (!t) {
        PKCS11_ERR(func, ERR_R_MALLOC);
        return nullptr;
    }
    for (const Entry& e : entries) {
        int ok = 0;
        switch (e.kind) {
            case Entry::ULONG:
                ok = PKCS11_TEMPLATE_add_ulong(t.get(), e.type, e.number);
                break;
            case Entry::BOOL:
                ok = PKCS11_TEMPLATE_add_bool(t.get(), e.type, e.number != 0);
                break;
            case Entry::TEXT:
                ok = PKCS11_TEMPLATE_add_text(t.get(), e.type, e.text);
                break;
            case Entry::OID:
                ok = PKCS11_TEMPLATE_add(t.get(), e.type, e.oid->data(), e.oid->size());
                break;
        }
        if (!ok) {
            PKCS11_ERR(func, ERR_R_MALLOC);
            return nullptr;
        }
    }
    return t.release();
}

}  // namespace

PKCS11_TEMPLATE* PKCS11_TEMPLATE_new() {
    auto* t = new (std::nothrow) PKCS11_TEMPLATE;
    if (t == nullptr) PKCS11_ERR(PKCS11_F_PKCS11_TEMPLATE_NEW, ERR_R_MALLOC);
    return t;
}

int PKCS11_TEMPLATE_add(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, const void* value,
                        CK_ULONG length) {
    constexpr int F = PKCS11_F_PKCS11_TEMPLATE_ADD;
    if (t == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    try {
        std::vector<unsigned char> copy(length, 0);
        if (value != nullptr && length != 0) std::memcpy(copy.data(), value, length);
        std::size_t i = 0;
        while (i < t->attributes.size() && t->attributes[i].type != type) ++i;
        if (i == t->attributes.size()) {
            t->attributes.reserve(i + 1);
            t->values.reserve(i + 1);
            t->attributes.push_back({type, nullptr, 0});
            t->values.emplace_back();
        } else if (!t->values[i].empty()) {
            OPENSSL_cleanse(t->values[i].data(), t->values[i].size());
        }
        t->values[i] = std::move(copy);
        t->attributes[i].pValue = t->values[i].empty() ? nullptr : t->values[i].data();
        t->attributes[i].ulValueLen = length;
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

int PKCS11_TEMPLATE_add_ulong(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    return PKCS11_TEMPLATE_add(t, type, &value, sizeof value);
}

int PKCS11_TEMPLATE_add_bool(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, bool value) {
    const CK_BBOOL b = value ? CK_TRUE : CK_FALSE;
    return PKCS11_TEMPLATE_add(t, type, &b, sizeof b);
}

int PKCS11_TEMPLATE_add_text(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, const char* text) {
    if (text == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_TEMPLATE_ADD, ERR_R_NULL_PARAMETER);
        return 0;
    }
    return PKCS11_TEMPLATE_add(t, type, text, std::strlen(text));
}

CK_ATTRIBUTE* PKCS11_TEMPLATE_find(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type) {
    if (t == nullptr) return nullptr;
    for (CK_ATTRIBUTE& a : t->attributes) {
        if (a.type == type) return &a;
    }
    return nullptr;
}

void PKCS11_TEMPLATE_free(PKCS11_TEMPLATE* t) {
    if (t == nullptr) return;
    for (auto& v : t->values) {
        if (!v.empty()) OPENSSL_cleanse(v.data(), v.size());
    }
    delete t;
}

int PKCS11_TEMPLATE_add_gost_params(PKCS11_TEMPLATE* t, int nid) {
    if (t == nullptr) return 0;
    const Oid& oid = gost_params(nid);
    return PKCS11_TEMPLATE_add(t, CKA_GOSTR3410_PARAMS, oid.data(), oid.size());
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_private_keys() {
    return build(PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEYS,
                 {ulong_of(CKA_CLASS, CKO_PRIVATE_KEY), bool_of(CKA_TOKEN, true)});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_public_keys() {
    return build(PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEYS,
                 {ulong_of(CKA_CLASS, CKO_PUBLIC_KEY), bool_of(CKA_TOKEN, true)});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_certificates() {
    return build(PKCS11_F_PKCS11_TEMPLATE_CERTIFICATES,
                 {ulong_of(CKA_CLASS, CKO_CERTIFICATE), ulong_of(CKA_CERTIFICATE_TYPE, CKC_X_509),
                  bool_of(CKA_TOKEN, true)});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_public_key(int kind) {
    constexpr int F = PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEY;
    if ((kind & PKCS11_KEY_GENERATION) != 0) {
        return build(
            F, {bool_of(CKA_TOKEN, true), bool_of(CKA_VERIFY, true),
                oid_of(CKA_GOSTR3410_PARAMS, kParamsA), oid_of(CKA_GOSTR3411_PARAMS, kDigestParams),
                oid_of(CKA_GOST28147_PARAMS, kCipherParams),
                text_of(CKA_LABEL, "Temporary public key object")});
    }
    return build(F, {ulong_of(CKA_CLASS, CKO_PUBLIC_KEY), ulong_of(CKA_KEY_TYPE, CKK_GOSTR3410),
                     bool_of(CKA_TOKEN, true), bool_of(CKA_VERIFY, true),
                     text_of(CKA_LABEL, "Halberd public key object")});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_private_key(int kind) {
    constexpr int F = PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEY;
    if ((kind & PKCS11_KEY_GENERATION) != 0) {
        return build(
            F, {bool_of(CKA_TOKEN, true), bool_of(CKA_PRIVATE, true), bool_of(CKA_SENSITIVE, true),
                bool_of(CKA_EXTRACTABLE, false), bool_of(CKA_SIGN, true),
                text_of(CKA_LABEL, "Temporary private key object")});
    }
    return build(F, {ulong_of(CKA_CLASS, CKO_PRIVATE_KEY), ulong_of(CKA_KEY_TYPE, CKK_GOSTR3410),
                     bool_of(CKA_TOKEN, true), bool_of(CKA_PRIVATE, true),
                     bool_of(CKA_SENSITIVE, true), bool_of(CKA_EXTRACTABLE, false),
                     bool_of(CKA_SIGN, true), text_of(CKA_LABEL, "Halberd private key object")});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_derived_key() {
    return build(PKCS11_F_PKCS11_TEMPLATE_DERIVED_KEY,
                 {ulong_of(CKA_CLASS, CKO_SECRET_KEY), ulong_of(CKA_KEY_TYPE, CKK_GOST28147),
                  bool_of(CKA_TOKEN, false), bool_of(CKA_SENSITIVE, false),
                  bool_of(CKA_EXTRACTABLE, true), oid_of(CKA_GOST28147_PARAMS, kCipherParams)});
}

PKCS11_TEMPLATE* PKCS11_TEMPLATE_unwrapped_key() { return PKCS11_TEMPLATE_derived_key(); }

PKCS11_TEMPLATE* PKCS11_TEMPLATE_data() {
    return build(PKCS11_F_PKCS11_TEMPLATE_DATA,
                 {ulong_of(CKA_CLASS, CKO_DATA), bool_of(CKA_TOKEN, true),
                  text_of(CKA_APPLICATION, "Halberd software")});
}

}  // namespace cadb
