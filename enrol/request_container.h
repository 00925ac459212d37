// The key store on the request roads: a container whose questions are asked
// with the prompt the road set last (KeyPasswordPrompt) when the library asks
// without one, which answers no questions about accepted certificates or
// missing media, and which starts a store's generator from the user when the
// store has no random-state file yet.
#pragma once

#include <string>

#include "wrappers/pse_container.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {

// Forwards to the object current when it was made: passwords with the
// road's prompt when the caller gives none, PINs to the token slots.
class TRequestUI : public TUICallbacks {
  public:
    explicit TRequestUI(TUICallbacks* outer) : outer_(outer) {}
    int Init() override { return outer_ ? outer_->Init() : 0; }
    void Free() override {
        if (outer_) outer_->Free();
    }
    int dirOperationCBK(const char* caption, UIDirRecord* record) override {
        return outer_ ? outer_->dirOperationCBK(caption, record) : 0;
    }
    int getPassCBK(char* buf, int size, int rwflag, const char* prompt) override;
    int putPassCBK(char* buf, int size, int rwflag, const char* prompt) override;
    int getPass_eTokenCBK(char* buf, int size, int rwflag, void* arg) override {
        return outer_ ? outer_->getPass_eTokenCBK(buf, size, rwflag, arg) : 0;
    }
    int getPass_ruTokenCBK(char* buf, int size, int rwflag, void* arg) override {
        return outer_ ? outer_->getPass_ruTokenCBK(buf, size, rwflag, arg) : 0;
    }
    int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) override {
        return outer_ ? outer_->getPass_pkcs11CBK(buf, size, rwflag, arg) : 0;
    }
    void getProgressCBK(int a, int b, int c) override {
        if (outer_) outer_->getProgressCBK(a, b, c);
    }
    int rndInitCBK_Vambrace32(int a, int b, int c, int d) override {
        return outer_ ? outer_->rndInitCBK_Vambrace32(a, b, c, d) : 0;
    }
    int getSShareCBK(int arg, std::int32_t* threshold, std::int32_t* count) override {
        return outer_ ? outer_->getSShareCBK(arg, threshold, count) : 1;
    }
    int acceptPKCS7CBK(char**, int, char**) override { return 0; }
    int devReqReady(const char*, void*) override { return 0; }

  private:
    TUICallbacks* outer_;
};

// Makes a TRequestUI over the current object current for one scope.
class TRequestUIScope {
  public:
    TRequestUIScope() : ui_(GetCurrentUI() ? GetCurrentUI() : &GlobalUI()), scope_(&ui_) {}

  private:
    TRequestUI ui_;
    TCurrentUIScope scope_;
};

// Puts text in the process-wide prompt for the next key-store or key
// password, bounded as the dialog library's buffer (255 characters).
void SetPasswordPrompt(const std::string& text);

class TRequestContainer : public TPSEContainer {
  protected:
    // A store without a random-state file: the generator is seeded from the
    // user, and a fresh state is written so that reading can go on.
    bool retryRandState() override;
};

}  // namespace cadb::enrol
