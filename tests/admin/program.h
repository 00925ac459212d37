// Runs the real Tasset in a child process against a SoftHSM2 token of the
// test's own: a fresh folder with the token directory, a configuration file
// and a module folder on CADB_MODULE_PATH where SoftHSM2 answers to one of
// the names the program probes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace cadb::testing {

inline constexpr const char* kSoftHsmModule = "/usr/lib/softhsm/libsofthsm2.so";
inline constexpr const char* kUserPin = "1234";
inline constexpr const char* kSoPin = "87654321";

struct Outcome {
    std::string out;  // standard output
    std::string err;  // standard error
    int code = -1;    // exit code, -1 when the program did not exit normally
};

class TokenHome {
  public:
    TokenHome();
    ~TokenHome();
    TokenHome(const TokenHome&) = delete;
    TokenHome& operator=(const TokenHome&) = delete;

    // SoftHSM2 (or another module) appears under this file name in the
    // module folder.
    void install_module(const std::string& file_name, const std::string& module = kSoftHsmModule);
    // One more environment variable for the program.
    void set_env(const std::string& name, const std::string& value);
    // softhsm2-util initialises a token with the label and the test PINs.
    void init_token(const std::string& label);
    // softhsm2-util imports a PKCS#8 key file with CKA_ID = id (hex).
    void import_key(const std::filesystem::path& pem, const std::string& id_hex);
    // What softhsm2-util says of the slots.
    std::string show_slots() const;

    const std::filesystem::path& root() const { return root_; }

    // The program with the arguments, its standard input fed with input.
    Outcome run(const std::vector<std::string>& args, const std::string& input = "") const;
    // The same on a pseudo-terminal: input is typed key by key once the
    // program prompts; everything it writes is the output.
    Outcome run_on_terminal(const std::vector<std::string>& args, const std::string& input) const;

  private:
    std::vector<std::string> environment() const;
    std::string with_environment(const std::string& command) const;

    std::filesystem::path root_;
    std::vector<std::string> extra_env_;
};

bool softhsm_available();
std::string read_file(const std::filesystem::path& p);

}  // namespace cadb::testing

#define REQUIRE_SOFTHSM()                                                               \
    do {                                                                                \
        if (!::cadb::testing::softhsm_available())                                      \
            GTEST_SKIP() << "SoftHSM2 is not installed (scripts/install-deps adds it)"; \
    } while (0)
