#include <openssl/bio.h>

#include <memory>
#include <string>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "platform/paths.h"
#include "tests/media/media_env.h"
#include "tests/media/memory_driver.h"

namespace cadb {
namespace {

using testing::MediaTest;
using testing::MemoryDriverGuard;
using testing::MemoryMedium;
namespace fs = std::filesystem;

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

TEST(MediaPrefix, EachMediumByItsFirstCharactersWithoutCase) {
    struct Case {
        const char* path;
        int kind;
    };
    const Case cases[] = {
        {"iButton:\\keys\\key .001", BIO_MEDIUM_IBUTTON},
        {"IBUTTON", BIO_MEDIUM_IBUTTON},
        {"eTR2:\\3f00", BIO_MEDIUM_ETR2},
        {"etr2", BIO_MEDIUM_ETR2},
        {"eToken:\\x", BIO_MEDIUM_ETOKEN},
        {"ETOKEN 1:\\x", BIO_MEDIUM_ETOKEN},
        {"etoken", BIO_MEDIUM_ETOKEN},
        {"AKS ifdh 0:\\x", BIO_MEDIUM_ETOKEN},
        {"aladdin token jc 1:\\x", BIO_MEDIUM_ETOKEN},
        {"ruToken:\\0001", BIO_MEDIUM_RUTOKEN},
        {"Aktiv Co. ruToken 0:\\0001", BIO_MEDIUM_RUTOKEN},
        {"PKCS11:\\softhsm2\\k1", BIO_MEDIUM_PKCS11},
        {"a:\\keys", BIO_MEDIUM_DISK},
        {"/tmp/eToken", BIO_MEDIUM_DISK},
        {"eTok", BIO_MEDIUM_DISK},
        {"AKS ifd", BIO_MEDIUM_DISK},
        {"Aktiv Co. ruToke", BIO_MEDIUM_DISK},
        {"pkcs1", BIO_MEDIUM_DISK},
        {"", BIO_MEDIUM_DISK},
        {nullptr, BIO_MEDIUM_DISK},
    };
    for (const Case& c : cases) {
        const char* p = c.path;
        SCOPED_TRACE(p != nullptr ? p : "(null)");
        EXPECT_EQ(BIO_media_kind(p), c.kind);
        EXPECT_EQ(BIO_media_is_iButton(p), c.kind == BIO_MEDIUM_IBUTTON);
        EXPECT_EQ(BIO_media_is_eTR2(p), c.kind == BIO_MEDIUM_ETR2);
        EXPECT_EQ(BIO_media_is_eToken(p), c.kind == BIO_MEDIUM_ETOKEN);
        EXPECT_EQ(BIO_media_is_ruToken(p), c.kind == BIO_MEDIUM_RUTOKEN);
        EXPECT_EQ(BIO_media_is_pkcs11(p), c.kind == BIO_MEDIUM_PKCS11);
    }
}

TEST(MediaPrefix, ModeTexts) {
    for (const char* m : {"r", "rb"}) EXPECT_EQ(BIO_media_mode_flags(m), 3) << m;
    for (const char* m : {"w", "wb"}) EXPECT_EQ(BIO_media_mode_flags(m), 5) << m;
    for (const char* m : {"r+", "rb+", "r+b", "wb+", "w+b"})
        EXPECT_EQ(BIO_media_mode_flags(m), 7) << m;
    for (const char* m :
         std::initializer_list<const char*>{"a", "w+", "ab", "", "rw", "rb ", "R", nullptr})
        EXPECT_EQ(BIO_media_mode_flags(m), 0) << (m ? m : "(null)");
}

TEST(MediaDriver, RegistrationSlots) {
    EXPECT_EQ(BIO_media_register_driver(BIO_MEDIUM_DISK, &testing::kMemoryDriver), nullptr);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_DISK), nullptr);
    EXPECT_EQ(BIO_media_register_driver(BIO_MEDIUM_COUNT, &testing::kMemoryDriver), nullptr);
    EXPECT_EQ(BIO_media_driver(-1), nullptr);
    {
        MemoryDriverGuard guard(BIO_MEDIUM_RUTOKEN);
        EXPECT_EQ(BIO_media_driver_of("Aktiv Co. ruToken 1:\\0001"), &testing::kMemoryDriver);
        EXPECT_EQ(BIO_media_driver_of("eToken:\\0001"), nullptr);
    }
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
}

using MediaFactory = MediaTest;

