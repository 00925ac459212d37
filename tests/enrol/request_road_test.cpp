// The request road as a page walks it: a key store and a key made on a drive
// that maps to a folder of the test, the request returned as PEM and checked
// by the openssl command (GOST rows with Debian's GOST engine, in a child
// process), and the failures that must leave the medium as it was.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class RequestRoad : public ScriptDrive {
  protected:
    // openssl req -verify on the PEM text; true when the signature verifies.
    bool verifies(const std::string& pem, bool gost, std::string* text = nullptr) const {
        const std::string file = dir_ + "/req.pem";
        std::ofstream(file) << pem;
        const std::string cmd = std::string("openssl req ") + (gost ? "-engine gost " : "") +
                                "-in '" + file + "' -verify -noout -text 2>&1";
        FILE* pipe = popen(cmd.c_str(), "r");
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        const int status = pclose(pipe);
        if (text) *text = out;
        return status == 0 && out.find("verify OK") != std::string::npos;
    }
    static std::string pem_of(const std::string& out) {
        const auto from = out.find("-----BEGIN CERTIFICATE REQUEST-----");
        const auto to = out.find("-----END CERTIFICATE REQUEST-----");
        if (from == std::string::npos || to == std::string::npos) return "";
        return out.substr(from, to - from + 35) + "\n";
    }
};

// GOST R 34.10-2001 with CryptoPro identifiers: the row Debian's GOST
// engine reads.
constexpr const char* kPrelude = R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
function attempt(f) {
  try { WScript.Echo(f()); } catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); }
}
)";

TEST_F(RequestRoad, Gost2001KeyAndRequestOnADiskDrive) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
WScript.Echo(q.createPKCS10('C=RU;O=Рога и копыта;CN=Иванов Иван;Email=ivanov@example.ru;',
                            '1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4'));
WScript.Echo(q.ContainerName, q.IsPSEExists('b:\\store'));
)"),
              0)
        << err_;
    const std::string pem = pem_of(out_);
    ASSERT_FALSE(pem.empty()) << out_;
    std::string text;
    EXPECT_TRUE(verifies(pem, true, &text)) << text;
    EXPECT_NE(text.find("GOST R 34.10-2001"), std::string::npos) << text;
    EXPECT_NE(out_.find("b:\\store 1"), std::string::npos) << out_;
    EXPECT_EQ(files(), (std::set<std::string>{"store/mk.db3", "store/masks.db3", "store/kek.opq",
                                              "store/rand.opq", "keys/00000001.key",
                                              "keys/00000002.key"}));
}

TEST_F(RequestRoad, ASecondKeyKeepsTheFirstAndTheUserCopy) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.createPKCS10('CN=first;', '');
q.DefaultPKeyFileName = 'Mine.KEY';
attempt(function () { return q.createPKCS10('CN=second;', '').length > 0; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "true\n");
    const std::set<std::string> f = files();
    for (const char* name : {"keys/00000001.key", "keys/00000002.key", "keys/00000003.key",
                             "keys/mine.key"})
        EXPECT_TRUE(f.count(name)) << name;
}

