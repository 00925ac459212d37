// The token utilities behind the program's commands: initialise a token,
// read its information, list its objects, remove keys and certificates.

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "admin/cert_path.h"
#include "admin/console.h"
#include "admin/tasset.h"
#include "crypto/cadb/passwd.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/tokenstore/token_lock.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

// A token that claims a larger maximum PIN still gets a buffer of sane size.
constexpr CK_ULONG kPinCap = 1024;

// Secret bytes wiped however the holder goes.
struct Wiped {
    std::vector<char> bytes;
    ~Wiped() {
        if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};
struct EncodedPin {
    char* text = nullptr;
    int len = 0;
    ~EncodedPin() {
        if (text != nullptr) OPENSSL_clear_free(text, static_cast<std::size_t>(len) + 1);
    }
};
struct Label {
    char* text = nullptr;
    ~Label() { OPENSSL_free(text); }
};

// Closes a session opened by hand on every path.
struct Session {
    CK_FUNCTION_LIST* f = nullptr;
    CK_SESSION_HANDLE handle = 0;
    ~Session() {
        if (handle != 0) f->C_CloseSession(handle);
    }
};

// Asks the PIN callback for one PIN and encodes it for the token; false
// when there is none or the token would not take its length (in bytes as
// the token gets it, so a PIN of characters that take several is measured
// as it will be sent).
bool ask_pin(PKCS11_PASSWD_CB cb, Wiped& buffer, CK_ULONG min, CK_ULONG max, int rwflag,
             const char* root, EncodedPin& out) {
    const int n = cb(buffer.bytes.data(), static_cast<int>(max), rwflag, const_cast<char*>(root));
    if (n < 0 || static_cast<CK_ULONG>(n) > max) return false;
    out.text = PASSWD_encode(buffer.bytes.data(), n, &out.len);
    OPENSSL_cleanse(buffer.bytes.data(), buffer.bytes.size());
    if (out.text == nullptr) return false;
    const auto len = static_cast<CK_ULONG>(out.len);
    return len >= min && len <= max;
}

// The label field: 32 blanks with the label over the start, cut so that no
// UTF-8 character is split.
void fill_label(const char* label, CK_UTF8CHAR field[TASSET_LABEL_SIZE]) {
    std::memset(field, ' ', TASSET_LABEL_SIZE);
    std::size_t n = std::strlen(label);
    if (n > TASSET_LABEL_SIZE) {
        n = TASSET_LABEL_SIZE;
        while (n > 0 && (static_cast<unsigned char>(label[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(field, label, n);
}

// A context on the root path, opened, optionally logged in (no force).
PKCS11_OBJ_ptr open_token(const char* root, bool login) {
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    if (!ctx || !PKCS11_OBJ_set_path(ctx.get(), root) || !PKCS11_OBJ_open(ctx.get())) return {};
    if (login && !PKCS11_OBJ_login(ctx.get(), 0)) return {};
    return ctx;
}

enum class Read { ok, unreadable, failed };

// One attribute of the current object. An attribute the object lacks, or
// one it keeps secret, is unreadable, not a failure: the listing shows what
// it can.
Read read_attribute(PKCS11_OBJ* ctx, CK_ATTRIBUTE_TYPE type, std::vector<unsigned char>& out) {
    constexpr CK_RV kSensitive = 0x011;
    CK_FUNCTION_LIST* f = ctx->module->functions;
    CK_ATTRIBUTE a{type, nullptr, 0};
    CK_RV rv = f->C_GetAttributeValue(ctx->session, ctx->object, &a, 1);
    if (rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == kSensitive ||
        (rv == CKR_OK && a.ulValueLen == CK_UNAVAILABLE_INFORMATION))
        return Read::unreadable;
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(PKCS11_F_PKCS11_OBJ_GET_ATTRIBUTE, ERR_R_INTERNAL, rv);
        return Read::failed;
    }
    try {
        out.assign(a.ulValueLen, 0);
    } catch (const std::exception&) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_GET_ATTRIBUTE, ERR_R_MALLOC);
        return Read::failed;
    }
    const CK_ULONG room = out.size();
    a.pValue = out.empty() ? nullptr : out.data();
    a.ulValueLen = room;
    if (room == 0) return Read::ok;
    rv = f->C_GetAttributeValue(ctx->session, ctx->object, &a, 1);
    if (rv != CKR_OK || a.ulValueLen > room) {
        if (rv == CKR_OK) rv = CKR_GENERAL_ERROR;
        PKCS11_RV_ERR(PKCS11_F_PKCS11_OBJ_GET_ATTRIBUTE, ERR_R_INTERNAL, rv);
        return Read::failed;
    }
    out.resize(a.ulValueLen);
    return Read::ok;
}

// CKA_ID is the object's name in the token's name encoding with no
// terminator: printed by its length, in the terminal's encoding when it is
// text, else as hex bytes.
void print_id(FILE* out, const std::vector<unsigned char>& id) {
    const std::string utf8(id.begin(), id.end());
    bool text = !id.empty();
    for (unsigned char c : id) text = text && c >= 0x20 && c != 0x7F;
    std::string local;
    if (text && console::convert(kUtf8, kUtf8, utf8, local)) {
        console::print_utf8(out, utf8);
        return;
    }
    for (unsigned char c : id) std::fprintf(out, "%02X", c);
}

// The labelled hex dump of a value: the label and its length, then 16 bytes
// a line.
void print_value(FILE* out, const char* label, const std::vector<unsigned char>& value) {
    std::fprintf(out, "%s (%zu bytes):", label, value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (i % 16 == 0) std::fputs("\n    ", out);
        std::fprintf(out, "%02x%s", value[i], i + 1 < value.size() && i % 16 != 15 ? " " : "");
    }
}

struct Group {
    const char* heading;
    CK_OBJECT_CLASS cls;
    CK_ULONG category;  // 0: any
    bool verbose_only;
};

constexpr Group kGroups[] = {
    {"\nPrivate keys:\n", CKO_PRIVATE_KEY, 0, false},
    {"\nPublic keys:\n", CKO_PUBLIC_KEY, 0, true},
    {"\nUser certificates:\n", CKO_CERTIFICATE, TASSET_CERT_USER, false},
    {"\nCA certificates:\n", CKO_CERTIFICATE, TASSET_CERT_AUTHORITY, false},
};

bool list_group(PKCS11_OBJ* ctx, const Group& g, bool verbose, FILE* out) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
    if (!t || !PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CLASS, g.cls) ||
        (g.category != 0 &&
         !PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CERTIFICATE_CATEGORY, g.category)))
        return false;
    std::vector<CK_OBJECT_HANDLE> found;
    if (!pkcs11::find_all(ctx, t.get(), &found)) return false;
    std::fputs(g.heading, out);
    for (CK_OBJECT_HANDLE h : found) {
        ctx->object = h;
        std::vector<unsigned char> bytes;
        const Read id = read_attribute(ctx, CKA_ID, bytes);
        if (id == Read::failed) return false;
        if (id == Read::ok) print_id(out, bytes);
        if (verbose) {
            std::vector<unsigned char> value;
            const Read r = read_attribute(ctx, CKA_VALUE, value);
            if (r == Read::failed) return false;
            if (r == Read::ok) {
                std::fputs("\n", out);
                print_value(out, "value", value);
            }
            OPENSSL_cleanse(value.data(), value.size());
        }
        std::fputs("\n", out);
    }
    ctx->object = 0;
    return true;
}

