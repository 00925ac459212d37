#include "ui/chooser.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"

namespace gorget::test {
namespace {

using Chooser = Scripted;

MediumRecord record(const std::string& path, std::int32_t type) {
    MediumRecord r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.path, path.data(), std::min(path.size(), sizeof r.path));
    r.medium_type = type;
    return r;
}

TEST(MediumTable, TypeOfAPathIgnoresLetterCase) {
    EXPECT_EQ(medium_type_of("a:\\keys"), 0);
    EXPECT_EQ(medium_type_of("IBUTTON:\\1"), 1);
    EXPECT_EQ(medium_type_of("\\\\.\\RUTOKEN0"), 3);
    EXPECT_EQ(medium_type_of("EToken:\\x"), 2);
    EXPECT_EQ(medium_type_of("pkcs11:\\libsofthsm2\\keys"), 4);
    EXPECT_EQ(medium_type_of(""), 0);
}

TEST_F(Chooser, ListsTheFiveMediaAndPicksTheRowOfTheStartingPath) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 1000);
        EXPECT_EQ(h.caption(), "Расположение");
        EXPECT_EQ(h.items(1551),
                  (std::vector<std::string>{"File System", "iButton(Dallas Semiconductors)",
                                            "eToken(Aladdin Knowledge)", "ruToken(Activ Knowledge)",
                                            "pkcs11(Knowledge)"}));
        EXPECT_EQ(h.selected(1551), 3) << "RUTOKEN in the path wins over the record's type";
        EXPECT_EQ(h.text(1549), "\\\\.\\RUTOKEN0");
        EXPECT_EQ(h.text(1552), "Контейнер СКЗИ \"Vambrace\"");
        EXPECT_FALSE(h.enabled(1550));
        h.press(IDOK);
    });
    MediumRecord r = record("\\\\.\\RUTOKEN0", 0);
    EXPECT_EQ(dirOperationCBK(cp1251("Расположение").c_str(), &r), 12);
    EXPECT_EQ(r.medium_type, 3);
}

TEST_F(Chooser, AnEmptyPathSelectsTheRecordsType) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.selected(1551), 2);
        EXPECT_FALSE(h.enabled(IDOK));
        h.press(IDCANCEL);
    });
    MediumRecord r = record("", 2);
    EXPECT_EQ(dirOperationCBK(nullptr, &r), 0);
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.selected(1551), -1);
        EXPECT_TRUE(h.enabled(1550)) << "no selection browses";
        h.press(IDCANCEL);
    });
    MediumRecord odd = record("", 9);
    EXPECT_EQ(dirOperationCBK(nullptr, &odd), 0);
    EXPECT_EQ(odd.medium_type, 9);
}

TEST_F(Chooser, ChoosingAMediumPutsItsPrefixAndDecidesBrowsing) {
    driver::expect([](DialogHandle& h) {
        EXPECT_TRUE(h.enabled(1550));
        h.select(1551, 4);
        EXPECT_EQ(h.text(1549), "pkcs11:");
        EXPECT_FALSE(h.enabled(1550));
        h.select(1551, 0);
        EXPECT_EQ(h.text(1549), "a:");
        EXPECT_TRUE(h.enabled(1550));
        h.replace(1549, "");
        EXPECT_FALSE(h.enabled(IDOK));
        EXPECT_FALSE(h.press(IDOK));
        h.type(1549, "b:\\store");
        EXPECT_TRUE(h.enabled(IDOK));
        h.select(1551, 4);
        h.type(1549, "\\libsofthsm2");
        h.press(IDOK);
    });
    MediumRecord r = record("a:\\keys", 0);
    const std::int32_t n = dirOperationCBK(nullptr, &r);
    EXPECT_EQ(std::string(r.path, n), "pkcs11:\\libsofthsm2");
    EXPECT_EQ(r.medium_type, 4);
}

TEST_F(Chooser, NullRecordShowsNothing) {
    EXPECT_EQ(dirOperationCBK(nullptr, nullptr), 0);
    EXPECT_TRUE(driver::dialogs_seen().empty());
}

TEST_F(Chooser, PathFillsTheRecordWithoutATerminatingZero) {
    const std::string full(260, 'p');
    driver::expect([&](DialogHandle& h) {
        h.select(1551, 0);
        h.replace(1549, "");
        EXPECT_TRUE(h.type(1549, full));
        EXPECT_FALSE(h.type(1549, "q")) << "the record holds 260 bytes";
        h.press(IDOK);
    });
    MediumRecord r = record("", 0);
    r.medium_type = 77;
    EXPECT_EQ(dirOperationCBK(nullptr, &r), 260);
    EXPECT_EQ(std::string(r.path, 260), full);
    EXPECT_EQ(r.medium_type, 0);
}

TEST_F(Chooser, BrowsedFolderReplacesThePath) {
    driver::answer_folder("/tmp/keys");
    driver::answer_folder(std::nullopt);
    driver::expect([](DialogHandle& h) {
        h.press(1550);
        EXPECT_EQ(h.text(1549), "\\tmp\\keys");
        h.press(1550);  // the picker cancelled: the path stays
        EXPECT_EQ(h.text(1549), "\\tmp\\keys");
        h.press(IDOK);
    });
    MediumRecord r = record("a:\\", 0);
    EXPECT_EQ(dirOperationCBK(nullptr, &r), 9);
    EXPECT_EQ(std::string(r.path, 9), "\\tmp\\keys");
    EXPECT_EQ(driver::failures(), 0);
    // The picker is titled "Choose folder" and shows the frame's text.
    const auto asked = driver::folders_asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].caption, "Выбор папки");
    EXPECT_EQ(asked[0].note, "Контейнер СКЗИ \"Vambrace\"");
}

}  // namespace
}  // namespace gorget::test
