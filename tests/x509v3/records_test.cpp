// Flat records of extensions: what each family holds, records back to the
// same DER, Cyrillic names through the local code page, and malformed DER
// of every extension refused.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <functional>
#include <string>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_items.h"
#include "crypto/x509v3/v3ext.h"
#include "tests/x509v3/v3ext_test_support.h"

namespace cadb {
namespace {

using testing::conf_ext;
using testing::ExtPtr;
using testing::item_ext;
using testing::raw_ext;
using testing::value_der;

struct RecDeleter {
    void operator()(CADB_V3EXT* r) const { CADB_V3EXT_free(r); }
};
using RecPtr = std::unique_ptr<CADB_V3EXT, RecDeleter>;

std::string text(const BUFFER* b) {
    return b == nullptr ? "<null>"
                        : std::string(reinterpret_cast<const char*>(b->data),
                                      static_cast<std::size_t>(b->length));
}

// "Иван Петров" in code page 1251 and in UTF-8.
const std::string kCyrLocal = "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2";
const std::string kCyrUtf8 =
    "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2";

X509_NAME* cyrillic_name() {
    X509_NAME* n = X509_NAME_new();
    X509_NAME_add_entry_by_NID(n, NID_countryName, V_ASN1_PRINTABLESTRING,
                               reinterpret_cast<const unsigned char*>("RU"), 2, -1, 0);
    X509_NAME_add_entry_by_NID(n, NID_organizationName, V_ASN1_UTF8STRING,
                               reinterpret_cast<const unsigned char*>(kCyrUtf8.data()),
                               static_cast<int>(kCyrUtf8.size()), -1, 0);
    // The same text as BMPString.
    const unsigned char bmp[] = {0x04, 0x18, 0x04, 0x32, 0x04, 0x30, 0x04, 0x3D};
    X509_NAME_add_entry_by_NID(n, NID_commonName, V_ASN1_BMPSTRING, bmp, sizeof bmp, -1, 0);
    return n;
}

ExtPtr alt_names_with_cyrillic_directory() {
    GENERAL_NAMES* names = GENERAL_NAMES_new();
    GENERAL_NAME* dir = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(dir, GEN_DIRNAME, cyrillic_name());
    sk_GENERAL_NAME_push(names, dir);
    ExtPtr ext(X509V3_EXT_i2d(NID_subject_alt_name, 0, names));
    GENERAL_NAMES_free(names);
    return ext;
}

ExtPtr key_id() {
    AUTHORITY_KEYID* a = AUTHORITY_KEYID_new();
    a->keyid = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(a->keyid, reinterpret_cast<const unsigned char*>("\x01\x02\x03"), 3);
    a->issuer = GENERAL_NAMES_new();
    GENERAL_NAME* gn = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(gn, GEN_DIRNAME, cyrillic_name());
    sk_GENERAL_NAME_push(a->issuer, gn);
    a->serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(a->serial, 0x1234);
    ExtPtr ext(X509V3_EXT_i2d(NID_authority_key_identifier, 0, a));
    AUTHORITY_KEYID_free(a);
    return ext;
}

ExtPtr usage_period_not_after_only() {
    PKEY_USAGE_PERIOD* p = PKEY_USAGE_PERIOD_new();
    p->notAfter = ASN1_GENERALIZEDTIME_new();
    ASN1_GENERALIZEDTIME_set_string(p->notAfter, "20301231235959Z");
    ExtPtr ext(item_ext("2.5.29.16", p, ASN1_ITEM_rptr(PKEY_USAGE_PERIOD)));
    PKEY_USAGE_PERIOD_free(p);
    return ext;
}

ExtPtr integer_ext(int openssl_nid, long v) {
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    ASN1_INTEGER_set(i, v);
    ExtPtr ext(X509V3_EXT_i2d(openssl_nid, 0, i));
    ASN1_INTEGER_free(i);
    return ext;
}

ExtPtr reason_ext() {
    ASN1_ENUMERATED* e = ASN1_ENUMERATED_new();
    ASN1_ENUMERATED_set(e, 1);
    ExtPtr ext(X509V3_EXT_i2d(NID_crl_reason, 0, e));
    ASN1_ENUMERATED_free(e);
    return ext;
}

ExtPtr invalidity_ext() {
    ASN1_GENERALIZEDTIME* t = ASN1_GENERALIZEDTIME_new();
    ASN1_GENERALIZEDTIME_set_string(t, "20240229120000Z");
    ExtPtr ext(item_ext("2.5.29.24", t, ASN1_ITEM_rptr(ASN1_GENERALIZEDTIME)));
    ASN1_GENERALIZEDTIME_free(t);
    return ext;
}

ExtPtr hold_ext() {
    ASN1_OBJECT* o = OBJ_txt2obj("1.2.840.10040.2.2", 1);
    ExtPtr ext(item_ext("2.5.29.23", o, ASN1_ITEM_rptr(ASN1_OBJECT)));
    ASN1_OBJECT_free(o);
    return ext;
}

ExtPtr skid_ext() {
    ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>("\xAA\xBB\x00\xCC"), 4);
    ExtPtr ext(X509V3_EXT_i2d(NID_subject_key_identifier, 0, s));
    ASN1_OCTET_STRING_free(s);
    return ext;
}

ExtPtr directory_attributes() {
    STACK_OF(X509_ATTRIBUTE)* attrs = sk_X509_ATTRIBUTE_new_null();
    sk_X509_ATTRIBUTE_push(attrs, X509_ATTRIBUTE_create_by_NID(
                                      nullptr, NID_commonName, V_ASN1_UTF8STRING,
                                      reinterpret_cast<const unsigned char*>(kCyrUtf8.data()),
                                      static_cast<int>(kCyrUtf8.size())));
    sk_X509_ATTRIBUTE_push(attrs, X509_ATTRIBUTE_create_by_NID(
                                      nullptr, NID_countryName, V_ASN1_PRINTABLESTRING,
                                      reinterpret_cast<const unsigned char*>("RU"), 2));
    ExtPtr ext(item_ext("2.5.29.9", attrs, ASN1_ITEM_rptr(SUBJECT_DIRECTORY_ATTRIBUTES)));
    sk_X509_ATTRIBUTE_pop_free(attrs, X509_ATTRIBUTE_free);
    return ext;
}

ExtPtr biometric_ext(bool two) {
    auto* syntax = sk_BIOMETRIC_DATA_new_null();
    for (int i = 0; i < (two ? 2 : 1); ++i) {
        auto* d = reinterpret_cast<BIOMETRIC_DATA*>(ASN1_item_new(ASN1_ITEM_rptr(BIOMETRIC_DATA)));
        if (i == 0) {
            d->type->type = 0;
            d->type->value.predefined = ASN1_INTEGER_new();
            ASN1_INTEGER_set(d->type->value.predefined, 1);
            d->source_uri = ASN1_IA5STRING_new();
            ASN1_STRING_set(d->source_uri, "http://bio.example/sig", -1);
        } else {
            d->type->type = 1;
            d->type->value.oid = OBJ_txt2obj("1.2.3.4.5", 1);
        }
        X509_ALGOR_set0(d->hash_algorithm, OBJ_dup(OBJ_nid2obj(NID_sha1)), V_ASN1_UNDEF, nullptr);
        ASN1_OCTET_STRING_set(d->hash, reinterpret_cast<const unsigned char*>("\x01\x02"), 2);
        sk_BIOMETRIC_DATA_push(syntax, d);
    }
    ExtPtr ext(item_ext("1.3.6.1.5.5.7.1.2", syntax, ASN1_ITEM_rptr(BIOMETRIC_SYNTAX)));
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(syntax), ASN1_ITEM_rptr(BIOMETRIC_SYNTAX));
    return ext;
}