// A key's CKA_ID: the name as the library reads a key's plain name.
char* key_id(const char*, const char* name) { return PKCS11_path_get_label(name, nullptr); }

// A certificate's CKA_ID: the name as its import stored it.
char* certificate_id(const char* root, const char* name) {
    try {
        std::string module_part;
        return PKCS11_path_get_label(certificate_path(root, name).c_str(), &module_part);
    } catch (const std::exception&) {
        return nullptr;
    }
}

// The removals share everything but how the name is read and the
// destroyer, which removes every object of its kind bearing the name (for a
// key, the private and the public half alike, whichever are there) and
// succeeds when none does. It runs in one hold of the token's lock, so it
// meets no other writer's half-made change, and it decides from its own
// search inside the hold, never from a view older than the hold.
int remove_named(const char* root, const char* name, int func,
                 char* (*id_of)(const char* root, const char* name),
                 int (*destroy)(PKCS11_OBJ*, const char*)) {
    if (root == nullptr || name == nullptr || *name == '\0') {
        PKCS11_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Label id;
    id.text = id_of(root, name);
    if (id.text == nullptr) {
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return 0;
    }
    PKCS11_OBJ_ptr ctx = open_token(root, true);
    TokenLock token;
    if (!ctx || !token.acquire(ctx.get(), 0) || !destroy(ctx.get(), id.text)) {
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return 0;
    }
    return 1;
}

}  // namespace

