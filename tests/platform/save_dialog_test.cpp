#include "platform/save_dialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace cadb {
namespace {

namespace fs = std::filesystem;

// Every case starts with no hook, no save folder and no display, and puts
// back what the process had.
class SaveQuestion : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {kSaveDirEnv, "DISPLAY", "WAYLAND_DISPLAY"}) {
            if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
            unsetenv(name);
        }
        char tmpl[] = "/tmp/cadb-save-XXXXXX";
        dir_ = mkdtemp(tmpl);
        SetSaveFileHook({});
    }
    void TearDown() override {
        SetSaveFileHook({});
        for (const char* name : {kSaveDirEnv, "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        fs::remove_all(dir_);
    }
    SaveFileQuestion question(const std::string& name, const std::string& ext = "cer") {
        SaveFileQuestion q;
        q.title = "Save";
        q.filter = "Files *.cer|*.cer||";
        q.default_extension = ext;
        q.file_name = name;
        q.overwrite_prompt = true;
        return q;
    }

    std::string dir_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(SaveQuestion, HookAnswersBeforeTheFolderAndSeesTheQuestion) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    std::optional<SaveFileQuestion> seen;
    SetSaveFileHook([&](const SaveFileQuestion& q) -> std::optional<std::string> {
        seen = q;
        return std::string("/elsewhere/x.der");
    });
    SaveFileQuestion q = question("Ivanov", "der");
    q.filter_index = 2;
    const SaveFileAnswer a = AskSaveFileName(q);
    EXPECT_EQ(a.path, "/elsewhere/x.der");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->title, "Save");
    EXPECT_EQ(seen->filter, "Files *.cer|*.cer||");
    EXPECT_EQ(seen->filter_index, 2);
    EXPECT_EQ(seen->default_extension, "der");
    EXPECT_EQ(seen->file_name, "Ivanov");
    EXPECT_TRUE(seen->overwrite_prompt);

    SetSaveFileHook([](const SaveFileQuestion&) { return std::optional<std::string>(); });
    EXPECT_FALSE(AskSaveFileName(q).path);
}

TEST_F(SaveQuestion, FolderAnswerAddsTheDefaultExtensionOnlyWhenMissing) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    EXPECT_EQ(AskSaveFileName(question("Ivanov")).path, dir_ + "/Ivanov.cer");
    SaveFileQuestion crl = question("list.PEM", "crl");
    crl.filter = "Files *.pem|*.pem|Files *.crl|*.crl|All files (*.*)|*.*||";
    EXPECT_EQ(AskSaveFileName(crl).path, dir_ + "/list.PEM");
    crl.file_name = "list.crl";
    EXPECT_EQ(AskSaveFileName(crl).path, dir_ + "/list.crl");
    // An extension the filter does not offer is part of the name.
    crl.file_name = "example.com";
    EXPECT_EQ(AskSaveFileName(crl).path, dir_ + "/example.com.crl");
    crl.filter = "Certificates|*.der;*.CER||";
    crl.file_name = "a.cer";
    EXPECT_EQ(AskSaveFileName(crl).path, dir_ + "/a.cer");
    crl.file_name = "a.der";
    EXPECT_EQ(AskSaveFileName(crl).path, dir_ + "/a.der");
    EXPECT_FALSE(HasFilterExtension("a.x", "All|*.*||"));
    EXPECT_FALSE(HasFilterExtension("pem", "Files|*.pem||"));
    EXPECT_EQ(AskSaveFileName(question("Ivanov I. I.")).path, dir_ + "/Ivanov I. I.cer");
    setenv(kSaveDirEnv, (dir_ + "/").c_str(), 1);
    EXPECT_EQ(AskSaveFileName(question("a")).path, dir_ + "/a.cer");
}

TEST_F(SaveQuestion, HostileNamesStayInTheFolder) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    for (const std::string& hostile : std::vector<std::string>{
             "../../etc/passwd", "..\\..\\x", "/etc/shadow", "a/../../b", "..", "...", "c:\\w\\z",
          std::string("ab\ncd\x01\x7f", 8), "  .hidden. ", "x\"<>|?*:y"}) {
        const SaveFileAnswer a = AskSaveFileName(question(hostile));
        // Nothing left of the name: refused rather than guessed.
        if (hostile == ".." || hostile == "...") {
            EXPECT_FALSE(a.path) << hostile;
            EXPECT_TRUE(a.refused) << hostile;
            continue;
        }
        ASSERT_TRUE(a.path) << hostile << ": " << a.note;
        const fs::path p(*a.path);
        EXPECT_EQ(p.parent_path(), fs::path(dir_)) << hostile;
        const std::string name = p.filename().string();
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
        EXPECT_NE(name[0], '.') << name;
        for (unsigned char c : name) EXPECT_TRUE(c >= 0x20 && c != 0x7f && c != '\\') << name;
    }
    EXPECT_EQ(SafeFileName("../../etc/passwd"), "_._etc_passwd");
    EXPECT_EQ(SafeFileName("  .hidden. "), "hidden");
    // Names of the local code page keep their bytes.
    EXPECT_EQ(SafeFileName("\xc8\xe2\xe0\xed\xee\xe2"), "\xc8\xe2\xe0\xed\xee\xe2");
}

