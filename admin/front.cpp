// The program's front end: start-up, the command line, the search for the
// token's module, the messages and the exit code.

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "admin/console.h"
#include "admin/err_tables.h"
#include "admin/signtool.h"
#include "admin/tasset.h"
#include "crypto/bio/ikey.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/init/init.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/media_io.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

// The modules of the tokens the program serves, in the order they are
// tried.
constexpr const char* kModules[] = {
    "pkcs11:\\mskey-pkcs11",
    "pkcs11:\\rtPKCS11ECP",
    "pkcs11:\\jcPKCS11",
};

enum class Kind { none, impcert, impca, info, init, remcert, remkey };

struct Command {
    Kind kind = Kind::none;
    const char* infile = nullptr;
    const char* name = nullptr;
    bool verbose = false;
};

struct Word {
    const char* text;
    Kind kind;
    int operands;
};

constexpr Word kWords[] = {
    {"-impcert", Kind::impcert, 2}, {"-impca", Kind::impca, 2},     {"-info", Kind::info, 0},
    {"-init", Kind::init, 0},       {"-remcert", Kind::remcert, 1}, {"-remkey", Kind::remkey, 1},
};

int usage() {
    std::fputs("Version: 1.0.0.8\n", stderr);
    std::fputs("usage: Tasset <command> [options]\n", stderr);
    std::fputs("Commands: -impcert infile outfile\n", stderr);
    std::fputs("          -impca infile outfile\n", stderr);
    std::fputs("          -info\n", stderr);
    std::fprintf(stderr, "Options:  %s\n", "-verbose");
    return 1;
}

// false when the command line asks for the usage.
bool parse(int argc, char** argv, Command& cmd) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const Word* word = nullptr;
        for (const Word& w : kWords)
            if (std::strcmp(arg, w.text) == 0) word = &w;
        if (word != nullptr) {
            if (cmd.kind != Kind::none) return false;
            if (argc - 1 - i < word->operands) return false;
            cmd.kind = word->kind;
            if (word->operands == 2) {
                cmd.infile = argv[++i];
                cmd.name = argv[++i];
            } else if (word->operands == 1) {
                cmd.name = argv[++i];
            }
        } else if (std::strcmp(arg, "-verbose") == 0) {
            cmd.verbose = true;
        } else if (std::strcmp(arg, "-help") == 0) {
            return false;
        } else {
            break;  // any other word ends the command line
        }
    }
    return cmd.kind != Kind::none;
}

// A name typed on the command line, in the system's narrow code page that
// the library turns into the token's name encoding.
bool narrow_name(const char* typed, std::string& out) {
    return console::convert(console::codeset(), kLocalCodePage, typed, out);
}

void print_field(const char* heading, const char* field, std::size_t size) {
    std::fputs(heading, stdout);
    console::print_utf8(stdout, std::string_view(field, size));
    std::fputs("\n", stdout);
}

