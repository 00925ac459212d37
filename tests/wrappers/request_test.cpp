// Names with Cyrillic values in code page 1251, and requests made through
// the wrappers with keys of every offered type that were saved under a
// password and loaded back; the peer (the openssl command, with its GOST
// engine for GOST keys, in a child process) verifies them.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/name_print.h"
#include "crypto/core/objects.h"
#include "tests/wrappers/store_fixture.h"
#include "wrappers/tpkcs10.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tx509name.h"
#include "wrappers/x509_ext.h"

namespace cadb {
namespace {

using namespace cadb::testing;

// Code page 1251 texts and the UTF-8 the request must carry for them.
const char kCnLocal[] = "\xc8\xe2\xe0\xed \xcf\xe5\xf2\xf0\xee\xe2";  // Иван Петров
const char kCnUtf8[] = "Иван Петров";
const char kOrgLocal[] = "\xce\xce\xce \xab\xd0\xee\xec\xe0\xf8\xea\xe0\xbb";  // ООО «Ромашка»
const char kCityLocal[] = "\xcc\xee\xf1\xea\xe2\xe0 \xb8\xa8";                 // Москва ёЁ

std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, out};
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string text_of(const TBuffer* b) {
    return b != nullptr && b->getData() != nullptr
               ? std::string(reinterpret_cast<const char*>(b->getData()),
                             static_cast<std::size_t>(b->getLength()))
               : std::string();
}

// As the enrolment control sets each attribute.
TX509NameEntry entry(int nid, const char* text) {
    const int type = nid == NID_countryName          ? V_ASN1_PRINTABLESTRING
                     : nid == NID_pkcs9_emailAddress ? V_ASN1_IA5STRING
                                                     : V_ASN1_UTF8STRING;
    TX509NameEntry e;
    EXPECT_TRUE(e.set(nid, type, text, 0, 2)) << nid;
    return e;
}

void subject(TX509Name& name) {
    ASSERT_EQ(name.addEntry(entry(NID_countryName, "RU")), 1);
    ASSERT_EQ(name.addEntry(entry(NID_localityName, kCityLocal)), 1);
    ASSERT_EQ(name.addEntry(entry(NID_organizationName, kOrgLocal)), 1);
    ASSERT_EQ(name.addEntry(entry(NID_commonName, kCnLocal)), 1);
    ASSERT_EQ(name.addEntry(entry(NID_pkcs9_emailAddress, "ivan@example.ru")), 1);
}

std::vector<std::pair<int, std::string>> entries_of(const ATTRIBUTE* a) {
    std::vector<std::pair<int, std::string>> out;
    for (; a != nullptr; a = a->next) out.emplace_back(a->nid, std::string(a->text, a->length));
    return out;
}

const std::vector<std::pair<int, std::string>> kExpected = {
    {NID_countryName, "RU"},
    {NID_localityName, kCityLocal},
    {NID_organizationName, kOrgLocal},
    {NID_commonName, kCnLocal},
    {NID_pkcs9_emailAddress, "ivan@example.ru"},
};

TEST(TX509NameTest, CyrillicValuesRoundTripInTheLocalCodePage) {
    TX509Name name;
    subject(name);
    ASSERT_EQ(name.count(), 5);
    ATTRIBUTE* split = X509_NAME_split(name.get());
    EXPECT_EQ(entries_of(split), kExpected);
    ATTRIBUTE_free(split);
    // The value on the wire is UTF-8; the country stays printable.
    const X509_NAME_ENTRY* cn = X509_NAME_get_entry(name.get(), 3);
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(cn);
    EXPECT_EQ(ASN1_STRING_type(value), V_ASN1_UTF8STRING);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                          ASN1_STRING_length(value)),
              kCnUtf8);
    EXPECT_EQ(ASN1_STRING_type(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name.get(), 0))),
              V_ASN1_PRINTABLESTRING);
    // Each entry is its own relative name, after the last.
    for (int i = 0; i < name.count(); ++i)
        EXPECT_EQ(X509_NAME_ENTRY_set(X509_NAME_get_entry(name.get(), i)), i);
    // A copy of the library name is the same name.
    TX509Name copy(name.get());
    EXPECT_EQ(X509_NAME_cmp(copy.get(), name.get()), 0);
    EXPECT_EQ(copy.indexOf(entry(NID_commonName, "x")), -1) << "a copy files no entries";
}

