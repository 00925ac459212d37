// The default storage method: the store's files on any medium through the
// file layer. The master key is split in two files (all shares but the last,
// and the last share protected by the password), the KEK and the generator
// state are 36-byte blocks.
//
// On a disk the store changes as one: the files are committed together
// (crypto/store/pse_commit.h) under the lock of the store's folder, which a
// read and an erase hold too. On other media, where a file cannot be
// renamed, a write replaces the files one by one and keeps the previous
// contents of those it has replaced; when a later file fails, they are put
// back (or removed when they were new), so a failed write leaves the old
// store as it was. There the lock of the device (crypto/store/media_lock.h)
// is held across a read, a write and an erase, so that no process sees
// another's store half written, or puts back files over another's store.
#include <openssl/crypto.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/sbox.h"
#include "crypto/store/buffer_crypt.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/media_store_commit.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx_local.h"
#include "platform/paths.h"

namespace cadb {
namespace {

constexpr int kMasksCipherNid = 174;
constexpr int kEncryptedDataNid = 26;
constexpr int kMasksSize = 32;
// No store file comes near this; a longer one is not read at all.
constexpr long kMaxStoreFile = 16 * 1024;
// The master-key file is written with this media flag.
constexpr std::uint32_t kMediaFlagMasterKey = 2;

struct PseDeleter {
    void operator()(PSE* p) const { PSE_free(p); }
};
using PsePtr = std::unique_ptr<PSE, PseDeleter>;

int fail(int func, int reason, int error_class) {
    CADB_ERR(ERR_LIB_CADB, func, reason);
    ERR_set_last_error(error_class);
    return 0;
}

const void* credential(const PSE_CTX* ctx) {
    return ctx->media_credential ? ctx->media_credential->data : nullptr;
}

// The path of a file kind: its override, else the store path plus its name.
bool kind_path(const PSE_CTX* ctx, int kind, char out[260]) {
    static constexpr BufferPtr PSE_CTX::*kOverrides[] = {&PSE_CTX::mkey_path, &PSE_CTX::masks_path,
                                                         &PSE_CTX::kek_path, &PSE_CTX::rand_path};
    const BufferPtr& over = ctx->*kOverrides[kind];
    if (over && over->data != nullptr) {
        if (over->length >= 260) return false;
        std::memcpy(out, over->data, static_cast<std::size_t>(over->length) + 1);
        return true;
    }
    if (!ctx->path) return false;
    return PSE_CTX_file_path(out, pse_ctx_text(ctx->path), kind) != nullptr;
}

// The lock of the devices that hold the store's files.
bool hold_devices(const PSE_CTX* ctx, MediaLock& lock, int func) {
    std::array<std::array<char, 260>, 4> paths{};
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind)
        if (!kind_path(ctx, kind, paths[static_cast<std::size_t>(kind)].data()))
            paths[static_cast<std::size_t>(kind)][0] = '\0';
    return lock.acquire({paths[0].data(), paths[1].data(), paths[2].data(), paths[3].data()}, func);
}

// The store's four files as the commit on token media keeps them, the
// first count of them written.
bool media_files(const PSE_CTX* ctx, std::size_t count, MediaStoreFiles* out) {
    out->flags = ctx->media_flags;
    out->credential = credential(ctx);
    out->paths.clear();
    for (std::size_t kind = 0; kind < count; ++kind) {
        char path[260];
        if (!kind_path(ctx, static_cast<int>(kind), path)) return false;
        out->paths.emplace_back(path);
    }
    return true;
}

// Whether any of a store's files lies on a token medium. A token's objects
// stand for the files of a PKCS#11 store, which keeps no commit of this
// kind.
bool on_token_media(const MediaStoreFiles& files) {
    return std::any_of(files.paths.begin(), files.paths.end(), [](const std::string& p) {
        const int kind = BIO_media_kind(p.c_str());
        return kind != BIO_MEDIUM_DISK && kind != BIO_MEDIUM_PKCS11;
    });
}

// Holds the devices of a store on token media and settles what a writer
// killed in a commit left there.
bool hold_media_store(const PSE_CTX* ctx, MediaLock& lock, int func) {
    if (!hold_devices(ctx, lock, func)) return false;
    MediaStoreFiles files;
    if (!media_files(ctx, PSE_FILE_RAND + 1, &files)) {
        lock.release();
        fail(func, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        return false;
    }
    if (!on_token_media(files) || media_store_settle(files)) return true;
    lock.release();
    fail(func, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    return false;
}

// The store's four files when all of them lie on a disk: their Linux paths
// and the folder of the master-key file, which holds the lock and the
// commit record.
struct DiskStore {
    std::string folder;
    std::vector<std::string> targets;  // by kind
};

std::optional<DiskStore> disk_store(const PSE_CTX* ctx, PathIntent intent) {
    DiskStore s;
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        char path[260];
        if (!kind_path(ctx, kind, path) || BIO_media_kind(path) != BIO_MEDIUM_DISK)
            return std::nullopt;
        const auto os = path_to_os(path, intent);
        if (!os) return std::nullopt;
        s.targets.push_back(os->path);
    }
    const auto slash = s.targets[PSE_FILE_MKEY].rfind('/');
    s.folder = slash == std::string::npos ? "." : s.targets[PSE_FILE_MKEY].substr(0, slash);
    if (s.folder.empty()) s.folder = "/";
    return s;
}

bool folder_exists(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Takes the store's folder from other users and finishes a commit another
// process was stopped in, then removes what stopped writers left.
int hold_store(const DiskStore& s, PseFolderLock& lock, int func) {
    if (!lock.acquire(s.folder, pse_lock_wait()))
        return fail(func, CADB_R_KEY_STORE_BUSY, ERR_CLASS_KEY_STORE_IO);
    if (!pse_commit_recover(s.folder)) return fail(func, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    pse_commit_remove_stale(s.folder, s.targets);
    return 1;
}

// The whole file, or null when it is absent, unreadable or larger than any
// store file.
BufferPtr read_store_file(const PSE_CTX* ctx, const char* path) {
    return media_read_whole(path, ctx->media_flags, credential(ctx), kMaxStoreFile);
}

// What a writer that died left of a file: created and not yet written
// (empty, or zero-filled where a device creates files at full size), or cut
// short of the least its kind holds. No writer leaves a whole file so.
bool left_by_dead_writer(int kind, const BUFFER* b) {
    static constexpr int kLeast[] = {static_cast<int>(PSE_MKEY_HEADER) + 1, kMasksSize,
                                     static_cast<int>(PSE_BLOCK_SIZE), PSE_RAND_STATE_SIZE};
    if (b->length < kLeast[kind]) return true;
    for (int i = 0; i < b->length; ++i)
        if (b->data[i] != 0) return false;
    return true;
}

// The cached content of kind, read from its file when none is cached.
BUFFER* content(PSE_CTX* ctx, BufferPtr PSE_CTX::*cache, int kind) {
    if (ctx->*cache) return (ctx->*cache).get();
    char path[260];
    if (!kind_path(ctx, kind, path)) return nullptr;
    ctx->*cache = read_store_file(ctx, path);
    return (ctx->*cache).get();
}

// The password from the context, or asked through its callback.
BufferPtr masks_password(PSE_CTX* ctx) {
    if (ctx->password) return BufferPtr(BUFFER_fill(ctx->password->data, ctx->password->length));
    if (ctx->passwd_cb == nullptr) return nullptr;
    std::array<char, PSE_CTX_PASSWD_MAX> buf{};
    const int n = ctx->passwd_cb(buf.data(), PSE_CTX_PASSWD_MAX, 0, ctx->passwd_arg);
    BufferPtr out;
    if (n >= 0 && n <= PSE_CTX_PASSWD_MAX) out.reset(BUFFER_fill(buf.data(), n));
    OPENSSL_cleanse(buf.data(), buf.size());
    return out;
}

// The masks are judged by what the message reader makes of them: an
// encrypted-data message is decrypted, anything else is the clear share,
// which must then be whole.
int decrypt_masks(PSE_CTX* ctx) {
    BUFFER* stored = ctx->masks.get();
    if (BUFFER_message_type(stored->data, stored->length) != kEncryptedDataNid) {
        if (stored->length == kMasksSize) return 1;
        return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    }
    BufferPtr pw = masks_password(ctx);
    if (!pw) return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    const char* pw_text = pw->data != nullptr ? reinterpret_cast<const char*>(pw->data) : "";
    BufferPtr clear(BUFFER_decrypt(stored->data, stored->length, pw_text, pw->length, -1, 0));
    if (!clear || clear->length != kMasksSize)
        return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    ctx->masks = std::move(clear);
    return 1;
}

// Finds the store's S-box by the check value of the master key.
int load_master_key(PSE* pse, const BUFFER* record) {
    for (int code = kPseSboxCodeFirst; code <= kPseSboxCodeLast; ++code) {
        const unsigned char* sbox = GOSTE_get_sbox_by_code(code);
        if (sbox == nullptr) continue;
        std::memcpy(pse->sbox, sbox, sizeof pse->sbox);
        ERR_set_mark();
        if (PSE_load_mkey(&pse->master_key, record->data, static_cast<std::size_t>(record->length),
                          pse->sbox)) {
            ERR_clear_last_mark();
            return 1;
        }
        ERR_pop_to_mark();
    }
    return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
}

void notify(const PSE_CTX* ctx, int event) {
    if (ctx->notify_cb != nullptr) ctx->notify_cb(event);
}

bool wants_generator(const PSE_CTX* ctx) {
    return (ctx->flags & PSE_CTX_FLAG_NO_RAND_INIT) == 0 && !RAND_status();
}

// The store's files that a read and a write-back of the random state take
// turns with: the disk store's folder or the devices of the medium.
class StoreHold {
  public:
    bool acquire(const PSE_CTX* ctx, int func) {
        if (const std::optional<DiskStore> disk = disk_store(ctx, PathIntent::look))
            return hold_store(*disk, folder_, func) == 1;
        return hold_media_store(ctx, devices_, func);
    }
    void release() {
        folder_.release();
        devices_.release();
    }

  private:
    PseFolderLock folder_;
    MediaLock devices_;
};

// Whether the store is still the one this read decoded: only a KEK read
// back and found different tells that another writer replaced it. 1 the
// same, -1 replaced, 0 the KEK could not be read (the medium pulled, its
// PIN refused), which fails the read: the state would otherwise stay to
// start a generator again.
int same_store(const PSE_CTX* ctx) {
    char kek_path[260];
    if (!kind_path(ctx, PSE_FILE_KEK, kek_path)) return 0;
    const BufferPtr kek_now = read_store_file(ctx, kek_path);
    if (!kek_now) return 0;
    const BUFFER* kek = ctx->kek.get();
    const bool same = kek != nullptr && kek_now->length == kek->length &&
                      CRYPTO_memcmp(kek_now->data, kek->data,
                                    static_cast<std::size_t>(kek->length)) == 0;
    return same ? 1 : -1;
}

// The saved state the generator may start from, read afresh into state:
// 1 one that opens under this store; 0 none to start from (absent, left
// unwritten by a dead writer, or not opening under this store: the
// generator is then seeded as for a store without one); -1 a state of the
// wrong size, which fails the read.
int read_state(PSE_CTX* ctx, PSE* pse, const char* path, BufferPtr* state) {
    notify(ctx, PSE_CTX_EVENT_RAND_BEGIN);
    *state = read_store_file(ctx, path);
    notify(ctx, PSE_CTX_EVENT_RAND_END);
    if (!*state || left_by_dead_writer(PSE_FILE_RAND, state->get())) return 0;
    if ((*state)->length != PSE_RAND_STATE_SIZE) return -1;
    return CADB_rand_state_opens(pse, (*state)->data);
}

// Writes the generator's next state where it started from.
int write_next_state(PSE_CTX* ctx, PSE* pse, const char* path) {
    std::array<unsigned char, PSE_RAND_STATE_SIZE> next{};
    int ok = CADB_rand_save_state(pse, next.data());
    if (ok) {
        notify(ctx, PSE_CTX_EVENT_RAND_BEGIN);
        ok = CADB_write_file(path, next.data(), PSE_RAND_STATE_SIZE, ctx->media_flags,
                             credential(ctx)) == PSE_RAND_STATE_SIZE;
        notify(ctx, PSE_CTX_EVENT_RAND_END);
    }
    OPENSSL_cleanse(next.data(), next.size());
    return ok;
}

// Starts the store's generator from its saved state (or the seed callback)
// and saves the next state, so that a state starts a generator only once:
// the state is read, the generator started from it and the next state
// written in one hold of the store's lock, so that processes opening the
// store at once never start from one state. Seeding, which may ask the
// user, runs outside the hold.
int start_from_file(PSE_CTX* ctx, PSE* pse) {
    char path[260];
    if (!kind_path(ctx, PSE_FILE_RAND, path)) return 0;
    StoreHold hold;
    if (!hold.acquire(ctx, CADB_F_PSE_CTX_READ)) return 0;
    const int same = same_store(ctx);
    if (same == 0) return 0;
    if (same == 1) {
        BufferPtr state;
        const int found = read_state(ctx, pse, path, &state);
        if (found < 0) return 0;
        if (found == 1)
            return CADB_rand_init_pse(pse, state->data, ctx->seed_cb, ctx->seed_arg) &&
                   write_next_state(ctx, pse, path);
    }
    hold.release();
    if (!CADB_rand_init_pse(pse, nullptr, ctx->seed_cb, ctx->seed_arg)) return 0;
    // A store another writer replaced keeps its own state, which does not
    // open under this one: nothing is written over it.
    if (same != 1) return 1;
    if (!hold.acquire(ctx, CADB_F_PSE_CTX_READ)) return 0;
    const int still = same_store(ctx);
    return still == 1 ? write_next_state(ctx, pse, path) : still < 0;
}

int start_generator(PSE_CTX* ctx, PSE* pse) {
    if (!wants_generator(ctx)) return 1;
    int ok = 0;
    if (ctx->rand_state) {
        // A state the caller supplied: nothing is saved for it.
        if (ctx->rand_state->length != PSE_RAND_STATE_SIZE)
            return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_RANDOM_GENERATOR);
        std::array<unsigned char, PSE_RAND_STATE_SIZE> state{};
        std::memcpy(state.data(), ctx->rand_state->data, state.size());
        ok = CADB_rand_init_pse(pse, state.data(), ctx->seed_cb, ctx->seed_arg);
        OPENSSL_cleanse(state.data(), state.size());
    } else {
        ok = start_from_file(ctx, pse);
    }
    if (ok) return 1;
    PSE_rand_cleanup();
    return fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_RANDOM_GENERATOR);
}

PSE* read_failed() {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_READ, ERR_LIB_CADB);
    if (ERR_get_last_error() == ERR_CLASS_NONE) ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return nullptr;
}

// One file of a write, with what it replaced.
struct StagedFile {
    char path[260];
    BufferPtr data;
    std::uint32_t flags;
    BufferPtr previous;      // null when the file did not exist or could not be read
    bool was_there = false;  // there (or not told absent) before the write
    bool written = false;
};

void roll_back(const PSE_CTX* ctx, std::vector<StagedFile>& files) {
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (!it->written) continue;
        if (it->previous)
            CADB_write_file(it->path, it->previous->data, it->previous->length, it->flags,
                            credential(ctx));
        else if (!it->was_there)
            CADB_erase_file(it->path, ctx->media_flags, credential(ctx));
    }
}

