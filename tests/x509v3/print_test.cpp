// The printers' exact texts, the dispatch that prefers them to libcrypto's,
// and the DER coders of the additional extensions.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_der.h"
#include "crypto/x509v3/ext_print.h"
#include "tests/x509v3/v3ext_test_support.h"

namespace cadb {
namespace {

using testing::conf_ext;
using testing::ExtPtr;
using testing::item_ext;
using testing::value_der;

class Printed : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        ERR_clear_error();
        mem_.reset(BIO_new(BIO_s_mem()));
    }
    std::string text() {
        char* p = nullptr;
        const long n = BIO_get_mem_data(mem_.get(), &p);
        std::string s(p, static_cast<std::size_t>(n));
        BIO_reset(mem_.get());
        return s;
    }
    // The extension through the library's dispatch.
    std::string printed(const ExtPtr& ext, int indent = 0) {
        EXPECT_EQ(cadb::X509V3_EXT_print(mem_.get(), ext.get(), 0, indent), 1);
        return text();
    }
    BIO* bio() { return mem_.get(); }

  private:
    struct BioFree {
        void operator()(BIO* b) const { BIO_free(b); }
    };
    std::unique_ptr<BIO, BioFree> mem_;
};

TEST_F(Printed, IssuingDistributionPointWithOnlyIndirectCrl) {
    ISSUING_DIST_POINT* idp = ISSUING_DIST_POINT_new();
    idp->indirectCRL = 0xFF;
    ExtPtr ext(X509V3_EXT_i2d(NID_issuing_distribution_point, 1, idp));
    ISSUING_DIST_POINT_free(idp);
    EXPECT_EQ(printed(ext, 4), "    indirectCRL\n");
    EXPECT_EQ(printed(conf_ext(NID_issuing_distribution_point, "critical,@idp")),
              "Distribution Point:\n"
              "  Full Name:\n"
              "    URI: http://crl.example/a.crl\n"
              "onlySomeReasons:\n"
              "  Key Compromise, CA Compromise\n"
              "indirectCRL\n");
}

TEST_F(Printed, DistributionPointsNumberedOnlyWhenMany) {
    EXPECT_EQ(printed(conf_ext(NID_crl_distribution_points, "URI:http://a.example/1.crl")),
              "Distribution Point:\n"
              "  Full Name:\n"
              "    URI: http://a.example/1.crl\n");
    EXPECT_EQ(printed(conf_ext(NID_crl_distribution_points, "URI:http://a.example/1.crl,dp"), 2),
              "  [1]\n"
              "  Distribution Point:\n"
              "    Full Name:\n"
              "      URI: http://a.example/1.crl\n"
              "  [2]\n"
              "  Distribution Point:\n"
              "    Full Name:\n"
              "      URI: http://x.example/y.crl\n"
              "  Reasons:\n"
              "    Key Compromise\n"
              "  CRL Issuer:\n"
              "    DirName: C=RU, O=Org, CN=Name\n");
    EXPECT_EQ(printed(conf_ext(NID_freshest_crl, "URI:http://a.example/d.crl")),
              "Distribution Point:\n"
              "  Full Name:\n"
              "    URI: http://a.example/d.crl\n");
}

TEST_F(Printed, AccessConstraintsAndMappings) {
    EXPECT_EQ(printed(conf_ext(NID_info_access, "OCSP;URI:http://ocsp.example/")),
              "Access Method: OCSP\n"
              "Access Location:\n"
              "  URI: http://ocsp.example/\n");
    EXPECT_EQ(printed(conf_ext(NID_policy_constraints,
                               "requireExplicitPolicy:3,inhibitPolicyMapping:1")),
              "Require Explicit Policy: 3\n"
              "Inhibit Policy Mapping:  1\n");
    EXPECT_EQ(printed(conf_ext(NID_policy_mappings, "1.2.3.4:1.2.3.5,1.2.3.6:1.2.3.7")),
              "[1]\n"
              "Issuer Domain Policy:  1.2.3.4\n"
              "Subject Domain Policy: 1.2.3.5\n"
              "[2]\n"
              "Issuer Domain Policy:  1.2.3.6\n"
              "Subject Domain Policy: 1.2.3.7\n");
    EXPECT_EQ(printed(conf_ext(NID_name_constraints,
                               "permitted;IP:192.168.0.0/255.255.0.0,"
                               "permitted;IP:2001:db8::/ffff:ffff::,excluded;DNS:bad.ru")),
              "Permitted Subtrees:\n"
              "  IP Address: 192.168.0.0/255.255.0.0\n"
              "  IP Address: 2001:DB8:0:0:0:0:0:0/FFFF:FFFF:0:0:0:0:0:0\n"
              "Excluded Subtrees:\n"
              "  DNS: bad.ru\n");
}