// Street address, domain component, DN qualifier and generation qualifier
// carry the library's own numbers from the entry to the split and back
// through DER, with their type rules.
TEST(TX509NameTest, StreetDomainAndQualifierAttributesRoundTrip) {
    const char street[] = "\xf3\xeb. \xcb\xe5\xed\xe8\xed\xe0, 1";  // ул. Ленина, 1
    TX509NameEntry e;
    const struct {
        int nid;
        int type;
        const char* text;
        int chosen;
        const char* oid;
    } cases[] = {
        {NID_STREET_ADDRESS, V_ASN1_UTF8STRING, street, V_ASN1_UTF8STRING, "2.5.4.9"},
        {NID_DOMAIN_COMPONENT, V_ASN1_IA5STRING, "example", V_ASN1_IA5STRING,
         "0.9.2342.19200300.100.1.25"},
        {NID_DN_QUALIFIER, V_ASN1_PRINTABLESTRING, "Q-42", V_ASN1_PRINTABLESTRING, "2.5.4.46"},
        {NID_GENERATION_QUALIFIER, V_ASN1_UTF8STRING, "III", V_ASN1_PRINTABLESTRING, "2.5.4.44"},
    };
    TX509Name name;
    for (const auto& c : cases) {
        TX509NameEntry one;
        ASSERT_TRUE(one.set(c.nid, c.type, c.text, 0, 0)) << c.nid;
        EXPECT_EQ(one.getNid(), c.nid);
        EXPECT_EQ(one.stringType(), c.chosen) << c.nid;
        char oid[64];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(one.get()), 1);
        EXPECT_STREQ(oid, c.oid);
        ASSERT_EQ(name.addEntry(one), 1);
    }
    unsigned char* der = nullptr;
    const int len = i2d_X509_NAME(name.get(), &der);
    const unsigned char* p = der;
    X509_NAME* back = d2i_X509_NAME(nullptr, &p, len);
    OPENSSL_free(der);
    ASSERT_NE(back, nullptr);
    ATTRIBUTE* split = X509_NAME_split(back);
    EXPECT_EQ(entries_of(split), (std::vector<std::pair<int, std::string>>{
                                     {NID_STREET_ADDRESS, street},
                                     {NID_DOMAIN_COMPONENT, "example"},
                                     {NID_DN_QUALIFIER, "Q-42"},
                                     {NID_GENERATION_QUALIFIER, "III"}}));
    ATTRIBUTE_free(split);
    BUFFER* text = X509_NAME_get_rfc2253(back);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text->data), text->length),
              std::string("STREET=\"") + street +
                  "\", DC=example, dnQualifier=Q-42, generationQualifier=III");
    BUFFER_free(text);
    X509_NAME_free(back);
    // The bounds of each: a generation qualifier of four letters, a domain
    // component in Cyrillic, a DN qualifier outside PrintableString.
    EXPECT_FALSE(e.set(NID_GENERATION_QUALIFIER, V_ASN1_PRINTABLESTRING, "IIII", 0, 0));
    EXPECT_FALSE(e.set(NID_DOMAIN_COMPONENT, V_ASN1_IA5STRING, street, 0, 0));
    EXPECT_FALSE(e.set(NID_DN_QUALIFIER, V_ASN1_PRINTABLESTRING, "a@b", 0, 0));
}

