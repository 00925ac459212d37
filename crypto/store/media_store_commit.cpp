#include "crypto/store/media_store_commit.h"

#include <openssl/crypto.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// Reserve names by kind, then the mark's, in each medium's naming: the
// touch-memory button's fixed-width names, the USB tokens' four hex digits,
// and the disk's for a store whose files lie partly on one.
constexpr const char* kReserveNames[3][5] = {
    {"mk.db3.new", "masks.db3.new", "kek.opq.new", "rand.opq.new", "commit.new"},
    {"mk  .002", "mask.002", "kek .002", "rand.002", "cmit.002"},
    {"a002", "b002", "c002", "d002", "f002"},
};
constexpr std::size_t kMark = 4;
// No store file comes near this; a longer reserve is no reserve.
constexpr long kMaxFile = 16 * 1024;

int column_of(const std::string& path) {
    switch (BIO_media_kind(path.c_str())) {
        case BIO_MEDIUM_IBUTTON:
            return 1;
        case BIO_MEDIUM_ETR2:
        case BIO_MEDIUM_ETOKEN:
        case BIO_MEDIUM_RUTOKEN:
        case BIO_MEDIUM_IKEY:
            return 2;
        default:
            return 0;
    }
}

// The reserve of a file, or the mark (slot kMark) beside the master key.
std::optional<std::string> reserve_of(const std::string& path, std::size_t slot) {
    std::size_t end = path.find_last_of("\\/");
    if (end == std::string::npos) end = path.find(':');
    if (end == std::string::npos) return std::nullopt;
    const std::string folder = path.substr(0, end + 1);
    char out[260];
    if (BuildFilePath(out, folder.c_str(), kReserveNames[column_of(path)][slot], nullptr) ==
        nullptr)
        return std::nullopt;
    return std::string(out);
}

std::uint32_t flags_of(const MediaStoreFiles& files, std::size_t kind) {
    return kind == 0 ? files.flags | BIO_MEDIA_FLAG_MASTER_KEY : files.flags;
}

// The mark's text: how many reserves the commit wrote.
std::string mark_text(std::size_t count) { return "commit " + std::to_string(count); }

bool write_whole(const std::string& path, const void* data, int len, std::uint32_t flags,
                 const void* credential) {
    return CADB_write_file(path.c_str(), data, len, flags, credential) == len;
}

// Takes a file away as far as the medium lets it: true when it is gone.
// Nothing goes on the queue.
bool take_away(const std::string& path, const MediaStoreFiles& files) {
    ERR_set_mark();
    const bool gone = CADB_erase_file(path.c_str(), files.flags, files.credential) == 1 ||
                      media_file_state(path.c_str()) == 0;
    ERR_pop_to_mark();
    return gone;
}

// How many reserves a whole mark names: 0 when there is no whole mark,
// -1 when there may be one that could not be read.
int whole_mark(const std::string& mark, const MediaStoreFiles& files) {
    ERR_set_mark();
    const BufferPtr b = media_read_whole(mark.c_str(), files.flags, files.credential, kMaxFile);
    const int state = b ? 1 : media_file_state(mark.c_str());
    ERR_pop_to_mark();
    if (!b) return state == 0 ? 0 : -1;
    const std::string_view text(reinterpret_cast<const char*>(b->data),
                                static_cast<std::size_t>(b->length));
    for (std::size_t count = 1; count <= files.paths.size(); ++count)
        if (text == mark_text(count)) return static_cast<int>(count);
    return 0;  // what a writer killed while writing it left
}

// Copies each reserve the mark names over its file.
bool roll_forward(const MediaStoreFiles& files, int count) {
    for (std::size_t kind = 0; kind < static_cast<std::size_t>(count); ++kind) {
        const std::optional<std::string> reserve = reserve_of(files.paths[kind], kind);
        if (!reserve) return false;
        const BufferPtr b =
            media_read_whole(reserve->c_str(), flags_of(files, kind), files.credential, kMaxFile);
        if (!b || !write_whole(files.paths[kind], b->data, b->length, flags_of(files, kind),
                               files.credential))
            return false;
    }
    return true;
}

// Takes every reserve away that is there.
void drop_reserves(const MediaStoreFiles& files) {
    for (std::size_t kind = 0; kind < files.paths.size(); ++kind) {
        const std::optional<std::string> reserve = reserve_of(files.paths[kind], kind);
        if (!reserve) continue;
        ERR_set_mark();
        const int state = media_file_state(reserve->c_str());
        ERR_pop_to_mark();
        if (state != 0) take_away(*reserve, files);
    }
}

}  // namespace

