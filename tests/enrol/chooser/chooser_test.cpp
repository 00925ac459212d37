// The key-container chooser played by the dialog library's scripted driver on
// its model: the device table, the devices listed (no token, a token module
// present, the file system only, a token that arrives before "Обновить"),
// the drives and folders listed as they are expanded, files only when a file
// is chosen, a token's objects behind its PIN and the box when the PIN is
// refused, the path of the selected item, OK and Cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "enrol/device_chooser.h"
#include "enrol/device_table.h"
#include "enrol/key_container_dialog.h"
#include "tests/enrol/chooser/chooser_fixture.h"

namespace cadb::enrol::test {
namespace {

using gorget::DialogHandle;
using gorget::TreeNode;
namespace driver = gorget::driver;
using D = KeyContainerDialog;

// The index of the item with this text under parent, or -1.
int item(DialogHandle& h, const std::string& text, int parent = -1) {
    const std::vector<TreeNode> nodes = h.nodes(D::kTree);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].text == text && nodes[i].parent == parent) return static_cast<int>(i);
    return -1;
}

// The texts of the items under parent, in order.
std::vector<std::string> under(DialogHandle& h, int parent) {
    std::vector<std::string> out;
    for (const TreeNode& n : h.nodes(D::kTree))
        if (n.parent == parent) out.push_back(n.text);
    return out;
}

// The PKCS#11 PIN dialog and its field.
constexpr int kPinDialog = 1009;
constexpr int kPinField = 1008;

// Answers the next PIN dialog with pin (or closes it when pin is empty).
void answer_pin(const std::string& pin) {
    driver::expect([pin](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), kPinDialog);
        if (pin.empty()) {
            h.close();
            return;
        }
        h.type(kPinField, pin);
        h.press(gorget::IDOK);
    });
}

class KeyContainerChooser : public ChooserFixture {
  protected:
    std::string choose(const std::string& start, bool folder_only, bool fs_only,
                       gorget::Script script) {
        driver::expect(std::move(script));
        return ChooseKeyContainer(RunLinked, start, folder_only, fs_only);
    }
};

TEST(DeviceTableTest, RowsInTheirOrderWithNamesAndPrefixes) {
    const auto& t = DeviceTable();
    ASSERT_EQ(t.size(), 52u);
    EXPECT_EQ(t[0].display_name, "Мой компьютер");
    EXPECT_EQ(t[0].prefix, "file system:");
    EXPECT_EQ(t[1].display_name, "Touch memory");
    EXPECT_EQ(t[1].prefix, "ibutton:");
    EXPECT_EQ(t[2].display_name, "eToken (slot 0)");
    EXPECT_EQ(t[11].prefix, "etoken9:");
    EXPECT_EQ(t[12].display_name, "ruToken (slot 0)");
    EXPECT_EQ(t[21].prefix, "rutoken9:");
    EXPECT_EQ(t[22].display_name, "eToken ГОСТ (slot 0)");
    EXPECT_EQ(t[22].prefix, "pkcs110:\\eTPKCS11g");
    EXPECT_EQ(t[35].display_name, "ruToken ECP (slot 3)");
    EXPECT_EQ(t[35].prefix, "pkcs113:\\rtPKCS11ECP");
    EXPECT_EQ(t[51].display_name, "MS Key (slot 9)");
    EXPECT_EQ(t[51].prefix, "pkcs119:\\mskey-pkcs11");
    // Kinds pick the tree; groups name the medium.
    const int kinds[] = {0, 1, 3, 2, 5, 4, 6};
    const int groups[] = {0, 1, 2, 3, 4, 5, 6};
    for (std::size_t row = 0; row < t.size(); ++row) {
        const std::size_t block = row < 2 ? row : 2 + (row - 2) / 10;
        EXPECT_EQ(t[row].kind, kinds[block]) << row;
        EXPECT_EQ(t[row].group, groups[block]) << row;
    }
}

TEST_F(KeyContainerChooser, WithoutTokensOnlyMyComputerIsListed) {
    const std::string answer = choose("b:\\keys", true, false, [](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), D::kTemplate);
        EXPECT_EQ(h.caption(), "Выбор папки");
        EXPECT_EQ(h.items(D::kDevices), std::vector<std::string>{"Мой компьютер"});
        // The drive path selects the file system, whose tree holds the
        // drives: a: (the default key drive) and b:; c: names no folder.
        EXPECT_EQ(h.selected(D::kDevices), 0);
        EXPECT_EQ(under(h, -1), (std::vector<std::string>{"a:\\", "b:\\"}));
        EXPECT_EQ(h.text(D::kPath), "b:\\keys");
        h.press(gorget::IDCANCEL);
    });
    EXPECT_EQ(answer, "b:\\keys");
}