TEST_F(Printed, NumbersAndSkipCerts) {
    ASN1_INTEGER* n = ASN1_INTEGER_new();
    ASN1_INTEGER_set(n, 0x0102);
    ExtPtr number(X509V3_EXT_i2d(NID_crl_number, 0, n));
    ExtPtr delta(X509V3_EXT_i2d(NID_delta_crl, 0, n));
    ASN1_INTEGER_free(n);
    EXPECT_EQ(printed(number, 2), "  CRL Number: 01:02");
    EXPECT_EQ(printed(delta), "Base CRL Number: 01:02");
    EXPECT_EQ(printed(conf_ext(NID_inhibit_any_policy, "2")), "SkipCerts: 2");
    // Extensions the library prints no differently go to libcrypto.
    EXPECT_EQ(printed(conf_ext(NID_basic_constraints, "CA:TRUE")), "CA:TRUE");
}

TEST_F(Printed, DirectoryAttributes) {
    STACK_OF(X509_ATTRIBUTE)* attrs = sk_X509_ATTRIBUTE_new_null();
    sk_X509_ATTRIBUTE_push(attrs, X509_ATTRIBUTE_create_by_NID(
                                      nullptr, NID_commonName, V_ASN1_UTF8STRING,
                                      reinterpret_cast<const unsigned char*>("\xD0\x98\xD0\xB2"), 4));
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    ASN1_INTEGER_set(i, 5);
    X509_ATTRIBUTE* number = X509_ATTRIBUTE_create(NID_serialNumber, V_ASN1_INTEGER, i);
    sk_X509_ATTRIBUTE_push(attrs, number);
    ExtPtr ext(item_ext("2.5.29.9", attrs, ASN1_ITEM_rptr(SUBJECT_DIRECTORY_ATTRIBUTES)));
    sk_X509_ATTRIBUTE_pop_free(attrs, X509_ATTRIBUTE_free);
    EXPECT_EQ(printed(ext, 1),
              " commonName: \xC8\xE2\n"
              " serialNumber: <Unsupported tag 2>\n");
    EXPECT_EQ(SUBJECT_DIRECTORY_ATTRIBUTES_print(nullptr, nullptr, bio(), 0), 1);
    EXPECT_EQ(text(), "<No Attributes>\n");
    SUBJECT_DIRECTORY_ATTRIBUTES* empty = SUBJECT_DIRECTORY_ATTRIBUTES_new();
    EXPECT_EQ(SUBJECT_DIRECTORY_ATTRIBUTES_print(nullptr, empty, bio(), 2), 1);
    EXPECT_EQ(text(), "  <Empty Attributes>\n");
    SUBJECT_DIRECTORY_ATTRIBUTES_free(empty);
}

BIOMETRIC_SYNTAX* biometrics(std::initializer_list<long> types) {
    BIOMETRIC_SYNTAX* bs = BIOMETRIC_SYNTAX_new();
    for (long type : types) {
        auto* d = reinterpret_cast<BIOMETRIC_DATA*>(ASN1_item_new(ASN1_ITEM_rptr(BIOMETRIC_DATA)));
        d->type->type = 0;
        d->type->value.predefined = ASN1_INTEGER_new();
        ASN1_INTEGER_set(d->type->value.predefined, type);
        X509_ALGOR_set0(d->hash_algorithm, OBJ_dup(OBJ_nid2obj(NID_sha1)), V_ASN1_UNDEF, nullptr);
        ASN1_OCTET_STRING_set(d->hash, reinterpret_cast<const unsigned char*>("\xAB\x01"), 2);
        if (type == 0) {
            d->source_uri = ASN1_IA5STRING_new();
            ASN1_STRING_set(d->source_uri, "http://bio.example/p", -1);
        }
        sk_BIOMETRIC_DATA_push(bs, d);
    }
    return bs;
}

