// The key-store, medium and key-file utilities as a page calls them, on a
// drive that maps to a folder of the test.
#include <cstdlib>
#include <filesystem>

#include "tests/enrol/script_fixture.h"

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;

class StoreUtilities : public ScriptHost {
  protected:
    void SetUp() override {
        ScriptHost::SetUp();
        drive_ = dir_ + "/drive-b";
        fs::create_directories(drive_ + "/store");
        setenv("CADB_DRIVE_B", drive_.c_str(), 1);
        setenv("CADB_DRIVE_Q", (dir_ + "/no-such-drive").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CADB_DRIVE_B");
        unsetenv("CADB_DRIVE_Q");
        ScriptHost::TearDown();
    }
    void touch(const std::string& relative) { std::ofstream(drive_ + "/" + relative) << "x"; }
    std::string drive_;
};

TEST_F(StoreUtilities, DefaultKeyFileNamesByMedium) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
var names = [];
for (var i = -1; i <= 5; i++) names.push('[' + q.DefMediaPKeyFileName(i) + ']');
names.push('[' + q.DefMediaPKeyFileName(9) + ']');
WScript.Echo(names.join(' '));
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "[00000001.key] [00000001.key] [key .001] [0001] [0001] [00000001.key] "
              "[00000001.key] [00000001.key]\n");
}

TEST_F(StoreUtilities, FilesStoresAndMedia) {
    touch("store/notes.txt");
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
function attempt(f) {
  try { WScript.Echo(f()); } catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); }
}
attempt(function () { return q.IsFileExists('b:\\store\\notes.txt'); });
attempt(function () { return q.IsFileExists('b:\\store\\none.txt'); });
attempt(function () { return q.IsFileExists(''); });
attempt(function () { return q.IsPSEExists('b:\\store'); });
attempt(function () { return q.IsPSEExists('pkcs11:\\no-such-module'); });
attempt(function () { return q.IsPSEExists(''); });
attempt(function () { return q.IsPSEPathReady('b:\\store') + ' ' + WScript.LastResult; });
attempt(function () { return q.IsPSEPathReady('q:\\store') + ' ' + WScript.LastResult; });
attempt(function () { return q.IsPSEPathReady('no colon') + ' ' + WScript.LastResult; });
attempt(function () { return q.IsPSEPathReady('pkcs11:\\no-such-module') + ' ' + WScript.LastResult; });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "1\n0\n80043abf File Existence Check error\n"
              "0\n1\n80043a9d Container Name is Bad\n"
              "1 0\n0 0\n0 1\n0 0\n");
}

TEST_F(StoreUtilities, DeletingAStoreRemovesOnlyItsFiles) {
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "para.par", "notes.txt"})
        touch(std::string("store/") + name);
    touch("mk.db3");
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
function attempt(f) {
  try { f(); WScript.Echo('done'); } catch (e) { WScript.Echo((e.number >>> 0).toString(16), e.description); }
}
attempt(function () { q.DeletePSE('b:\\store'); });
attempt(function () { q.DeletePSE('b:\\store'); });
attempt(function () { q.DeletePSE(''); });
attempt(function () { q.DeletePSE('\\'); });
attempt(function () { q.DeletePSE('pkcs11:\\no-such-module'); });
)"),
              0)
        << err_;
    EXPECT_EQ(out_,
              "done\ndone\n"
              "80043ac0 Vambrace3_1 Container is not Deleted\n"
              "80043ac0 Vambrace3_1 Container is not Deleted\n"
              "80043ac0 Vambrace3_1 Container is not Deleted\n");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(drive_ + "/store"))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"notes.txt"});
    EXPECT_TRUE(fs::exists(drive_ + "/mk.db3"));  // another folder's file stays
}

TEST_F(StoreUtilities, ContainerNameAndDefaultPathAreOneField) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
q.ContainerName = 'b:\\one';
var a = q.DefaultPSEPath;
q.DefaultPSEPath = 'b:\\two';
WScript.Echo(a, q.ContainerName);
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "b:\\one b:\\two\n");
}

TEST_F(StoreUtilities, ChooserWithoutADisplayAnswersTheStartPath) {
    ASSERT_EQ(run(R"(
var q = new ActiveXObject('Quillon.Quillon');
WScript.Echo('[' + q.BrowseDevuces('b:\\keys', 1, 0) + ']', WScript.LastResult);
WScript.Echo('[' + q.BrowseDevuces('', 0, 1) + ']');
WScript.Echo('[' + q.BrowseDevuces('b:\\ключи', 1, 1) + ']');
)"),
              0)
        << err_;
    EXPECT_EQ(out_, "[b:\\keys] 0\n[]\n[b:\\ключи]\n");
}

}  // namespace
}  // namespace cadb::enrol::test