// Whether any file that makes up a store (master key, masks, KEK) is there:
// the random state alone is no store. A commit puts a disk store's files
// there together, so any of them is a store.
bool disk_store_present(const DiskStore& disk) {
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_KEK; ++kind) {
        struct stat st {};
        if (::lstat(disk.targets[static_cast<std::size_t>(kind)].c_str(), &st) == 0 ||
            errno != ENOENT)
            return true;
    }
    return false;
}

enum class Found { nothing, remnant, whole, unknown };

// What a new store would be written over. A store is whole with its master
// key, masks and KEK; some of them without the others, found under the
// device lock every writer holds, are what a writer stopped partway left:
// no password opens them, and a new store takes their place. Only a medium
// that answers for each file tells a remnant: a file it cannot tell of may
// be the rest of a store. A file a dead writer left empty, zero-filled or
// short counts as not there.
Found media_store_found(const PSE_CTX* ctx) {
    int there = 0;
    int whole = 0;
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_KEK; ++kind) {
        char path[260];
        const int state = kind_path(ctx, kind, path) ? media_file_state(path) : -1;
        if (state < 0) return Found::unknown;
        if (state == 0) continue;
        ++there;
        const BufferPtr b = read_store_file(ctx, path);
        if (!b) return Found::unknown;
        if (!left_by_dead_writer(kind, b.get())) ++whole;
    }
    if (there == 0) return Found::nothing;
    return whole == PSE_FILE_KEK + 1 ? Found::whole : Found::remnant;
}

