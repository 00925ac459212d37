// The save members with the enrolment library's objects linked in, so that
// the test answers the save dialog in-process and sees what it was asked:
// titles, filter lists, default extensions and offered names, the form
// written for each choice, cancels, refusals and files replaced whole.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "enrol/identities.h"
#include "enrol/quillon_iface.h"
#include "enrol/strings.h"
#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "platform/save_dialog.h"

extern "C" cadb::com::HRESULT DllGetClassObject(const cadb::com::CLSID& rclsid,
                                                const cadb::com::IID& riid, void** ppv);

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;
using namespace cadb::com;

constexpr HRESULT code(int n) { return static_cast<HRESULT>(0x80040000u | unsigned(n)); }

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ansi(const char* utf8) { return Utf8ToAnsi(utf8).value_or("?"); }

// A string argument that frees itself.
struct Text {
    explicit Text(const std::string& utf8) : b(bstr_from_utf8(utf8)) {}
    ~Text() { SysFreeString(b); }
    BSTR b;
};

// One request answered by the test authority, its certificate in PEM and
// DER, and a CRL made by the openssl command; shared by every case.
class SaveMembers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/cadb-saving-XXXXXX";
        dir_ = new std::string(mkdtemp(tmpl));
        const std::string d = "'" + *dir_ + "'";
        const std::string cmd =
            "cd " + d +
            " && openssl req -engine gost -new -newkey gost2001 -pkeyopt paramset:A -nodes "
            "-subj '/C=RU/O=Org/CN=Ivanov' -keyout key.pem -out req.pem >/dev/null 2>&1"
            " && " + std::string(TEST_CA) + " -cert cert.pem req.pem resp.pem >/dev/null 2>&1"
            " && openssl x509 -in cert.pem -outform DER -out cert.der"
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem "
            "-subj /CN=CRL-CA -days 30 >/dev/null 2>&1"
            " && touch index.txt && echo 01 > crlnumber"
            " && printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=index.txt\\ncrlnumber=crlnumber\\n"
            "default_md=sha256\\ndefault_crl_days=30\\n' > ca.cnf"
            " && openssl ca -config ca.cnf -gencrl -keyfile ca.key -cert ca.pem -out crl.pem "
            ">/dev/null 2>&1 && openssl crl -in crl.pem -outform DER -out crl.der";
        ready_ = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
    }

    void SetUp() override {
        ASSERT_TRUE(ready_) << "the certificate and CRL could not be made";
        for (const char* name : {kSaveDirEnv, "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
        out_ = fs::path(*dir_) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(out_);
        SetSaveFileHook([this](const SaveFileQuestion& q) {
            asked_.push_back(q);
            return answer_;
        });
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQuillon, q_.put_void()), S_OK);
    }
    void TearDown() override { SetSaveFileHook({}); }

    void accept() {
        Text resp(slurp(fs::path(*dir_) / "resp.pem"));
        ASSERT_EQ(q_->acceptPKCS7(resp.b), S_OK);
    }
    // The next question is answered with out_/name (nothing: Cancel).
    void answer(const std::optional<std::string>& name) {
        answer_ = name ? std::optional<std::string>((out_ / *name).string()) : std::nullopt;
    }
    std::string file(const std::string& name) { return slurp(out_ / name); }
    std::string in(const std::string& name) { return slurp(fs::path(*dir_) / name); }
    std::vector<std::string> listing() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string* dir_;
    static bool ready_;
    fs::path out_;
    std::optional<std::string> answer_;
    std::vector<SaveFileQuestion> asked_;
    ComPtr<IQuillon> q_;
};

std::string* SaveMembers::dir_ = nullptr;
bool SaveMembers::ready_ = false;