TEST(TX509NameTest, EntriesAndTheirRefusals) {
    TX509NameEntry e;
    EXPECT_EQ(e.getNid(), 0);
    EXPECT_EQ(e.stringType(), TX509NameEntry::kTypeNotChosen);
    ASSERT_TRUE(e.set(NID_commonName, V_ASN1_UTF8STRING, kCnLocal, 0, 2));
    EXPECT_EQ(e.getNid(), NID_commonName);
    EXPECT_EQ(e.getLongName(), "commonName");
    EXPECT_EQ(e.getOidBytes(), std::string("\x55\x04\x03", 3));
    EXPECT_EQ(e.stringType(), V_ASN1_UTF8STRING);
    EXPECT_EQ(e.getObjectIdText(), "2.5.4.3");
    TX509NameEntry copy(e);
    EXPECT_EQ(copy.getNid(), NID_commonName);
    EXPECT_NE(copy.get(), e.get());

    // A country of three letters breaks the attribute's bound; a failed set
    // leaves no entry.
    EXPECT_FALSE(e.set(NID_countryName, V_ASN1_PRINTABLESTRING, "RUS", 0, 2));
    EXPECT_EQ(e.get(), nullptr);
    EXPECT_EQ(e.getNid(), 0);
    EXPECT_EQ(e.getLongName(), "X509_NAME_ENTRY");
    EXPECT_EQ(e.getOidBytes(), "");
    EXPECT_FALSE(e.set(NID_commonName, V_ASN1_UTF8STRING, nullptr, 0, 2));
    EXPECT_FALSE(e.set(NID_commonName, V_ASN1_UTF8STRING, "abc", -5, 2));
    EXPECT_FALSE(e.set(NID_commonName, V_ASN1_UTF8STRING, std::string(65, 'a').c_str(), 0, 2));
    EXPECT_FALSE(e.set(999999, V_ASN1_UTF8STRING, "x", 0, 2));
    // 0x98 has no character in code page 1251; Cyrillic has no place in a
    // printable string, whatever the caller prefers.
    EXPECT_FALSE(e.set(NID_commonName, V_ASN1_UTF8STRING, "a\x98", 0, 2));
    EXPECT_FALSE(e.set(NID_countryName, V_ASN1_PRINTABLESTRING, "\xd0\xd4", 0, 2));
    // An explicit length bounds the text read.
    ASSERT_TRUE(e.set(NID_commonName, V_ASN1_UTF8STRING, "abcdef", 3, 2));
    EXPECT_EQ(ASN1_STRING_length(X509_NAME_ENTRY_get_data(e.get())), 3);
    ERR_clear_error();

    TX509Name name;
    EXPECT_EQ(name.addEntry(TX509NameEntry(static_cast<const X509_NAME_ENTRY*>(nullptr))), 0);
    EXPECT_EQ(name.addEntry(TX509NameEntry()), 0) << "an entry without attribute";
    EXPECT_EQ(name.count(), 0);
}

