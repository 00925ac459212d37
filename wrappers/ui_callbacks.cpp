// The current user-interface object and the plain callbacks through which the
// cryptographic library reaches it.
#include "crypto/store/pse_ctx.h"
#include "wrappers/log.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

TUICallbacks* g_current = nullptr;

}  // namespace

TUICallbacks* GetCurrentUI() { return g_current; }

TUICallbacks* SetCurrentUI(TUICallbacks* ui) {
    TUICallbacks* previous = g_current;
    g_current = ui;
    return previous;
}

int etoken_passwd_cb(char* buf, int size, int rwflag, void* arg) {
    if (g_current == nullptr) {
        LogMessage("!!!etoken_passwd_cb()... e-Token Function is not defined !");
        return 0;
    }
    return g_current->getPass_eTokenCBK(buf, size, rwflag, arg);
}

int rutoken_passwd_cb(char* buf, int size, int rwflag, void* arg) {
    if (g_current == nullptr) {
        LogMessage("!!!rutoken_passwd_cb()... ru-Token Function is not defined !");
        return 0;
    }
    return g_current->getPass_ruTokenCBK(buf, size, rwflag, arg);
}

int pkcs11_passwd_cb(char* buf, int size, int rwflag, void* arg) {
    if (g_current == nullptr) {
        LogMessage("!!!pkcs11_passwd_cb()... PKCS11 Function is not defined !");
        return 0;
    }
    return g_current->getPass_pkcs11CBK(buf, size, rwflag, arg);
}

int getPassCBK(char* buf, int size, int rwflag, void* prompt) {
    if (g_current == nullptr) {
        LogMessage("!!!getPassCBK()... Function is not defined !");
        return 0;
    }
    return g_current->getPassCBK(buf, size, rwflag, static_cast<const char*>(prompt));
}

int displProgressCBK(int a, int b, void*) {
    if (g_current == nullptr) return LogMessage("!!!displProgressCBK()... Function is not defined !");
    g_current->getProgressCBK(a, b, 0);
    return 0;
}

int rndInitCBK(int ch, int index, int total, void*) {
    if (g_current == nullptr) {
        LogMessage("!!!rndInitCBK()... Function is not defined !");
        return 0;
    }
    return g_current->rndInitCBK_Vambrace32(ch, index, total, 0);
}

int dev_req_callback(const char* path, void* arg) {
    if (g_current == nullptr) {
        LogMessage("!!!dev_req_callback()... Function is not defined !");
        return 0;
    }
    return g_current->devReqReady(path, arg);
}

int RndInitThroughUI() {
    if (g_current == nullptr) return 0;
    return g_current->rndInitCBK_Vambrace32(10, 1, 0, 0) != 0 && CADB_rand_status() ? 1 : 0;
}

}  // namespace cadb
