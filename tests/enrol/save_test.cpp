// Saving and showing accepted certificates from a page script on a machine
// nobody can answer a dialog on: CADB_SAVE_DIR takes the save dialog's
// place, and without it (and without a display) every save is cancelled.
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <iterator>
#include <vector>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class Unattended : public ScriptHost {
  protected:
    void SetUp() override {
        ScriptHost::SetUp();
        unsetenv(kSaveDir);
        folder_ = dir_ + "/out";
        fs::create_directories(folder_);
    }
    void TearDown() override {
        unsetenv(kSaveDir);
        ScriptHost::TearDown();
    }
    // A request of the subject answered by the test authority: dir_/resp.pem,
    // the new certificate in dir_/cert.pem.
    void answered(const std::string& subject) {
        const std::string cmd =
            "cd '" + dir_ + "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
            "paramset:A -nodes -utf8 -subj '" + subject + "' -keyout key.pem -out req.pem "
            ">/dev/null 2>&1 && " + TEST_CA + " -cert cert.pem req.pem resp.pem >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> saved() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Runs body after the answer in dir_/resp.pem was accepted.
    int accepted_then(const std::string& body) {
        return run("var dir = WScript.Arguments(0);\n"
                   "var q = new ActiveXObject('Quillon.Quillon');\n"
                   "q.acceptFilePKCS7(dir + '/resp.pem');\n" + body,
                   "'" + dir_ + "'");
    }
    static constexpr const char* kSaveDir = "CADB_SAVE_DIR";
    std::string folder_;
};

TEST_F(Unattended, SavesIntoTheFolderUnderTheDisplayName) {
    answered("/C=RU/O=Org/CN=Ivanov");
    setenv(kSaveDir, folder_.c_str(), 1);
    ASSERT_EQ(accepted_then(R"(
WScript.Echo(q.SaveCert(0, 0), q.SaveCert(0, 1), q.SaveCert(1, 7));
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "0 0 0\n");
    EXPECT_EQ(saved(), (std::vector<std::string>{"Ivanov.cer", "Ivanov.der", "Test CA.cer"}));
    EXPECT_EQ(read(dir_ + "/out/Ivanov.cer"), read(dir_ + "/cert.pem"));
    const std::string der_check = "openssl x509 -engine gost -inform DER -in '" + dir_ +
                                  "/out/Ivanov.der' -noout -subject >/dev/null 2>&1";
    EXPECT_EQ(std::system(der_check.c_str()), 0);
}

TEST_F(Unattended, HostileCommonNamesStayInTheFolder) {
    answered("/C=RU/CN=..\\/..\\/..\\/escaped");
    setenv(kSaveDir, folder_.c_str(), 1);
    ASSERT_EQ(accepted_then("WScript.Echo(q.SaveCert(0, 2));\n"),
              0)
        << err_;
    EXPECT_EQ(out_, "0\n");
    const std::vector<std::string> names = saved();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "_._._escaped.cer");
    EXPECT_FALSE(fs::exists(dir_ + "/escaped.cer"));
    EXPECT_FALSE(fs::exists("/tmp/escaped.cer"));
}

TEST_F(Unattended, CyrillicNamesAreSavedAsTheFileSystemNamesThem) {
    answered("/C=RU/CN=Иванов И. И.");
    setenv(kSaveDir, folder_.c_str(), 1);
    ASSERT_EQ(accepted_then("WScript.Echo(q.SaveCert(0, 1));\n"), 0) << err_;
    EXPECT_EQ(out_, "0\n");
    EXPECT_EQ(saved(), (std::vector<std::string>{"Иванов И. И.der"}));
}

TEST_F(Unattended, WithoutFolderOrDisplayEverySaveIsCancelled) {
    answered("/C=RU/O=Org/CN=Ivanov");
    ASSERT_EQ(accepted_then(R"(
WScript.Echo(q.SaveCert(0, 1), q.SaveCertAs('garbage', dir + '/out/x.der'));
)"),
              0)
        << err_;
    // Cancelled before the view is read: no error, nothing written.
    EXPECT_EQ(out_, "0 0\n");
    EXPECT_TRUE(saved().empty());
}

// The folder set up to answer is not there, or is a file: nothing can be
// saved, and the page is told so instead of being told it was.
TEST_F(Unattended, AFolderThatIsNotThereFailsTheSave) {
    answered("/C=RU/O=Org/CN=Ivanov");
    std::ofstream(dir_ + "/plain") << "x";
    for (const std::string& folder : {dir_ + "/missing", dir_ + "/plain"}) {
        setenv(kSaveDir, folder.c_str(), 1);
        ASSERT_EQ(accepted_then(R"(
function attempt(f) {
  try { WScript.Echo(f()); } catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); }
}
attempt(function () { return q.SaveCert(0, 2); });
attempt(function () { return q.SaveCertAs('garbage', 'x.cer'); });
)"),
                  0)
            << err_;
        EXPECT_EQ(out_,
                  "80043ac5 Certificate as File Save Error\n"
                  "80043ac5 Certificate as File Save Error\n")
            << folder;
    }
    EXPECT_TRUE(saved().empty());
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

// A common name that makes no file name is saved under the serial number,
// as a certificate without a common name is named.
TEST_F(Unattended, ACommonNameOfDotsIsSavedUnderTheSerialNumber) {
    for (const char* cn : {".", ".."}) {
        answered(std::string("/C=RU/CN=") + cn);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        setenv(kSaveDir, folder_.c_str(), 1);
        ASSERT_EQ(accepted_then("WScript.Echo(q.SaveCert(0, 2));\n"), 0) << err_;
        EXPECT_EQ(out_, "0\n");
        const std::string cmd = "openssl x509 -in '" + dir_ + "/cert.pem' -noout -serial";
        FILE* pipe = popen(cmd.c_str(), "r");
        char line[256] = {};
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
        pclose(pipe);
        std::string serial(line);
        serial = serial.substr(serial.find('=') + 1);
        serial.erase(serial.find_last_not_of("\n") + 1);
        if (serial.size() % 2 != 0) serial = "0" + serial;
        EXPECT_EQ(saved(), std::vector<std::string>{serial + ".cer"}) << cn;
        EXPECT_EQ(read(folder_ + "/" + serial + ".cer"), read(dir_ + "/cert.pem"));
    }
}

TEST_F(Unattended, CertificateAsDocumentObject) {
    answered("/C=RU/O=Org/CN=Ivanov");
    ASSERT_EQ(accepted_then(R"(
var doc = q.CertXML(0, 9);
WScript.Echo(typeof doc, doc.xml == q.CertXML(0, 8), doc.xml.indexOf('<ASN1Document') >= 0);
var ca = q.CertXML(1, 9);
WScript.Echo(ca.xml == q.CertXML(1, 8), ca.xml != doc.xml);
q.acceptFilePKCS7(dir + '/resp.pem');
WScript.Echo(doc.xml.indexOf('Ivanov') >= 0);
try { q.CertXML(2, 9); } catch (e) { WScript.Echo((e.number >>> 0).toString(16)); }
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "object true true\ntrue true\ntrue\n80043ac2\n");
}

}  // namespace
}  // namespace cadb::enrol::test
