// The library's error queue: a per-thread queue of (library, function,
// reason, file, line) records, beside each thread's error class and last
// token return code.
#pragma once

#include <openssl/err.h>

#include <cstdint>

// libcrypto defines ERR_put_error as a macro; this library has a function of
// that name, so the macro must not expand over it. Including libcrypto's
// header here first keeps its include guard from bringing the macro back.
#undef ERR_put_error

namespace cadb {

// Library numbers.
enum ErrLib : int {
    ERR_LIB_BN_ = 3,
    ERR_LIB_BUF_ = 7,
    ERR_LIB_EVP_ = 6,
    ERR_LIB_X509_ = 11,
    ERR_LIB_ASN1_ = 13,
    ERR_LIB_BIO_ = 32,
    ERR_LIB_PKCS7_ = 33,
    ERR_LIB_R3410 = 65,
    ERR_LIB_CADB = 66,
    ERR_LIB_GREAVE = 67,
    ERR_LIB_COUTER = 68,
    ERR_LIB_RAND_ = 69,
    ERR_LIB_ETOKEN = 70,
    ERR_LIB_FORM = 71,
    ERR_LIB_GOSTE = 72,
    ERR_LIB_GOSTH = 73,
    ERR_LIB_PSE = 74,
    ERR_LIB_ECGOST = 75,
    ERR_LIB_SHAMIR = 76,
    ERR_LIB_CRMF_ = 77,
    ERR_LIB_GOSTS = 78,
    ERR_LIB_TSP_ = 80,
    ERR_LIB_PKCS11 = 81,
    ERR_LIB_IKSDK = 82,
    ERR_LIB_GNIVC = 83,
    ERR_LIB_RUTOKEN = 84,
    ERR_LIB_KEYCHAIN = 87,
    // Errors moved over from libcrypto's own queue keep their text only. The
    // number also closes such a chain as a reason, so it lies above every
    // library's own reasons (127 is one of CADB's).
    ERR_LIB_OPENSSL = 255,
};

// Reasons shared by every library.
enum ErrReason : int {
    ERR_R_NESTED_ASN1_ERROR_ = 4,
    ERR_R_BAD_ASN1_OBJECT_HEADER_ = 5,
    ERR_R_BAD_GET_ASN1_OBJECT_CALL_ = 6,
    ERR_R_EXPECTING_AN_ASN1_SEQUENCE_ = 7,
    ERR_R_ASN1_LENGTH_MISMATCH_ = 8,
    ERR_R_MISSING_ASN1_EOS_ = 9,
    ERR_R_CHECK_RAM_FAILURE = 10,
    ERR_R_SELF_TESTING_ERROR = 11,
    ERR_R_INTERNAL = 12,
    ERR_R_MALLOC = 33,
    ERR_R_SHOULD_NOT_CALL = 34,
    ERR_R_NULL_PARAMETER = 35,
};

// The error class: one small number per thread telling what kind of failure
// happened last.
enum ErrClass : int {
    ERR_CLASS_NONE = 0,
    ERR_CLASS_BAD_ARGUMENT = 1,
    ERR_CLASS_FILE_IO = 2,
    ERR_CLASS_MAC_MISMATCH = 3,
    ERR_CLASS_NO_RANDOM_METHOD = 4,
    ERR_CLASS_KEY_STORE_IO = 5,
    ERR_CLASS_RANDOM_GENERATOR = 6,
    ERR_CLASS_SIGNATURE_MISMATCH = 7,
    ERR_CLASS_UNKNOWN_MODE = 10,
    ERR_CLASS_OUT_OF_MEMORY = 11,
    ERR_CLASS_INTERNAL = 12,
    ERR_CLASS_UNKNOWN_CODE = 13,
    ERR_CLASS_KEY_AGREEMENT = 14,
    ERR_CLASS_SIGNING = 16,
    ERR_CLASS_SEEDING_CANCELLED = 22,
    ERR_CLASS_READ = 23,
    ERR_CLASS_WRITE = 24,
};

// Kinds of the last token return code.
enum TokenCodeKind : int { TOKEN_CODE_VENDOR = 2, TOKEN_CODE_PKCS11 = 3 };

// Packed error code: library in the top byte, then 12 bits of function and
// 12 bits of reason.
constexpr unsigned long ERR_pack_code(int lib, int func, int reason) {
    return ((static_cast<unsigned long>(lib) & 0xFFUL) << 24) |
           ((static_cast<unsigned long>(func) & 0xFFFUL) << 12) |
           (static_cast<unsigned long>(reason) & 0xFFFUL);
}
constexpr int ERR_code_lib(unsigned long e) { return static_cast<int>((e >> 24) & 0xFF); }
constexpr int ERR_code_func(unsigned long e) { return static_cast<int>((e >> 12) & 0xFFF); }
constexpr int ERR_code_reason(unsigned long e) { return static_cast<int>(e & 0xFFF); }

void ERR_put_error(int lib, int func, int reason, const char* file, int line);
// Oldest record first; 0 when the queue is empty.
unsigned long ERR_get_error();
unsigned long ERR_get_error_line(const char** file, int* line);
unsigned long ERR_peek_error();
unsigned long ERR_peek_last_error();
void ERR_clear_error();
// Marks the newest record; ERR_pop_to_mark removes every record above the
// newest mark and that one mark. Marks nest: a record marked twice keeps one
// mark after one pop. Returns 0 when no mark is set.
int ERR_set_mark();
int ERR_pop_to_mark();
// Removes the newest mark and keeps every record. Returns 0 when no mark is
// set.
int ERR_clear_last_mark();
// Drops the calling thread's whole error state.
void ERR_remove_state();

// Keeps libcrypto's queue as the caller had it across a scope: whatever the
// scope's calls leave there is dropped, the entries from before stay.
class OpensslErrorMark {
  public:
    OpensslErrorMark() { ::ERR_set_mark(); }
    ~OpensslErrorMark() { ::ERR_pop_to_mark(); }
    OpensslErrorMark(const OpensslErrorMark&) = delete;
    OpensslErrorMark& operator=(const OpensslErrorMark&) = delete;
};

void ERR_set_last_error(int error_class);
int ERR_get_last_error();

// Token codes: the first failure of an operation wins.
void ERR_set_last_rv(unsigned long code, int kind);
void ERR_reset_last_rv(unsigned long code, int kind);
unsigned long ERR_get_last_rv();
int ERR_get_last_rv_kind();

// Moves every record from libcrypto's queue onto this one (library
// ERR_LIB_OPENSSL, libcrypto's library as function, its reason), then records
// the caller's own (lib, func) with reason ERR_LIB_OPENSSL on top.
void ERR_move_openssl_errors(int lib, int func);

}  // namespace cadb

// Reports a failure at this source line.
#define CADB_ERR(lib, func, reason) \
    ::cadb::ERR_put_error((lib), (func), (reason), __FILE__, __LINE__)
