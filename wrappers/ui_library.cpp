// The process-wide user-interface object: each operation loads the dialog
// library, calls its export and unloads it again.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/store/pse_ctx.h"
#include "platform/no_destructor.h"
#include "wrappers/log.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

// The dialog's own field limits lie below this; a library that ignores the
// size it is given still writes into this scratch, never past the caller's
// buffer.
constexpr int kAnswerScratch = 4096;

template <class Fn, class R, class... Args>
R call_export(const char* entry, R fallback, Args... args) {
    Module module = module_load(kUILibraryName);
    if (!module) return fallback;
    Fn fn = nullptr;
    if (!module_entry(module, entry, fn)) return fallback;
    return fn(args...);
}

// An answer the library writes (no terminator, its length returned) reaches
// buf only when it fits in size bytes; a longer one is refused with refusal.
template <class Call>
int bounded_answer(char* buf, int size, int refusal, const char* entry, Call call) {
    if (buf == nullptr || size <= 0) return refusal;
    std::vector<char> scratch(static_cast<std::size_t>(std::max(size, kAnswerScratch)) + 1, 0);
    const int n = call(scratch.data(), static_cast<int>(scratch.size() - 1));
    int result = n;
    if (n > size) {
        LogMessage("%s()... the answer of %d bytes does not fit the buffer of %d: refused", entry,
                   n, size);
        result = refusal;
    } else if (n > 0) {
        std::memcpy(buf, scratch.data(), static_cast<std::size_t>(n));
    }
    OPENSSL_cleanse(scratch.data(), scratch.size());
    return result;
}

int get_pin(const char* entry, char* buf, int size, int rwflag, void* arg) {
    return bounded_answer(buf, size, 0, entry, [&](char* scratch, int room) {
        return call_export<UI_getPinCBK>(entry, 0, scratch, room, rwflag, arg);
    });
}

}  // namespace

TUILibraryHolder LoadUILibraryHolder() {
    Module module = module_load(kUILibraryName);
    if (!module) return {};
    return std::make_shared<Module>(std::move(module));
}

int TLibraryUI::Init() { return call_export<UI_Init>("Init", 0); }

void TLibraryUI::Free() {
    Module module = module_load(kUILibraryName);
    UI_Free fn = nullptr;
    if (module && module_entry(module, "Free", fn)) fn();
}

int TLibraryUI::dirOperationCBK(const char* caption, UIDirRecord* record) {
    if (record == nullptr) return 0;
    UIDirRecord answer{};
    std::memcpy(&answer, record, sizeof answer);
    answer.path[UI_DIR_PATH_SIZE - 1] = '\0';
    const int n = call_export<UI_dirOperationCBK>("dirOperationCBK", 0, caption, &answer);
    // The chosen path must end inside the record.
    const std::size_t len = strnlen(answer.path, UI_DIR_PATH_SIZE);
    if (n <= 0 || len >= UI_DIR_PATH_SIZE || static_cast<std::size_t>(n) > len) return 0;
    std::memcpy(record, &answer, sizeof answer);
    return n;
}

int TLibraryUI::getPassCBK(char* buf, int size, int rwflag, const char* prompt) {
    return bounded_answer(buf, size, 0, "getPassCBK", [&](char* scratch, int room) {
        return call_export<UI_getPassCBK>("getPassCBK", 0, scratch, room, rwflag, prompt);
    });
}

int TLibraryUI::getPass_eTokenCBK(char* buf, int size, int rwflag, void* arg) {
    return get_pin("getPass_eTokenCBK", buf, size, rwflag, arg);
}
int TLibraryUI::getPass_ruTokenCBK(char* buf, int size, int rwflag, void* arg) {
    return get_pin("getPass_ruTokenCBK", buf, size, rwflag, arg);
}
int TLibraryUI::getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) {
    return get_pin("getPass_pkcs11CBK", buf, size, rwflag, arg);
}

void TLibraryUI::getProgressCBK(int a, int b, int c) {
    call_export<UI_getProgressCBK>("getProgressCBK", 0, a, b, c);
}

int TLibraryUI::rndInitCBK_Vambrace32(int, int, int, int) {
    if (CADB_rand_status()) return 1;
    Module module = module_load(kUILibraryName);
    UI_rndInitCBK_Vambrace32 fn = nullptr;
    if (!module || !module_entry(module, "rndInitCBK_Vambrace32", fn)) return 0;
    const GRAND_SEED_ROUTINE previous = GRAND_get_seed_routine();
    const int result = fn(&GRAND_set_seed_routine, &PSE_rand_init);
    // The routine lives in the library, which goes when this call ends.
    GRAND_set_seed_routine(previous);
    return result;
}

int TLibraryUI::getSShareCBK(int arg, std::int32_t* threshold, std::int32_t* count) {
    return call_export<UI_getSShareCBK>("getSShareCBK", 0, arg, threshold, count);
}

int TLibraryUI::putPassCBK(char* buf, int size, int rwflag, const char* prompt) {
    return bounded_answer(buf, size, -1, "putPassCBK", [&](char* scratch, int room) {
        return call_export<UI_putPassCBK>("putPassCBK", 0, scratch, room, rwflag, prompt);
    });
}

int TLibraryUI::acceptPKCS7CBK(char** texts, int count, char** fileNames) {
    return call_export<UI_acceptPKCS7CBK>("acceptPKCS7CBK", 0, texts, count, fileNames);
}

int TLibraryUI::devReqReady(const char* path, void* arg) {
    return call_export<UI_devReqReady>("devReqReady", 0, path,
                                       static_cast<std::int32_t>(reinterpret_cast<intptr_t>(arg)));
}

// The library it holds goes with the initialiser's freeUILibrary, never with
// a destructor at exit.
TLibraryUI& GlobalUI() {
    static NoDestructor<TLibraryUI> ui;
    return *ui;
}

}  // namespace cadb
