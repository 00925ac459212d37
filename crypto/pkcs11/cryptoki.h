// The part of the PKCS#11 v2.x interface this library calls, written from the
// public standard. Linux ABI: CK_ULONG is the platform's unsigned long and
// every structure has the platform's natural alignment, as modules built for
// Linux (SoftHSM2 among them) expect; the 1-byte packing of Windows modules
// does not apply here. So CK_TOKEN_INFO is 208 bytes on x86-64, not 160.
#pragma once

namespace cadb {

using CK_BYTE = unsigned char;
using CK_CHAR = unsigned char;
using CK_UTF8CHAR = unsigned char;
using CK_BBOOL = unsigned char;
using CK_ULONG = unsigned long;
using CK_LONG = long;
using CK_FLAGS = CK_ULONG;
using CK_RV = CK_ULONG;
using CK_SLOT_ID = CK_ULONG;
using CK_SESSION_HANDLE = CK_ULONG;
using CK_OBJECT_HANDLE = CK_ULONG;
using CK_OBJECT_CLASS = CK_ULONG;
using CK_KEY_TYPE = CK_ULONG;
using CK_CERTIFICATE_TYPE = CK_ULONG;
using CK_ATTRIBUTE_TYPE = CK_ULONG;
using CK_MECHANISM_TYPE = CK_ULONG;
using CK_USER_TYPE = CK_ULONG;
using CK_STATE = CK_ULONG;
using CK_NOTIFICATION = CK_ULONG;
using CK_VOID_PTR = void*;

inline constexpr CK_BBOOL CK_TRUE = 1;
inline constexpr CK_BBOOL CK_FALSE = 0;
inline constexpr CK_ULONG CK_UNAVAILABLE_INFORMATION = ~0UL;

// Return values.
inline constexpr CK_RV CKR_OK = 0x000;
inline constexpr CK_RV CKR_HOST_MEMORY = 0x002;
inline constexpr CK_RV CKR_SLOT_ID_INVALID = 0x003;
inline constexpr CK_RV CKR_GENERAL_ERROR = 0x005;
inline constexpr CK_RV CKR_FUNCTION_FAILED = 0x006;
inline constexpr CK_RV CKR_ARGUMENTS_BAD = 0x007;
inline constexpr CK_RV CKR_ATTRIBUTE_SENSITIVE = 0x011;
inline constexpr CK_RV CKR_ATTRIBUTE_TYPE_INVALID = 0x012;
inline constexpr CK_RV CKR_DEVICE_REMOVED = 0x032;
inline constexpr CK_RV CKR_OBJECT_HANDLE_INVALID = 0x082;
inline constexpr CK_RV CKR_PIN_INCORRECT = 0x0A0;
inline constexpr CK_RV CKR_PIN_LOCKED = 0x0A4;
inline constexpr CK_RV CKR_SESSION_HANDLE_INVALID = 0x0B3;
inline constexpr CK_RV CKR_TOKEN_NOT_PRESENT = 0x0E0;
inline constexpr CK_RV CKR_USER_ALREADY_LOGGED_IN = 0x100;
inline constexpr CK_RV CKR_USER_NOT_LOGGED_IN = 0x101;
inline constexpr CK_RV CKR_BUFFER_TOO_SMALL = 0x150;
inline constexpr CK_RV CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
inline constexpr CK_RV CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x191;

// Flags.
inline constexpr CK_FLAGS CKF_TOKEN_PRESENT = 0x001;
inline constexpr CK_FLAGS CKF_OS_LOCKING_OK = 0x002;
inline constexpr CK_FLAGS CKF_LOGIN_REQUIRED = 0x004;
inline constexpr CK_FLAGS CKF_RW_SESSION = 0x002;
inline constexpr CK_FLAGS CKF_SERIAL_SESSION = 0x004;
inline constexpr CK_FLAGS CKF_PROTECTED_AUTHENTICATION_PATH = 0x100;

// Users and session states.
inline constexpr CK_USER_TYPE CKU_SO = 0;
inline constexpr CK_USER_TYPE CKU_USER = 1;
inline constexpr CK_STATE CKS_RW_USER_FUNCTIONS = 3;
inline constexpr CK_STATE CKS_RW_SO_FUNCTIONS = 4;

// Object classes, key and certificate types.
inline constexpr CK_OBJECT_CLASS CKO_DATA = 0;
inline constexpr CK_OBJECT_CLASS CKO_CERTIFICATE = 1;
inline constexpr CK_OBJECT_CLASS CKO_PUBLIC_KEY = 2;
inline constexpr CK_OBJECT_CLASS CKO_PRIVATE_KEY = 3;
inline constexpr CK_OBJECT_CLASS CKO_SECRET_KEY = 4;
inline constexpr CK_CERTIFICATE_TYPE CKC_X_509 = 0;
inline constexpr CK_KEY_TYPE CKK_GOSTR3410 = 0x30;
inline constexpr CK_KEY_TYPE CKK_GOST28147 = 0x32;

// Attributes.
inline constexpr CK_ATTRIBUTE_TYPE CKA_CLASS = 0x000;
inline constexpr CK_ATTRIBUTE_TYPE CKA_TOKEN = 0x001;
inline constexpr CK_ATTRIBUTE_TYPE CKA_PRIVATE = 0x002;
inline constexpr CK_ATTRIBUTE_TYPE CKA_LABEL = 0x003;
inline constexpr CK_ATTRIBUTE_TYPE CKA_APPLICATION = 0x010;
inline constexpr CK_ATTRIBUTE_TYPE CKA_VALUE = 0x011;
inline constexpr CK_ATTRIBUTE_TYPE CKA_OBJECT_ID = 0x012;
inline constexpr CK_ATTRIBUTE_TYPE CKA_CERTIFICATE_TYPE = 0x080;
inline constexpr CK_ATTRIBUTE_TYPE CKA_CERTIFICATE_CATEGORY = 0x087;
inline constexpr CK_ATTRIBUTE_TYPE CKA_SUBJECT = 0x101;
inline constexpr CK_ATTRIBUTE_TYPE CKA_ID = 0x102;
inline constexpr CK_ATTRIBUTE_TYPE CKA_KEY_TYPE = 0x100;
inline constexpr CK_ATTRIBUTE_TYPE CKA_SENSITIVE = 0x103;
inline constexpr CK_ATTRIBUTE_TYPE CKA_UNWRAP = 0x107;
inline constexpr CK_ATTRIBUTE_TYPE CKA_SIGN = 0x108;
inline constexpr CK_ATTRIBUTE_TYPE CKA_VERIFY = 0x10A;
inline constexpr CK_ATTRIBUTE_TYPE CKA_DERIVE = 0x10C;
inline constexpr CK_ATTRIBUTE_TYPE CKA_EXTRACTABLE = 0x162;
inline constexpr CK_ATTRIBUTE_TYPE CKA_GOSTR3410_PARAMS = 0x250;
inline constexpr CK_ATTRIBUTE_TYPE CKA_GOSTR3411_PARAMS = 0x251;
inline constexpr CK_ATTRIBUTE_TYPE CKA_GOST28147_PARAMS = 0x252;

// Mechanisms.
inline constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_KEY_PAIR_GEN = 0x1200;
inline constexpr CK_MECHANISM_TYPE CKM_GOSTR3410 = 0x1201;
inline constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_KEY_WRAP = 0x1203;
inline constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_DERIVE = 0x1204;
inline constexpr CK_MECHANISM_TYPE CKM_GOSTR3411 = 0x1210;

// Key derivation functions of the GOST agreement mechanism.
using CK_EC_KDF_TYPE = CK_ULONG;
inline constexpr CK_EC_KDF_TYPE CKD_NULL = 1;

struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
};

struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
};

struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
};

struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_CHAR serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_CHAR utcTime[16];
};

struct CK_SESSION_INFO {
    CK_SLOT_ID slotID;
    CK_STATE state;
    CK_FLAGS flags;
    CK_ULONG ulDeviceError;
};

struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
};

struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;
};

// Parameters of CKM_GOSTR3410_DERIVE: the peer's public key (x then y,
// little-endian) and the user keying material.
struct CK_GOSTR3410_DERIVE_PARAMS {
    CK_EC_KDF_TYPE kdf;
    CK_BYTE* pPublicData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE* pUKM;
    CK_ULONG ulUKMLen;
};

// Parameters of CKM_GOSTR3410_KEY_WRAP; all zero when the wrapped key
// carries them itself (a GostR3410-KeyTransport structure).
struct CK_GOSTR3410_KEY_WRAP_PARAMS {
    CK_BYTE* pWrapOID;
    CK_ULONG ulWrapOIDLen;
    CK_BYTE* pUKM;
    CK_ULONG ulUKMLen;
    CK_OBJECT_HANDLE hKey;
};

struct CK_MECHANISM_INFO {
    CK_ULONG ulMinKeySize;
    CK_ULONG ulMaxKeySize;
    CK_FLAGS flags;
};

