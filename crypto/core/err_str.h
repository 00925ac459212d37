// Texts of the error queue: the string tables that name libraries, functions
// and reasons, and the printers of queued errors in the OpenSSL manner
// ("error:%08lX:library:function:reason").
//
// libcrypto exports the same printer names at global scope; these live in
// namespace cadb and read this library's queue and tables.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <span>

#include "crypto/core/err.h"

// libcrypto defines ERR_free_strings as a macro; this library has a function
// of that name. Including libcrypto's header here first keeps its include
// guard from bringing the macro back.
#undef ERR_free_strings

namespace cadb {

// One text of a string table under its packed code: a library name packs
// (lib, 0, 0), a function name (0, func, 0) and a reason (0, 0, reason); the
// library of a function or reason table is given when the table is loaded.
struct ERR_STRING_DATA {
    unsigned long error;
    const char* string;
};

constexpr unsigned long ERR_LIB_ENTRY(int lib) { return ERR_pack_code(lib, 0, 0); }
constexpr unsigned long ERR_FUNC(int func) { return ERR_pack_code(0, func, 0); }
constexpr unsigned long ERR_REASON(int reason) { return ERR_pack_code(0, 0, reason); }

// A table and the library its entries belong to (0: the entries carry their
// own library, as the library names and the common reasons do).
struct ERR_STRING_TABLE {
    int lib;
    std::span<const ERR_STRING_DATA> entries;
};

// Adds the entries of a table; a later entry for the same packed code
// replaces an earlier one. Texts are not copied: tables are static data.
void ERR_load_strings(int lib, std::span<const ERR_STRING_DATA> entries);

// What a loader remembers so that it loads its tables once: once per start
// of the library, since ERR_free_strings makes every loader due again.
struct ERR_LOAD_FLAG {
    unsigned loaded_in = 0;  // guarded by the string tables' own lock
};

// Loads the tables in order unless this flag's loader already loaded them
// since the texts were last freed. Returns 1 when it loaded them.
int ERR_load_strings_once(ERR_LOAD_FLAG& flag, std::initializer_list<ERR_STRING_TABLE> tables);

// Forgets every text; each loader loads again when next called.
void ERR_free_strings();

// Texts of a packed code, or null when none is loaded. A reason is looked up
// under its library first, then among the common reasons. Errors moved over
// from libcrypto (library ERR_LIB_OPENSSL) are named by libcrypto's own
// tables: the function field holds libcrypto's library.
const char* ERR_lib_error_string(unsigned long e);
const char* ERR_func_error_string(unsigned long e);
const char* ERR_reason_error_string(unsigned long e);

// Room ERR_error_string writes into: a caller's buffer must hold this many
// bytes.
constexpr std::size_t ERR_STRING_BUF_SIZE = 256;

// "error:%08lX:%s:%s:%s" with the library, function and reason texts, each
// replaced by "lib(%lu)", "func(%lu)" or "reason(%lu)" when it has none.
// Writes at most len bytes including the terminating zero; len 0 writes
// nothing.
void ERR_error_string_n(unsigned long e, char* buf, std::size_t len);
// The same into buf (ERR_STRING_BUF_SIZE bytes), or, for a null buf, into a
// buffer of the calling thread that the next call overwrites.
char* ERR_error_string(unsigned long e, char* buf);

// Empties the calling thread's queue, oldest first, one line per error:
// "%lu:%s:%s:%d\n" with the thread id, the error string, file and line.
// Call them qualified (cadb::ERR_print_errors): a BIO* or FILE* argument
// also finds libcrypto's functions of the same names.
void ERR_print_errors(BIO* bp);
void ERR_print_errors_fp(FILE* fp);

}  // namespace cadb
