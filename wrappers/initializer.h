// The object through which the enrolment library starts and stops everything
// below it, and its parameter side: the key-store path in use and the random
// start that brings the key store and its generator into a usable state
// before any key is made. One instance lives for the life of the module; its
// methods run on the thread of the object that calls them.
#pragma once

#include <memory>
#include <string>

#include "wrappers/tpse.h"

namespace cadb {

class CN2kGlobalParams {
  public:
    CN2kGlobalParams();
    virtual ~CN2kGlobalParams();
    CN2kGlobalParams(const CN2kGlobalParams&) = delete;
    CN2kGlobalParams& operator=(const CN2kGlobalParams&) = delete;

    void SetPSEPath(const char* path);
    void SetDefaultPSEPath(const char* path);
    // The explicit path when it is not empty, else the fallback.
    std::string GetPSEPath() const;

    // Seeds through the user interface for a pkcs11 path, else
    // ReadRndBuffer. 1/0, also kept as the last result.
    int InitRandomizer(int argument);
    // Opens the store at the path in use (or rebuilds a shared one, or
    // creates a new one when the creation flag is set) and starts the
    // generator. 1 only when the generator is running afterwards.
    int ReadRndBuffer(int argument);

    // Set immediately before a random start that is to make a new store.
    void SetCreating(bool creating) { creating_ = creating; }
    // The key store lives as secret shares on several media.
    void SetSharedStore(bool shared) { shared_ = shared; }
    bool IsSharedStore() const { return shared_; }
    int LastRandomResult() const { return randResult_; }
    TPSE& pse() { return *pse_; }

  private:
    int openStore(const std::string& path, int type);
    int recoverShared();
    int createShared();
    int createStore(int type);

    unsigned char randResult_ = 0;
    bool shared_ = false;
    bool creating_ = false;
    std::string explicitPath_ = "a:\\";
    std::string fallbackPath_ = "a:\\";
    std::unique_ptr<TPSE> pse_;
};

class TCADBInitializer : public CN2kGlobalParams {
  public:
    // Starts the library and the log, makes the process-wide user-interface
    // object current and installs the insert-the-medium callback.
    TCADBInitializer();
    ~TCADBInitializer() override;

    // Keeps the dialog library loaded around a long operation (its progress
    // thread lives until freeUILibrary).
    virtual int loadUILibrary();
    virtual void freeUILibrary();

  private:
    bool logStarted_ = false;
    bool libraryStarted_ = false;
};

}  // namespace cadb
