// The stream driver over a token file system, as ruToken's vendor library
// offers it. The eToken driver is the same driver over its own library: a
// TokenFsProfile says what differs (names, readers, paths, error codes,
// lock), and everything else lives here once.
//
// A stream reads the whole token file into memory when it opens, and writes
// the memory back as a new file when it is flushed or freed: a token file
// always has exactly the size of its contents, at most 65,535 bytes.
#pragma once

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "platform/module.h"
#include "platform/no_destructor.h"
#include "platform/vendor/etoken_r2_api.h"
#include "platform/vendor/token_fs_api.h"

namespace cadb {

// Stream controls beyond the stream layer's own.
inline constexpr int BIO_C_SET_TOKEN_PASSWD_CB = 143;
inline constexpr int BIO_C_SET_TOKEN_CREATE_FLAGS = 144;
inline constexpr int BIO_C_SET_TOKEN_PIN = 145;
inline constexpr int BIO_C_SET_TOKEN_PASSWD_ARG = 146;
// eToken only: the session option flags below.
inline constexpr int BIO_C_GET_TOKEN_OPTIONS = 147;
inline constexpr int BIO_C_SET_TOKEN_OPTIONS = 148;
inline constexpr long TOKEN_OPTION_LOGOUT = 1;
inline constexpr long TOKEN_OPTION_DELETED = 2;

// The stream method type of the token drivers.
inline constexpr int BIO_TYPE_TOKEN_FILE = 0x402;
// The largest token file: sizes are 16-bit on the token.
inline constexpr std::size_t TOKEN_FILE_MAX = 0xFFFF;

// Reasons of the token drivers.
enum TokenReason : int {
    TOKEN_R_VENDOR_CALL_FAILED = 12,
    TOKEN_R_STEP_FAILED = 32,
    TOKEN_R_MALLOC_FAILURE = 33,
    TOKEN_R_BAD_OPEN_MODE = 101,
    TOKEN_R_NO_READER = 126,
    TOKEN_R_NO_TOKEN = 127,
    TOKEN_R_LOGIN_FAILED = 128,
    TOKEN_R_PIN_TOO_LONG = 129,
};
// The thread's status code after the token refused the PIN.
inline constexpr int TOKEN_STATUS_PIN_REFUSED = 28;

// One directory entry as a listing reports it: the record the eToken
// vendor library fills in its listings, so that both eToken drivers share
// one entry type. Its name is the 16-bit identifier as "%04x".
using TOKEN_FILE_INFO = vendor::ETOKEN_FILE_INFO;

// The resolved entries of a vendor library.
struct TokenFsApi {
#define CADB_TOKEN_FS_MEMBER(role, type, ru, et) vendor::type role = nullptr;
    CADB_TOKEN_FS_ENTRIES(CADB_TOKEN_FS_MEMBER)
#undef CADB_TOKEN_FS_MEMBER
};
inline constexpr int kTokenFsEntryCount = 31;

// Function codes under the profile's error library.
struct TokenFsFunctions {
    int bind, login, open, read, write, write_back, load, list, remove, info_new;
};

struct TokenFsProfile {
    const char* name;
    int medium;
    const char* library;
    const char* const* entries;  // kTokenFsEntryCount names, in member order
    int err_lib;
    int info_err_lib;
    TokenFsFunctions func;
    int io_lock;
    bool (*login_needed)(vendor::TokenRv rv);
    // Whether a reader serves the path; number is the reader number text the
    // path gave, empty when any reader will do.
    bool (*reader_matches)(std::string_view reader, std::string_view number);
    // The path prefixes, longest first.
    const char* const* prefixes;
    // Rewrites the identifier text after ':' (separators removed) to the
    // identifiers below the root directory.
    std::string (*rebase_ids)(std::string ids);
    bool has_option_ctrls;
};

// A loaded vendor library and its driver state.
class TokenFsDriver {
  public:
    explicit TokenFsDriver(const TokenFsProfile& profile) : profile_(profile) {}
    const TokenFsProfile& profile() const { return profile_; }