TEST_F(Printed, BiometricInformation) {
    BIOMETRIC_SYNTAX* one = biometrics({2});
    ASSERT_EQ(BIOMETRIC_INFO_print(nullptr, one, bio(), 0), 1);
    EXPECT_EQ(text(),
              "Biometric Data:\n"
              "  Type: Undefined type\n"
              "  Hash Algorithm: sha1 (1.3.14.3.2.26)\n"
              "  Data Hash:\n"
              "    AB:01\n");
    BIOMETRIC_SYNTAX_free(one);
    BIOMETRIC_SYNTAX* two = biometrics({0, 1});
    ExtPtr ext(item_ext("1.3.6.1.5.5.7.1.2", two, ASN1_ITEM_rptr(BIOMETRIC_SYNTAX)));
    BIOMETRIC_SYNTAX_free(two);
    const std::string want =
        "[1]\n"
        "Biometric Data:\n"
        "  Type: Picture\n"
        "  Hash Algorithm: sha1 (1.3.14.3.2.26)\n"
        "  Data Hash:\n"
        "    AB:01\n"
        "  Source Data URI:\n"
        "    http://bio.example/p\n"
        "[2]\n"
        "Biometric Data:\n"
        "  Type: Handwritten Signature\n"
        "  Hash Algorithm: sha1 (1.3.14.3.2.26)\n"
        "  Data Hash:\n"
        "    AB:01\n";
    EXPECT_EQ(printed(ext), want);
    // Registered with libcrypto, its own printing shows the same.
    ASSERT_EQ(X509V3_add_cadb_extensions(), 1);
    ASSERT_EQ(X509V3_add_cadb_extensions(), 1);
    ASSERT_EQ(::X509V3_EXT_print(bio(), ext.get(), 0, 0), 1);
    EXPECT_EQ(text(), want);
}

TEST_F(Printed, GeneralNamePairs) {
    GENERAL_NAMES* names = GENERAL_NAMES_new();
    auto add = [&](int type, void* v) {
        GENERAL_NAME* gn = GENERAL_NAME_new();
        GENERAL_NAME_set0_value(gn, type, v);
        sk_GENERAL_NAME_push(names, gn);
    };
    ASN1_OCTET_STRING* v6 = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(v6, reinterpret_cast<const unsigned char*>("0123456789abcdef"), 16);
    add(GEN_IPADD, v6);
    add(GEN_RID, OBJ_txt2obj("1.2.3.4", 1));
    OTHERNAME* other = OTHERNAME_new();
    ASN1_OBJECT_free(other->type_id);
    other->type_id = OBJ_txt2obj("1.2.3", 1);
    ASN1_TYPE_free(other->value);  // a new OTHERNAME holds an empty value already
    other->value = ASN1_TYPE_new();
    ASN1_TYPE_set(other->value, V_ASN1_NULL, nullptr);
    add(GEN_OTHERNAME, other);
    ASSERT_EQ(GENERAL_NAMES_print(bio(), names, 3), 1);
    EXPECT_EQ(text(),
              "   IP Address: 3031:3233:3435:3637:3839:6162:6364:6566\n"
              "   Registered ID: 1.2.3.4\n"
              "   otherName: <unsupported>\n");
    GENERAL_NAMES_free(names);
    EXPECT_EQ(GENERAL_NAMES_print(bio(), nullptr, 0), 0);
}