TEST_F(SaveMembers, QuestionsCarryTheTitlesFiltersAndOfferedNames) {
    accept();
    answer(std::nullopt);
    ASSERT_EQ(q_->SaveCert(0, 1), S_OK);
    ASSERT_EQ(q_->SaveCert(0, 0), S_OK);
    ASSERT_EQ(q_->SaveCert(1, 7), S_OK);
    Text pem(in("cert.pem")), name("offered.bin"), crl(in("crl.pem"));
    ASSERT_EQ(q_->SaveCertAs(pem.b, name.b), S_OK);
    ASSERT_EQ(q_->SaveCRLAs(crl.b, name.b), S_OK);
    ASSERT_EQ(asked_.size(), 5u);

    const std::string cert_title = ansi("Сохранить сертификат в файле...");
    const std::string der_filter = ansi("Файлы *.der|*.der|Все файлы (*.*)|*.*||");
    const std::string pem_filter =
        ansi("Файлы *.pem|*.pem|Файлы *.cer|*.cer|Файлы *.crt|*.crt|Все файлы (*.*)|*.*||");
    EXPECT_EQ(asked_[0].title, cert_title);
    EXPECT_EQ(asked_[0].filter, der_filter);
    EXPECT_EQ(asked_[0].default_extension, "der");
    EXPECT_EQ(asked_[0].file_name, "Ivanov");
    for (int i : {1, 2}) {
        EXPECT_EQ(asked_[i].title, cert_title);
        EXPECT_EQ(asked_[i].filter, pem_filter);
        EXPECT_EQ(asked_[i].default_extension, "cer");
    }
    EXPECT_EQ(asked_[2].file_name, "Test CA");
    EXPECT_EQ(asked_[3].title, cert_title);
    EXPECT_EQ(asked_[3].filter, ansi("Файлы *.der|*.der|Файлы *.pem|*.pem|Файлы *.cer|*.cer|"
                                     "Файлы *.crt|*.crt|Все файлы (*.*)|*.*||"));
    EXPECT_EQ(asked_[3].default_extension, "der");
    EXPECT_EQ(asked_[3].file_name, "offered.bin");
    EXPECT_EQ(asked_[4].title, ansi("Сохранить Список Отозванных Сертификатов в файле..."));
    EXPECT_EQ(asked_[4].filter,
              ansi("Файлы *.pem|*.pem|Файлы *.crl|*.crl|Все файлы (*.*)|*.*||"));
    EXPECT_EQ(asked_[4].default_extension, "crl");
    for (const SaveFileQuestion& q : asked_) {
        EXPECT_EQ(q.filter_index, 1);
        EXPECT_TRUE(q.overwrite_prompt);
    }
    // Every question was cancelled: nothing written.
    EXPECT_TRUE(listing().empty());
}

TEST_F(SaveMembers, SaveCertWritesDerOnlyForFormatOne) {
    accept();
    const std::string der = in("cert.der"), pem = in("cert.pem");
    answer("one");
    ASSERT_EQ(q_->SaveCert(0, 1), S_OK);
    EXPECT_EQ(file("one"), der);
    for (int format : {0, 2, 7, -1}) {
        const std::string name = "f" + std::to_string(format) + ".der";
        answer(name);
        ASSERT_EQ(q_->SaveCert(0, format), S_OK);
        EXPECT_EQ(file(name), pem) << format;
    }
    answer("ca.cer");
    ASSERT_EQ(q_->SaveCert(1, 2), S_OK);
    EXPECT_NE(file("ca.cer").find("-----BEGIN CERTIFICATE-----"), std::string::npos);
    EXPECT_NE(file("ca.cer"), pem);
}

TEST_F(SaveMembers, SaveCertAsFollowsTheChosenExtension) {
    const std::string der = in("cert.der"), pem = in("cert.pem");
    Text view(pem), offered("x");
    // A view in base64 alone is a certificate too.
    std::string body;
    for (std::size_t at = pem.find('\n') + 1; pem.compare(at, 5, "-----") != 0; ++at)
        if (pem[at] != '\n') body += pem[at];
    Text bare(body);
    struct Case {
        std::string name;
        bool is_der;
    };
    for (const Case& c : std::vector<Case>{{"a.der", true},
                                           {"b.DeR", true},
                                           {"c.DER", true},
                                           {"d.cer", false},
                                           {"e.der.pem", false},
                                           {"f", false},
                                           {"g.derx", false}}) {
        answer(c.name);
        ASSERT_EQ(q_->SaveCertAs(view.b, offered.b), S_OK) << c.name;
        EXPECT_EQ(file(c.name), c.is_der ? der : pem) << c.name;
    }
    fs::create_directories(out_ / "dir.der");
    answer("dir.der/h");
    ASSERT_EQ(q_->SaveCertAs(bare.b, offered.b), S_OK);
    EXPECT_EQ(file("dir.der/h"), pem);
    answer("i.der");
    ASSERT_EQ(q_->SaveCertAs(bare.b, offered.b), S_OK);
    EXPECT_EQ(file("i.der"), der);
}

TEST_F(SaveMembers, SaveCRLAsWritesPrintAndPemOrDerOrPem) {
    Text view(in("crl.pem")), offered("list");
    const std::string pem = in("crl.pem"), der = in("crl.der");
    answer("l.crl");
    ASSERT_EQ(q_->SaveCRLAs(view.b, offered.b), S_OK);
    EXPECT_EQ(file("l.crl"), der);
    answer("l.CRL");
    ASSERT_EQ(q_->SaveCRLAs(view.b, offered.b), S_OK);
    EXPECT_EQ(file("l.CRL"), der);
    answer("l.pem");
    ASSERT_EQ(q_->SaveCRLAs(view.b, offered.b), S_OK);
    const std::string printed = file("l.pem");
    ASSERT_GT(printed.size(), pem.size());
    EXPECT_EQ(printed.substr(printed.size() - pem.size()), pem);
    EXPECT_NE(printed.find("Certificate Revocation List"), std::string::npos);
    EXPECT_NE(printed.find("CRL-CA"), std::string::npos);
    for (const char* name : {"l.txt", "l"}) {
        answer(name);
        ASSERT_EQ(q_->SaveCRLAs(view.b, offered.b), S_OK);
        EXPECT_EQ(file(name), pem) << name;
    }
}