BufferPtr media_read_whole(const char* path, std::uint32_t flags, const void* credential,
                           long max) {
    const long size = CADB_file_size_ex(path, flags, credential);
    if (size < 0 || size > max) return nullptr;
    BufferPtr b(BUFFER_fill(nullptr, static_cast<int>(size) + 1));
    if (!b) return nullptr;
    const int got = CADB_read_file(path, b->data, static_cast<int>(size) + 1, flags, credential);
    if (got != size) return nullptr;
    OPENSSL_cleanse(b->data + got, 1);
    b->length = got;
    return b;
}

int media_file_state(const char* path) {
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_DISK) {
        const std::optional<OsPath> os = path_to_os(path, PathIntent::look);
        if (!os) return -1;
        struct stat st {};
        return ::lstat(os->path.c_str(), &st) == 0 ? 1 : errno == ENOENT ? 0 : -1;
    }
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (driver == nullptr || driver->token_present == nullptr || driver->exists == nullptr ||
        driver->token_present(path) != 1)
        return -1;
    const int state = driver->exists(path);
    return state == 1 || state == 0 ? state : -1;
}

int media_store_settle(const MediaStoreFiles& files) {
    if (files.paths.empty()) return 0;
    const std::optional<std::string> mark = reserve_of(files.paths[0], kMark);
    if (!mark) return 0;
    const int count = whole_mark(*mark, files);
    if (count < 0) return 0;
    if (count > 0 && !roll_forward(files, count)) return 0;
    // The mark goes before the reserves: without it nothing is copied again.
    // What stays of either after that is harmless: a commit writes every
    // reserve afresh before its mark.
    media_store_drop(files);
    return 1;
}

namespace {

// Puts back what the first count files of a commit replaced: true when each
// holds its old contents again (or, where it was not there, is gone).
bool put_back(const MediaStoreFiles& files, const std::vector<MediaStoreWrite>& writes,
              std::size_t count) {
    bool all = true;
    for (std::size_t kind = 0; kind < count; ++kind) {
        const MediaStoreWrite& w = writes[kind];
        if (w.previous != nullptr)
            all = write_whole(files.paths[kind], w.previous->data, w.previous->length,
                              flags_of(files, kind), files.credential) &&
                  all;
        else
            all = !w.was_there && take_away(files.paths[kind], files) && all;
    }
    return all;
}

}  // namespace

int media_store_commit(const MediaStoreFiles& files, const std::vector<MediaStoreWrite>& writes) {
    if (files.paths.empty() || writes.size() != files.paths.size()) return 0;
    const std::optional<std::string> mark = reserve_of(files.paths[0], kMark);
    if (!mark) return 0;
    for (std::size_t kind = 0; kind < writes.size(); ++kind) {
        const std::optional<std::string> reserve = reserve_of(files.paths[kind], kind);
        if (!reserve || !write_whole(*reserve, writes[kind].data->data, writes[kind].data->length,
                                     flags_of(files, kind), files.credential)) {
            drop_reserves(files);
            return 0;
        }
    }
    const std::string text = mark_text(writes.size());
    if (!write_whole(*mark, text.data(), static_cast<int>(text.size()), files.flags,
                     files.credential)) {
        media_store_drop(files);
        return 0;
    }
    // From here on the new store is what a settle finishes.
    for (std::size_t kind = 0; kind < writes.size(); ++kind) {
        if (write_whole(files.paths[kind], writes[kind].data->data, writes[kind].data->length,
                        flags_of(files, kind), files.credential))
            continue;
        // The caller is told the write failed: the old store goes back, and
        // only then the mark, so that nothing finishes the new one later.
        // Where the old one cannot be put back, the new one is finished.
        if (put_back(files, writes, kind + 1) && media_store_drop(files)) return 0;
        return media_store_settle(files);
    }
    media_store_drop(files);
    return 1;
}

bool media_store_drop(const MediaStoreFiles& files) {
    if (files.paths.empty()) return false;
    const std::optional<std::string> mark = reserve_of(files.paths[0], kMark);
    if (!mark) return false;
    ERR_set_mark();
    const int state = media_file_state(mark->c_str());
    ERR_pop_to_mark();
    // Reserves a whole mark still names are what a settle copies: they stay
    // while it does.
    if (state != 0 && !take_away(*mark, files)) return false;
    drop_reserves(files);
    return true;
}

}  // namespace cadb