ExtPtr idp_relative() {
    ISSUING_DIST_POINT* idp = ISSUING_DIST_POINT_new();
    idp->distpoint = DIST_POINT_NAME_new();
    idp->distpoint->type = 1;
    idp->distpoint->name.relativename = sk_X509_NAME_ENTRY_new_null();
    sk_X509_NAME_ENTRY_push(idp->distpoint->name.relativename,
                            X509_NAME_ENTRY_create_by_NID(
                                nullptr, NID_commonName, V_ASN1_UTF8STRING,
                                reinterpret_cast<const unsigned char*>(kCyrUtf8.data()),
                                static_cast<int>(kCyrUtf8.size())));
    idp->onlyuser = 0xFF;
    ExtPtr ext(X509V3_EXT_i2d(NID_issuing_distribution_point, 1, idp));
    ISSUING_DIST_POINT_free(idp);
    return ext;
}

ExtPtr certificate_issuer() {
    GENERAL_NAMES* names = GENERAL_NAMES_new();
    GENERAL_NAME* gn = GENERAL_NAME_new();
    ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
    ASN1_STRING_set(dns, "issuer.example", -1);
    GENERAL_NAME_set0_value(gn, GEN_DNS, dns);
    sk_GENERAL_NAME_push(names, gn);
    ExtPtr ext(item_ext("2.5.29.29", names, ASN1_ITEM_rptr(GENERAL_NAMES)));
    GENERAL_NAMES_free(names);
    return ext;
}