extern "C" {
using CK_CREATEMUTEX = CK_RV (*)(CK_VOID_PTR* mutex);
using CK_DESTROYMUTEX = CK_RV (*)(CK_VOID_PTR mutex);
using CK_LOCKMUTEX = CK_RV (*)(CK_VOID_PTR mutex);
using CK_UNLOCKMUTEX = CK_RV (*)(CK_VOID_PTR mutex);
using CK_NOTIFY = CK_RV (*)(CK_SESSION_HANDLE, CK_NOTIFICATION, CK_VOID_PTR);
}

struct CK_C_INITIALIZE_ARGS {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    CK_VOID_PTR pReserved;
};

struct CK_FUNCTION_LIST;

extern "C" {
using CK_C_GetFunctionList = CK_RV (*)(CK_FUNCTION_LIST** list);
using CK_UNUSED_ENTRY = void (*)();
}

// The entries of the function list this library calls.
extern "C" {
using CK_C_Initialize = CK_RV (*)(CK_VOID_PTR init_args);
using CK_C_Finalize = CK_RV (*)(CK_VOID_PTR reserved);
using CK_C_GetInfo = CK_RV (*)(CK_INFO* info);
using CK_C_GetSlotList = CK_RV (*)(CK_BBOOL token_present, CK_SLOT_ID* slots, CK_ULONG* count);
using CK_C_GetSlotInfo = CK_RV (*)(CK_SLOT_ID slot, CK_SLOT_INFO* info);
using CK_C_GetTokenInfo = CK_RV (*)(CK_SLOT_ID slot, CK_TOKEN_INFO* info);
using CK_C_GetMechanismList = CK_RV (*)(CK_SLOT_ID slot, CK_MECHANISM_TYPE* list, CK_ULONG* count);
using CK_C_GetMechanismInfo = CK_RV (*)(CK_SLOT_ID slot, CK_MECHANISM_TYPE type,
                                        CK_MECHANISM_INFO* info);
using CK_C_InitToken = CK_RV (*)(CK_SLOT_ID slot, CK_UTF8CHAR* pin, CK_ULONG pin_len,
                                 CK_UTF8CHAR* label);
using CK_C_InitPIN = CK_RV (*)(CK_SESSION_HANDLE session, CK_UTF8CHAR* pin, CK_ULONG pin_len);
using CK_C_CloseSession = CK_RV (*)(CK_SESSION_HANDLE session);
using CK_C_CloseAllSessions = CK_RV (*)(CK_SLOT_ID slot);
using CK_C_GetSessionInfo = CK_RV (*)(CK_SESSION_HANDLE session, CK_SESSION_INFO* info);
using CK_C_Logout = CK_RV (*)(CK_SESSION_HANDLE session);
using CK_C_DestroyObject = CK_RV (*)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
using CK_C_FindObjectsInit = CK_RV (*)(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ,
                                       CK_ULONG count);
using CK_C_FindObjectsFinal = CK_RV (*)(CK_SESSION_HANDLE session);
using CK_C_DigestInit = CK_RV (*)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism);
using CK_C_SignInit = CK_RV (*)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                                CK_OBJECT_HANDLE key);
using CK_C_SetPIN = CK_RV (*)(CK_SESSION_HANDLE session, CK_UTF8CHAR* old_pin, CK_ULONG old_len,
                              CK_UTF8CHAR* new_pin, CK_ULONG new_len);
using CK_C_OpenSession = CK_RV (*)(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application,
                                   CK_NOTIFY notify, CK_SESSION_HANDLE* session);
using CK_C_Login = CK_RV (*)(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin,
                             CK_ULONG pin_len);
using CK_C_CreateObject = CK_RV (*)(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count,
                                    CK_OBJECT_HANDLE* object);
using CK_C_GetAttributeValue = CK_RV (*)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                         CK_ATTRIBUTE* templ, CK_ULONG count);
using CK_C_SetAttributeValue = CK_RV (*)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                         CK_ATTRIBUTE* templ, CK_ULONG count);
using CK_C_FindObjects = CK_RV (*)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* objects,
                                   CK_ULONG max, CK_ULONG* count);
using CK_C_Digest = CK_RV (*)(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG len,
                              CK_BYTE* digest, CK_ULONG* digest_len);
using CK_C_Sign = CK_RV (*)(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG len,
                            CK_BYTE* signature, CK_ULONG* signature_len);
using CK_C_GenerateKeyPair = CK_RV (*)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                                       CK_ATTRIBUTE* public_templ, CK_ULONG public_count,
                                       CK_ATTRIBUTE* private_templ, CK_ULONG private_count,
                                       CK_OBJECT_HANDLE* public_key, CK_OBJECT_HANDLE* private_key);
using CK_C_UnwrapKey = CK_RV (*)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                                 CK_OBJECT_HANDLE unwrapping_key, CK_BYTE* wrapped,
                                 CK_ULONG wrapped_len, CK_ATTRIBUTE* templ, CK_ULONG count,
                                 CK_OBJECT_HANDLE* key);