// The files of a write committed together on a disk. A new store is written
// only where, with the folder held, no store is: the check and the write
// are one step for every process.
int write_disk_store(const DiskStore& disk, const std::vector<StagedFile>& files, bool new_store) {
    for (const StagedFile& f : files)
        if (!CADB_mkdir(f.path))
            return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    PseFolderLock lock;
    if (!hold_store(disk, lock, CADB_F_PSE_CTX_WRITE)) return 0;
    if (new_store && disk_store_present(disk))
        return fail(CADB_F_PSE_CTX_WRITE, CADB_R_KEY_STORE_EXISTS, ERR_CLASS_KEY_STORE_IO);
    std::vector<PseCommitFile> commit;
    for (std::size_t kind = 0; kind < files.size(); ++kind)
        commit.push_back(
            {disk.targets[kind],
             {files[kind].data->data, static_cast<std::size_t>(files[kind].data->length)}});
    if (!pse_commit_write(disk.folder, commit))
        return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    return 1;
}

}  // namespace

BufferPtr pse_ctx_stored_masks(PSE_CTX* ctx, int func) {
    if (!ctx->masks || ctx->masks->data == nullptr) {
        fail(func, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);
        return nullptr;
    }
    BufferPtr out;
    if (ctx->password) {
        const char* pw = ctx->password->data != nullptr
                             ? reinterpret_cast<const char*>(ctx->password->data)
                             : "";
        out.reset(BUFFER_encrypt(ctx->masks->data, ctx->masks->length, kMasksCipherNid, pw,
                                 ctx->password->length, -1, 0, 1, 0));
    } else {
        out.reset(BUFFER_fill(ctx->masks->data, ctx->masks->length));
    }
    if (!out) fail(func, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    return out;
}

int PSE_CTX_default_create(PSE_CTX* ctx) {
    if (ctx == nullptr) return fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);
    std::lock_guard g(ctx->mutex);
    if (RAND_get_rand_method() == nullptr) {
        if (ctx->seed_cb == nullptr ||
            !PSE_rand_init(nullptr, nullptr, nullptr, ctx->seed_cb, ctx->seed_arg))
            return fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_RANDOM_GENERATOR);
    }
    const unsigned char* sbox = GOSTE_get_sbox_by_code(ctx->sbox_code);
    if (sbox == nullptr) return fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_INTERNAL);

    std::array<unsigned char, 32> key{};
    std::array<unsigned char, PSE_MKEY_HEADER + 32 * PSE_MKEY_MAX_SHARES> record{};
    std::array<unsigned char, PSE_BLOCK_SIZE> kek{};
    int len = 0;
    int ok = 0;
    PsePtr pse;
    do {
        if (RAND_bytes(key.data(), 32) != 32) {
            fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_RANDOM_GENERATOR);
            break;
        }
        if (!PSE_save_mkey(key.data(), ctx->shares, record.data(), &len, sbox)) {
            fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_INTERNAL);
            break;
        }
        pse.reset(PSE_new());
        if (!pse) {
            fail(CADB_F_PSE_CTX_CREATE, ERR_R_MALLOC, ERR_CLASS_OUT_OF_MEMORY);
            break;
        }
        std::memcpy(pse->sbox, sbox, sizeof pse->sbox);
        if (!PSE_key32_load(&pse->master_key, key.data()) ||
            !PSE_generate_kek(pse.get(), kek.data())) {
            fail(CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL, ERR_CLASS_INTERNAL);
            break;
        }
        BufferPtr mkey(BUFFER_fill(record.data(), len - kMasksSize));
        BufferPtr masks(BUFFER_fill(record.data() + len - kMasksSize, kMasksSize));
        BufferPtr kek_buf(BUFFER_fill(kek.data(), PSE_BLOCK_SIZE));
        if (!mkey || !masks || !kek_buf) {
            fail(CADB_F_PSE_CTX_CREATE, ERR_R_MALLOC, ERR_CLASS_OUT_OF_MEMORY);
            break;
        }
        ctx->mkey = std::move(mkey);
        ctx->masks = std::move(masks);
        ctx->kek = std::move(kek_buf);
        ctx->rand_state.reset();
        PSE_free(ctx->pse);
        ctx->pse = pse.release();
        ok = 1;
    } while (false);
    OPENSSL_cleanse(key.data(), key.size());
    OPENSSL_cleanse(record.data(), record.size());
    OPENSSL_cleanse(kek.data(), kek.size());
    return ok;
}