// The alternative names print every general-name form through the
// library's listing, on one line: an address with its mask included, which
// libcrypto's printer calls invalid.
TEST_F(Printed, AltNamesOfEveryFormPrintThroughTheListing) {
    std::unique_ptr<GENERAL_NAMES, decltype(&GENERAL_NAMES_free)> owned(GENERAL_NAMES_new(),
                                                                       GENERAL_NAMES_free);
    GENERAL_NAMES* names = owned.get();
    auto add = [&](int type, void* v) {
        GENERAL_NAME* gn = GENERAL_NAME_new();
        GENERAL_NAME_set0_value(gn, type, v);
        sk_GENERAL_NAME_push(names, gn);
    };
    auto ia5 = [](const char* text) {
        ASN1_IA5STRING* s = ASN1_IA5STRING_new();
        ASN1_STRING_set(s, text, -1);
        return s;
    };
    auto octets = [](const char* bytes, int len) {
        ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>(bytes), len);
        return s;
    };
    OTHERNAME* other = OTHERNAME_new();
    ASN1_OBJECT_free(other->type_id);
    other->type_id = OBJ_txt2obj("1.2.3", 1);
    ASN1_TYPE_free(other->value);
    other->value = ASN1_TYPE_new();
    ASN1_TYPE_set(other->value, V_ASN1_NULL, nullptr);
    add(GEN_OTHERNAME, other);
    add(GEN_EMAIL, ia5("ivan@example.ru"));
    add(GEN_DNS, ia5("host.example"));
    // An empty ORAddress, as a decoder holds it.
    const unsigned char x400_der[] = {0x30, 0x02, 0xA3, 0x00};
    const unsigned char* p = x400_der;
    GENERAL_NAMES* x400 = d2i_GENERAL_NAMES(nullptr, &p, sizeof x400_der);
    ASSERT_NE(x400, nullptr);
    sk_GENERAL_NAME_push(names, sk_GENERAL_NAME_shift(x400));
    GENERAL_NAMES_free(x400);
    X509_NAME* dir = X509_NAME_new();
    X509_NAME_add_entry_by_txt(dir, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Dir"), -1, -1, 0);
    add(GEN_DIRNAME, dir);
    EDIPARTYNAME* edi = EDIPARTYNAME_new();
    ASN1_STRING_free(edi->partyName);  // a new record holds an empty one
    edi->partyName = ASN1_UTF8STRING_new();
    ASN1_STRING_set(edi->partyName, "party", -1);
    add(GEN_EDIPARTY, edi);
    add(GEN_URI, ia5("http://crl.example/a.crl"));
    add(GEN_IPADD, octets("\x0a\x00\x00\x01", 4));
    add(GEN_IPADD, octets("\x0a\x00\x00\x00\xff\xff\xff\x00", 8));
    add(GEN_RID, OBJ_txt2obj("1.2.3.4", 1));
    const std::string want =
        "    otherName:<unsupported>, email:ivan@example.ru, DNS:host.example, "
        "X400Address:<unsupported>, DirName:CN=Dir, EdiPartyName:<unsupported>, "
        "URI:http://crl.example/a.crl, IP Address:10.0.0.1, "
        "IP Address:10.0.0.0/255.255.255.0, Registered ID:1.2.3.4";
    for (int nid : {NID_subject_alt_name, NID_issuer_alt_name}) {
        ExtPtr ext(X509V3_EXT_i2d(nid, 0, names));
        ASSERT_TRUE(ext) << nid;
        EXPECT_EQ(printed(ext, 4), want) << nid;
    }
    // A CRL entry's certificate issuer is the same listing.
    ExtPtr issuer(item_ext("2.5.29.29", names, ASN1_ITEM_rptr(GENERAL_NAMES)));
    ASSERT_TRUE(issuer);
    EXPECT_EQ(printed(issuer, 4), want);
    EXPECT_EQ(ALT_NAMES_print(nullptr, nullptr, bio(), 0), 0);
}

// One coder: DER -> value -> the same DER; malformed, truncated or longer
// input refused with an entry on the queue and the input pointer kept;
// nothing written without output.
template <typename T>
void coder_round_trip(const ExtPtr& ext, T* (*d2i)(T**, const unsigned char**, long),
                      int (*i2d)(const T*, unsigned char**), void (*free_fn)(T*)) {
    ASSERT_TRUE(ext);
    const auto der = value_der(ext.get());
    const unsigned char* p = der.data();
    T* v = d2i(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(p, der.data() + der.size());
    EXPECT_EQ(i2d(v, nullptr), static_cast<int>(der.size()));
    unsigned char* out = nullptr;
    ASSERT_EQ(i2d(v, &out), static_cast<int>(der.size()));
    EXPECT_EQ(std::vector<unsigned char>(out, out + der.size()), der);
    OPENSSL_free(out);
    // Decoding into a given record replaces it.
    T* into = v;
    p = der.data();
    EXPECT_EQ(d2i(&into, &p, static_cast<long>(der.size())), into);
    free_fn(into);
    auto longer = der;
    longer.push_back(0);
    auto retagged = der;
    retagged[0] ^= 0x01;
    const std::vector<unsigned char> cut(der.begin(), der.end() - 1);
    const std::vector<unsigned char>* bads[] = {&cut, &longer, &retagged};
    for (const std::vector<unsigned char>* bad : bads) {
        ERR_clear_error();
        const unsigned char* q = bad->data();
        EXPECT_EQ(d2i(nullptr, &q, static_cast<long>(bad->size())), nullptr);
        EXPECT_EQ(q, bad->data());
        EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_ASN1_);
    }
    EXPECT_EQ(i2d(nullptr, &out), -1);
}

