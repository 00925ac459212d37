// A request a page loads only changes what P10_PrintableText shows: a
// two-step request begun before the load is ended with the object's own
// subject and key, and its End shows that request again.
#include <cstdlib>
#include <filesystem>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class LoadedRequest : public ScriptHost {
  protected:
    void SetUp() override {
        ScriptHost::SetUp();
        fs::create_directories(dir_ + "/drive-b");
        setenv("CADB_DRIVE_B", (dir_ + "/drive-b").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CADB_DRIVE_B");
        ScriptHost::TearDown();
    }
};

TEST_F(LoadedRequest, OnlyThePrintableRequestChanges) {
    const std::string cmd = "cd '" + dir_ +
                            "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
                            "paramset:A -nodes -subj '/CN=Loaded' -keyout loaded.key -out "
                            "loaded.pem >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(run(R"(
var dir = WScript.Arguments(0);
var q = new ActiveXObject('Quillon.Quillon');
q.ProviderName = 'ГОСТ Р 34.10-2001 CP';
q.ContainerName = 'b:\\store';
q.DefaultPKeyPath = 'b:\\keys';
q.createRequestBegin(32, 'C=RU;O=Org;CN=Begun;', '', 1);
q.LoadPKCS10File(dir + '/loaded.pem');
var shown = q.P10_PrintableText();
WScript.Echo('loaded shown:', shown.indexOf('CN = Loaded') >= 0 || shown.indexOf('CN=Loaded') >= 0,
             shown.indexOf('Begun') < 0);
var req = q.createRequestEnd('', '', '');
WScript.Echo(req);
var after = q.P10_PrintableText();
WScript.Echo('end shown:', after.indexOf('Begun') >= 0, after.indexOf('Loaded') < 0);
)",
                  "'" + dir_ + "'"),
              0)
        << err_;
    EXPECT_NE(out_.find("loaded shown: true true\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("end shown: true true\n"), std::string::npos) << out_;
    const auto from = out_.find("-----BEGIN CERTIFICATE REQUEST-----");
    const auto to = out_.find("-----END CERTIFICATE REQUEST-----");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << out_;
    std::ofstream(dir_ + "/end.pem") << out_.substr(from, to - from) + "-----END CERTIFICATE REQUEST-----\n";
    const std::string subject = dir_ + "/subject.txt";
    ASSERT_EQ(std::system(("openssl req -engine gost -in '" + dir_ + "/end.pem' -verify -noout "
                           "-subject >'" + subject + "' 2>/dev/null")
                              .c_str()),
              0);
    std::ifstream in(subject);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Begun"), std::string::npos) << text;
    EXPECT_EQ(text.find("Loaded"), std::string::npos) << text;
}

}  // namespace
}  // namespace cadb::enrol::test
