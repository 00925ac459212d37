// A PKCS#11 module that plays the tokens SoftHSM2 cannot: one that reports
// no maximum PIN length, one whose login answers a code the test chooses,
// one whose slot is empty. It runs inside the Tasset child process, so the
// test steers it through the environment and reads what it was given from
// a log file:
//   TASSET_FAKE_LOG         file that gets one line per call worth checking
//   TASSET_FAKE_LOGIN_RV    what C_Login answers (hex, default 0)
//   TASSET_FAKE_NO_TOKEN    set: the slot holds no token
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/pkcs11/cryptoki.h"

using namespace cadb;

namespace {

void log_line(const std::string& line) {
    const char* file = std::getenv("TASSET_FAKE_LOG");
    if (file == nullptr) return;
    if (FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

CK_RV configured_login_rv() {
    const char* v = std::getenv("TASSET_FAKE_LOGIN_RV");
    return v == nullptr ? CKR_OK : std::strtoul(v, nullptr, 16);
}

CK_RV initialize(CK_VOID_PTR) { return CKR_OK; }
CK_RV finalize(CK_VOID_PTR) { return CKR_OK; }
CK_RV get_info(CK_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 20};
    return CKR_OK;
}
CK_RV get_slot_list(CK_BBOOL, CK_SLOT_ID* slots, CK_ULONG* count) {
    if (slots != nullptr) {
        if (*count < 1) return CKR_BUFFER_TOO_SMALL;
        slots[0] = 5;
    }
    *count = 1;
    return CKR_OK;
}
CK_RV get_slot_info(CK_SLOT_ID, CK_SLOT_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->flags = std::getenv("TASSET_FAKE_NO_TOKEN") != nullptr ? 0 : CKF_TOKEN_PRESENT;
    return CKR_OK;
}
CK_RV get_token_info(CK_SLOT_ID, CK_TOKEN_INFO* info) {
    std::memset(info, ' ', sizeof *info);
    std::memcpy(info->manufacturerID, "Tasset tests", 12);
    std::memcpy(info->model, "fake", 4);
    std::memcpy(info->serialNumber, "0000000000000042", 16);
    info->flags = CKF_LOGIN_REQUIRED;
    info->ulMaxPinLen = 0;  // "no maximum": the program assumes 16
    info->ulMinPinLen = 1;
    return CKR_OK;
}
CK_RV get_mechanism_list(CK_SLOT_ID, CK_MECHANISM_TYPE*, CK_ULONG* count) {
    *count = 0;
    return CKR_OK;
}
CK_RV init_token(CK_SLOT_ID, CK_UTF8CHAR* pin, CK_ULONG len, CK_UTF8CHAR* label) {
    log_line("InitToken pin=" + std::string(reinterpret_cast<char*>(pin), len) + " label=[" +
             std::string(reinterpret_cast<char*>(label), 32) + "]");
    return CKR_OK;
}
CK_RV init_pin(CK_SESSION_HANDLE, CK_UTF8CHAR* pin, CK_ULONG len) {
    log_line("InitPIN pin=" + std::string(reinterpret_cast<char*>(pin), len));
    return CKR_OK;
}
CK_SESSION_HANDLE g_next = 1;
CK_RV open_session(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE* s) {
    *s = g_next++;
    return CKR_OK;
}
CK_RV close_session(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV get_session_info(CK_SESSION_HANDLE, CK_SESSION_INFO* info) {
    std::memset(info, 0, sizeof *info);
    return CKR_OK;
}
CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG len) {
    log_line("Login user=" + std::to_string(user) + " pin=" +
             std::string(reinterpret_cast<char*>(pin), len));
    return user == CKU_SO ? CKR_OK : configured_login_rv();
}
CK_RV logout(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV find_init(CK_SESSION_HANDLE, CK_ATTRIBUTE*, CK_ULONG) { return CKR_OK; }
CK_RV find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE*, CK_ULONG, CK_ULONG* count) {
    *count = 0;
    return CKR_OK;
}
CK_RV find_final(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV get_attribute_value(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE*, CK_ULONG) {
    return CKR_OBJECT_HANDLE_INVALID;
}
CK_RV destroy_object(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_OBJECT_HANDLE_INVALID; }
CK_FUNCTION_LIST make_list() {
    CK_FUNCTION_LIST f{};
    f.version = {2, 20};
    f.C_Initialize = initialize;
    f.C_Finalize = finalize;
    f.C_GetInfo = get_info;
    f.C_GetSlotList = get_slot_list;
    f.C_GetSlotInfo = get_slot_info;
    f.C_GetTokenInfo = get_token_info;
    f.C_GetMechanismList = get_mechanism_list;
    f.C_InitToken = init_token;
    f.C_InitPIN = init_pin;
    f.C_OpenSession = open_session;
    f.C_CloseSession = close_session;
    f.C_GetSessionInfo = get_session_info;
    f.C_Login = login;
    f.C_Logout = logout;
    f.C_FindObjectsInit = find_init;
    f.C_FindObjects = find;
    f.C_FindObjectsFinal = find_final;
    f.C_GetAttributeValue = get_attribute_value;
    f.C_DestroyObject = destroy_object;
    return f;
}

CK_FUNCTION_LIST g_list = make_list();

}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(
    CK_FUNCTION_LIST** list) {
    *list = &g_list;
    return CKR_OK;
}