void policy_mappings_free(POLICY_MAPPINGS* p) { sk_POLICY_MAPPING_pop_free(p, POLICY_MAPPING_free); }

TEST_F(Printed, CodersRoundTripAndRefuseMalformedDer) {
    coder_round_trip(conf_ext(NID_info_access, "OCSP;URI:http://o.example/"),
                     cadb::d2i_AUTHORITY_INFO_ACCESS, cadb::i2d_AUTHORITY_INFO_ACCESS,
                     AUTHORITY_INFO_ACCESS_free);
    coder_round_trip(conf_ext(NID_sinfo_access, "caRepository;URI:http://o.example/r"),
                     cadb::d2i_AUTHORITY_INFO_ACCESS, cadb::i2d_AUTHORITY_INFO_ACCESS,
                     AUTHORITY_INFO_ACCESS_free);
    coder_round_trip(conf_ext(NID_issuing_distribution_point, "@idp"),
                     cadb::d2i_ISSUING_DIST_POINT, cadb::i2d_ISSUING_DIST_POINT,
                     ISSUING_DIST_POINT_free);
    coder_round_trip(conf_ext(NID_name_constraints, "permitted;DNS:x.ru,excluded;email:a@b.ru"),
                     cadb::d2i_NAME_CONSTRAINTS, cadb::i2d_NAME_CONSTRAINTS,
                     NAME_CONSTRAINTS_free);
    coder_round_trip(conf_ext(NID_policy_constraints, "requireExplicitPolicy:1"),
                     cadb::d2i_POLICY_CONSTRAINTS, cadb::i2d_POLICY_CONSTRAINTS,
                     POLICY_CONSTRAINTS_free);
    coder_round_trip(conf_ext(NID_policy_mappings, "1.2.3:1.2.4"), cadb::d2i_POLICY_MAPPINGS,
                     cadb::i2d_POLICY_MAPPINGS, policy_mappings_free);
    coder_round_trip(conf_ext(NID_crl_distribution_points, "URI:http://a/b.crl,dp"),
                     cadb::d2i_CRL_DIST_POINTS, cadb::i2d_CRL_DIST_POINTS, CRL_DIST_POINTS_free);
    BIOMETRIC_SYNTAX* bs = biometrics({0, 1});
    coder_round_trip(item_ext("1.3.6.1.5.5.7.1.2", bs, ASN1_ITEM_rptr(BIOMETRIC_SYNTAX)),
                     cadb::d2i_BIOMETRIC_SYNTAX, cadb::i2d_BIOMETRIC_SYNTAX,
                     BIOMETRIC_SYNTAX_free);
    BIOMETRIC_SYNTAX_free(bs);
    SUBJECT_DIRECTORY_ATTRIBUTES* attrs = SUBJECT_DIRECTORY_ATTRIBUTES_new();
    sk_X509_ATTRIBUTE_push(attrs, X509_ATTRIBUTE_create_by_NID(
                                      nullptr, NID_countryName, V_ASN1_PRINTABLESTRING,
                                      reinterpret_cast<const unsigned char*>("RU"), 2));
    coder_round_trip(item_ext("2.5.29.9", attrs, ASN1_ITEM_rptr(SUBJECT_DIRECTORY_ATTRIBUTES)),
                     cadb::d2i_SUBJECT_DIRECTORY_ATTRIBUTES,
                     cadb::i2d_SUBJECT_DIRECTORY_ATTRIBUTES, SUBJECT_DIRECTORY_ATTRIBUTES_free);
    SUBJECT_DIRECTORY_ATTRIBUTES_free(attrs);
}

TEST_F(Printed, UsagePeriodWithOnlyNotAfterEncodesOnlyIt) {
    PKEY_USAGE_PERIOD* p = PKEY_USAGE_PERIOD_new();
    p->notAfter = ASN1_GENERALIZEDTIME_new();
    ASN1_GENERALIZEDTIME_set_string(p->notAfter, "20301231235959Z");
    unsigned char* der = nullptr;
    const int n = cadb::i2d_PKEY_USAGE_PERIOD(p, &der);
    ASSERT_EQ(n, 19);
    EXPECT_EQ(der[0], 0x30);
    EXPECT_EQ(der[2], 0x81);  // [1] only
    OPENSSL_free(der);
    PKEY_USAGE_PERIOD_free(p);
}

}  // namespace
}  // namespace cadb
