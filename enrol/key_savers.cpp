#include "enrol/key_savers.h"

#include <memory>
#include <optional>

#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/tokenstore/token_lock.h"
#include "enrol/key_file_names.h"
#include "enrol/log.h"
#include "enrol/request_container.h"
#include "enrol/strings.h"
#include "wrappers/pse_media.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {

namespace {

// Walk flags of a token folder: its key objects.
constexpr int kPkcs11KeyWalk = 133;

bool write_whole(const std::string& path, std::span<const unsigned char> bytes) {
    return CADB_write_file_plain(path.c_str(), bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
}

void show_save_fallback(const std::string& wanted, const std::string& saved) {
    UIMessageBox(UIFormat(QuillonString(IDS_KEY_SAVE_FALLBACK), {wanted, saved}),
                 QuillonString(IDS_WARNING_CAPTION), MB_OK | MB_ICONEXCLAMATION);
}

// Gives a copy the folder's next free number, past the main file's own
// number too (the main file may not be written yet). The name is taken by
// writing under it only where nothing is (place: 1 written, -1 the name is
// taken, 0 failed): another process that chose the same number at the same
// time keeps its own key there, and this copy takes the next number. The
// path written, or nothing.
template <class Place>
std::optional<std::string> place_under_next_number(const std::string& folder,
                                                   const std::string& path, std::int32_t media,
                                                   int walkFlags, Place place) {
    std::optional<std::uint32_t> n = NextKeyFileNumber(folder, media, walkFlags);
    if (!n) return std::nullopt;
    const long own = KeyFileNumber(media, path);
    if (own >= static_cast<long>(*n)) n = static_cast<std::uint32_t>(own) + 1;
    for (std::uint32_t number = *n; number != 0; ++number) {
        const std::string name = KeyFileName(media, number);
        if (name.empty()) break;  // past the medium's largest number
        const int placed = place(folder + name);
        if (placed == 1) return folder + name;
        if (placed != -1) break;
    }
    return std::nullopt;
}

// The reserve copy of a key file, written as a new file.
std::optional<std::string> write_reserve(const std::string& folder, const std::string& path,
                                         std::int32_t media,
                                         std::span<const unsigned char> keyBytes) {
    const int size = static_cast<int>(keyBytes.size());
    return place_under_next_number(
        folder, path, media, CADB_WALK_DIRECTORIES, [&](const std::string& target) {
            const int written = CADB_write_new_file(target.c_str(), keyBytes.data(), size);
            return written == size ? 1 : written;
        });
}

struct PkeyCtxFree {
    void operator()(PKEY_CTX* ctx) const { PKEY_CTX_free(ctx); }
};

bool write_key_at(PKEY_CTX* key, const std::string& path) {
    return PKEY_CTX_set_path(key, path.c_str()) == 1 && PKEY_CTX_write(key, 1, 4) == 1;
}

// A backup on a token takes its name as a reserve copy on a disk does: a
// key that bears the name already is never destroyed for it.
int write_new_name(PKEY_CTX* key, const std::string& path) {
    ERR_set_mark();
    if (write_key_at(key, path)) {
        ERR_clear_last_mark();
        return 1;
    }
    const unsigned long e = ERR_peek_last_error();
    if (ERR_code_lib(e) == ERR_LIB_CADB && ERR_code_reason(e) == CADB_R_KEY_NAME_TAKEN) {
        ERR_pop_to_mark();
        return -1;
    }
    ERR_clear_last_mark();
    return 0;
}

}  // namespace

std::string KeyFolderOf(const std::string& path) {
    std::size_t at = path.rfind('\\');
    if (at == std::string::npos) at = path.rfind('/');
    return at == std::string::npos ? std::string("\\") : path.substr(0, at) + "\\";
}

bool SaveKeyFileGenerated(const std::string& path, std::span<const unsigned char> keyBytes,
                          const std::string* userPath) {
    const std::string folder = KeyFolderOf(path);
    const std::int32_t media = GetPSEMediaType(path.c_str());
    // On a token medium the savers of the user's processes take turns with
    // the device: each one's reserve name is free when it writes there, and
    // no other saver's erase comes between its erase and its write of the
    // main name.
    MediaLock device;
    if (!device.acquire({path.c_str()}, CADB_F_CADB_WRITE_FILE)) {
        log_line("SaveKeyFileGenerated()... Key Write Error...Error!");
        return false;
    }
    // The new key reaches the medium under its reserve name before anything
    // at the main name is replaced: a failure in between never leaves the
    // medium without the new key.
    const std::optional<std::string> reserve = write_reserve(folder, path, media, keyBytes);
    if (!reserve) {
        log_line("SaveKeyFileGenerated()... Reserve Name Key Write Error...Error!");
        return false;
    }
    // A disk file is replaced whole by the write; a medium file is erased
    // first.
    if (CADB_is_media_path(path.c_str()) == 1 && IsMediaPathPresent(path.c_str()) == 1 &&
        CADB_erase_file_plain(path.c_str()) != 1) {
        log_line("SaveKeyFileGenerated()... File: [%s] erase error!", path.c_str());
        return false;
    }
    if (!write_whole(path, keyBytes)) {
        log_line("SaveKeyFileGenerated()... Key Write Error...Error!");
        return false;
    }
    // Not held while the user's own name is written and may be asked about.
    device.release();
    if (userPath && !write_whole(*userPath, keyBytes)) {
        log_line("SaveKeyFileGenerated()... User Desired Name Key Write Error...Error!");
        show_save_fallback(*userPath, *reserve);
    }
    return true;
}

bool SaveBackUpKeyPKCS11(const std::string& path) {
    // A token that cannot tell whether a key bears the name may hold one,
    // which the main write would destroy unkept: the save fails instead.
    const int state = media_path_state(path.c_str());
    if (state == 0) return true;
    if (state < 0) {
        log_line("SaveBackUpKeyPKCS11()... The token cannot tell of [%s]...Error!", path.c_str());
        return false;
    }
    const std::string folder = KeyFolderOf(path);
    bool ok = false;
    {
        TRef<TRequestContainer> container = make_ref<TRequestContainer>();
        std::unique_ptr<PKEY_CTX, PkeyCtxFree> old(PKEY_CTX_new());
        ok = old && container->readFiles(folder.c_str()) == 1 && container->open() == 1 &&
             container->getPSE() != nullptr &&
             PKEY_CTX_set_PSE(old.get(), container->getPSE()) == 1 &&
             PKEY_CTX_set_path(old.get(), path.c_str()) == 1 && PKEY_CTX_read(old.get()) == 1 &&
             PKEY_CTX_set_flags(old.get(), PKEY_CTX_FLAG_NEW_NAME) == 1 &&
             place_under_next_number(
                 folder, path, PSE_MEDIA_PKCS11, kPkcs11KeyWalk,
                 [&old](const std::string& target) { return write_new_name(old.get(), target); });
    }
    if (!ok) log_line("SaveBackUpKeyPKCS11()... Key Write Error...Error!");
    return ok;
}

namespace {

enum class TokenSave { saved, backup_failed, write_failed };

// The key at path kept under the next free number and key written at path,
// as one step for every writer of the token's names: the token's lock is
// held from the look at path until key bears the name (the writes inside
// take it again at once). Another save's key cannot land at path in between
// and be destroyed by this write, and a saver that finds no key at path
// has nothing to back up.
TokenSave save_on_token(PKEY_CTX* key, const std::string& path) {
    TokenLock token;
    if (PKEY_CTX_set_path(key, path.c_str()) != 1 || PKCS11_key_lock_token(key, &token) != 1)
        return TokenSave::write_failed;
    if (!SaveBackUpKeyPKCS11(path)) return TokenSave::backup_failed;
    return write_key_at(key, path) ? TokenSave::saved : TokenSave::write_failed;
}

}  // namespace

bool SaveKeyPKCS11Generated(PKEY_CTX* key, const std::string& path, const std::string* userPath) {
    switch (save_on_token(key, path)) {
        case TokenSave::saved:
            break;
        case TokenSave::backup_failed:
            log_line("SaveKeyFileGenerated()... File: [%s] save backup error!", path.c_str());
            return false;
        case TokenSave::write_failed:
            log_line("SaveKeyPKCS11Generated()... Key Write Error...Error!");
            return false;
    }
    if (userPath) {
        switch (save_on_token(key, *userPath)) {
            case TokenSave::saved:
                break;
            case TokenSave::backup_failed:
                log_line("SaveKeyFileGenerated()... File: [%s] save backup error!",
                         userPath->c_str());
                return false;
            case TokenSave::write_failed:
                log_line("SaveKeyPKCS11Generated()... User Desired Name Key Write Error...Error!");
                show_save_fallback(*userPath, path);
                break;
        }
    }
    return true;
}

}  // namespace cadb::enrol