struct Sample {
    const char* name;
    std::function<ExtPtr()> make;
    int nid;  // the library's number of the extension
};

std::vector<Sample> samples() {
    return {
        {"nsCertType", [] { return conf_ext(NID_netscape_cert_type, "client,email"); }, 71},
        {"nsComment", [] { return conf_ext(NID_netscape_comment, "a comment"); }, 78},
        {"subjectKeyIdentifier", skid_ext, 82},
        {"keyUsage", [] { return conf_ext(NID_key_usage, "critical,digitalSignature,keyEncipherment"); }, 83},
        {"privateKeyUsagePeriod", usage_period_not_after_only, 84},
        {"subjectAltName",
         [] { return conf_ext(NID_subject_alt_name, "email:a@b.ru,DNS:x.ru,URI:http://x.ru/,IP:10.0.0.1,RID:1.2.3.4,dirName:dir"); },
         85},
        {"subjectAltName Cyrillic", alt_names_with_cyrillic_directory, 85},
        {"issuerAltName", [] { return conf_ext(NID_issuer_alt_name, "DNS:ca.example"); }, 86},
        {"basicConstraints", [] { return conf_ext(NID_basic_constraints, "critical,CA:TRUE,pathlen:3"); }, 87},
        {"crlNumber", [] { return integer_ext(NID_crl_number, 0x0102); }, 88},
        {"certificatePolicies", [] { return conf_ext(NID_certificate_policies, "1.2.643.100.113.2,@pol"); }, 89},
        {"authorityKeyIdentifier", key_id, 90},
        {"crlDistributionPoints", [] { return conf_ext(NID_crl_distribution_points, "URI:http://a.example/1.crl,dp"); }, 103},
        {"extendedKeyUsage", [] { return conf_ext(NID_ext_key_usage, "serverAuth,1.2.643.2.2.34.6"); }, 126},
        {"deltaCRL", [] { return integer_ext(NID_delta_crl, 7); }, 140},
        {"CRLReason", reason_ext, 141},
        {"invalidityDate", invalidity_ext, 142},
        {"inhibitAnyPolicy", [] { return conf_ext(NID_inhibit_any_policy, "2"); }, NID_INHIBIT_ANY_POLICY},
        {"freshestCRL", [] { return conf_ext(NID_freshest_crl, "URI:http://a.example/delta.crl"); }, NID_FRESHEST_CRL},
        {"policyMappings", [] { return conf_ext(NID_policy_mappings, "1.2.3.4:1.2.3.5,1.2.3.6:1.2.3.7"); }, NID_POLICY_MAPPINGS},
        {"policyConstraints", [] { return conf_ext(NID_policy_constraints, "requireExplicitPolicy:3,inhibitPolicyMapping:1"); }, NID_POLICY_CONSTRAINTS},
        {"nameConstraints",
         [] { return conf_ext(NID_name_constraints, "permitted;IP:192.168.0.0/255.255.0.0,permitted;email:.ru,excluded;DNS:bad.ru"); },
         NID_NAME_CONSTRAINTS},
        {"authorityInfoAccess", [] { return conf_ext(NID_info_access, "OCSP;URI:http://ocsp.example/,caIssuers;URI:http://x.example/ca.crt"); }, NID_AUTHORITY_INFO_ACCESS},
        {"subjectInfoAccess", [] { return conf_ext(NID_sinfo_access, "caRepository;URI:http://x.example/"); }, NID_SUBJECT_INFO_ACCESS},
        {"issuingDistributionPoint", [] { return conf_ext(NID_issuing_distribution_point, "critical,@idp"); }, NID_ISSUING_DIST_POINT},
        {"issuingDistributionPoint relative", idp_relative, NID_ISSUING_DIST_POINT},
        {"holdInstructionCode", hold_ext, NID_HOLD_INSTRUCTION_CODE},
        {"certificateIssuer", certificate_issuer, NID_CERTIFICATE_ISSUER},
        {"subjectDirectoryAttributes", directory_attributes, NID_SUBJECT_DIRECTORY_ATTRIBUTES},
        {"biometricInfo", [] { return biometric_ext(true); }, NID_BIOMETRIC_INFO},
    };
}

