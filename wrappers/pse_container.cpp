#include "wrappers/pse_container.h"

#include <openssl/crypto.h>
#include <sys/stat.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "crypto/bio/etoken.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken.h"
#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/store/media_io.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/media_store_commit.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "platform/paths.h"
#include "wrappers/log.h"
#include "wrappers/tpse.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

TRef<TContainerDialog>& current_dialog() {
    static TRef<TContainerDialog> dialog;
    return dialog;
}
int g_flow_depth = 0;

// The token drivers ask their PINs through the current user-interface object.
void install_pin_callbacks() {
    ETOKEN_set_passwd_cb(etoken_passwd_cb);
    RUTOKEN_set_passwd_cb(rutoken_passwd_cb);
    PKCS11_set_passwd_cb(pkcs11_passwd_cb);
}

bool present(const std::string& path) { return IsMediaPathPresent(path.c_str()) == 1; }

// The media type whose file names a store on path bears. The eToken R2 and
// iKey media have no row of the media table, and their stores bear the
// token names as on the other USB tokens.
std::int32_t store_names_type(const char* path) {
    const int medium = BIO_media_kind(path);
    return medium == BIO_MEDIUM_ETR2 || medium == BIO_MEDIUM_IKEY ? PSE_MEDIA_ETOKEN
                                                                  : GetPSEMediaType(path);
}

// The masks of a store without a password: the clear 32-byte share.
constexpr int kClearMasksSize = 32;

}  // namespace

std::string& KeyPasswordPrompt() {
    static std::string prompt;
    return prompt;
}

int TContainerDialog::requestDirectory(char*, int, std::int32_t*) { return 0; }

TContainerDialog* GetCurrentContainerDialog() { return current_dialog().get(); }
void SetCurrentContainerDialog(TContainerDialog* dialog) {
    current_dialog() = TRef<TContainerDialog>(dialog);
}

TContainerDialogFlow::TContainerDialogFlow() { ++g_flow_depth; }
TContainerDialogFlow::~TContainerDialogFlow() { --g_flow_depth; }

TPSEContainer::TPSEContainer() {
    if (g_flow_depth == 0) SetCurrentContainerDialog(new TContainerDialog);
    renewContext();
    install_pin_callbacks();
}

TPSEContainer::~TPSEContainer() { PSE_CTX_free(ctx_); }

PSE_CTX* TPSEContainer::renewContext() {
    PSE_CTX_free(ctx_);
    ctx_ = PSE_CTX_new();
    if (ctx_ != nullptr) {
        PSE_CTX_set_rand_cb(ctx_, rndInitCBK, nullptr);
        PSE_CTX_set_passwd_cb(ctx_, getPassCBK, nullptr);
    }
    return ctx_;
}

int TPSEContainer::create(const char* path, bool askPassword) {
    return make(path, askPassword, false);
}

int TPSEContainer::createOrOpen(const char* path, bool askPassword) {
    return make(path, askPassword, true);
}

int TPSEContainer::make(const char* path, bool askPassword, bool useExisting) {
    lastError_ = 0;
    if (path == nullptr || path[0] == '\0') {
        lastError_ = E_NO_PATH;
        return 0;
    }
    if (renewContext() == nullptr || PSE_CTX_set_path(ctx_, path, 0) != 1 ||
        (useExisting && PSE_CTX_set_flags(ctx_, PSE_CTX_FLAG_NEW_STORE) != 1)) {
        lastError_ = E_PATH_REFUSED;
        return 0;
    }
    path_ = path;
    if (PSE_CTX_create(ctx_) != 1) {
        lastError_ = E_CREATE;
        return 0;
    }
    BufferPtr password;
    if (askPassword) {
        std::array<char, PSE_CTX_PASSWD_MAX> typed{};
        TUICallbacks* ui = GetCurrentUI();
        const int n = ui != nullptr ? ui->putPassCBK(typed.data(), typed.size(), 1,
                                                     KeyPasswordPrompt().c_str())
                                    : 0;
        if (n > 0 && n <= PSE_CTX_PASSWD_MAX) password.reset(BUFFER_fill(typed.data(), n));
        OPENSSL_cleanse(typed.data(), typed.size());
        if (!password || PSE_CTX_set_password(ctx_, reinterpret_cast<const char*>(password->data),
                                              password->length) != 1) {
            lastError_ = E_CREATE;
            return 0;
        }
    }
    ERR_set_mark();
    if (PSE_CTX_write(ctx_) != 1) {
        if (!useExisting || !PseStoreWasThere()) {
            ERR_clear_last_mark();
            lastError_ = E_WRITE;
            return 0;
        }
        ERR_pop_to_mark();
        return openStoreThere(path, std::move(password));
    }
    ERR_clear_last_mark();
    return readFiles(path);
}

