// Every command of Tasset run as a user runs it, against SoftHSM2 posing as
// one of the token modules the program looks for.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/admin/program.h"
#include "tests/support/process_race.h"

namespace cadb::testing {
namespace {

const std::string kUsage =
    "Version: 1.0.0.8\n"
    "usage: Tasset <command> [options]\n"
    "Commands: -impcert infile outfile\n"
    "          -impca infile outfile\n"
    "          -info\n"
    "Options:  -verbose\n";

const std::string kPinLine = std::string(kUserPin) + "\n";

std::filesystem::path vector_cert(const char* name) {
    return std::filesystem::path(CADB_VECTORS_DIR) / "gost3410-2001-keys" / name;
}

// The part of -info's output between a heading and the next blank line.
std::string section(const std::string& out, const std::string& heading) {
    const auto at = out.find("\n" + heading + "\n");
    if (at == std::string::npos) return "<no " + heading + ">";
    const auto start = at + heading.size() + 2;
    const auto end = out.find("\n\n", start - 1);
    return out.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

// What the terminal shows after a prompt, up to the end of its line.
std::string answer_after(const std::string& out, const std::string& prompt) {
    const auto at = out.find(prompt);
    if (at == std::string::npos) return "<no " + prompt + ">";
    const auto start = at + prompt.size();
    return out.substr(start, out.find_first_of("\r\n", start) - start);
}

class Tasset : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOFTHSM();
        home_.install_module("libjcPKCS11.so");
    }
    TokenHome home_;
};

TEST(TassetCommandLine, UsageForMissingRepeatedOrIncompleteCommands) {
    TokenHome home;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {},
             {"-help"},
             {"-info", "-init"},
             {"-impcert", "only-infile"},
             {"-impca"},
             {"-remcert"},
             {"-remkey"},
             {"-verbose"},
             {"unknown", "-info"},
         }) {
        const Outcome o = home.run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(o.err, kUsage) << joined;
        EXPECT_EQ(o.out, "") << joined;
        EXPECT_EQ(o.code, 1) << joined;
    }
}

TEST(TassetCommandLine, TokenNotFoundAfterOneMoreTry) {
    TokenHome home;  // no module under any of the names
    const Outcome o = home.run({"-info"}, "x");
    EXPECT_EQ(o.out, "Insert token and press any key to continue...\nError: token not found.\n");
    EXPECT_EQ(o.code, 1);
}

TEST(TassetModules, EachProbedNameIsFoundInItsOrder) {
    REQUIRE_SOFTHSM();
    const struct {
        const char* file;
        const char* root;
    } cases[] = {
        {"libmskey-pkcs11.so", "pkcs11:\\mskey-pkcs11"},
        {"librtPKCS11ECP.so", "pkcs11:\\rtPKCS11ECP"},
        {"jcPKCS11.so", "pkcs11:\\jcPKCS11"},
    };
    for (const auto& c : cases) {
        TokenHome home;
        home.install_module(c.file);
        home.init_token("cadb");
        const Outcome o = home.run({"-info"}, kPinLine);
        EXPECT_NE(o.out.find(std::string("Root path:      ") + c.root + "\n"), std::string::npos)
            << o.out;
        EXPECT_EQ(o.code, 0) << o.out;
    }
    // With two present, the first name of the order wins.
    TokenHome home;
    home.install_module("libjcPKCS11.so");
    home.install_module("librtPKCS11ECP.so");
    home.init_token("cadb");
    const Outcome o = home.run({"-info"}, kPinLine);
    EXPECT_NE(o.out.find("Root path:      pkcs11:\\rtPKCS11ECP\n"), std::string::npos) << o.out;
}

