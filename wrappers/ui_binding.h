// The binding of the dialog library: the user-interface interface (one
// virtual operation per export of the library, in slot order), the process-
// wide object whose operations load the library by name, call the export and
// unload it, the current object through which the cryptographic library's
// plain callbacks reach the user, and the library's string table and message
// boxes.
//
// The current-object pointer is replaced without a lock: all of this runs on
// the host's one user-interface thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "wrappers/ui_exports.h"

namespace cadb {

// Slots 0-12, each named after the export it stands for.
class TUICallbacks {
  public:
    virtual ~TUICallbacks() = default;
    virtual int Init() = 0;
    virtual void Free() = 0;
    virtual int dirOperationCBK(const char* caption, UIDirRecord* record) = 0;
    virtual int getPassCBK(char* buf, int size, int rwflag, const char* prompt) = 0;
    virtual int getPass_eTokenCBK(char* buf, int size, int rwflag, void* arg) = 0;
    virtual int getPass_ruTokenCBK(char* buf, int size, int rwflag, void* arg) = 0;
    virtual int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) = 0;
    virtual void getProgressCBK(int a, int b, int c) = 0;
    virtual int rndInitCBK_Vambrace32(int a, int b, int c, int d) = 0;
    virtual int getSShareCBK(int arg, std::int32_t* threshold, std::int32_t* count) = 0;
    virtual int putPassCBK(char* buf, int size, int rwflag, const char* prompt) = 0;
    virtual int acceptPKCS7CBK(char** texts, int count, char** fileNames) = 0;
    virtual int devReqReady(const char* path, void* arg) = 0;
};

// The library kept loaded around a long operation; shared by the objects
// that hold it, unloaded with the last of them.
using TUILibraryHolder = std::shared_ptr<Module>;
TUILibraryHolder LoadUILibraryHolder();

// Every operation loads the dialog library, resolves its export, calls it and
// unloads the library. A missing library or export gives 0 (or nothing).
// Answers are bounded by the caller's buffer: a longer one is refused.
class TLibraryUI : public TUICallbacks {
  public:
    int Init() override;
    void Free() override;
    int dirOperationCBK(const char* caption, UIDirRecord* record) override;
    int getPassCBK(char* buf, int size, int rwflag, const char* prompt) override;
    int getPass_eTokenCBK(char* buf, int size, int rwflag, void* arg) override;
    int getPass_ruTokenCBK(char* buf, int size, int rwflag, void* arg) override;
    int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) override;
    void getProgressCBK(int a, int b, int c) override;
    // 1 at once when the store's generator is ready; else the library seeds
    // it. The seeding routine the library registers is taken back before the
    // library is unloaded, so the generator never keeps a pointer into
    // unmapped code.
    int rndInitCBK_Vambrace32(int a, int b, int c, int d) override;
    int getSShareCBK(int arg, std::int32_t* threshold, std::int32_t* count) override;
    int putPassCBK(char* buf, int size, int rwflag, const char* prompt) override;
    int acceptPKCS7CBK(char** texts, int count, char** fileNames) override;
    int devReqReady(const char* path, void* arg) override;

    // Keeps the library loaded while held (null: lets it go).
    void setHolder(TUILibraryHolder holder) { holder_ = std::move(holder); }

  private:
    TUILibraryHolder holder_;
};

// The process-wide object bound to the library.
TLibraryUI& GlobalUI();
// The object the plain callbacks forward to; null when none. Set returns the
// one it replaces.
TUICallbacks* GetCurrentUI();
TUICallbacks* SetCurrentUI(TUICallbacks* ui);

// Makes ui current for one scope and puts the previous one back.
class TCurrentUIScope {
  public:
    explicit TCurrentUIScope(TUICallbacks* ui) : previous_(SetCurrentUI(ui)) {}
    ~TCurrentUIScope() { SetCurrentUI(previous_); }
    TCurrentUIScope(const TCurrentUIScope&) = delete;
    TCurrentUIScope& operator=(const TCurrentUIScope&) = delete;

  private:
    TUICallbacks* previous_;
};

// The plain callbacks handed to the cryptographic library; each forwards to
// the current object, or logs that none is defined and returns 0.
int etoken_passwd_cb(char* buf, int size, int rwflag, void* arg);
int rutoken_passwd_cb(char* buf, int size, int rwflag, void* arg);
int pkcs11_passwd_cb(char* buf, int size, int rwflag, void* arg);
int getPassCBK(char* buf, int size, int rwflag, void* prompt);
int displProgressCBK(int a, int b, void* arg);
int rndInitCBK(int ch, int index, int total, void* arg);
int dev_req_callback(const char* path, void* arg);

// Seeds the store's generator through slot 8 of the current object. 1 only
// when the generator is ready afterwards.
int RndInitThroughUI();

// String id of the named library's string table ("" when the library, or the
// string, is missing). The library stays cached until another name, or a null
// name, is given.
std::string LoadUIString(const char* libraryName, int id);
// LoadUIString of the dialog library.
std::string UIString(int id);
// A message box without owner, shown by the dialog library; without it the
// text is logged and the box answers IDOK, or IDNO when it asks Yes or No.
int UIMessageBox(const std::string& text, const std::string& caption, unsigned type);

// A text of the string table with its "%d", "%li" and "%s" fields filled from
// args in order ("%%" is a percent sign); any other '%' stays as it is, so a
// table text can never read arguments that were not given.
std::string UIFormat(std::string_view format, std::initializer_list<std::string> args);

}  // namespace cadb