// The store another process made at path, opened with its own password;
// one without a password gets the one asked for the new store.
int TPSEContainer::openStoreThere(const char* path, BufferPtr password) {
    if (readFiles(path) != 1 || open() != 1 || getPSE() == nullptr) {
        lastError_ = E_WRITE;
        return 0;
    }
    if (!password) return 1;
    const TBuffer& masks = contents(STORE_MASKS);
    if (masks.getLength() != kClearMasksSize) return 1;  // it has a password of its own
    if (PSE_CTX_set_password(ctx_, reinterpret_cast<const char*>(password->data),
                             password->length) != 1 ||
        PSE_CTX_write(ctx_) != 1) {
        lastError_ = E_WRITE;
        return 0;
    }
    return readFiles(path);
}

int TPSEContainer::open() {
    if (path_.empty() || renewContext() == nullptr ||
        PSE_CTX_set_path(ctx_, path_.c_str(), 0) != 1)
        return 0;
    using Setter = int (*)(PSE_CTX*, const char*, int);
    constexpr std::array<Setter, 4> kOverrides{PSE_CTX_set_mkey_path, PSE_CTX_set_masks_path,
                                               PSE_CTX_set_kek_path, PSE_CTX_set_rand_path};
    for (std::size_t i = 0; i < kOverrides.size(); ++i)
        if (!names_[i].empty() && kOverrides[i](ctx_, names_[i].c_str(), 0) != 1) return 0;
    return PSE_CTX_read(ctx_) == 1 ? 1 : 0;
}

int TPSEContainer::openPath(const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    path_ = path;
    if (renewContext() == nullptr || PSE_CTX_set_path(ctx_, path, 0) != 1 ||
        PSE_CTX_read(ctx_) != 1)
        return 0;
    BuildStoreFileNames(path, GetPSEMediaType(path), names_);
    return 1;
}

int TPSEContainer::erase(const char* path) {
    StoreFileNames names;
    if (!BuildStoreFileNames(path, store_names_type(path), names)) return 0;
    // On a disk, each folder of the store is held as the store's writers
    // hold it, and what they left goes first: a commit record (which would
    // bring the store back from its temporaries) and the temporaries, which
    // hold the store's secrets.
    std::map<std::string, std::vector<std::string>> disk_folders;
    for (const std::string& name : names) {
        if (name.empty() || BIO_media_kind(name.c_str()) != BIO_MEDIUM_DISK) continue;
        const auto os = path_to_os(name, PathIntent::look);
        if (!os) continue;
        const auto slash = os->path.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : os->path.substr(0, slash);
        disk_folders[folder].push_back(os->path);
    }
    std::vector<PseFolderLock> locks;
    for (const auto& [folder, targets] : disk_folders) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (!locks.emplace_back().acquire(folder, pse_lock_wait())) return 0;
        pse_commit_erase(folder, targets);
    }
    // On a token medium the files go under the device's lock, as every
    // writer of the store changes them. A file the medium cannot tell of
    // may be there: the delete fails rather than report a store removed
    // that may stay.
    MediaLock device;
    if (CADB_is_media_path(names[STORE_MKEY].c_str()) == 1 &&
        !device.acquire({names[STORE_MKEY].c_str()}, CADB_F_PSE_CTX_ERASE))
        return 0;
    int ok = 1;
    // A commit a writer left unfinished would bring the store back: its
    // mark goes first, then its reserves.
    if (CADB_is_media_path(names[STORE_MKEY].c_str()) == 1) {
        MediaStoreFiles commit;
        commit.paths.assign(names.begin(), names.begin() + STORE_RAND + 1);
        if (!media_store_drop(commit)) ok = 0;
    }
    for (const std::string& name : names) {
        const int state = media_path_state(name.c_str());
        if (state < 0 || (state == 1 && CADB_erase_file_plain(name.c_str()) != 1)) ok = 0;
    }
    return ok;
}

int TPSEContainer::saveRandState() {
    PSE* store = getPSE();
    if (store == nullptr || names_[STORE_RAND].empty()) return 0;
    std::array<unsigned char, PSE_RAND_STATE_SIZE> state{};
    const bool ok = CADB_rand_save_state(store, state.data()) > 0 &&
                    contents(STORE_RAND).assign(state.data(), state.size()) &&
                    writeWhole(STORE_RAND);
    OPENSSL_cleanse(state.data(), state.size());
    return ok ? 1 : 0;
}