TEST_F(KeyContainerChooser, FolderModeListsFoldersAndAnswersWithABackslash) {
    const std::string answer = choose("", true, false, [](DialogHandle& h) {
        // No start path: nothing selected, no tree, no answer to give.
        EXPECT_EQ(h.selected(D::kDevices), -1);
        EXPECT_TRUE(h.nodes(D::kTree).empty());
        EXPECT_FALSE(h.enabled(gorget::IDOK));
        ASSERT_TRUE(h.select(D::kDevices, 0));
        const int b = item(h, "b:\\");
        ASSERT_GE(b, 0);
        EXPECT_FALSE(h.nodes(D::kTree)[std::size_t(b)].listed);
        ASSERT_TRUE(h.expand(D::kTree, b));
        EXPECT_EQ(under(h, b), std::vector<std::string>{"keys"});  // no notes.txt
        const int keys = item(h, "keys", b);
        ASSERT_TRUE(h.expand(D::kTree, keys));
        EXPECT_EQ(under(h, keys), std::vector<std::string>{"old"});  // no key file
        // Listed once: expanding again adds nothing.
        ASSERT_TRUE(h.expand(D::kTree, keys));
        EXPECT_EQ(under(h, keys).size(), 1u);
        ASSERT_TRUE(h.select(D::kTree, item(h, "old", keys)));
        EXPECT_EQ(h.text(D::kPath), "b:\\keys\\old");
        EXPECT_TRUE(h.enabled(gorget::IDOK));
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(answer, "b:\\keys\\old\\");
}

TEST_F(KeyContainerChooser, FileModeListsFilesToo) {
    const std::string answer = choose("b:\\", false, true, [](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Выбор файла");
        const int b = item(h, "b:\\");
        ASSERT_TRUE(h.expand(D::kTree, b));
        EXPECT_EQ(under(h, b), (std::vector<std::string>{"keys", "notes.txt"}));
        const int keys = item(h, "keys", b);
        ASSERT_TRUE(h.expand(D::kTree, keys));
        EXPECT_EQ(under(h, keys), (std::vector<std::string>{"00000001.key", "old"}));
        const int key = item(h, "00000001.key", keys);
        EXPECT_TRUE(h.nodes(D::kTree)[std::size_t(key)].leaf);
        EXPECT_FALSE(h.expand(D::kTree, key));  // a file has nothing under it
        ASSERT_TRUE(h.select(D::kTree, key));
        EXPECT_EQ(h.text(D::kPath), "b:\\keys\\00000001.key");
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(answer, "b:\\keys\\00000001.key");
}

TEST_F(KeyContainerChooser, OkTakesThePathFieldAsTyped) {
    EXPECT_EQ(choose("a:\\keys", true, false,
                     [](DialogHandle& h) {
                         h.replace(D::kPath, "a:\\keys");
                         h.press(gorget::IDOK);
                     }),
              "a:\\keys\\");
    EXPECT_EQ(choose("a:\\keys", true, false,
                     [](DialogHandle& h) {
                         h.replace(D::kPath, "a:\\keys\\");
                         h.press(gorget::IDOK);
                     }),
              "a:\\keys\\");
    EXPECT_EQ(choose("", false, false,
                     [](DialogHandle& h) {
                         EXPECT_TRUE(h.type(D::kPath, "a:\\ключи\\1.key"));
                         h.press(gorget::IDOK);
                     }),
              "a:\\\xEA\xEB\xFE\xF7\xE8\\1.key");  // code page 1251
}

TEST_F(KeyContainerChooser, CancelGivesTheStartPath) {
    EXPECT_EQ(choose("b:\\keys", true, false,
                     [](DialogHandle& h) {
                         h.expand(D::kTree, item(h, "b:\\"));
                         h.select(D::kTree, item(h, "keys", item(h, "b:\\")));
                         EXPECT_EQ(h.text(D::kPath), "b:\\keys");
                         h.press(gorget::IDCANCEL);
                     }),
              "b:\\keys");
    EXPECT_EQ(choose("", true, false, [](DialogHandle& h) { h.press(gorget::IDCANCEL); }), "");
    EXPECT_EQ(choose("b:\\x", false, false, [](DialogHandle& h) { h.close(); }), "b:\\x");
}

TEST_F(KeyContainerChooser, AnEmptyFieldGivesNoAnswer) {
    EXPECT_EQ(choose("b:\\keys", true, false,
                     [](DialogHandle& h) {
                         h.replace(D::kPath, "");
                         EXPECT_FALSE(h.enabled(gorget::IDOK));
                         EXPECT_FALSE(h.press(gorget::IDOK));
                         h.press(gorget::IDCANCEL);
                     }),
              "b:\\keys");
}

TEST_F(KeyContainerChooser, APresentTokenIsListedUnderItsModuleAndSlot) {
    offer_token("rtPKCS11ECP");
    const std::string answer =
        choose("pkcs110:\\rtPKCS11ECP\\", true, false, [](DialogHandle& h) {
            EXPECT_EQ(h.items(D::kDevices),
                      (std::vector<std::string>{"Мой компьютер", "ruToken ECP (slot 0)"}));
            // The path names the token: its row is selected, its tree holds
            // the token.
            EXPECT_EQ(h.selected(D::kDevices), 1);
            EXPECT_EQ(under(h, -1), std::vector<std::string>{"pkcs110:\\rtPKCS11ECP"});
            h.select(D::kTree, 0);
            h.press(gorget::IDOK);
        });
    EXPECT_EQ(answer, "pkcs110:\\rtPKCS11ECP\\");
}

TEST_F(KeyContainerChooser, TheTokenInTheSecondSlotIsThatSlotsRow) {
    offer_token("mskey-pkcs11", 1);
    choose("", true, false, [](DialogHandle& h) {
        EXPECT_EQ(h.items(D::kDevices),
                  (std::vector<std::string>{"Мой компьютер", "MS Key (slot 1)"}));
        h.press(gorget::IDCANCEL);
    });
}

TEST_F(KeyContainerChooser, TheFileSystemOnlyListsNoToken) {
    offer_token("rtPKCS11ECP");
    const std::string answer = choose("b:\\keys", true, true, [](DialogHandle& h) {
        EXPECT_EQ(h.items(D::kDevices), std::vector<std::string>{"Мой компьютер"});
        // Typed by hand, a token path is still no answer.
        h.replace(D::kPath, "pkcs110:\\rtPKCS11ECP");
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(answer, "b:\\keys");
}

TEST_F(KeyContainerChooser, ATokenInsertedMeanwhileIsListedAfterRefresh) {
    choose("b:\\", true, false, [this](DialogHandle& h) {
        EXPECT_EQ(h.items(D::kDevices).size(), 1u);
        offer_token("rtPKCS11ECP");
        h.press(D::kRefresh);
        EXPECT_EQ(h.items(D::kDevices),
                  (std::vector<std::string>{"Мой компьютер", "ruToken ECP (slot 0)"}));
        // The path still names a drive: the file system stays selected.
        EXPECT_EQ(h.selected(D::kDevices), 0);
        EXPECT_EQ(under(h, -1), (std::vector<std::string>{"a:\\", "b:\\"}));
        h.press(gorget::IDCANCEL);
    });
}

TEST_F(KeyContainerChooser, ATokensObjectsAreListedBehindItsPin) {
    offer_token("rtPKCS11ECP");
    put_objects("mykey", "user-cert", "ca-cert");
    const std::string answer = choose("pkcs110:\\rtPKCS11ECP", false, false, [](DialogHandle& h) {
        answer_pin("1234");
        ASSERT_TRUE(h.expand(D::kTree, 0));
        // The key and its certificate share one name, shown once.
        std::vector<std::string> objects = under(h, 0);
        std::sort(objects.begin(), objects.end());
        EXPECT_EQ(objects, (std::vector<std::string>{"ca-cert", "mykey", "user-cert"}));
        h.select(D::kTree, item(h, "mykey", 0));
        EXPECT_EQ(h.text(D::kPath), "pkcs110:\\rtPKCS11ECP\\mykey");
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(answer, "pkcs110:\\rtPKCS11ECP\\mykey");
    EXPECT_EQ(driver::dialogs_seen(), (std::vector<int>{D::kTemplate, kPinDialog}));
    EXPECT_TRUE(driver::boxes_seen().empty());
}

TEST_F(KeyContainerChooser, ARefusedPinShowsTheBoxAndListsNothing) {
    offer_token("rtPKCS11ECP");
    put_objects("mykey", "user-cert", "ca-cert");
    for (const std::string pin : {"0000", ""}) {
        driver::use(driver::Mode::models);
        driver::answer_box(gorget::IDOK);
        choose("pkcs110:\\rtPKCS11ECP", false, false, [pin](DialogHandle& h) {
            answer_pin(pin);
            h.expand(D::kTree, 0);
            EXPECT_TRUE(under(h, 0).empty());
            // Not asked again behind the user's back.
            EXPECT_TRUE(h.expand(D::kTree, 0));
            h.press(gorget::IDCANCEL);
        });
        const auto boxes = driver::boxes_seen();
        ASSERT_EQ(boxes.size(), 1u) << pin;
        EXPECT_EQ(boxes[0].text, "Ошибка в пароле доступа!");
        EXPECT_EQ(boxes[0].caption, "Отказано в доступе");
        EXPECT_EQ(boxes[0].type, gorget::MB_OK | gorget::MB_ICONEXCLAMATION);
    }
}

TEST_F(KeyContainerChooser, NobodyToShowTheDialogGivesTheStartPathAtOnce) {
    offer_token("rtPKCS11ECP");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    driver::use(driver::Mode::automatic);
    EXPECT_EQ(ChooseKeyContainer(RunLinked, "b:\\keys", true, false), "b:\\keys");
    EXPECT_EQ(ChooseKeyContainer(RunLinked, "", false, false), "");
}

}  // namespace
}  // namespace cadb::enrol::test