class V3ext : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        ERR_clear_error();
    }
};

// record -> DER -> record: the extension written back is the one read.
TEST_F(V3ext, EveryRecordRoundTrips) {
    for (const auto& s : samples()) {
        SCOPED_TRACE(s.name);
        ExtPtr ext = s.make();
        ASSERT_TRUE(ext);
        RecPtr r(CADB_V3EXT_parse(ext.get()));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->nid, s.nid);
        EXPECT_EQ(r->parsed, 1);
        EXPECT_EQ(r->unknown, 0);
        EXPECT_EQ(r->critical, X509_EXTENSION_get_critical(ext.get()));
        ExtPtr back(CADB_V3EXT_to_extension(r.get()));
        ASSERT_TRUE(back);
        // Display texts are written back as UTF8String whatever they were.
        if (s.nid != 89) EXPECT_EQ(value_der(back.get()), value_der(ext.get()));
        RecPtr again(CADB_V3EXT_parse(back.get()));
        ASSERT_TRUE(again);
        ExtPtr back_again(CADB_V3EXT_to_extension(again.get()));
        ASSERT_TRUE(back_again);
        EXPECT_EQ(value_der(back_again.get()), value_der(back.get()));
        EXPECT_EQ(X509_EXTENSION_get_critical(back.get()), X509_EXTENSION_get_critical(ext.get()));
        EXPECT_EQ(OBJ_cmp(X509_EXTENSION_get_object(back.get()), X509_EXTENSION_get_object(ext.get())), 0);
    }
}

TEST_F(V3ext, StacksKeepOrderAndRoundTrip) {
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    for (const auto& s : samples()) sk_X509_EXTENSION_push(exts, s.make().release());
    STACK_OF(CADB_V3EXT)* records = CADB_V3EXT_parse_extensions(exts);
    ASSERT_NE(records, nullptr);
    ASSERT_EQ(sk_CADB_V3EXT_num(records), sk_X509_EXTENSION_num(exts));
    STACK_OF(X509_EXTENSION)* back = CADB_V3EXT_to_extensions(records);
    ASSERT_NE(back, nullptr);
    for (int i = 0; i < sk_X509_EXTENSION_num(exts); ++i)
        if (sk_CADB_V3EXT_value(records, i)->nid != 89) EXPECT_EQ(value_der(sk_X509_EXTENSION_value(back, i)),
                  value_der(sk_X509_EXTENSION_value(exts, i)));
    sk_X509_EXTENSION_pop_free(back, X509_EXTENSION_free);
    CADB_V3EXT_stack_free(records);
    // One bad extension fails the whole list, which is freed.
    sk_X509_EXTENSION_push(exts, raw_ext("2.5.29.19", {0x30, 0x03, 0x01, 0x01}).release());
    EXPECT_EQ(CADB_V3EXT_parse_extensions(exts), nullptr);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_LIB_CADB);
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
}

