// The token administration program: the token utilities behind its
// commands, its console prompts and its front end. Everything works on a
// root path, a module-only PKCS#11 path ("pkcs11:\jcPKCS11") naming the
// first slot that holds a token.
#pragma once

#include <cstdio>

namespace cadb {

// Function codes of library 81 used by the utilities.
enum : int {
    PKCS11_F_TASSET_INIT_TOKEN = 177,
    PKCS11_F_TASSET_REMOVE_CERTIFICATE = 178,
    PKCS11_F_TASSET_REMOVE_KEY = 179,
};

// Certificate kinds of an import, as CKA_CERTIFICATE_CATEGORY.
inline constexpr int TASSET_CERT_USER = 1;
inline constexpr int TASSET_CERT_AUTHORITY = 2;

// Room of the root path: 20 characters and a terminating zero.
inline constexpr int TASSET_ROOT_SIZE = 21;
// The most label characters a token takes.
inline constexpr int TASSET_LABEL_SIZE = 32;

// The token utilities; 1 on success, 0 with the reason queued under library
// 81 and the token's refusal kept as the last token code.

// Initialises the token: asks the security officer's PIN and then the user's
// through the process-wide PIN callback, both before the token is touched,
// and refuses either when the token would not take its length; the label
// blank-padded (or cut) to 32 bytes.
int Tasset_init_token(const char* root, const char* label);
// The token's blank-padded fields as the token gives them (32, 16 and 16
// bytes, no terminating zero).
int Tasset_get_token_info(const char* root, char manufacturer[32], char model[16],
                          char serial[16]);
// Prints the private keys, with verbose also the public keys and object
// values, then the user and authority certificates of the token to out.
int Tasset_list_objects(const char* root, int verbose, FILE* out);
// Reads a certificate from infile (any medium, any form) and stores it on the
// token under name with the kind, then reads it back.
int Tasset_import_certificate(const char* infile, const char* root, const char* name, int kind);
// Remove the keys, or the certificates, whose CKA_ID is name; nothing to
// remove is success.
int Tasset_remove_key(const char* root, const char* name);
int Tasset_remove_certificate(const char* root, const char* name);

// Console prompts. An answer longer than its field is refused, never cut:
// the rest of its line is read and dropped (so it cannot become the next
// answer) and the user is told. The PIN callback: "Enter SO PIN: " for
// rwflag 1, else "Enter user PIN: "; keys are read without echo and answered
// with "*", Enter ends, Escape gives an empty PIN, more than size characters
// are too long. The PIN comes back in the system's narrow code page with no
// terminating zero; the count of characters, or -1 when it is too long or
// cannot be read or converted.
int Tasset_get_pin(char* buf, int size, int rwflag, void* arg);
// "Enter token label: " with each key echoed; Enter ends, Escape gives no
// label. The label (UTF-8) with a terminating zero in label
// (TASSET_LABEL_SIZE + 1 bytes); 1, or 0 when no label was given, it cannot
// be converted, holds a zero byte, or takes more than 32 characters or 32
// bytes.
int Tasset_get_label(char* label);
// Waits for one key (or end of input).
void Tasset_wait_key();

// Front end.
// Probes the modules the program knows, in order; the first that loads
// becomes root (TASSET_ROOT_SIZE bytes). When none loads, asks for the token
// once and probes again. 1, or 0 after "Error: token not found.".
int Tasset_find_module(char* root);
// Prints the error queue, emptying it, to the named file (appended) or, with
// no name, to the standard error stream.
void Tasset_print_errors(const char* file);
// The whole program: start-up, command line, command, messages; the exit
// code (0 only after "OK.").
int Tasset_main(int argc, char** argv);

}  // namespace cadb
