#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs11/pkcs11_template.h"

namespace cadb {
namespace {

std::string value_text(const CK_ATTRIBUTE& a) {
    return std::string(static_cast<const char*>(a.pValue), a.ulValueLen);
}
CK_ULONG value_ulong(const CK_ATTRIBUTE& a) {
    CK_ULONG v = 0;
    EXPECT_EQ(a.ulValueLen, sizeof v);
    std::memcpy(&v, a.pValue, sizeof v);
    return v;
}
int value_bool(const CK_ATTRIBUTE& a) {
    EXPECT_EQ(a.ulValueLen, 1U);
    return *static_cast<const CK_BBOOL*>(a.pValue);
}
// The dotted form of a DER-encoded object identifier value.
std::string oid_text(const CK_ATTRIBUTE& a) {
    const auto* p = static_cast<const unsigned char*>(a.pValue);
    ASN1_OBJECT* obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(a.ulValueLen));
    if (obj == nullptr) return "undecodable";
    EXPECT_EQ(p, static_cast<const unsigned char*>(a.pValue) + a.ulValueLen);
    std::array<char, 64> buf{};
    OBJ_obj2txt(buf.data(), buf.size(), obj, 1);
    ASN1_OBJECT_free(obj);
    return buf.data();
}
std::vector<CK_ATTRIBUTE_TYPE> types(const PKCS11_TEMPLATE* t) {
    std::vector<CK_ATTRIBUTE_TYPE> out;
    for (const auto& a : t->attributes) out.push_back(a.type);
    return out;
}

TEST(Template, AddReplacesAndGrows) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
    ASSERT_TRUE(t);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, "first"), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CLASS, CKO_DATA), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, "a longer second value"), 1);
    ASSERT_EQ(t->count(), 2U);
    EXPECT_EQ(t->attributes[0].type, CKA_LABEL);
    EXPECT_EQ(value_text(t->attributes[0]), "a longer second value");
    EXPECT_EQ(PKCS11_TEMPLATE_find(t.get(), CKA_CLASS), &t->attributes[1]);
    EXPECT_EQ(PKCS11_TEMPLATE_find(t.get(), CKA_ID), nullptr);
    EXPECT_EQ(PKCS11_TEMPLATE_find(nullptr, CKA_ID), nullptr);

    // Many additions move the array; every value pointer stays with its own.
    for (CK_ATTRIBUTE_TYPE type = 0x1000; type < 0x1040; ++type) {
        ASSERT_EQ(PKCS11_TEMPLATE_add_ulong(t.get(), type, type * 3), 1);
    }
    for (CK_ATTRIBUTE_TYPE type = 0x1000; type < 0x1040; ++type) {
        EXPECT_EQ(value_ulong(*PKCS11_TEMPLATE_find(t.get(), type)), type * 3);
    }
    EXPECT_EQ(value_text(t->attributes[0]), "a longer second value");
}

TEST(Template, ZeroFilledRoomAndEmptyValues) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
    ASSERT_EQ(PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, nullptr, 37), 1);
    const CK_ATTRIBUTE* a = PKCS11_TEMPLATE_find(t.get(), CKA_VALUE);
    ASSERT_NE(a->pValue, nullptr);
    ASSERT_EQ(a->ulValueLen, 37U);
    const auto* bytes = static_cast<const unsigned char*>(a->pValue);
    for (int i = 0; i < 37; ++i) EXPECT_EQ(bytes[i], 0);
    ASSERT_EQ(PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, "ignored", 0), 1);
    EXPECT_EQ(a->pValue, nullptr);
    EXPECT_EQ(a->ulValueLen, 0U);
    // A token call may leave "unavailable" in a length; freeing still works
    // from the template's own record of what it owns.
    ASSERT_EQ(PKCS11_TEMPLATE_add(t.get(), CKA_ID, "xyz", 3), 1);
    PKCS11_TEMPLATE_find(t.get(), CKA_ID)->ulValueLen = CK_UNAVAILABLE_INFORMATION;
}

TEST(Template, NullArguments) {
    ERR_clear_error();
    EXPECT_EQ(PKCS11_TEMPLATE_add(nullptr, CKA_ID, "x", 1), 0);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_R_NULL_PARAMETER);
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
    EXPECT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, nullptr), 0);
    EXPECT_EQ(PKCS11_TEMPLATE_add_gost_params(nullptr, NID_R3410_2001_A_PARAMSET), 0);
    PKCS11_TEMPLATE_free(nullptr);
    ERR_clear_error();
}

TEST(Template, GostParameterSets) {
    const std::pair<int, const char*> sets[] = {
        {NID_R3410_2001_A_PARAMSET, "1.2.643.2.2.35.1"},
        {NID_R3410_2001_B_PARAMSET, "1.2.643.2.2.35.2"},
        {NID_R3410_2001_C_PARAMSET, "1.2.643.2.2.35.3"},
        {NID_R3410_2001_XCHA_PARAMSET, "1.2.643.2.2.36.0"},
        {NID_R3410_2001_XCHB_PARAMSET, "1.2.643.2.2.36.1"},
        {0, "1.2.643.2.2.35.1"},
        {999, "1.2.643.2.2.35.1"},
    };
    for (const auto& [nid, oid] : sets) {
        PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
        ASSERT_EQ(PKCS11_TEMPLATE_add_gost_params(t.get(), nid), 1);
        ASSERT_EQ(t->count(), 1U);
        EXPECT_EQ(t->attributes[0].type, CKA_GOSTR3410_PARAMS);
        EXPECT_EQ(t->attributes[0].ulValueLen, 9U);
        EXPECT_EQ(oid_text(t->attributes[0]), oid) << nid;
    }
}