TEST_F(V3ext, FamiliesHoldPlainValues) {
    RecPtr san(CADB_V3EXT_parse(samples()[5].make().get()));
    ASSERT_TRUE(san);
    ASSERT_EQ(sk_CADB_GENERAL_NAME_num(san->value.names), 6);
    auto gn = [&](int i) { return sk_CADB_GENERAL_NAME_value(san->value.names, i); };
    EXPECT_EQ(gn(0)->type, CADB_GEN_EMAIL);
    EXPECT_EQ(text(gn(0)->value.text), "a@b.ru");
    EXPECT_EQ(text(gn(3)->value.text), "10.0.0.1");
    EXPECT_EQ(text(&gn(4)->value.rid->oid), "1.2.3.4");
    ASSERT_EQ(gn(5)->type, CADB_GEN_DIRNAME);
    EXPECT_EQ(gn(5)->value.dirname->nid, NID_countryName);  // a split name, not text

    RecPtr bc(CADB_V3EXT_parse(conf_ext(NID_basic_constraints, "CA:FALSE").get()));
    ASSERT_TRUE(bc);
    EXPECT_EQ(bc->value.basic_constraints->ca, 0);
    EXPECT_EQ(bc->value.basic_constraints->path_length, -1);

    RecPtr pol(CADB_V3EXT_parse(samples()[10].make().get()));
    ASSERT_TRUE(pol);
    const CADB_POLICY_INFO* info = sk_CADB_POLICY_INFO_value(pol->value.policies, 1);
    EXPECT_EQ(text(&info->policy->oid), "1.2.643.100.113.1");
    const CADB_POLICY_QUALIFIER* cps = sk_CADB_POLICY_QUALIFIER_value(info->qualifiers, 0);
    EXPECT_EQ(cps->nid, NID_id_qt_cps);
    EXPECT_EQ(text(cps->value.cps), "http://ca.example/cps");
    const CADB_POLICY_QUALIFIER* un = sk_CADB_POLICY_QUALIFIER_value(info->qualifiers, 1);
    ASSERT_EQ(un->nid, NID_id_qt_unotice);
    EXPECT_EQ(text(un->value.notice->ref->numbers), "1,2,3");
    EXPECT_EQ(text(un->value.notice->text), "Notice text");

    RecPtr period(CADB_V3EXT_parse(usage_period_not_after_only().get()));
    ASSERT_TRUE(period);
    EXPECT_EQ(period->value.usage_period->not_before, nullptr);
    EXPECT_EQ(period->value.usage_period->not_after->tm_year, 130);

    RecPtr nc(CADB_V3EXT_parse(samples()[21].make().get()));
    ASSERT_TRUE(nc);
    const CADB_GENERAL_SUBTREE* ip = sk_CADB_GENERAL_SUBTREE_value(nc->value.name_constraints->permitted, 0);
    EXPECT_EQ(text(ip->base->value.text), "192.168.0.0/255.255.0.0");
    EXPECT_EQ(ip->minimum, 0);
    EXPECT_EQ(ip->maximum, -1);

    RecPtr idp(CADB_V3EXT_parse(samples()[24].make().get()));
    ASSERT_TRUE(idp);
    EXPECT_EQ(idp->value.issuing_dist_point->indirect_crl, 1);
    EXPECT_EQ(idp->value.issuing_dist_point->only_some_reasons, 0x2 | 0x4);

    RecPtr bio(CADB_V3EXT_parse(biometric_ext(true).get()));
    ASSERT_TRUE(bio);
    const CADB_BIOMETRIC_DATA* b0 = sk_CADB_BIOMETRIC_DATA_value(bio->value.biometrics, 0);
    EXPECT_EQ(b0->type_choice, 0);
    EXPECT_EQ(b0->predefined, 1);
    EXPECT_EQ(b0->hash_nid, NID_sha1);
    EXPECT_EQ(text(b0->uri), "http://bio.example/sig");
}