bool TPSEContainer::readWhole(const std::string& name, StoreFile file) {
    TBuffer& buffer = contents(file);
    const long size = CADB_file_size(name.c_str());
    if (size < 0 || size > 0x100000 || !buffer.allocate(static_cast<int>(size))) return false;
    if (size == 0) return true;
    const int n = CADB_read_file_plain(name.c_str(), buffer.get()->data, static_cast<int>(size));
    if (n == size) return true;
    buffer.allocate(0);
    return false;
}

int TPSEContainer::readFiles(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        lastError_ = E_NO_PATH;
        return 0;
    }
    path_ = path;
    if (GetPSEMediaType(path) == PSE_MEDIA_PKCS11) return 1;  // the store stays in the token
    if (!BuildStoreFileNames(path, GetPSEMediaType(path), names_)) {
        lastError_ = E_NO_PATH;
        return 0;
    }
    onReadBegin();
    if (!present(names_[STORE_MKEY]) || !present(names_[STORE_MASKS]) ||
        !present(names_[STORE_KEK])) {
        lastError_ = E_FILES_MISSING;
        return 0;
    }
    constexpr std::array<std::pair<StoreFile, int>, 3> kOrder{{
        {STORE_MKEY, E_MKEY_UNREADABLE},
        {STORE_MASKS, E_MASKS_UNREADABLE},
        {STORE_KEK, E_KEK_UNREADABLE},
    }};
    for (const auto& [file, code] : kOrder) {
        if (!readWhole(names_[file], file) || contents(file).isEmpty()) {
            lastError_ = code;
            return 0;
        }
        onFileRead(file);
    }
    // The random state may be missing: the store then starts its generator
    // from the user.
    contents(STORE_RAND).allocate(0);
    bool have = CADB_file_size(names_[STORE_RAND].c_str()) >= 0;
    bool retried = false;
    if (!have && retryRandState()) {
        retried = true;
        have = CADB_file_size(names_[STORE_RAND].c_str()) >= 0;
    }
    if (have) {
        if (!readWhole(names_[STORE_RAND], STORE_RAND) || contents(STORE_RAND).isEmpty())
            lastError_ = E_RAND_MISSING;
        else
            onFileRead(STORE_RAND);
    } else if (retried) {
        lastError_ = E_RAND_MISSING;
    }
    contents(STORE_PARAMS).allocate(0);
    if (present(names_[STORE_PARAMS])) {
        if (readWhole(names_[STORE_PARAMS], STORE_PARAMS))
            onFileRead(STORE_PARAMS);
        else
            lastError_ = E_PARAMS_UNREADABLE;
    }
    return 1;
}

bool TPSEContainer::writeWhole(StoreFile file) {
    const TBuffer& b = contents(file);
    return CADB_write_file_plain(names_[file].c_str(), b.getData(), b.getLength()) ==
           b.getLength();
}

bool TPSEContainer::confirmOverwrite(const char* path) {
    const int answer =
        UIMessageBox(UIFormat(UIString(67), {"1", path}), UIString(39),
                     MB_YESNO | MB_ICONEXCLAMATION);
    LoadUIString(nullptr, -1);
    return answer == IDYES;
}

int TPSEContainer::writeFiles(const char* path) {
    install_pin_callbacks();
    if (path == nullptr || !BuildStoreFileNames(path, GetPSEMediaType(path), names_)) {
        lastError_ = E_NO_PATH;
        return 0;
    }
    path_ = path;
    if (contents(STORE_MKEY).isEmpty() || contents(STORE_MASKS).isEmpty() ||
        contents(STORE_KEK).isEmpty()) {
        lastError_ = E_BUFFERS_EMPTY;
        return 0;
    }
    bool exists = false;
    for (const std::string& name : names_) exists = exists || present(name);
    if (exists && !overwriteConfirmed_ && !confirmOverwrite(path)) return 0;
    overwriteConfirmed_ = false;
    constexpr std::array<std::pair<StoreFile, int>, 5> kOrder{{
        {STORE_MKEY, E_MKEY_NOT_WRITTEN},
        {STORE_MASKS, E_MASKS_NOT_WRITTEN},
        {STORE_KEK, E_KEK_NOT_WRITTEN},
        {STORE_RAND, E_RAND_NOT_WRITTEN},
        {STORE_PARAMS, E_PARAMS_NOT_WRITTEN},
    }};
    for (const auto& [file, code] : kOrder) {
        const bool required = file <= STORE_KEK;
        if (!required && contents(file).isEmpty()) continue;
        if (!writeWhole(file)) {
            lastError_ = code;
            if (required) return 0;
        }
    }
    return 1;
}

}  // namespace cadb