// The key saved under its own names but not under the page's: the road goes
// on and says so in a message box, which reaches the dialog library (with no
// display to show it on, it is refused at once and the trace says so).
TEST_F(RequestRoad, AUserCopyThatCannotBeWrittenIsToldInABox) {
    fs::create_directories(drive_ + "/keys/mine.key");
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.DefaultPKeyFileName = 'Mine.KEY';
attempt(function () { return q.createPKCS10('CN=boxed;', '').length > 0; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "true\n");
    EXPECT_NE(err_.find("Gorget: box \"   Ошибка сохранения секретного ключа в файле "
                        "'b:\\keys\\mine.key'.\nВыполнено сохранение в файл "
                        "'b:\\keys\\00000002.key'.\" refused: no display"),
              std::string::npos)
        << err_;
    EXPECT_TRUE(files().count("keys/00000001.key"));
}

TEST_F(RequestRoad, ABadSubjectOrUsageLeavesTheMediumAsItWas) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
attempt(function () { return q.createPKCS10('', ''); });
attempt(function () { return q.createPKCS10('O=Org;', ''); });
attempt(function () { return q.createPKCS10('CN=;O=x;', ''); });
attempt(function () { return q.createPKCS10('CN=Ivanov;', 'clientAuth'); });
attempt(function () { return q.createFilePKCS10('CN=Ivanov;', 'clientAuth', 'b:\\req.pem'); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043aa3 Distinguish Name is Empty\n"
              "80043aa4 Common Name Attribute is Empty\n"
              "80043aa4 Common Name Attribute is Empty\n"
              "80043ace Bad OID\n"
              "80043aa8 PKCS#10 File Creation Error\n");
    EXPECT_TRUE(files().empty());
}

// A value the request cannot carry whole would be dropped or cut from a
// request still returned as made: such a subject is refused, before any
// store or key is made.
TEST_F(RequestRoad, SubjectValuesARequestCannotCarryAreRefusedBeforeAnyKey) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
var cn64 = ''; for (var i = 0; i < 64; i++) cn64 += 'ж';
attempt(function () { return q.createPKCS10('CN=' + cn64 + 'x;', ''); });
attempt(function () { return q.createPKCS10('C=RUSSIA;CN=Ivanov;', ''); });
attempt(function () { return q.createPKCS10('CN=Iva\u0000nov;', ''); });
attempt(function () { return q.createPKCS10('CN=Ivanov;O=Org\u0000;', ''); });
attempt(function () { return q.createFilePKCS10('C=R;CN=Ivanov;', '', 'b:\\req.pem'); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043aa7 PKCS#10 Generation Error\n"
              "80043aa7 PKCS#10 Generation Error\n"
              "80043aa7 PKCS#10 Generation Error\n"
              "80043aa7 PKCS#10 Generation Error\n"
              "80043aa8 PKCS#10 File Creation Error\n");
    EXPECT_TRUE(files().empty());

    // At their bounds the values are carried whole.
    ASSERT_EQ(run(std::string(kPrelude) + R"(
var cn64 = ''; for (var i = 0; i < 64; i++) cn64 += 'ж';
WScript.Echo(q.createPKCS10('C=RU;CN=' + cn64 + ';', ''));
)"),
              0)
        << err_;
    const std::string pem = pem_of(out_);
    std::string text;
    EXPECT_TRUE(verifies(pem, true, &text)) << text;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> req(
        PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr), X509_REQ_free);
    ASSERT_TRUE(req);
    const X509_NAME* subject = X509_REQ_get_subject_name(req.get());
    std::string cn64;
    for (int i = 0; i < 64; ++i) cn64 += "ж";
    auto value = [&](int nid) {
        const int at = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (at < 0) return std::string("<none>");
        const ASN1_STRING* v = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
        return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(v)),
                           static_cast<std::size_t>(ASN1_STRING_length(v)));
    };
    EXPECT_EQ(value(NID_countryName), "RU");
    EXPECT_EQ(value(NID_commonName), cn64);
}

TEST_F(RequestRoad, RequestWrittenToAFile) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
attempt(function () { q.createFilePKCS10('CN=file;', '', 'b:\\out\\req.pem'); return 'written'; });
attempt(function () { q.createFilePKCS10('CN=file;', '', ''); return 'written'; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "written\n80043aa8 PKCS#10 File Creation Error\n");
    std::ostringstream pem;
    pem << std::ifstream(drive_ + "/out/req.pem").rdbuf();
    EXPECT_TRUE(verifies(pem.str(), true)) << pem.str();
}

TEST_F(RequestRoad, EveryAlgorithmRowOnADiskDrive) {
    // The engine reads GOST R 34.10-2001 keys with CryptoPro identifiers;
    // the rows with the library's own key identifiers are checked as DER
    // requests; RSA and DSA requests are signed with SHA-1 and verified by
    // plain openssl.
    enum Check { engine, der_only, plain };
    const struct {
        const char* provider;
        int hash;
        Check check;
    } rows[] = {{"ГОСТ Р 34.10-2001 CP", 176, engine},
                {"ГОСТ Р 34.10-94   CP", 176, der_only},
                {"ГОСТ Р 34.10-2001", 176, der_only},
                {"ГОСТ Р 34.10-94", 176, der_only},
                {"RSA", 64, plain},
                {"DSA", 64, plain}};
    for (const auto& row : rows) {
        ASSERT_EQ(run(std::string(kPrelude) + "q.ProviderName = '" + row.provider +
                      "'; q.HashAlgID = " + std::to_string(row.hash) +
                      "; WScript.Echo(q.createPKCS10('CN=row;', '1.3.6.1.5.5.7.3.2'));"),
                  0)
            << row.provider << err_;
        const std::string pem = pem_of(out_);
        ASSERT_FALSE(pem.empty()) << row.provider << out_;
        std::string text;
        if (row.check == der_only) {
            const std::string file = dir_ + "/req.pem";
            std::ofstream(file) << pem;
            EXPECT_EQ(std::system(("openssl asn1parse -in '" + file + "' >/dev/null").c_str()), 0)
                << row.provider;
        } else {
            EXPECT_TRUE(verifies(pem, row.check == engine, &text)) << row.provider << text;
        }
    }
}