TEST_F(Tasset, InitThenInfoShowsTheToken) {
    const Outcome init = home_.run({"-init"}, "my token\n" + std::string(kSoPin) + "\n" + kPinLine);
    EXPECT_EQ(init.out, "Enter token label: my token\nEnter SO PIN: ********\nEnter user PIN: ****\nOK.\n");
    EXPECT_EQ(init.code, 0);
    const std::string slots = home_.show_slots();
    EXPECT_NE(slots.find("Label:            my token                        \n"),
              std::string::npos)
        << slots;

    const Outcome info = home_.run({"-info"}, kPinLine);
    EXPECT_EQ(info.code, 0) << info.out;
    // The blank-padded fields as the token gives them.
    EXPECT_NE(info.out.find("Root path:      pkcs11:\\jcPKCS11\n"
                            "ManufacturerID: SoftHSM project                 \n"
                            "Model:          SoftHSM v2      \n"
                            "SerialNumber:   "),
              std::string::npos)
        << info.out;
    const auto serial = info.out.find("SerialNumber:   ");
    ASSERT_NE(serial, std::string::npos);
    EXPECT_EQ(info.out.substr(serial + 16 + 16, 2), "\n\n");
    EXPECT_NE(info.out.find("Enter user PIN: ****\n\nPrivate keys:\n\nUser certificates:\n\n"
                            "CA certificates:\n\nOK.\n"),
              std::string::npos)
        << info.out;
    // The user PIN set by -init opens the token; another does not.
    const Outcome wrong = home_.run({"-info"}, "9999\n");
    EXPECT_NE(wrong.out.find("Error: can't print token 'pkcs11:\\jcPKCS11' information.\n"
                             "User PIN is incorrect.\n"),
              std::string::npos)
        << wrong.out;
    EXPECT_EQ(wrong.code, 1);
}

// An answer longer than its field is refused with the rest of its line: the
// tail of a long label never becomes the SO PIN, nor a long SO PIN's tail the
// user PIN.
TEST_F(Tasset, InitRefusesALongLabelOrPin) {
    const std::string label = "0123456789abcdefghijklmnopqrstuvwxyz";
    const Outcome long_label = home_.run({"-init"}, label + "\n" + kSoPin + "\n" + kPinLine);
    EXPECT_EQ(long_label.out, "Enter token label: " + label.substr(0, 32) +
                                  "\nToo long: at most 32 characters.\n"
                                  "Error: can't get token 'pkcs11:\\jcPKCS11' label.\n");
    EXPECT_EQ(long_label.code, 1);
    EXPECT_EQ(home_.show_slots().find("Label:            0123456789"), std::string::npos);

    // SoftHSM2 takes PINs of up to 255 characters.
    const std::string long_pin(300, '7');
    const Outcome pin = home_.run({"-init"}, "mine\n" + long_pin + "\n" + kPinLine);
    EXPECT_NE(pin.out.find("Enter SO PIN: " + std::string(255, '*') +
                           "\nToo long: at most 255 characters.\n"),
              std::string::npos)
        << pin.out;
    EXPECT_NE(pin.out.find("Error: can't initialize token 'pkcs11:\\jcPKCS11'.\n"),
              std::string::npos)
        << pin.out;
    EXPECT_EQ(pin.out.find("OK."), std::string::npos) << pin.out;
    EXPECT_EQ(pin.code, 1);

    // Exactly 32 characters fit.
    const Outcome full = home_.run({"-init"}, label.substr(0, 32) + "\n" + kSoPin + "\n" + kPinLine);
    EXPECT_EQ(full.code, 0) << full.out;
    EXPECT_NE(home_.show_slots().find("Label:            " + label.substr(0, 32) + "\n"),
              std::string::npos);
}

