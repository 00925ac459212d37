// The text rules of the request road: the subject text's values, the key
// usage a list of purposes asks for, and the key-file names of each medium.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "enrol/dn_value.h"
#include "enrol/key_file_names.h"
#include "enrol/key_usage.h"

namespace cadb::enrol {
namespace {

std::string dn(std::string_view text, std::string_view key) {
    return GetDNValue(text, key, ";", '"');
}

TEST(DNValue, PairsAndTheirEnds) {
    EXPECT_EQ(dn("CN=Ivanov;O=A;B;", "CN"), "Ivanov");
    // a ";" not followed by a keyword and "=" belongs to the value
    EXPECT_EQ(dn("CN=Ivanov;O=A;B;", "O"), "A;B");
    // the last pair loses its last character, closing separator or not
    EXPECT_EQ(dn("CN=Ivanov", "CN"), "Ivano");
    EXPECT_EQ(dn("CN=;O=x;", "CN"), "");
    EXPECT_EQ(dn("CN=", "CN"), "");
    EXPECT_EQ(dn("O=Org;", "CN"), "");
    // a keyword starts the text or follows the separator
    EXPECT_EQ(dn("XCN=a;CN=b;", "CN"), "b");
    EXPECT_EQ(dn("XCN=a;", "CN"), "");
    // keywords are matched with their case; "E" is not "Email"
    EXPECT_EQ(dn("Email=a@b;E=c@d;", "E"), "c@d");
    EXPECT_EQ(dn("Email=a@b;E=c@d;", "Email"), "a@b");
    EXPECT_EQ(dn("cn=x;CN=y;", "CN"), "y");
    EXPECT_EQ(dn("CN=a;cn=b;", "CN"), "a;cn=b");
    EXPECT_EQ(dn("C=RU;SP=77 Москва;L=Москва;CN=Иванов И.И.;INN=007700000000;", "SP"),
              "77 Москва");
    EXPECT_EQ(dn("C=RU;SP=77 Москва;L=Москва;CN=Иванов И.И.;INN=007700000000;", "INN"),
              "007700000000");
}

TEST(DNValue, QuotedValues) {
    EXPECT_EQ(dn("CN=\"Ivanov; \"\"Ivan\"\"\";O=x;", "CN"), "Ivanov; \"Ivan\"");
    // doubled quotes are made single also outside quotes
    EXPECT_EQ(dn("O=a\"\"b;", "O"), "a\"b");
    // a quote alone is kept, two quotes give the empty value
    EXPECT_EQ(dn("CN=\";O=x;", "CN"), "\"");
    EXPECT_EQ(dn("CN=\"\";O=x;", "CN"), "");
    EXPECT_EQ(GetDNValue("CN=\"a\";", "CN", ";", 0), "\"a\"");
}

TEST(DNValue, HostileText) {
    EXPECT_EQ(GetDNValue("", "CN", ";", '"'), "");
    EXPECT_EQ(GetDNValue("CN=x;", "", ";", '"'), "");
    EXPECT_EQ(GetDNValue(";;;CN=;;;", "CN", ";", '"'), ";;");
    const std::string big = "CN=" + std::string(100000, 'a') + ";";
    EXPECT_EQ(dn(big, "CN").size(), 100000u);
    const std::string quotes = "CN=" + std::string(1001, '"') + ";";
    EXPECT_EQ(dn(quotes, "CN"), std::string(500, '"'));
}

std::int32_t usage(std::string_view text, int provider, bool* eku_critical = nullptr) {
    bool ku = false, eku = false;
    const std::int32_t mask = KeyUsageFromPurposes(text, provider, &ku, &eku);
    EXPECT_TRUE(ku);
    if (eku_critical) *eku_critical = eku;
    return mask;
}

TEST(KeyUsage, PurposesByProvider) {
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2", 2), 1);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2", 0), 13);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2", 4), 1);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.4", 4), 7);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.4", 2), 19);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.4", 1), 31);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.1", 0), 13);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.1", 4), 5);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.1", 3), 1);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.3", 5), 3);
    EXPECT_EQ(usage("", 2), 19);
    EXPECT_EQ(usage("1.2.3", 2), 19);
    EXPECT_EQ(usage("1.2.3", 4), 7);
    // pieces are trimmed for the mask
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2, 1.3.6.1.5.5.7.3.3", 0), 15);
    bool critical = true;
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2", 0, &critical), 13);
    EXPECT_FALSE(critical);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.8", 2, &critical), 3);
    EXPECT_TRUE(critical);
}