TEST_F(SaveQuestion, NamesOfTheLocalCodePageAreSavedAsTheFileSystemNamesThem) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    // "Иванов" in code page 1251.
    EXPECT_EQ(AskSaveFileName(question("\xc8\xe2\xe0\xed\xee\xe2")).path,
              dir_ + "/Иванов.cer");
    // Shortened to the limit without cutting a character in two.
    std::string long_name;
    for (int i = 0; i < 200; ++i) long_name += '\xe6';  // "ж"
    const SaveFileAnswer a = AskSaveFileName(question(long_name));
    ASSERT_TRUE(a.path);
    EXPECT_LT(a.path->size(), 260u);
    const std::string name = fs::path(*a.path).filename().string();
    ASSERT_GT(name.size(), 4u);
    EXPECT_EQ(name.substr(name.size() - 4), ".cer");
    for (std::size_t i = 0; i + 4 < name.size(); i += 2) EXPECT_EQ(name.substr(i, 2), "ж") << i;
}

TEST_F(SaveQuestion, LongNamesAreShortenedKeepingTheExtension) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    const SaveFileAnswer a = AskSaveFileName(question(std::string(400, 'n')));
    ASSERT_TRUE(a.path);
    EXPECT_LT(a.path->size(), 260u);
    EXPECT_EQ(a.path->substr(a.path->size() - 4), ".cer");
    const SaveFileAnswer b = AskSaveFileName(question(std::string(400, 'n') + ".CER"));
    ASSERT_TRUE(b.path);
    EXPECT_LT(b.path->size(), 260u);
    EXPECT_EQ(b.path->substr(b.path->size() - 5), "n.CER");
}

TEST_F(SaveQuestion, NobodyToAskCancelsAndSaysWhy) {
    SaveFileAnswer a = AskSaveFileName(question("Ivanov"));
    EXPECT_FALSE(a.path);
    EXPECT_FALSE(a.refused);
    EXPECT_NE(a.note.find("no display"), std::string::npos) << a.note;
}

// The folder set up to answer cannot be used: that is no cancel by a user,
// and the caller must not report the save done.
TEST_F(SaveQuestion, AnUnusableFolderAnswerIsRefused) {
    // A name left empty, a folder that is not there or is a file.
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    SaveFileAnswer a = AskSaveFileName(question(" ./ "));
    EXPECT_EQ(a.path, dir_ + "/_.cer");
    a = AskSaveFileName(question(".. "));
    EXPECT_FALSE(a.path);
    EXPECT_TRUE(a.refused);
    EXPECT_NE(a.note.find("no usable file name"), std::string::npos) << a.note;
    setenv(kSaveDirEnv, (dir_ + "/missing").c_str(), 1);
    a = AskSaveFileName(question("Ivanov"));
    EXPECT_FALSE(a.path);
    EXPECT_TRUE(a.refused);
    EXPECT_NE(a.note.find("is not a folder"), std::string::npos) << a.note;
    std::ofstream(dir_ + "/file") << "x";
    setenv(kSaveDirEnv, (dir_ + "/file").c_str(), 1);
    a = AskSaveFileName(question("Ivanov"));
    EXPECT_FALSE(a.path);
    EXPECT_TRUE(a.refused);
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

// In a folder of a short path the path leaves room for more than a file
// name may take: the name is shortened to 255 bytes, on whole characters.
TEST_F(SaveQuestion, NamesFitTheFileNameLimitInAShortFolder) {
    struct Back {
        fs::path to = fs::current_path();
        ~Back() { fs::current_path(to); }
    } back;
    fs::current_path(dir_);
    fs::create_directory("o");
    setenv(kSaveDirEnv, "o", 1);
    for (const std::string& name : {std::string(300, '\xe6'),  // "ж", two bytes each
                                    std::string(300, 'n'), std::string(300, 'n') + ".CER"}) {
        const SaveFileAnswer a = AskSaveFileName(question(name));
        ASSERT_TRUE(a.path) << a.note;
        const std::string file = fs::path(*a.path).filename().string();
        EXPECT_LE(file.size(), 255u);
        EXPECT_GE(file.size(), 250u);
        EXPECT_EQ(fs::path(*a.path).parent_path(), fs::path("o"));
        EXPECT_TRUE(file.size() < 4 || file.substr(file.size() - 4) == ".cer" ||
                    file.substr(file.size() - 4) == ".CER")
            << file;
        if (name[0] == '\xe6') {
            for (std::size_t i = 0; i + 4 < file.size(); i += 2) EXPECT_EQ(file.substr(i, 2), "ж");
        }
        // The name is one the file system takes.
        EXPECT_TRUE(std::ofstream(*a.path).good()) << *a.path;
    }
}

TEST_F(SaveQuestion, AnExistingFileIsNamedInTheNote) {
    setenv(kSaveDirEnv, dir_.c_str(), 1);
    std::ofstream(dir_ + "/Ivanov.cer") << "old";
    const SaveFileAnswer a = AskSaveFileName(question("Ivanov"));
    EXPECT_EQ(a.path, dir_ + "/Ivanov.cer");
    EXPECT_NE(a.note.find("replaced"), std::string::npos) << a.note;
}

}  // namespace
}  // namespace cadb