// Every answer is asked and checked before the token is touched: a refused
// one leaves the token as it was, its label, its objects and its user PIN.
TEST_F(Tasset, ARefusedInitAnswerLeavesTheTokenAsItWas) {
    home_.init_token("cadb");
    ASSERT_EQ(home_.run({"-impcert", vector_cert("cert-A.pem").string(), "alice"}, kPinLine).code,
              0);
    const std::string slots = home_.show_slots();
    const Outcome info = home_.run({"-info"}, kPinLine);
    ASSERT_EQ(info.code, 0) << info.out;
    ASSERT_EQ(section(info.out, "User certificates:"), "alice\n");

    const std::string so = std::string(kSoPin) + "\n";
    const std::string refused = "Error: can't initialize token 'pkcs11:\\jcPKCS11'.\n";
    const struct {
        const char* what;
        std::string input;
        std::string out;
    } cases[] = {
        // SoftHSM2 takes PINs of 4 to 255 characters.
        {"long user PIN", "new\n" + so + std::string(300, '7') + "\n",
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: " +
             std::string(255, '*') + "\nToo long: at most 255 characters.\n" + refused},
        {"short user PIN", "new\n" + so + "123\n",
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: ***\n" + refused},
        {"short SO PIN", "new\n123\n" + kPinLine,
         "Enter token label: new\nEnter SO PIN: ***\n" + refused},
        {"empty line", "new\n" + so + "\n",
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: \n" + refused},
        {"Escape", "new\n" + so + "12\x1b",
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: **\n" + refused},
        {"end of input", "new\n" + so,
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: \n" + refused},
        // "été" in Latin-1 on a UTF-8 terminal.
        {"not UTF-8", "new\n" + so + "\xE9t\xE9\n",
         "Enter token label: new\nEnter SO PIN: ********\nEnter user PIN: *\n" + refused},
        {"NUL in label", std::string("New\0Label\n", 10) + so + kPinLine,
         std::string("Enter token label: New\0Label\n", 29) +
             "Error: can't get token 'pkcs11:\\jcPKCS11' label.\n"},
    };
    for (const auto& c : cases) {
        const Outcome o = home_.run({"-init"}, c.input);
        EXPECT_EQ(o.out, c.out) << c.what;
        EXPECT_EQ(o.code, 1) << c.what;
        EXPECT_EQ(home_.show_slots(), slots) << c.what;
        EXPECT_EQ(home_.run({"-info"}, kPinLine).out, info.out) << c.what;
    }
}

TEST_F(Tasset, EscapeAtTheLabelPromptInitialisesNothing) {
    const Outcome o = home_.run({"-init"}, "abc\x1b");
    EXPECT_EQ(o.out, "Enter token label: abc\nError: can't get token 'pkcs11:\\jcPKCS11' label.\n");
    EXPECT_EQ(o.code, 1);
}

TEST_F(Tasset, ImportListAndRemoveCertificates) {
    home_.init_token("cadb");
    const auto user = vector_cert("cert-A.pem");
    const auto ca = vector_cert("cert-C.pem");
    Outcome o = home_.run({"-impcert", user.string(), "alice"}, kPinLine);
    EXPECT_EQ(o.out, "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
    o = home_.run({"-impca", ca.string(), "root ca"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    // Importing again under the same name replaces the object.
    o = home_.run({"-impcert", user.string(), "alice"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;

    o = home_.run({"-info"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(section(o.out, "User certificates:"), "alice\n");
    EXPECT_EQ(section(o.out, "CA certificates:"), "root ca\n");
    EXPECT_EQ(section(o.out, "Public keys:"), "<no Public keys:>");
    EXPECT_EQ(o.out.find("value"), std::string::npos);

    // Verbose: public keys and the values of what can be read.
    o = home_.run({"-info", "-verbose"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(section(o.out, "Public keys:"), "");
    const std::string users = section(o.out, "User certificates:");
    EXPECT_EQ(users.rfind("alice\nvalue (", 0), 0u) << users;
    EXPECT_NE(users.find("\n    30 82 "), std::string::npos) << users;

    o = home_.run({"-remcert", "alice"}, kPinLine);
    EXPECT_EQ(o.out, "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
    o = home_.run({"-info"}, kPinLine);
    EXPECT_EQ(section(o.out, "User certificates:"), "");
    EXPECT_EQ(section(o.out, "CA certificates:"), "root ca\n");

    // Nothing to remove is no failure.
    o = home_.run({"-remcert", "alice"}, kPinLine);
    EXPECT_EQ(o.out, "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
}

// A "/" in a name is a "\" in the token path the certificate goes to, and
// the removal reads the name alike.
TEST_F(Tasset, RemovalFindsANameWithASlashAsImportStoredIt) {
    home_.init_token("cadb");
    Outcome o = home_.run({"-impcert", vector_cert("cert-A.pem").string(), "x/alice"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    o = home_.run({"-info"}, kPinLine);
    EXPECT_EQ(section(o.out, "User certificates:"), "x\\alice\n");
    o = home_.run({"-remcert", "x/alice"}, kPinLine);
    EXPECT_EQ(o.out, "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
    o = home_.run({"-info"}, kPinLine);
    EXPECT_EQ(section(o.out, "User certificates:"), "");
}

TEST_F(Tasset, ImportReadsEveryFormAndTokenPaths) {
    home_.init_token("cadb");
    // The same certificate as DER and as bare base64.
    const std::string pem = read_file(vector_cert("cert-B.pem"));
    std::string body;
    for (std::size_t at = 0; at < pem.size();) {
        const auto eol = pem.find('\n', at);
        const std::string line = pem.substr(at, eol - at);
        if (line.rfind("-----", 0) != 0) body += line + "\n";
        if (eol == std::string::npos) break;
        at = eol + 1;
    }
    const auto b64 = home_.root() / "cert-b.b64";
    std::ofstream(b64) << body;
    const auto der = home_.root() / "cert-b.der";
    ASSERT_EQ(std::system(("openssl base64 -d -in '" + b64.string() + "' -out '" + der.string() +
                           "'")
                              .c_str()),
              0);
    Outcome o = home_.run({"-impcert", der.string(), "bob-der"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    o = home_.run({"-impcert", b64.string(), "bob-b64"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    // A name that is a token path itself.
    o = home_.run({"-impca", der.string(), "pkcs11:\\jcPKCS11\\bob-path"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    o = home_.run({"-info"}, kPinLine);
    // The token lists objects in an order of its own.
    const std::string users = section(o.out, "User certificates:");
    EXPECT_TRUE(users == "bob-der\nbob-b64\n" || users == "bob-b64\nbob-der\n") << users;
    EXPECT_EQ(section(o.out, "CA certificates:"), "bob-path\n");
}

TEST_F(Tasset, ImportFailures) {
    home_.init_token("cadb");
    Outcome o = home_.run({"-impcert", (home_.root() / "missing.pem").string(), "x"}, kPinLine);
    EXPECT_EQ(o.out, "Error: file '" + (home_.root() / "missing.pem").string() + "' not found.\n");
    EXPECT_EQ(o.code, 1);

    const std::string cert = vector_cert("cert-A.pem").string();
    o = home_.run({"-impcert", cert, "bad:name"}, kPinLine);
    EXPECT_EQ(o.out, "Error: can't import the certificate from file '" + cert + "'.\n");
    EXPECT_EQ(o.code, 1);

    const auto junk = home_.root() / "junk.pem";
    std::ofstream(junk) << "not a certificate\n";
    o = home_.run({"-impca", junk.string(), "junk"}, kPinLine);
    EXPECT_EQ(o.out, "Error: can't import the certificate from file '" + junk.string() + "'.\n");
    EXPECT_EQ(o.code, 1);

    o = home_.run({"-impcert", cert, "alice"}, "4321\n");
    EXPECT_EQ(o.out, "Enter user PIN: ****\nError: can't import the certificate from file '" +
                         cert + "'.\nUser PIN is incorrect.\n");
    EXPECT_EQ(o.code, 1);
}

TEST_F(Tasset, RemoveKeyPair) {
    home_.init_token("cadb");
    const auto key = home_.root() / "key.pem";
    ASSERT_EQ(std::system(("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out '" +
                           key.string() + "' 2>/dev/null")
                              .c_str()),
              0);
    home_.import_key(key, "6b657931");  // "key1"
    Outcome o = home_.run({"-info", "-verbose"}, kPinLine);
    EXPECT_EQ(section(o.out, "Private keys:"), "key1\n") << o.out;

    // A wrong PIN removes nothing and says why.
    o = home_.run({"-remkey", "key1"}, "1111\n");
    EXPECT_EQ(o.out,
              "Enter user PIN: ****\nError: can't remove private key 'key1'.\nUser PIN is "
              "incorrect.\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.code, 1);
    // With -verbose the error queue follows on the standard error stream.
    o = home_.run({"-remkey", "key1", "-verbose"}, "1111\n");
    EXPECT_NE(o.err.find("PKCS11 routines"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("login failed"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Tasset_remove_key"), std::string::npos) << o.err;
    EXPECT_EQ(o.code, 1);

    o = home_.run({"-remkey", "key1"}, kPinLine);
    EXPECT_EQ(o.out, "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
    o = home_.run({"-info", "-verbose"}, kPinLine);
    EXPECT_EQ(section(o.out, "Private keys:"), "");
    EXPECT_EQ(section(o.out, "Public keys:"), "");
    o = home_.run({"-remkey", "key1"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
}

// Imports of user and authority certificates and a removal, run as separate
// processes at once under one name on one token, leave the name with at
// most one certificate, written by an import that reported success; an
// empty name only after a removal that reported success.
TEST_F(Tasset, ImportsAndARemovalAtOnceLeaveOneCertificateUnderTheName) {
    constexpr int kUsers = 5, kAuthorities = 2, kImports = kUsers + kAuthorities;
    const auto key = home_.root() / "key.pem";
    ASSERT_EQ(std::system(("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out '" +
                           key.string() + "' 2>/dev/null")
                              .c_str()),
              0);
    std::vector<std::string> certs, ders;  // file, DER as bare hex
    for (int i = 0; i < kImports; ++i) {
        const std::string pem = (home_.root() / ("c" + std::to_string(i) + ".pem")).string();
        const std::string der = pem + ".der";
        ASSERT_EQ(
            std::system(("openssl req -x509 -key '" + key.string() + "' -subj /CN=c" +
                         std::to_string(i) + " -days 2 -out '" + pem + "' && openssl x509 -in '" +
                         pem + "' -outform DER -out '" + der + "'")
                            .c_str()),
            0);
        std::string hex;
        for (unsigned char c : read_file(der)) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", c);
            hex += two;
        }
        certs.push_back(pem);
        ders.push_back(hex);
    }
    const auto bare = [](std::string text) {
        std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
        return text;
    };
    const auto count = [](const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    for (int round = 0; round < 5; ++round) {
        std::filesystem::remove_all(home_.root() / "tokens");
        std::filesystem::create_directory(home_.root() / "tokens");
        home_.init_token("cadb");
        const Race race = race_processes(kImports + 1, 2 * sizeof(int), [&](int i, int fd) {
            const Outcome o = i < kUsers     ? home_.run({"-impcert", certs[i], "same"}, kPinLine)
                              : i < kImports ? home_.run({"-impca", certs[i], "same"}, kPinLine)
                                             : home_.run({"-remcert", "same"}, kPinLine);
            const int record[2] = {i, o.code};
            return tell(fd, record, sizeof record) ? 0 : 1;
        });
        ASSERT_TRUE(race.all_exited_zero);
        ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kImports + 1));
        std::vector<int> code(kImports + 1, -1);
        std::string codes;
        for (const std::string& r : race.records) {
            int record[2];
            std::memcpy(record, r.data(), sizeof record);
            code[record[0]] = record[1];
            codes += " " + std::to_string(record[0]) + ":" + std::to_string(record[1]);
        }
        const Outcome info = home_.run({"-info", "-verbose"}, kPinLine);
        ASSERT_EQ(info.code, 0) << info.out;
        const std::string users = bare(section(info.out, "User certificates:"));
        const std::string authorities = bare(section(info.out, "CA certificates:"));
        const int held = count(users, "value(") + count(authorities, "value(");
        ASSERT_LE(held, 1) << "round " << round << ", exit codes" << codes << "\n" << info.out;
        if (held == 0) {
            EXPECT_EQ(code[kImports], 0) << "round " << round << ", exit codes" << codes;
            continue;
        }
        int found = -1;
        for (int i = 0; i < kImports; ++i)
            if ((i < kUsers ? users : authorities).find(ders[i]) != std::string::npos) found = i;
        ASSERT_NE(found, -1) << "round " << round << "\n" << info.out;
        EXPECT_EQ(code[found], 0) << "round " << round << ", exit codes" << codes;
    }
}

// A certificate on an iKey key that asks for a PIN: the program gives the
// driver none, and -verbose names the driver's reason.
TEST_F(Tasset, AnIKeyFileWithoutItsPinSaysWhy) {
    home_.init_token("cadb");
    for (const char* lib : {"libiKeyAPI.so", "libWinSCard.so"})
        home_.install_module(lib, std::string(CADB_TEST_MODULES_DIR) + "/" + lib);
    const auto keys = home_.root() / "ikey";
    std::filesystem::create_directories(keys / "0");
    std::filesystem::copy_file(vector_cert("cert-A.pem"), keys / "0" / "0001");
    home_.set_env("IKEY_SIM_ROOT", keys.string());
    home_.set_env("IKEY_SIM_PIN", "ikeypin");
    const Outcome o = home_.run({"-impcert", "iKey:\\0001", "alice", "-verbose"}, kPinLine);
    EXPECT_EQ(o.out, "Error: can't import the certificate from file 'iKey:\\0001'.\n");
    EXPECT_NE(o.err.find("IKSDK_login"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("phrase is too short or reading failed"), std::string::npos) << o.err;
    EXPECT_EQ(o.code, 1);
}

TEST_F(Tasset, UnknownWordEndsTheCommandLine) {
    home_.init_token("cadb");
    const Outcome o = home_.run({"-info", "whatever", "-init"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_NE(o.out.find("Root path:"), std::string::npos);
}

TEST_F(Tasset, EscapeAtThePinPromptGivesAnEmptyPin) {
    home_.init_token("cadb");
    const Outcome o = home_.run({"-remcert", "x"}, "12\x1b");
    EXPECT_EQ(o.out.rfind("Enter user PIN: **\nError: can't remove certificate 'x'.\n", 0), 0u)
        << o.out;
    EXPECT_EQ(o.code, 1);
}

TEST_F(Tasset, PromptsOnATerminalDoNotEcho) {
    home_.init_token("cadb");
    const Outcome o = home_.run_on_terminal({"-info"}, kPinLine);
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(answer_after(o.out, "Enter user PIN: "), "****") << o.out;
    EXPECT_NE(o.out.find("OK."), std::string::npos) << o.out;

    // The label is echoed as typed, the PINs are not.
    TokenHome fresh;
    fresh.install_module("libjcPKCS11.so");
    const Outcome init =
        fresh.run_on_terminal({"-init"}, "t1\r" + std::string(kSoPin) + "\r" + kUserPin + "\r");
    EXPECT_EQ(init.code, 0) << init.out;
    EXPECT_NE(init.out.find("Enter token label: t1"), std::string::npos) << init.out;
    EXPECT_EQ(answer_after(init.out, "Enter SO PIN: "), "********") << init.out;
    EXPECT_EQ(answer_after(init.out, "Enter user PIN: "), "****") << init.out;
    EXPECT_NE(fresh.show_slots().find("Label:            t1 "), std::string::npos);
}

}  // namespace
}  // namespace cadb::testing