TEST(TX509NameTest, OneEntryPerAttributeType) {
    TX509Name name;
    ASSERT_EQ(name.addEntry(entry(NID_organizationalUnitName, "first")), 1);
    EXPECT_EQ(name.addEntry(entry(NID_organizationalUnitName, "second")), 0);
    EXPECT_EQ(name.count(), 1);
    EXPECT_EQ(name.insertAt(entry(NID_organizationalUnitName, "third"), 0), 0);
    ASSERT_EQ(name.addEntry(entry(NID_commonName, "cn")), 1);
    EXPECT_EQ(name.indexOf(entry(NID_commonName, "other")), 1);
    EXPECT_EQ(name.find(entry(NID_commonName, "cn")), 1);
    EXPECT_EQ(name.find(entry(NID_commonName, "other")), -1);

    // The list operations.
    ASSERT_EQ(name.insertAt(entry(NID_countryName, "RU"), 0), 1);
    ASSERT_EQ(name.count(), 3);
    EXPECT_EQ(name.entryAt(0)->getNid(), NID_countryName);
    EXPECT_EQ(name.entryAt(3), nullptr);
    EXPECT_EQ(name.entryAt(-1), nullptr);
    auto replaced = name.setEntryAt(1, entry(NID_localityName, "town"));
    EXPECT_EQ(replaced->getNid(), NID_localityName);
    EXPECT_EQ(name.entryAt(1)->getNid(), NID_localityName);
    // The unit left with its entry: a unit can be added again.
    EXPECT_EQ(name.setEntryAt(1, entry(NID_localityName, "again"))->getNid(), 0);
    EXPECT_EQ(name.setEntryAt(7, entry(NID_title, "t"))->getNid(), 0);
    auto removed = name.removeAt(2);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->getNid(), NID_commonName);
    EXPECT_EQ(name.removeAt(5), nullptr);
    EXPECT_EQ(name.indexOf(entry(NID_commonName, "cn")), -1);
    ASSERT_EQ(name.addEntry(entry(NID_commonName, "cn")), 1);
    ASSERT_EQ(name.addEntry(entry(NID_organizationalUnitName, "unit")), 1);
    name.sort();
    std::vector<int> nids;
    for (int i = 0; i < name.count(); ++i) nids.push_back(name.entryAt(i)->getNid());
    EXPECT_TRUE(std::is_sorted(nids.begin(), nids.end()));
    auto copied = name.copy();
    EXPECT_EQ(X509_NAME_cmp(copied->get(), name.get()), 0);
    EXPECT_NE(name.shift(), nullptr);
    EXPECT_NE(name.pop(), nullptr);
    name.remove(entry(NID_localityName, "town"));
    EXPECT_EQ(name.count(), 1);
    name.clear();
    EXPECT_EQ(name.count(), 0);
    EXPECT_EQ(name.shift(), nullptr);
    EXPECT_EQ(name.pop(), nullptr);
    EXPECT_EQ(name.addEntry(entry(NID_commonName, "new")), 1) << "an emptied name takes it again";
    EXPECT_EQ(name.create()->count(), 0);
}

class RequestTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        random_.emplace();
        ASSERT_TRUE(made_.create("a:\\req"));
        ASSERT_TRUE(store_.open("a:\\req"));
        ERR_clear_error();
    }
    void TearDown() override {
        store_.close();
        made_.close();
        random_.reset();
        StoreTest::TearDown();
    }
    std::string save(const TBuffer* b, const char* file) {
        const fs::path p = dir_ / file;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b->getData()), b->getLength());
        return p.string();
    }
    // The key saved under a password and loaded back, as a new wrapper.
    std::unique_ptr<TPrivateKey> reloaded(TPrivateKey& key) {
        EXPECT_EQ(key.setType(TPrivateKey::kSelectDER, TPrivateKey::kFormPKCS8), 1);
        key.setPassword(kCnLocal, static_cast<int>(std::strlen(kCnLocal)));
        const TBuffer* saved = key.save();
        if (saved == nullptr) return nullptr;
        auto back = std::make_unique<TPrivateKey>();
        if (!back->loadWithPassword(*saved, &store_, kCnLocal,
                                    static_cast<int>(std::strlen(kCnLocal))))
            return nullptr;
        back->setPSE(store_);
        return back;
    }

    std::optional<KernelRandom> random_;
    TPSE made_, store_;
};