TEST_F(MediaFactory, DiskStreamReadsWritesAndRefusesOtherModes) {
    {
        BioPtr out(BIO_new_media_file("a:\\f.txt", "w"));
        ASSERT_TRUE(out);
        EXPECT_EQ(BIO_puts(out.get(), "line one\nline two\n"), 18);
    }
    EXPECT_EQ(slurp(drive_a_ / "f.txt"), "line one\nline two\n");
    EXPECT_EQ(mode_of(drive_a_ / "f.txt"), 0600u);

    BioPtr in(BIO_new_media_file("A:/f.txt", "rb"));
    ASSERT_TRUE(in);
    char line[64];
    EXPECT_EQ(BIO_gets(in.get(), line, sizeof line), 9);
    EXPECT_STREQ(line, "line one\n");
    EXPECT_EQ(BIO_write(in.get(), "x", 1), -1);  // read-only stream
    EXPECT_EQ(BIO_reset(in.get()), 0);
    EXPECT_EQ(BIO_read(in.get(), line, 4), 4);
    EXPECT_EQ(std::string(line, 4), "line");

    for (const char* mode : {"a", "w+", "ab"}) {
        ERR_clear_error();
        EXPECT_EQ(BIO_new_media_file((root_ / "g").c_str(), mode), nullptr) << mode;
        EXPECT_NE(ERR_get_error(), 0u);
    }
    EXPECT_FALSE(fs::exists(root_ / "g"));
    EXPECT_EQ(BIO_new_media_file(nullptr, "r"), nullptr);
    EXPECT_EQ(BIO_new_media_file("a:\\f.txt", nullptr), nullptr);
    EXPECT_EQ(BIO_new_media_file("a:\\missing", "r"), nullptr);
    EXPECT_EQ(BIO_new_media_file("a:\\", "r"), nullptr);  // a directory is no file
}

TEST_F(MediaFactory, PkcsElevenPathsGoToTheDiskAndFail) {
    ERR_clear_error();
    EXPECT_EQ(BIO_new_media_file("pkcs11:\\module\\key", "rb"), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_peek_error()), ERR_LIB_BIO_);
    // No driver takes them: such paths are token objects, not streams.
    MemoryDriverGuard guard(BIO_MEDIUM_PKCS11);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_PKCS11), nullptr);
    EXPECT_EQ(BIO_new_media_file("pkcs11:\\module\\key", "wb"), nullptr);
    EXPECT_TRUE(MemoryMedium::get().opens.empty());
}

TEST_F(MediaFactory, TokenPathsFailUntilADriverRegisters) {
    ERR_clear_error();
    EXPECT_EQ(BIO_new_media_file("eToken:\\3f00\\0001", "rb"), nullptr);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_R_INTERNAL);

    MemoryDriverGuard guard(BIO_MEDIUM_ETOKEN);
    int credential = 0;
    {
        BioPtr out(BIO_new_media_file_ex("ETOKEN:\\3f00\\0001", "wb", 2, &credential));
        ASSERT_TRUE(out);
        EXPECT_EQ(BIO_write(out.get(), "abc", 3), 3);
        // The words were there during the open only.
        EXPECT_EQ(BIO_get_media_words(out.get()), nullptr);
    }
    auto& m = MemoryMedium::get();
    ASSERT_EQ(m.opens.size(), 1u);
    EXPECT_EQ(m.opens[0].flags, 2u);
    EXPECT_EQ(m.opens[0].credential, &credential);
    EXPECT_EQ(m.files["ETOKEN:\\3f00\\0001"], "abc");
    // Paths beginning AKS ifdh choose the same driver.
    EXPECT_TRUE(BioPtr(BIO_new_media_file("AKS ifdh 0:\\x", "w")));
    EXPECT_EQ(m.opens.size(), 2u);
    // A failed driver open leaves nothing open.
    m.present = false;
    EXPECT_EQ(BIO_new_media_file("eToken:\\y", "w"), nullptr);
}

TEST_F(MediaFactory, LongPathsAreRefusedBeforeAnyMediumIsTouched) {
    MemoryDriverGuard guard(BIO_MEDIUM_RUTOKEN);
    const std::string longest = "ruToken:\\" + std::string(kMaxPath - 10, '1');
    ASSERT_EQ(longest.size(), kMaxPath - 1);
    EXPECT_TRUE(BioPtr(BIO_new_media_file(longest.c_str(), "w")));
    EXPECT_EQ(BIO_new_media_file((longest + "1").c_str(), "w"), nullptr);
    EXPECT_EQ(MemoryMedium::get().opens.size(), 1u);
}

}  // namespace
}  // namespace cadb