// Runs a command; false after its one error line.
bool run(const Command& cmd, const char* root) {
    switch (cmd.kind) {
        case Kind::impcert:
        case Kind::impca: {
            if (!IsMediaPathPresent(cmd.infile)) {
                std::printf("Error: file '%s' not found.\n", cmd.infile);
                return false;
            }
            std::string name;
            const int kind = cmd.kind == Kind::impcert ? TASSET_CERT_USER : TASSET_CERT_AUTHORITY;
            if (!narrow_name(cmd.name, name) ||
                !Tasset_import_certificate(cmd.infile, root, name.c_str(), kind)) {
                std::printf("Error: can't import the certificate from file '%s'.\n", cmd.infile);
                return false;
            }
            return true;
        }
        case Kind::info: {
            std::printf("Root path:      %s\n", root);
            char manufacturer[32];
            char model[16];
            char serial[16];
            if (!Tasset_get_token_info(root, manufacturer, model, serial)) {
                std::printf("Error: can't get token '%s' information.\n", root);
                return false;
            }
            print_field("ManufacturerID: ", manufacturer, sizeof manufacturer);
            print_field("Model:          ", model, sizeof model);
            print_field("SerialNumber:   ", serial, sizeof serial);
            std::fputs("\n", stdout);
            if (!Tasset_list_objects(root, cmd.verbose ? 1 : 0, stdout)) {
                std::printf("Error: can't print token '%s' information.\n", root);
                return false;
            }
            return true;
        }
        case Kind::init: {
            char label[TASSET_LABEL_SIZE + 1];
            if (!Tasset_get_label(label)) {
                std::printf("Error: can't get token '%s' label.\n", root);
                return false;
            }
            if (!Tasset_init_token(root, label)) {
                std::printf("Error: can't initialize token '%s'.\n", root);
                return false;
            }
            return true;
        }
        case Kind::remcert:
        case Kind::remkey: {
            const bool key = cmd.kind == Kind::remkey;
            std::string name;
            if (!narrow_name(cmd.name, name) ||
                !(key ? Tasset_remove_key(root, name.c_str())
                      : Tasset_remove_certificate(root, name.c_str()))) {
                std::printf(key ? "Error: can't remove private key '%s'.\n"
                                : "Error: can't remove certificate '%s'.\n",
                            cmd.name);
                return false;
            }
            return true;
        }
        case Kind::none:
            break;
    }
    return false;
}

// What the token said last, after a failure.
void print_token_code() {
    const unsigned long rv = ERR_get_last_rv();
    if (rv == 0) return;
    switch (rv) {
        case CKR_PIN_INCORRECT:
            std::fputs("User PIN is incorrect.\n", stdout);
            break;
        case CKR_PIN_LOCKED:
            std::fputs("User PIN is locked.\n", stdout);
            break;
        case CKR_TOKEN_NOT_PRESENT:
            std::fputs("Token not present.\n", stdout);
            break;
        default:
            std::printf("Token error 0x%lX.\n", rv);
            break;
    }
}

int execute(const Command& cmd) {
    char root[TASSET_ROOT_SIZE] = {};
    bool ok = Tasset_find_module(root) != 0;
    if (ok) {
        ERR_clear_error();
        ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
        ok = run(cmd, root);
    }
    std::fflush(stdout);
    if (ok) {
        std::fputs("OK.\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    print_token_code();
    std::fflush(stdout);
    if (cmd.verbose) Tasset_print_errors(nullptr);
    return 1;
}

}  // namespace

int Tasset_find_module(char* root) {
    if (root == nullptr) return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            std::fputs("Insert token and press any key to continue...\n", stdout);
            std::fflush(stdout);
            Tasset_wait_key();
        }
        for (const char* module : kModules) {
            if (PKCS11_module_probe(module)) {
                std::snprintf(root, TASSET_ROOT_SIZE, "%s", module);
                return 1;
            }
        }
    }
    std::fputs("Error: token not found.\n", stdout);
    return 0;
}

void Tasset_print_errors(const char* file) {
    FILE* out = stderr;
    if (file != nullptr) {
        out = std::fopen(file, "a");
        if (out == nullptr) out = stderr;
    }
    cadb::ERR_print_errors_fp(out);
    std::fflush(out);
    if (out != stderr) std::fclose(out);
}

int Tasset_main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "");
    if (!CADB_init()) {
        Tasset_print_errors(nullptr);
        return 1;
    }
    Tasset_load_error_strings();
    // The program knows iKey keys too; without their library it runs on.
    ERR_set_mark();
    IKEY_load();
    ERR_pop_to_mark();
    SIGNTOOL_add_extensions();
    PKCS11_set_passwd_cb(Tasset_get_pin);
    Command cmd;
    const int code = parse(argc, argv, cmd) ? execute(cmd) : usage();
    PKCS11_set_passwd_cb(nullptr);
    IKEY_unload();
    CADB_cleanup();
    return code;
}

}  // namespace cadb