PSE* PSE_CTX_default_read(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);
        return read_failed();
    }
    std::lock_guard g(ctx->mutex);
    // The files are read together under the store's lock, so that a write
    // by another process is seen whole or not at all; the lock is not held
    // while the password is asked for.
    {
        PseFolderLock lock;
        MediaLock devices;
        const std::optional<DiskStore> disk = disk_store(ctx, PathIntent::look);
        if (disk && folder_exists(disk->folder) && !hold_store(*disk, lock, CADB_F_PSE_CTX_READ))
            return read_failed();
        if (!disk && !hold_media_store(ctx, devices, CADB_F_PSE_CTX_READ)) return read_failed();
        if (content(ctx, &PSE_CTX::mkey, PSE_FILE_MKEY) == nullptr ||
            content(ctx, &PSE_CTX::masks, PSE_FILE_MASKS) == nullptr) {
            fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
            return read_failed();
        }
        content(ctx, &PSE_CTX::kek, PSE_FILE_KEK);
    }
    if (!decrypt_masks(ctx)) return read_failed();
    const BUFFER* kek = ctx->kek.get();
    if (kek == nullptr || kek->length != static_cast<int>(PSE_BLOCK_SIZE)) {
        fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        return read_failed();
    }
    // The joined record is checked against its own share count by the
    // loader, so a short or padded master-key file is refused before any
    // share is combined.
    BufferPtr record(BUFFER_fill(ctx->mkey->data, ctx->mkey->length));
    if (!record || BUFFER_append(record.get(), ctx->masks->data, kMasksSize) != kMasksSize) {
        fail(CADB_F_PSE_CTX_READ, ERR_R_MALLOC, ERR_CLASS_OUT_OF_MEMORY);
        return read_failed();
    }
    PsePtr pse(PSE_new());
    if (!pse) return read_failed();
    if (!load_master_key(pse.get(), record.get())) return read_failed();
    if (!PSE_load_kek(pse.get(), kek->data)) {
        fail(CADB_F_PSE_CTX_READ, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        return read_failed();
    }
    pse->path = pse_ctx_text(ctx->path);
    if (!start_generator(ctx, pse.get())) return read_failed();
    return pse.release();
}