TEST_F(RequestRoad, PasswordsNobodyAnswersStopTheRoad) {
    // Headless, every password question is refused.
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.GenKeyFlags = (256 << 16) | 2;
attempt(function () { return q.createPKCS10('CN=strong;', ''); });
q.GenKeyFlags = 256 << 16;
q.ContainerName = 'b:\\locked';
q.PassOnContainer = 1;
attempt(function () { return q.createPKCS10('CN=locked;', ''); });
q.PassOnContainer = 0;
q.UseExistingKeySet = 1;
q.ContainerName = '';
attempt(function () { return q.createPKCS10('CN=none;', ''); });
q.ContainerName = 'b:\\nothing-here';
attempt(function () { return q.createPKCS10('CN=none;', ''); });
)"),
              0)
        << err_;
    // An empty container name is a name, of no store.
    EXPECT_EQ(out_,
              "80043aaa Key Password is Empty\n"
              "80043a9e Vambrace3_1 Container is Bad\n"
              "80043a9e Vambrace3_1 Container is Bad\n"
              "80043a9e Vambrace3_1 Container is Bad\n");
    // No key file was written without its password.
    EXPECT_FALSE(fs::exists(drive_ + "/keys"));
}

TEST_F(RequestRoad, AnExistingKeyIsRequestedAgain) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
var first = q.createPKCS10('CN=first;', '');
q.UseExistingKeySet = 1;
var again = q.createPKCS10('CN=again;', '');
WScript.Echo(first);
WScript.Echo(again);
)"),
              0)
        << err_;
    const auto second_at = out_.find("-----BEGIN", out_.find("-----END"));
    ASSERT_NE(second_at, std::string::npos) << out_;
    std::string first_text, again_text;
    EXPECT_TRUE(verifies(pem_of(out_), true, &first_text));
    EXPECT_TRUE(verifies(pem_of(out_.substr(second_at)), true, &again_text));
    // The same public key in both requests.
    const auto key_of = [](const std::string& t) {
        const auto at = t.find("Public key:");
        return at == std::string::npos ? std::string() : t.substr(at, 200);
    };
    EXPECT_FALSE(key_of(first_text).empty());
    EXPECT_EQ(key_of(first_text), key_of(again_text));
}

// The RSA and DSA rows make no key longer than their range: the request is
// refused before the medium is touched, and a length below the range is
// raised to the row's smallest. A GOST row makes its key on its own curve
// and reads no length: any length set is no reason to refuse.
TEST_F(RequestRoad, OnlyRowsThatTakeTheKeyLengthRefuseALongerOne) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.ProviderName = 'RSA';
q.HashAlgID = 64;
q.GenKeyFlags = 4096 << 16;
attempt(function () { return q.createPKCS10('CN=long;', ''); });
q.ProviderName = 'DSA';
q.GenKeyFlags = 2048 << 16;
attempt(function () { return q.createPKCS10('CN=long;', ''); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "80043a9f Key Generation Error\n80043a9f Key Generation Error\n");
    EXPECT_TRUE(files().empty());

    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.GenKeyFlags = 1024 << 16;
WScript.Echo(q.createPKCS10('CN=gost;', ''));
)"),
              0)
        << err_;
    EXPECT_TRUE(verifies(pem_of(out_), true)) << out_;

    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.ProviderName = 'RSA';
q.HashAlgID = 64;
q.GenKeyFlags = 128 << 16;
WScript.Echo(q.createPKCS10('CN=short;', ''));
)"),
              0)
        << err_;
    std::string text;
    ASSERT_TRUE(verifies(pem_of(out_), false, &text)) << out_;
    EXPECT_NE(text.find("(512 bit)"), std::string::npos) << text;
}

// An empty key path names no folder: no key is written to or read from the
// root of the file system. An empty container name is a name (of no store),
// a null one is none.
TEST_F(RequestRoad, EmptyPathsAreNoFolders) {
    ASSERT_EQ(run(std::string(kPrelude) + R"(
q.DefaultPKeyPath = '';
attempt(function () { return q.createPKCS10('CN=nowhere;', ''); });
q.DefaultPKeyPath = '\\';
attempt(function () { return q.createPKCS10('CN=nowhere;', ''); });
q.UseExistingKeySet = 1;
attempt(function () { return q.createPKCS10('CN=nowhere;', ''); });
q.UseExistingKeySet = 0;
q.DefaultPKeyPath = 'b:\\keys';
q.ContainerName = '';
attempt(function () { return q.createPKCS10('CN=nowhere;', ''); });
q.UseExistingKeySet = 1;
attempt(function () { return q.createPKCS10('CN=nowhere;', ''); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "80043aa1 Save Key as File Error\n"
              "80043aa1 Save Key as File Error\n"
              "80043ab6 Private Key File Read Error\n"
              "80043a9e Vambrace3_1 Container is Bad\n"
              "80043a9e Vambrace3_1 Container is Bad\n");
    EXPECT_FALSE(fs::exists("/00000001.key"));
    EXPECT_FALSE(fs::exists("/mk.db3"));
    EXPECT_FALSE(fs::exists(drive_ + "/keys"));
    // Only the store of the first calls was made.
    for (const std::string& f : files()) EXPECT_EQ(f.rfind("store/", 0), 0u) << f;
}

}  // namespace
}  // namespace cadb::enrol::test