// A CRL whose text cannot be printed is not saved as a readable file:
// nothing is written and the caller learns it. Its issue time carries an
// offset of fifteen hours, which the library reads and the printer refuses.
TEST_F(SaveMembers, SaveCRLAsReportsACrlItCannotPrint) {
    std::string der = in("crl.der");
    // SEQUENCE (two length bytes) { SEQUENCE (one length byte) { ... } }
    ASSERT_GT(der.size(), 6u);
    ASSERT_EQ(der.substr(0, 2), "\x30\x82");
    ASSERT_EQ(der[4], '\x30');
    ASSERT_LT(static_cast<unsigned char>(der[5]), 0x7cu);
    const std::size_t at = der.find(std::string("\x17\x0d", 2));
    ASSERT_NE(at, std::string::npos);
    der.replace(at + 2 + 12, 1, "+1500");
    der[at + 1] = 0x11;
    der[5] = static_cast<char>(der[5] + 4);
    const unsigned outer = (static_cast<unsigned char>(der[2]) << 8 | static_cast<unsigned char>(der[3])) + 4;
    der[2] = static_cast<char>(outer >> 8);
    der[3] = static_cast<char>(outer & 0xff);
    std::ofstream(out_ / "bad.der", std::ios::binary) << der;
    ASSERT_EQ(std::system(("openssl base64 -in '" + (out_ / "bad.der").string() + "' -out '" +
                           (out_ / "bad.b64").string() + "'")
                              .c_str()),
              0);
    Text view("-----BEGIN X509 CRL-----\n" + file("bad.b64") + "-----END X509 CRL-----\n");
    Text offered("list");
    answer("bad.pem");
    EXPECT_EQ(q_->SaveCRLAs(view.b, offered.b), S_FALSE);
    EXPECT_FALSE(fs::exists(out_ / "bad.pem"));
    // The other forms need no print.
    answer("bad.crl");
    EXPECT_EQ(q_->SaveCRLAs(view.b, offered.b), S_OK);
    EXPECT_EQ(file("bad.crl"), der);
}

TEST_F(SaveMembers, BadInputIsRefusedWithItsCodeAndWritesNothing) {
    answer("x.der");
    EXPECT_EQ(q_->SaveCert(0, 1), code(15041));
    accept();
    EXPECT_EQ(q_->SaveCert(2, 1), code(15042));
    EXPECT_EQ(q_->SaveCert(-1, 1), code(15042));
    Text empty(""), garbage("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"),
        name("x.der");
    EXPECT_EQ(q_->SaveCertAs(empty.b, name.b), code(15047));
    EXPECT_EQ(q_->SaveCertAs(nullptr, name.b), code(15047));
    EXPECT_EQ(q_->SaveCRLAs(empty.b, name.b), code(15048));
    // Refused before any question is asked.
    EXPECT_TRUE(asked_.empty());
    EXPECT_EQ(q_->SaveCertAs(garbage.b, name.b), code(15047));
    EXPECT_EQ(q_->SaveCRLAs(garbage.b, name.b), code(15048));
    Text cert(in("cert.pem"));
    EXPECT_EQ(q_->SaveCRLAs(cert.b, name.b), code(15048));
    EXPECT_TRUE(listing().empty());
}

TEST_F(SaveMembers, FilesAreReplacedWholeOrLeftAsTheyWere) {
    accept();
    const std::string der = in("cert.der");
    std::ofstream(out_ / "old.der") << std::string(5000, 'o');
    answer("old.der");
    ASSERT_EQ(q_->SaveCert(0, 1), S_OK);
    EXPECT_EQ(file("old.der"), der);

    // A file that may not be written, and a folder in the chosen place: the
    // save fails and what was there stays.
    std::ofstream(out_ / "locked.der") << "keep";
    fs::permissions(out_ / "locked.der", fs::perms::owner_read);
    answer("locked.der");
    EXPECT_EQ(q_->SaveCert(0, 1), code(15045));
    EXPECT_EQ(file("locked.der"), "keep");
    fs::create_directories(out_ / "folder.crl");
    answer("folder.crl");
    Text crl(in("crl.pem")), name("n");
    EXPECT_EQ(q_->SaveCRLAs(crl.b, name.b), code(15049));
    EXPECT_TRUE(fs::is_directory(out_ / "folder.crl"));
    // No temporary file is left behind.
    EXPECT_EQ(listing(), (std::vector<std::string>{"folder.crl", "locked.der", "old.der"}));
}

}  // namespace
}  // namespace cadb::enrol::test