// Names in certificates are UTF-8 or BMP; the records hold the local code
// page, and writing back converts again.
TEST_F(V3ext, CyrillicNamesThroughTheLocalCodePage) {
    RecPtr r(CADB_V3EXT_parse(alt_names_with_cyrillic_directory().get()));
    ASSERT_TRUE(r);
    const ATTRIBUTE* a = sk_CADB_GENERAL_NAME_value(r->value.names, 0)->value.dirname;
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->next, nullptr);
    EXPECT_EQ(std::string(a->next->text, a->next->length), kCyrLocal);
    EXPECT_EQ(a->next->string_type, V_ASN1_UTF8STRING);
    EXPECT_EQ(std::string(a->next->next->text, a->next->next->length), "\xC8\xE2\xE0\xED");
    EXPECT_EQ(a->next->next->string_type, V_ASN1_BMPSTRING);

    RecPtr attrs(CADB_V3EXT_parse(directory_attributes().get()));
    ASSERT_TRUE(attrs);
    EXPECT_EQ(std::string(attrs->value.attributes->text, attrs->value.attributes->length), kCyrLocal);
}

TEST_F(V3ext, EdgeCases) {
    // IPv6 has no text.
    RecPtr v6(CADB_V3EXT_parse(conf_ext(NID_subject_alt_name, "IP:2001:db8::1").get()));
    ASSERT_TRUE(v6);
    EXPECT_EQ(sk_CADB_GENERAL_NAME_value(v6->value.names, 0)->value.text, nullptr);
    EXPECT_EQ(CADB_V3EXT_to_extension(v6.get()), nullptr);

    // An unknown extension parses, flagged, with no value.
    RecPtr unknown(CADB_V3EXT_parse(raw_ext("1.2.3.4.5", {0x05, 0x00}).get()));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->unknown, 1);
    EXPECT_EQ(unknown->parsed, 0);
    EXPECT_EQ(unknown->value.record, nullptr);
    EXPECT_EQ(CADB_V3EXT_to_extension(unknown.get()), nullptr);

    // Large notice numbers are kept whole.
    EXPECT_EQ(CADB_V3EXT_parse(nullptr), nullptr);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_R_INTERNAL);
}

TEST_F(V3ext, NoticeNumbersOfAnySize) {
    NOTICEREF* ref = NOTICEREF_new();
    ASN1_STRING_set(ref->organization, "Org", 3);
    ref->organization->type = V_ASN1_IA5STRING;
    for (const char* dec : {"1", "18446744073709551616", "3"}) {
        BIGNUM* bn = nullptr;
        BN_dec2bn(&bn, dec);
        sk_ASN1_INTEGER_push(ref->noticenos, BN_to_ASN1_INTEGER(bn, nullptr));
        BN_free(bn);
    }
    CADB_NOTICE_REF* r = CADB_NOTICE_REF_parse(ref);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(text(r->numbers), "1,18446744073709551616,3");
    EXPECT_EQ(text(r->organization), "Org");
    CADB_NOTICE_REF_free(r);
    NOTICEREF_free(ref);
}

// Every extension's DER damaged three ways: cut short, a byte too many, the
// outer tag changed. Each is refused with an entry on the queue.
TEST_F(V3ext, MalformedDerOfEachExtensionIsRefused) {
    for (const auto& s : samples()) {
        SCOPED_TRACE(s.name);
        ExtPtr ext = s.make();
        const auto der = value_der(ext.get());
        const ASN1_OBJECT* obj = X509_EXTENSION_get_object(ext.get());
        char oid[80];
        OBJ_obj2txt(oid, sizeof oid, obj, 1);
        std::vector<std::vector<unsigned char>> bad = {
            {der.begin(), der.end() - 1}, der, der};
        bad[1].push_back(0);
        bad[2][0] ^= 0x01;
        for (const auto& b : bad) {
            ERR_clear_error();
            RecPtr r(CADB_V3EXT_parse(raw_ext(oid, b).get()));
            EXPECT_FALSE(r);
            EXPECT_NE(ERR_peek_error(), 0u);
        }
    }
}

}  // namespace
}  // namespace cadb