TEST_F(RequestTest, KeysOfEveryTypeSignRequestsThePeerAccepts) {
    struct Case {
        const char* label;
        std::uint32_t type, set;
        bool peer;  // the peer knows the key type
    };
    const Case cases[] = {
        {"gost2001-cp-A", NID_ECR3410_CP, NID_R3410_2001_A_PARAMSET, true},
        {"gost2001-cp-XchA", NID_ECR3410_CP, NID_R3410_2001_XCHA_PARAMSET, true},
        {"gost2001", NID_ECR3410, 0, false},
        {"gost94-cp", NID_R3410_CP, NID_R3410_94_A_PARAMSET, false},
        {"gost94", NID_R3410, 0, false},
        {"rsa", 0, 0, true},
        {"dsa", EVP_PKEY_DSA, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TPrivateKey key;
        key.setPSE(store_);
        if (std::string(c.label) == "rsa") {
            ASSERT_TRUE(key.generate(1024));
        } else if (c.type == EVP_PKEY_DSA) {
            ASSERT_TRUE(key.generateWithParams(nullptr));
        } else {
            ASSERT_TRUE(key.generateByAlgorithm(c.type, c.set));
        }
        auto signer = reloaded(key);
        ASSERT_NE(signer, nullptr);

        TX509Name name;
        subject(name);
        TPKCS10 request;
        TPKCS10SignParams params;
        params.signingKey = signer.get();
        ASSERT_TRUE(request.make(name, *signer, params));
        ASSERT_NE(request.get(), nullptr);
        EXPECT_EQ(request.get()->signature_check, 1);
        EXPECT_EQ(entries_of(request.get()->subject), kExpected);

        // Read back from its PEM, the same request.
        ASSERT_EQ(request.setFormat(TPKCS10::kFormatPEM), 1);
        const std::string pem = text_of(request.getEncoded());
        EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u);
        TPKCS10 back;
        ASSERT_TRUE(back.loadDER(reinterpret_cast<const unsigned char*>(pem.data()),
                                 static_cast<int>(pem.size())));
        EXPECT_EQ(back.get()->signature_check, 1);
        EXPECT_EQ(entries_of(back.get()->subject), kExpected);

        if (!c.peer) continue;
        const std::string file = save(request.getEncoded(), "req.pem");
        const bool gost = c.type == NID_ECR3410_CP;
        const auto [status, out] = run(std::string("openssl req ") + (gost ? "-engine gost " : "") +
                                       "-noout -verify -subject -nameopt utf8 -in " + file);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
        EXPECT_NE(out.find(kCnUtf8), std::string::npos) << out;
    }
    ERR_clear_error();
}

TEST_F(RequestTest, ExtensionsFromCodeAndTemplateReachThePeer) {
    TPrivateKey key;
    key.setPSE(store_);
    ASSERT_TRUE(key.generateByAlgorithm(NID_ECR3410_CP, NID_R3410_2001_XCHA_PARAMSET));
    auto signer = reloaded(key);
    ASSERT_NE(signer, nullptr);
    TStack_V3EXT extensions;
    TKeyUsageExt usage;
    ASSERT_TRUE(usage.setBits(0x1 | 0x4));  // digitalSignature, keyEncipherment
    usage.setCritical(true);
    EXPECT_EQ(extensions.add(&usage), 1);
    TExtKeyUsageExt purposes;
    ASSERT_TRUE(purposes.addPurpose("clientAuth"));
    ASSERT_TRUE(purposes.addPurpose("1.3.6.1.5.5.7.3.4"));
    EXPECT_EQ(extensions.add(&purposes), 1);
    const char* xml =
        "<?xml version=\"1.0\"?><Request><CertificationRequestInfo><Attributes><Object>"
        "<OID>2.5.29.19</OID><Data type=\"BOOLEAN\">255</Data>"
        "<Data type=\"OCTET_STRING\">3000</Data></Object></Attributes>"
        "</CertificationRequestInfo></Request>";
    ASSERT_EQ(extensions.fillFromXMLTemplate(xml, 0, 1), 1);

    TX509Name name;
    subject(name);
    TPKCS10SignParams params;
    params.signingKey = signer.get();
    params.extensions = &extensions;
    TPKCS10 request;
    ASSERT_TRUE(request.make(name, *signer, params));
    ASSERT_NE(request.get()->extensions, nullptr);
    EXPECT_EQ(sk_CADB_V3EXT_num(request.get()->extensions), 3);
    ASSERT_EQ(request.setFormat(TPKCS10::kFormatPEM), 1);
    const std::string file = save(request.getEncoded(), "ext.pem");
    const auto [status, out] =
        run("openssl req -engine gost -noout -verify -text -nameopt utf8 -in " + file);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
    EXPECT_NE(out.find(kCnUtf8), std::string::npos) << out;
    EXPECT_NE(out.find("Digital Signature, Key Encipherment"), std::string::npos) << out;
    EXPECT_NE(out.find("TLS Web Client Authentication, E-mail Protection"), std::string::npos)
        << out;
    EXPECT_NE(out.find("X509v3 Basic Constraints: critical"), std::string::npos) << out;
    ERR_clear_error();
}