int PSE_CTX_default_write(PSE_CTX* ctx) {
    if (ctx == nullptr) return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);
    std::lock_guard g(ctx->mutex);
    if (ctx->pse == nullptr || !ctx->mkey || !ctx->masks || !ctx->kek)
        return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);

    // Everything is prepared before the first file is touched.
    std::vector<StagedFile> files(RAND_status() ? 4 : 3);
    files[0].data.reset(BUFFER_fill(ctx->mkey->data, ctx->mkey->length));
    files[0].flags = ctx->media_flags | kMediaFlagMasterKey;
    files[1].data = pse_ctx_stored_masks(ctx, CADB_F_PSE_CTX_WRITE);
    files[2].data.reset(BUFFER_fill(ctx->kek->data, ctx->kek->length));
    if (files.size() == 4) {
        files[3].data.reset(BUFFER_fill(nullptr, PSE_RAND_STATE_SIZE));
        if (files[3].data && !CADB_rand_save_state(ctx->pse, files[3].data->data))
            files[3].data.reset();
    }
    for (std::size_t kind = 0; kind < files.size(); ++kind) {
        if (kind != 0) files[kind].flags = ctx->media_flags;
        if (!files[kind].data || !kind_path(ctx, static_cast<int>(kind), files[kind].path))
            return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
    }
    const bool new_store = (ctx->flags & PSE_CTX_FLAG_NEW_STORE) != 0;
    if (const std::optional<DiskStore> disk = disk_store(ctx, PathIntent::create))
        return write_disk_store(*disk, files, new_store);
    // Whether a store is there and the writes it decides on are one step for
    // every process of the user, and a roll back puts back only what this
    // write replaced.
    MediaLock devices;
    if (!hold_media_store(ctx, devices, CADB_F_PSE_CTX_WRITE)) return 0;
    // A store that may be there is reported as there: the caller goes on to
    // open it, and the open tells whether it is.
    if (new_store) {
        const Found there = media_store_found(ctx);
        if (there == Found::whole || there == Found::unknown)
            return fail(CADB_F_PSE_CTX_WRITE, CADB_R_KEY_STORE_EXISTS, ERR_CLASS_KEY_STORE_IO);
    }
    bool replaces = false;
    for (auto& f : files) {
        // A file that is not there yet has nothing to put back.
        ERR_set_mark();
        f.previous = read_store_file(ctx, f.path);
        // A file that is there but could not be read is no new file of this
        // write: a roll back leaves it rather than erase it.
        f.was_there = f.previous || media_file_state(f.path) != 0;
        ERR_pop_to_mark();
        replaces = replaces || f.was_there;
    }
    // Over a store, the new files go whole beside the old ones first, so that
    // a writer killed at any instant leaves one store or the other.
    if (replaces) {
        MediaStoreFiles commit;
        std::vector<MediaStoreWrite> writes;
        for (const auto& f : files) writes.push_back({f.data.get(), f.previous.get(), f.was_there});
        if (!media_files(ctx, files.size(), &commit) || !media_store_commit(commit, writes))
            return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        return 1;
    }
    for (auto& f : files) {
        f.written = true;  // a failed write may still have touched the medium
        if (CADB_write_file(f.path, f.data->data, f.data->length, f.flags, credential(ctx)) !=
            f.data->length) {
            roll_back(ctx, files);
            return fail(CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        }
    }
    return 1;
}

