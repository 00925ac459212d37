// A PKCS#11 module of the tests' own (see tests/pkcs11/fake_module.h): one
// token per slot, PIN "1234", a single data object with handle 7.
#include <cstring>

#include "tests/pkcs11/fake_module.h"

using namespace cadb;
using cadb::testing::FakeConfig;
using cadb::testing::FakeCounters;

namespace {

FakeConfig g_config;
FakeCounters g_counters;
bool g_logged_in = false;
bool g_find_done = false;
CK_SESSION_HANDLE g_next_session = 1;
int g_slot_fetches = 0;

CK_RV initialize(CK_VOID_PTR) {
    ++g_counters.initialize;
    return g_config.initialize_rv;
}
CK_RV finalize(CK_VOID_PTR) {
    ++g_counters.finalize;
    return CKR_OK;
}
CK_RV get_info(CK_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 20};
    return CKR_OK;
}
CK_RV get_slot_list(CK_BBOOL, CK_SLOT_ID* slots, CK_ULONG* count) {
    CK_ULONG n = g_config.slot_count;
    if (slots == nullptr) {
        *count = n;
        return CKR_OK;
    }
    if (g_config.grow_slots_once && g_slot_fetches++ == 0) ++n;
    if (*count < n) {
        *count = n;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < n; ++i) slots[i] = 100 + i;
    *count = g_config.overstate_slots ? n + 5 : n;
    return CKR_OK;
}
CK_RV get_slot_info(CK_SLOT_ID, CK_SLOT_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->flags = CKF_TOKEN_PRESENT;
    return CKR_OK;
}
CK_RV get_token_info(CK_SLOT_ID, CK_TOKEN_INFO* info) {
    std::memset(info, ' ', sizeof *info);
    info->flags = g_config.token_flags;
    info->ulMaxPinLen = g_config.max_pin_len;
    info->ulMinPinLen = 4;
    return CKR_OK;
}
CK_RV get_mechanism_list(CK_SLOT_ID, CK_MECHANISM_TYPE* list, CK_ULONG* count) {
    if (list != nullptr && *count >= 1) list[0] = CKM_GOSTR3410;
    *count = 1;
    return CKR_OK;
}
CK_RV open_session(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE* session) {
    *session = g_next_session++;
    ++g_counters.open_sessions;
    return CKR_OK;
}
CK_RV close_session(CK_SESSION_HANDLE) {
    --g_counters.open_sessions;
    return CKR_OK;
}
CK_RV get_session_info(CK_SESSION_HANDLE, CK_SESSION_INFO* info) {
    std::memset(info, 0, sizeof *info);
    info->state = g_logged_in ? CKS_RW_USER_FUNCTIONS : 2;
    return CKR_OK;
}
CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR* pin, CK_ULONG len) {
    ++g_counters.login;
    g_counters.last_pin_len = len;
    if (len != 4 || std::memcmp(pin, "1234", 4) != 0) return CKR_PIN_INCORRECT;
    g_logged_in = true;
    return CKR_OK;
}
CK_RV logout(CK_SESSION_HANDLE) {
    if (!g_logged_in) return CKR_USER_NOT_LOGGED_IN;
    g_logged_in = false;
    return CKR_OK;
}
CK_RV destroy_object(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_OK; }
CK_RV get_attribute_value(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE* t, CK_ULONG) {
    static const char kValue[] = "fake value";
    const CK_ULONG n = sizeof kValue - 1;
    if (g_config.unavailable_attribute) {
        t->ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_OK;
    }
    if (t->pValue != nullptr) {
        std::memcpy(t->pValue, kValue, t->ulValueLen < n ? t->ulValueLen : n);
        if (g_config.overstate_attribute) {
            t->ulValueLen += 100;
            return CKR_OK;
        }
        if (t->ulValueLen < n) return CKR_BUFFER_TOO_SMALL;
    }
    t->ulValueLen = n;
    return CKR_OK;
}
CK_RV find_init(CK_SESSION_HANDLE, CK_ATTRIBUTE*, CK_ULONG) {
    if (g_config.refuse_find) return CKR_DEVICE_REMOVED;
    g_find_done = false;
    return CKR_OK;
}
CK_RV find(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* objects, CK_ULONG, CK_ULONG* count) {
    *count = 0;
    if (g_find_done && !g_config.repeat_find) return CKR_OK;
    objects[0] = 7;
    *count = 1;
    g_find_done = true;
    return CKR_OK;
}
CK_RV find_final(CK_SESSION_HANDLE) { return CKR_OK; }

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
    f.C_OpenSession = open_session;
    f.C_CloseSession = close_session;
    f.C_GetSessionInfo = get_session_info;
    f.C_Login = login;
    f.C_Logout = logout;
    f.C_DestroyObject = destroy_object;
    f.C_GetAttributeValue = get_attribute_value;
    f.C_FindObjectsInit = find_init;
    f.C_FindObjects = find;
    f.C_FindObjectsFinal = find_final;
    return f;
}

CK_FUNCTION_LIST g_list = make_list();

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
    *list = &g_list;
    return CKR_OK;
}

__attribute__((visibility("default"))) void cadb_fake_configure(const FakeConfig* config) {
    g_config = *config;
    g_logged_in = false;
    g_slot_fetches = 0;
}

__attribute__((visibility("default"))) FakeCounters* cadb_fake_counters() { return &g_counters; }
}