using CK_C_DeriveKey = CK_RV (*)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                                 CK_OBJECT_HANDLE base_key, CK_ATTRIBUTE* templ, CK_ULONG count,
                                 CK_OBJECT_HANDLE* key);
}

// The function list, entries in the standard's order. Entries this library
// never calls keep an untyped slot so that the layout stays exact.
struct CK_FUNCTION_LIST {
    CK_VERSION version;
    CK_C_Initialize C_Initialize;
    CK_C_Finalize C_Finalize;
    CK_C_GetInfo C_GetInfo;
    CK_C_GetFunctionList C_GetFunctionList;
    CK_C_GetSlotList C_GetSlotList;
    CK_C_GetSlotInfo C_GetSlotInfo;
    CK_C_GetTokenInfo C_GetTokenInfo;
    CK_C_GetMechanismList C_GetMechanismList;
    CK_C_GetMechanismInfo C_GetMechanismInfo;
    CK_C_InitToken C_InitToken;
    CK_C_InitPIN C_InitPIN;
    CK_C_SetPIN C_SetPIN;
    CK_C_OpenSession C_OpenSession;
    CK_C_CloseSession C_CloseSession;
    CK_C_CloseAllSessions C_CloseAllSessions;
    CK_C_GetSessionInfo C_GetSessionInfo;
    CK_UNUSED_ENTRY C_GetOperationState;
    CK_UNUSED_ENTRY C_SetOperationState;
    CK_C_Login C_Login;
    CK_C_Logout C_Logout;
    CK_C_CreateObject C_CreateObject;
    CK_UNUSED_ENTRY C_CopyObject;
    CK_C_DestroyObject C_DestroyObject;
    CK_UNUSED_ENTRY C_GetObjectSize;
    CK_C_GetAttributeValue C_GetAttributeValue;
    CK_C_SetAttributeValue C_SetAttributeValue;
    CK_C_FindObjectsInit C_FindObjectsInit;
    CK_C_FindObjects C_FindObjects;
    CK_C_FindObjectsFinal C_FindObjectsFinal;
    CK_UNUSED_ENTRY C_EncryptInit;
    CK_UNUSED_ENTRY C_Encrypt;
    CK_UNUSED_ENTRY C_EncryptUpdate;
    CK_UNUSED_ENTRY C_EncryptFinal;
    CK_UNUSED_ENTRY C_DecryptInit;
    CK_UNUSED_ENTRY C_Decrypt;
    CK_UNUSED_ENTRY C_DecryptUpdate;
    CK_UNUSED_ENTRY C_DecryptFinal;
    CK_C_DigestInit C_DigestInit;
    CK_C_Digest C_Digest;
    CK_UNUSED_ENTRY C_DigestUpdate;
    CK_UNUSED_ENTRY C_DigestKey;
    CK_UNUSED_ENTRY C_DigestFinal;
    CK_C_SignInit C_SignInit;
    CK_C_Sign C_Sign;
    CK_UNUSED_ENTRY C_SignUpdate;
    CK_UNUSED_ENTRY C_SignFinal;
    CK_UNUSED_ENTRY C_SignRecoverInit;
    CK_UNUSED_ENTRY C_SignRecover;
    CK_UNUSED_ENTRY C_VerifyInit;
    CK_UNUSED_ENTRY C_Verify;
    CK_UNUSED_ENTRY C_VerifyUpdate;
    CK_UNUSED_ENTRY C_VerifyFinal;
    CK_UNUSED_ENTRY C_VerifyRecoverInit;
    CK_UNUSED_ENTRY C_VerifyRecover;
    CK_UNUSED_ENTRY C_DigestEncryptUpdate;
    CK_UNUSED_ENTRY C_DecryptDigestUpdate;
    CK_UNUSED_ENTRY C_SignEncryptUpdate;
    CK_UNUSED_ENTRY C_DecryptVerifyUpdate;
    CK_UNUSED_ENTRY C_GenerateKey;
    CK_C_GenerateKeyPair C_GenerateKeyPair;
    CK_UNUSED_ENTRY C_WrapKey;
    CK_C_UnwrapKey C_UnwrapKey;
    CK_C_DeriveKey C_DeriveKey;
    CK_UNUSED_ENTRY C_SeedRandom;
    CK_UNUSED_ENTRY C_GenerateRandom;
    CK_UNUSED_ENTRY C_GetFunctionStatus;
    CK_UNUSED_ENTRY C_CancelFunction;
    CK_UNUSED_ENTRY C_WaitForSlotEvent;
};

}  // namespace cadb