    // Loads the smart-card service check and the vendor library once; 1 when
    // every entry resolved. Unloaded drivers fail every operation.
    int load();
    void unload();
    bool loaded() const { return loaded_.load(std::memory_order_acquire); }
    const TokenFsApi& api() const { return api_; }

    void set_passwd_cb(pem_password_cb* cb) { passwd_cb_.store(cb); }
    pem_password_cb* passwd_cb() const { return passwd_cb_.load(); }

    // The stream method, made once; create binds new streams to this
    // driver (token_fs_create).
    const BIO_METHOD* method(int (*create)(BIO*));

  private:
    const TokenFsProfile& profile_;
    std::mutex mutex_;
    Module library_;
    TokenFsApi api_{};
    std::atomic<bool> loaded_{false};
    std::atomic<pem_password_cb*> passwd_cb_{nullptr};
    BIO_METHOD* method_ = nullptr;
};

// The create step of a driver's stream method.
int token_fs_create(BIO* bio, TokenFsDriver& driver);

// A path split into its reader number and its identifiers below the root.
struct TokenFsPath {
    std::string reader_number;
    std::vector<std::uint16_t> ids;
};
std::optional<TokenFsPath> token_fs_parse_path(const TokenFsProfile& profile, const char* path);

// The helpers of the media layer, over one driver.
int token_fs_identity(TokenFsDriver& driver, const char* path, char* out, std::size_t size);
int token_fs_token_present(TokenFsDriver& driver, const char* path);
int token_fs_exists(TokenFsDriver& driver, const char* path);
// 1 when the path exists, 0 when the token answers it does not, -1 when it
// cannot tell.
int token_fs_path_state(TokenFsDriver& driver, const char* path);
int token_fs_is_directory(TokenFsDriver& driver, const char* path);
long token_fs_open_size(BIO* bio);
int token_fs_delete_open(BIO* bio);
int token_fs_list_dir(TokenFsDriver& driver, const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg);

// Directory entries; wiped when freed.
TOKEN_FILE_INFO* token_fs_info_new(const TokenFsProfile& profile);
void token_fs_info_free(TOKEN_FILE_INFO* info);

// The one driver of a profile and its face to the media layer: the functions
// of its media-driver record, registered under the profile's medium by load.
template <const TokenFsProfile& Profile>
class TokenFsMedia {
  public:
    // The vendor library goes with unload(), never with a destructor at exit.
    static TokenFsDriver& driver() {
        static NoDestructor<TokenFsDriver> d(Profile);
        return *d;
    }
    static const BIO_METHOD* method() { return driver().method(create); }

    // Loads the vendor library and registers the driver; 1/0.
    static int load() {
        if (!driver().load() || method() == nullptr) return 0;
        BIO_media_register_driver(Profile.medium, record());
        return 1;
    }
    static void unload() {
        if (BIO_media_driver(Profile.medium) == record())
            BIO_media_register_driver(Profile.medium, nullptr);
        driver().unload();
    }
    static int loaded() { return driver().loaded() ? 1 : 0; }

  private:
    static int create(BIO* bio) { return token_fs_create(bio, driver()); }
    static int ready(const char*) { return loaded(); }
    static int present(const char* path) { return token_fs_token_present(driver(), path); }
    static int exists(const char* path) { return token_fs_path_state(driver(), path); }
    static int is_directory(const char* path) { return token_fs_is_directory(driver(), path); }
    static int list_dir(const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg) {
        return token_fs_list_dir(driver(), path, cb, arg);
    }
    static int identity(const char* path, char* out, std::size_t size) {
        return token_fs_identity(driver(), path, out, size);
    }
    static pem_password_cb* passwd_cb() { return driver().passwd_cb(); }

    static const BIO_MEDIA_DRIVER* record() {
        // Files on these tokens are deleted open, never by path.
        static const BIO_MEDIA_DRIVER r = {
            Profile.name,
            method,
            ready,
            present,
            exists,
            is_directory,
            token_fs_open_size,
            nullptr,
            token_fs_delete_open,
            list_dir,
            identity,
            passwd_cb,
        };
        return &r;
    }
};

}  // namespace cadb