TEST(KeyUsage, NamesAreRefused) {
    EXPECT_EQ(usage("clientAuth", 0), -1);
    EXPECT_EQ(usage("1.3.6.1.5.5.7.3.2,serverAuth", 0), -1);
    EXPECT_EQ(usage("1.2.3;1.2.4", 0), -1);
    EXPECT_EQ(usage("1.2.-3", 2), -1);
}

TEST(KeyFileNames, FormsOfEachMedium) {
    EXPECT_EQ(KeyFileName(0, 1), "00000001.key");
    EXPECT_EQ(KeyFileName(0, 11), "0000000B.key");
    EXPECT_EQ(KeyFileName(1, 1), "key .001");
    EXPECT_EQ(KeyFileName(2, 12), "0012");
    EXPECT_EQ(KeyFileName(3, 1), "0001");
    EXPECT_EQ(KeyFileName(4, 10), "00000010.key");
    EXPECT_EQ(KeyFileName(5, 1), "");
    EXPECT_EQ(KeyFileName(1, 1000), "");  // past the form: no name, never a longer one
    EXPECT_EQ(KeyFileName(4, 100000000), "");
    for (int t = 0; t <= 4; ++t) EXPECT_EQ(DefaultKeyFileName(t), KeyFileName(t, 1));
    EXPECT_EQ(DefaultKeyFileName(9), "00000001.key");
    EXPECT_EQ(DefaultKeyFileName(-1), "00000001.key");
}

TEST(KeyFileNames, NumbersReadBack) {
    EXPECT_EQ(KeyFileNumber(0, "a:\\keys\\0000000A.key"), 10);
    EXPECT_EQ(KeyFileNumber(0, "0000000a.KEY"), 10);
    EXPECT_EQ(KeyFileNumber(0, "00000001.txt"), -1);
    EXPECT_EQ(KeyFileNumber(0, "000000001.key"), -1);  // 13 characters
    EXPECT_EQ(KeyFileNumber(0, "zz.key"), -1);
    EXPECT_EQ(KeyFileNumber(0, ".key"), -1);
    EXPECT_EQ(KeyFileNumber(1, "ibutton:\\key .007"), 7);
    EXPECT_EQ(KeyFileNumber(1, "key .0007"), -1);  // 9 characters
    EXPECT_EQ(KeyFileNumber(2, "0012"), 12);
    EXPECT_EQ(KeyFileNumber(3, "12a"), -1);
    EXPECT_EQ(KeyFileNumber(4, "pkcs11:\\mod\\00000010.key"), 10);
    EXPECT_EQ(KeyFileNumber(4, "99999999999999999999"), -1);
    EXPECT_EQ(KeyFileNumber(7, "00000001.key"), -1);
    for (int t = 0; t <= 4; ++t)
        for (std::uint32_t n : {1u, 9u, 10u, 999u})
            EXPECT_EQ(KeyFileNumber(t, KeyFileName(t, n)), static_cast<long>(n));
}

TEST(KeyFileNames, NextFreeNumberInADiskFolder) {
    char tmpl[] = "/tmp/cadb-keynames-XXXXXX";
    const std::filesystem::path dir = mkdtemp(tmpl);
    const std::string folder = dir.string() + "/keys";
    EXPECT_EQ(NextKeyFileNumber(folder, 0, 2), 1u);  // no folder yet
    std::filesystem::create_directory(folder);
    EXPECT_EQ(NextKeyFileNumber(folder, 0, 2), 1u);
    for (const char* name : {"00000001.key", "0000000A.key", "notes.txt", "FFFF.txt"})
        std::ofstream(folder + "/" + name) << "x";
    std::filesystem::create_directory(folder + "/0000000C.key");  // directories count too
    EXPECT_EQ(NextKeyFileNumber(folder, 0, 2), 13u);
    EXPECT_EQ(NextKeyFileNumber(folder, 0, 0), 11u);
    std::ofstream(folder + "/FFFFFFFF.key") << "x";
    EXPECT_EQ(NextKeyFileNumber(folder, 0, 2), std::nullopt);
    std::filesystem::remove_all(dir);
}

TEST(KeyFileNames, TrailingSeparator) {
    EXPECT_EQ(WithTrailingSeparator("a:\\keys"), "a:\\keys\\");
    EXPECT_EQ(WithTrailingSeparator("a:\\keys\\"), "a:\\keys\\");
    EXPECT_EQ(WithTrailingSeparator("/tmp/k/"), "/tmp/k/");
    EXPECT_EQ(WithTrailingSeparator(""), "\\");
}

}  // namespace
}  // namespace cadb::enrol