TEST(Template, SearchTemplates) {
    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_private_keys());
    EXPECT_EQ(types(priv.get()), (std::vector<CK_ATTRIBUTE_TYPE>{CKA_CLASS, CKA_TOKEN}));
    EXPECT_EQ(value_ulong(priv->attributes[0]), CKO_PRIVATE_KEY);
    EXPECT_EQ(value_bool(priv->attributes[1]), 1);
    PKCS11_TEMPLATE_ptr pub(PKCS11_TEMPLATE_public_keys());
    EXPECT_EQ(value_ulong(pub->attributes[0]), CKO_PUBLIC_KEY);
    EXPECT_EQ(value_bool(pub->attributes[1]), 1);
    PKCS11_TEMPLATE_ptr certs(PKCS11_TEMPLATE_certificates());
    EXPECT_EQ(types(certs.get()),
              (std::vector<CK_ATTRIBUTE_TYPE>{CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_TOKEN}));
    EXPECT_EQ(value_ulong(certs->attributes[0]), CKO_CERTIFICATE);
    EXPECT_EQ(value_ulong(certs->attributes[1]), CKC_X_509);
}

TEST(Template, StoredAndGeneratedKeys) {
    PKCS11_TEMPLATE_ptr pub(PKCS11_TEMPLATE_public_key(PKCS11_KEY_STORED));
    EXPECT_EQ(types(pub.get()), (std::vector<CK_ATTRIBUTE_TYPE>{CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN,
                                                                CKA_VERIFY, CKA_LABEL}));
    EXPECT_EQ(value_ulong(pub->attributes[1]), CKK_GOSTR3410);
    EXPECT_EQ(value_text(pub->attributes[4]), "Halberd public key object");

    PKCS11_TEMPLATE_ptr gen_pub(PKCS11_TEMPLATE_public_key(PKCS11_KEY_GENERATION));
    EXPECT_EQ(types(gen_pub.get()), (std::vector<CK_ATTRIBUTE_TYPE>{
                                        CKA_TOKEN, CKA_VERIFY, CKA_GOSTR3410_PARAMS,
                                        CKA_GOSTR3411_PARAMS, CKA_GOST28147_PARAMS, CKA_LABEL}));
    EXPECT_EQ(oid_text(gen_pub->attributes[2]), "1.2.643.2.2.35.1");
    EXPECT_EQ(oid_text(gen_pub->attributes[3]), "1.2.643.2.2.30.1");
    EXPECT_EQ(oid_text(gen_pub->attributes[4]), "1.2.643.2.2.31.1");
    EXPECT_EQ(value_text(gen_pub->attributes[5]), "Temporary public key object");

    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_private_key(PKCS11_KEY_STORED));
    EXPECT_EQ(types(priv.get()), (std::vector<CK_ATTRIBUTE_TYPE>{
                                     CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_PRIVATE, CKA_SENSITIVE,
                                     CKA_EXTRACTABLE, CKA_SIGN, CKA_LABEL}));
    EXPECT_EQ(value_bool(priv->attributes[4]), 1);
    EXPECT_EQ(value_bool(priv->attributes[5]), 0);
    EXPECT_EQ(value_text(priv->attributes[7]), "Halberd private key object");

    PKCS11_TEMPLATE_ptr gen_priv(PKCS11_TEMPLATE_private_key(PKCS11_KEY_GENERATION));
    EXPECT_EQ(types(gen_priv.get()),
              (std::vector<CK_ATTRIBUTE_TYPE>{CKA_TOKEN, CKA_PRIVATE, CKA_SENSITIVE,
                                              CKA_EXTRACTABLE, CKA_SIGN, CKA_LABEL}));
    EXPECT_EQ(value_text(gen_priv->attributes[5]), "Temporary private key object");
}

TEST(Template, SecretAndDataObjects) {
    for (auto make : {PKCS11_TEMPLATE_derived_key, PKCS11_TEMPLATE_unwrapped_key}) {
        PKCS11_TEMPLATE_ptr t(make());
        EXPECT_EQ(types(t.get()),
                  (std::vector<CK_ATTRIBUTE_TYPE>{CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_SENSITIVE,
                                                  CKA_EXTRACTABLE, CKA_GOST28147_PARAMS}));
        EXPECT_EQ(value_ulong(t->attributes[0]), CKO_SECRET_KEY);
        EXPECT_EQ(value_ulong(t->attributes[1]), CKK_GOST28147);
        EXPECT_EQ(value_bool(t->attributes[2]), 0);
        EXPECT_EQ(value_bool(t->attributes[3]), 0);
        EXPECT_EQ(value_bool(t->attributes[4]), 1);
        EXPECT_EQ(oid_text(t->attributes[5]), "1.2.643.2.2.31.1");
    }
    PKCS11_TEMPLATE_ptr data(PKCS11_TEMPLATE_data());
    EXPECT_EQ(types(data.get()),
              (std::vector<CK_ATTRIBUTE_TYPE>{CKA_CLASS, CKA_TOKEN, CKA_APPLICATION}));
    EXPECT_EQ(value_ulong(data->attributes[0]), CKO_DATA);
    EXPECT_EQ(value_text(data->attributes[2]), "Halberd software");
}

}  // namespace
}  // namespace cadb