int PSE_CTX_default_erase(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        fail(CADB_F_PSE_CTX_ERASE, ERR_R_INTERNAL, ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_LIB_CADB);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    if (!ctx->path) {
        fail(CADB_F_PSE_CTX_ERASE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_LIB_CADB);
        return 0;
    }
    // On a disk the commit record goes first, so that nothing of a write
    // that was stopped is finished afterwards, then the temporary files
    // stopped writers left. Each file is wiped and removed on its own; one
    // that cannot be does not keep the others.
    PseFolderLock lock;
    MediaLock devices;
    const std::optional<DiskStore> disk = disk_store(ctx, PathIntent::look);
    if (disk && folder_exists(disk->folder)) {
        if (!lock.acquire(disk->folder, pse_lock_wait())) {
            fail(CADB_F_PSE_CTX_ERASE, CADB_R_KEY_STORE_BUSY, ERR_CLASS_KEY_STORE_IO);
            CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_LIB_CADB);
            return 0;
        }
        pse_commit_erase(disk->folder, disk->targets);
    } else if (!disk) {
        if (!hold_devices(ctx, devices, CADB_F_PSE_CTX_ERASE)) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_LIB_CADB);
            return 0;
        }
        // Nothing of a commit is finished after the store is gone: a mark
        // that stays would bring the store back.
        MediaStoreFiles files;
        if (!media_files(ctx, PSE_FILE_RAND + 1, &files) ||
            (on_token_media(files) && !media_store_drop(files))) {
            fail(CADB_F_PSE_CTX_ERASE, ERR_R_INTERNAL, ERR_CLASS_KEY_STORE_IO);
            CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_LIB_CADB);
            return 0;
        }
    }
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        char path[260];
        if (kind_path(ctx, kind, path)) CADB_erase_file(path, ctx->media_flags, credential(ctx));
    }
    return 1;
}

const PSE_CTX_METHOD* PSE_get_default_method() {
    static const PSE_CTX_METHOD kDefault = {"PSE_CTX default method", PSE_CTX_default_create,
                                            PSE_CTX_default_read, PSE_CTX_default_write,
                                            PSE_CTX_default_erase};
    return &kDefault;
}

}  // namespace cadb
