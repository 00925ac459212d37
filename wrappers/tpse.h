// An owned handle on a key store: either one counted reference to a key-store
// record, or a key-store context (whose record is then the store in use).
#pragma once

#include "crypto/pse/pse.h"
#include "crypto/store/pse_ctx.h"

namespace cadb {

class TUICallbacks;

// Whether the newest error on the queue says that a new store was not
// written because a store is there already (PSE_CTX_FLAG_NEW_STORE).
bool PseStoreWasThere();

class TPSE {
  public:
    TPSE() = default;
    TPSE(const TPSE&) = delete;
    TPSE& operator=(const TPSE&) = delete;
    virtual ~TPSE();

    void close();
    // Closes what is held and takes a new reference to record.
    PSE* attach(PSE* record);
    // Takes a new reference to other's store; an empty other changes nothing.
    void assign(const TPSE& other);
    // A new store at path, created and written whole.
    bool create(const char* path);
    // A new store at path as create, unless a store is there when it comes
    // to be written (another process may have made one since the caller
    // looked): then nothing is written, existed is set, and the store there
    // is opened instead (openFlags as for open). True when a store is held.
    bool createOrOpen(const char* path, int openFlags, bool& existed);
    // Opens the store at path. flags go to the context before the read
    // (PSE_CTX_FLAG_NO_RAND_INIT leaves the generator to the caller).
    bool open(const char* path, int flags = 0);
    PSE* getPSE() const;
    // Starts the store's generator from a 36-byte saved state (refreshed in
    // place), with ui current for the call to answer the seed callback.
    // Always false: the caller looks at the generator itself.
    bool initRandom(unsigned char* state36, TUICallbacks* ui, void* arg);
    // A fresh random-state block of the store in out36; no file is written.
    bool saveRandState(unsigned char* out36);

  private:
    PSE* pse_ = nullptr;
    PSE_CTX* ctx_ = nullptr;
};

}  // namespace cadb