TEST_F(RequestTest, FormatsCopiesAndRefusals) {
    TPrivateKey key;
    key.setPSE(store_);
    ASSERT_TRUE(key.generateByAlgorithm(NID_ECR3410_CP, NID_R3410_2001_B_PARAMSET));
    TX509Name name;
    subject(name);
    TPKCS10 request;
    EXPECT_EQ(request.getEncoded(), nullptr) << "no request";
    EXPECT_EQ(request.setFormat(TPKCS10::kFormatPEM), 0);
    TPKCS10SignParams params;
    params.signingKey = &key;
    ASSERT_TRUE(request.make(name, key, params));

    ASSERT_EQ(request.setFormat(TPKCS10::kFormatDER), 1);
    const std::string der = text_of(request.getEncoded());
    ASSERT_FALSE(der.empty());
    EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30);
    ASSERT_EQ(request.setFormat(TPKCS10::kFormatBase64), 1);
    const std::string b64 = text_of(request.getEncoded());
    EXPECT_EQ(b64.find("-----"), std::string::npos);
    EXPECT_EQ(b64.find('\n'), std::string::npos) << "one line";
    ASSERT_EQ(request.setFormat(TPKCS10::kFormatText), 1);
    EXPECT_NE(text_of(request.getEncoded()).find("Certificate Request"), std::string::npos);
    EXPECT_EQ(request.setFormat(3), 0);
    EXPECT_EQ(request.format(), TPKCS10::kFormatText);

    // Every form reads back as the same request.
    TBuffer b64_buffer;
    b64_buffer.assign(b64.data(), static_cast<int>(b64.size()));
    TPKCS10 from_b64;
    ASSERT_TRUE(from_b64.loadBuffer(b64_buffer));
    ASSERT_EQ(from_b64.setFormat(TPKCS10::kFormatDER), 1);
    EXPECT_EQ(text_of(from_b64.getEncoded()), der);

    // Copies.
    TPKCS10 copy(request);
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_EQ(copy.format(), TPKCS10::kFormatText);
    ASSERT_EQ(copy.setFormat(TPKCS10::kFormatDER), 1);
    EXPECT_EQ(text_of(copy.getEncoded()), der);
    PKCS10* held = copy.get();
    auto& self = copy;
    copy = self;
    EXPECT_EQ(copy.get(), held);
    TPKCS10 empty;
    copy = empty;
    EXPECT_EQ(copy.get(), nullptr);
    TPKCS10 empty_copy(empty);
    EXPECT_EQ(empty_copy.get(), nullptr);

    // Nothing to read keeps the request; bytes that are no request drop it.
    EXPECT_FALSE(request.loadDER(reinterpret_cast<const unsigned char*>(der.data()), 0));
    EXPECT_FALSE(request.loadDER(nullptr, 10));
    EXPECT_NE(request.get(), nullptr);
    for (std::size_t len = 1; len < der.size(); len += 13) {
        TPKCS10 cut;
        EXPECT_FALSE(
            cut.loadDER(reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(len)))
            << len;
    }
    const std::string junk = "-----BEGIN CERTIFICATE REQUEST-----\n!!!!\n";
    EXPECT_FALSE(request.loadDER(reinterpret_cast<const unsigned char*>(junk.data()),
                                 static_cast<int>(junk.size())));
    EXPECT_EQ(request.get(), nullptr);

    // No key: no request.
    TPrivateKey none;
    EXPECT_FALSE(request.make(name, none, params));
    EXPECT_EQ(request.get(), nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
