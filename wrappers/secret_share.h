// A "SHARED" key store: the store's masks value split K-of-N over N media.
// Each medium gets the store's master-key and KEK files, a fresh random
// state, the DER sharing parameters and, in place of the masks file, its own
// DER share; any K media rebuild the masks value and open the store. The
// masks value itself is written to no medium.
//
// CSecretShare does the work with silent hooks; CAdvSecretShare talks to the
// user through message boxes, and TShareMediaDialog asks for each part's
// directory.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/store/shared_secret.h"
#include "wrappers/pse_container.h"
#include "wrappers/ui_binding.h"

namespace cadb {

class CSecretShare {
  public:
    // Last error codes.
    enum : int {
        E_NO_DIRECTORY = -1,
        E_SHARING = -2,
        E_POINT = -4,
        E_SET_SHARE = -5,
        E_PARAMS = -6,
        E_RAND_STATE = -7,
        E_WRITE_PART = -8,
        E_READ_NO_DIRECTORY = -11,
        E_READ_PART = -12,
        E_READ_PARAMS = -13,
        E_READ_TWICE = -14,
        E_ADD_POINT = -15,
        E_SET_PATH = -16,
        E_SET_MASKS = -17,
        E_OPEN = -18,
        E_SAVE_RAND = -19,
        E_REBUILD = -21,
    };
    // A dialogue that asks "repeat?" is asked at most this many times in one
    // step, whatever the user answers.
    static constexpr int kMaxAttempts = 4;
    // Reading errors of one recovery after which it ends whatever the user
    // answers (the dialogue of CAdvSecretShare ends it at the fourth).
    static constexpr int kMaxReadFailures = 8;

    CSecretShare();
    virtual ~CSecretShare();
    CSecretShare(const CSecretShare&) = delete;
    CSecretShare& operator=(const CSecretShare&) = delete;

    // False unless 2 <= K <= N. paramsFromFirstPart: recovery takes the
    // sharing parameters from the first part read, else from the last
    // generation.
    bool setParams(int threshold, int count, bool paramsFromFirstPart);
    // Creates the store at path (asked for when null) and writes its N parts;
    // the first part's container (holding the opened store), or null.
    TRef<TPSEContainer> generate(const char* path, bool askPassword);
    // Reads parts until K are held and opens the rebuilt store; its
    // container, or null.
    TRef<TPSEContainer> recover();

    int threshold() const;  // of the sharing held; 0 without one
    int shareCount() const { return count_; }
    int lastError() const { return lastError_; }

  protected:
    // The hooks, in the order of the original dialogue table.
    virtual void onSeedNeeded() {}
    virtual int addPart(const TRef<TPSEContainer>& part);  // index, or -1 for a repeat
    virtual int onReadError(int /*partNumber*/) {
        ++errors_;
        return 0;
    }
    virtual void onPartAccepted(int /*partNumber*/) {}
    virtual int onRebuildError() {
        ++errors_;
        return 0;
    }
    virtual int onCreateError(int /*partIndex*/) { return 0; }
    virtual int onPreparePart(TPSEContainer& /*part*/, const char* /*dir*/, int /*index*/) {
        return 1;
    }
    virtual void onPartPrepared(TPSEContainer& /*part*/, int /*index*/) {}
    virtual void onPartWritten(TPSEContainer& /*part*/, int /*index*/) {}

    int errors_ = 0;

  private:
    bool createFirstPart(TPSEContainer& part, const char* dir, bool askPassword);
    bool writePart(TPSEContainer& part, const char* dir, int index);
    int readPart();
    TRef<TPSEContainer> rebuild();

    bool paramsFromFirstPart_ = true;
    int threshold_ = 0;
    int count_ = 0;
    TRef<TPSEContainer> current_;
    SharedSecretPtr sharing_;
    std::vector<TRef<TPSEContainer>> parts_;
    std::vector<unsigned char> params_;
    int lastError_ = 0;
};

// Asks for the directory of each part in turn through the folder chooser of
// the dialog library, the part number in its caption.
class TShareMediaDialog : public TContainerDialog {
  public:
    int requestDirectory(char* out, int size, std::int32_t* type) override;
    void setPartCounter(int counter) { counter_ = counter; }
    int partCounter() const { return counter_; }

  private:
    TLibraryUI ui_;
    int counter_ = 0;
};

class CAdvSecretShare : public CSecretShare {
  protected:
    void onSeedNeeded() override;
    int onReadError(int partNumber) override;
    void onPartAccepted(int partNumber) override;
    int onRebuildError() override;
    int onCreateError(int partIndex) override;
    int onPreparePart(TPSEContainer& part, const char* dir, int index) override;
    void onPartPrepared(TPSEContainer& part, int index) override;
    void onPartWritten(TPSEContainer& part, int index) override;
};

}  // namespace cadb