int Tasset_init_token(const char* root, const char* label) {
    constexpr int F = PKCS11_F_TASSET_INIT_TOKEN;
    if (root == nullptr || label == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    std::string module_name;
    if (!PKCS11_path_parse(root, &module_name, nullptr)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    PKCS11_MODULE_ptr module(PKCS11_MODULE_get_by_name(module_name.c_str()));
    CK_SLOT_ID slot = 0;
    if (!module || !PKCS11_get_slot(root, &slot)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    CK_FUNCTION_LIST* f = module->functions;
    CK_TOKEN_INFO info{};
    CK_RV rv = f->C_GetTokenInfo(slot, &info);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    const CK_ULONG max_pin =
        std::min(info.ulMaxPinLen == 0 ? PKCS11_DEFAULT_MAX_PIN : info.ulMaxPinLen, kPinCap);

    PKCS11_OBJ_ptr holder(PKCS11_OBJ_new());
    if (!holder || holder->pin_cb == nullptr) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    Wiped buffer;
    try {
        buffer.bytes.assign(max_pin + 1, 0);
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    // Both PINs are asked and checked before the token is touched:
    // C_InitToken wipes it, and a user PIN refused after that would leave it
    // empty, relabelled and with no user PIN.
    EncodedPin so_pin;
    EncodedPin user_pin;
    if (!ask_pin(holder->pin_cb, buffer, info.ulMinPinLen, max_pin, 1, root, so_pin) ||
        !ask_pin(holder->pin_cb, buffer, info.ulMinPinLen, max_pin, 0, root, user_pin)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    CK_UTF8CHAR field[TASSET_LABEL_SIZE];
    fill_label(label, field);

    rv = f->C_InitToken(slot, reinterpret_cast<CK_UTF8CHAR*>(so_pin.text),
                        static_cast<CK_ULONG>(so_pin.len), field);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    Session session{f, 0};
    rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                          &session.handle);
    if (rv != CKR_OK) {
        session.handle = 0;
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    rv = f->C_Login(session.handle, CKU_SO, reinterpret_cast<CK_UTF8CHAR*>(so_pin.text),
                    static_cast<CK_ULONG>(so_pin.len));
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    rv = f->C_InitPIN(session.handle, reinterpret_cast<CK_UTF8CHAR*>(user_pin.text),
                      static_cast<CK_ULONG>(user_pin.len));
    const CK_RV logout = f->C_Logout(session.handle);
    if (rv == CKR_OK) rv = logout;
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return 1;
}

int Tasset_get_token_info(const char* root, char manufacturer[32], char model[16],
                          char serial[16]) {
    if (root == nullptr || manufacturer == nullptr || model == nullptr || serial == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_OPEN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    PKCS11_OBJ_ptr ctx = open_token(root, false);
    if (!ctx) return 0;
    std::memcpy(manufacturer, ctx->token_info.manufacturerID, 32);
    std::memcpy(model, ctx->token_info.model, 16);
    std::memcpy(serial, ctx->token_info.serialNumber, 16);
    ERR_clear_error();
    return 1;
}

int Tasset_list_objects(const char* root, int verbose, FILE* out) {
    if (root == nullptr || out == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_OPEN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    PKCS11_OBJ_ptr ctx = open_token(root, true);
    if (!ctx) return 0;
    for (const Group& g : kGroups) {
        if (g.verbose_only && verbose == 0) continue;
        if (!list_group(ctx.get(), g, verbose != 0, out)) return 0;
    }
    std::fputs("\n", out);
    ERR_clear_error();
    return 1;
}

int Tasset_remove_key(const char* root, const char* name) {
    return remove_named(root, name, PKCS11_F_TASSET_REMOVE_KEY, key_id, PKCS11_OBJ_destroy_keys);
}

int Tasset_remove_certificate(const char* root, const char* name) {
    return remove_named(root, name, PKCS11_F_TASSET_REMOVE_CERTIFICATE, certificate_id,
                        PKCS11_OBJ_destroy_certificates);
}

}  // namespace cadb
