// A key store that moves between media as a set of byte buffers: created or
// opened through a key-store context, its files read or written one by one,
// so that the secret-sharing classes can put each share on its own medium.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "crypto/store/pse_ctx.h"
#include "wrappers/pse_media.h"
#include "wrappers/refcounted.h"
#include "wrappers/tbuffer.h"

namespace cadb {

// The question shown by the password callbacks of the object layer for the
// next key-store or key password; set by the enrolment methods.
std::string& KeyPasswordPrompt();

// Asks the user where a container lies. The default object answers with no
// directory.
class TContainerDialog : public TRefCounted {
  public:
    // The chosen directory into out (size bytes, terminated) and its media
    // type; the path's length, 0 when none was chosen.
    virtual int requestDirectory(char* out, int size, std::int32_t* type);
};

TContainerDialog* GetCurrentContainerDialog();
void SetCurrentContainerDialog(TContainerDialog* dialog);  // takes a reference

// While one lives (a secret-share flow), new containers keep the current
// dialogue object instead of putting a default one in its place.
class TContainerDialogFlow {
  public:
    TContainerDialogFlow();
    ~TContainerDialogFlow();
    TContainerDialogFlow(const TContainerDialogFlow&) = delete;
    TContainerDialogFlow& operator=(const TContainerDialogFlow&) = delete;
};

class TPSEContainer : public TRefCounted {
  public:
    // Last error codes.
    enum : int {
        E_NO_PATH = -1,
        E_PATH_REFUSED = -2,
        E_CREATE = -3,
        E_WRITE = -4,
        E_FILES_MISSING = -11,
        E_MKEY_UNREADABLE = -12,
        E_KEK_UNREADABLE = -13,
        E_MASKS_UNREADABLE = -14,
        E_RAND_MISSING = -15,
        E_PARAMS_UNREADABLE = -16,
        E_BUFFERS_EMPTY = -21,
        E_MKEY_NOT_WRITTEN = -22,
        E_KEK_NOT_WRITTEN = -23,
        E_MASKS_NOT_WRITTEN = -24,
        E_RAND_NOT_WRITTEN = -25,
        E_PARAMS_NOT_WRITTEN = -26,
    };

    TPSEContainer();

    // A new store at path, written whole, its files then read back into the
    // buffers. With askPassword a new password is asked (putPassCBK) and the
    // masks are stored under it; no password fails.
    int create(const char* path, bool askPassword);
    // As create, for a path where the caller found no store: when one is
    // there by the time the new one is written (another process made it
    // meanwhile), nothing is written and that store is opened and used
    // instead, so that keys already made under it stay usable. With
    // askPassword, a store found without a password gets the one asked
    // (rewritten, its master key and KEK kept); one with a password is
    // opened with its own.
    int createOrOpen(const char* path, bool askPassword);
    // Opens the store at the stored path, the file names as overrides.
    int open();
    // Opens the store at path and remembers it.
    int openPath(const char* path);
    // Erases the store's five files where they exist; on a disk, with the
    // commit record and the temporaries stopped writers left beside them.
    int erase(const char* path);
    // A fresh random-state record of the opened store into its buffer and its
    // file.
    int saveRandState();
    int readFiles(const char* path);
    int writeFiles(const char* path);

    PSE_CTX* context() const { return ctx_; }
    PSE* getPSE() const { return ctx_ != nullptr ? PSE_CTX_get_pse(ctx_) : nullptr; }
    // A fresh key-store context on the container (the old one freed).
    PSE_CTX* renewContext();
    const std::string& path() const { return path_; }
    const StoreFileNames& fileNames() const { return names_; }
    TBuffer& contents(StoreFile file) { return buffers_[static_cast<std::size_t>(file)]; }
    int lastError() const { return lastError_; }
    void setLastError(int code) { lastError_ = code; }
    // The user already agreed to replace the files at the next write.
    void setOverwriteConfirmed(bool yes) { overwriteConfirmed_ = yes; }

  protected:
    ~TPSEContainer() override;
    // Notifications around reading, and the questions reading and writing
    // ask; the base notifies nobody, does not retry and asks the user before
    // files are replaced.
    virtual void onReadBegin() {}
    virtual void onFileRead(StoreFile) {}
    virtual bool retryRandState() { return false; }
    virtual bool confirmOverwrite(const char* path);

  private:
    int make(const char* path, bool askPassword, bool useExisting);
    int openStoreThere(const char* path, BufferPtr password);
    bool readWhole(const std::string& name, StoreFile file);
    bool writeWhole(StoreFile file);

    PSE_CTX* ctx_ = nullptr;
    std::string path_;
    StoreFileNames names_;
    std::array<TBuffer, STORE_FILE_COUNT> buffers_;
    int lastError_ = 0;
    bool overwriteConfirmed_ = false;
};

}  // namespace cadb
