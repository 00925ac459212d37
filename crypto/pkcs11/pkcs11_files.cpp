#include "crypto/pkcs11/pkcs11_files.h"

#include <openssl/crypto.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/cadb/passwd.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

// CKA_ID values are read into this many bytes; longer ones are skipped.
constexpr CK_ULONG kIdRoom = 260;

std::string with_backslashes(const char* path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

// Splits pkcs11[N]:\module[\name] at the "\" after the module name: false
// when the text is not a PKCS#11 path with ":\"; *has_name tells whether
// that "\" is there.
bool split_path(const char* path, std::string* module_part, std::string* name, bool* has_name) {
    if (path == nullptr || strncasecmp(path, "pkcs11", 6) != 0) return false;
    const std::string p = with_backslashes(path);
    const auto colon = p.find(':');
    if (colon == std::string::npos || colon + 1 >= p.size() || p[colon + 1] != '\\') return false;
    const auto sep = p.find('\\', colon + 2);
    *has_name = sep != std::string::npos;
    *module_part = p.substr(0, *has_name ? sep : p.size());
    name->assign(*has_name ? p.substr(sep + 1) : std::string());
    return true;
}

// An open context on a token path; null with the error queued.
PKCS11_OBJ_ptr open_on(const std::string& path, void* pin_arg) {
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    if (!ctx || !PKCS11_OBJ_set_path(ctx.get(), path.c_str()) ||
        (pin_arg != nullptr && !PKCS11_OBJ_set_pin_arg(ctx.get(), pin_arg)) ||
        !PKCS11_OBJ_open(ctx.get())) {
        return nullptr;
    }
    return ctx;
}

// The current object's CKA_ID, when it has one that fits kIdRoom bytes. A
// missing or oversized identifier is not an error of the caller's
// operation, so neither what it queued nor the token's code stays behind.
bool read_id(PKCS11_OBJ* ctx, std::string* id) {
    std::array<char, kIdRoom> buf{};
    CK_ULONG len = buf.size();
    const unsigned long last_rv = ERR_get_last_rv();
    const int last_rv_kind = ERR_get_last_rv_kind();
    ERR_set_mark();
    const bool ok = PKCS11_OBJ_get_attribute(ctx, CKA_ID, buf.data(), &len) != 0;
    ERR_pop_to_mark();
    ERR_reset_last_rv(last_rv, last_rv_kind);
    if (ok) id->assign(buf.data(), len);
    return ok;
}

// The token keeps names in UTF-8; the caller sees them in the local code
// page, which never needs more bytes.
bool decode_name(const std::string& utf8, std::string* local) {
    if (utf8.empty()) {
        local->clear();
        return true;
    }
    std::string out(utf8.size(), '\0');
    const long n = codepage_convert(
        kUtf8, kLocalCodePage, {reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size()},
        {reinterpret_cast<unsigned char*>(out.data()), out.size()});
    if (n < 0) return false;
    out.resize(static_cast<std::size_t>(n));
    *local = std::move(out);
    return true;
}

// The identifiers of every object matching t, the search ended before the
// caller sees them.
bool collect_ids(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t, std::vector<std::string>* ids) {
    std::vector<CK_OBJECT_HANDLE> found;
    if (!pkcs11::find_all(ctx, t, &found)) return false;
    try {
        for (const CK_OBJECT_HANDLE h : found) {
            ctx->object = h;
            std::string id;
            if (read_id(ctx, &id)) ids->push_back(std::move(id));
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// The template a walk's flags choose, in the order of precedence.
PKCS11_TEMPLATE* walk_template(int flags) {
    if (flags & PKCS11_WALK_PRIVATE_KEYS) return PKCS11_TEMPLATE_private_keys();
    if (flags & PKCS11_WALK_PUBLIC_KEYS) return PKCS11_TEMPLATE_public_keys();
    if (flags & PKCS11_WALK_CERTIFICATES) return PKCS11_TEMPLATE_certificates();
    const CK_ULONG category = (flags & PKCS11_WALK_USER_CERTS) ? 1
                              : (flags & PKCS11_WALK_CA_CERTS) ? 2
                                                               : 0;
    if (category == 0) return nullptr;
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    if (!t || !PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CERTIFICATE_CATEGORY, category)) {
        return nullptr;
    }
    return t.release();
}

std::string trim_separator(const char* s) {
    std::string t(s);
    if (!t.empty() && t.back() == '\\') t.pop_back();
    return t;
}

}  // namespace

char* PKCS11_path_get_label(const char* path, std::string* module_part_out) {
    constexpr int F = PKCS11_F_PKCS11_WALK_DIR;
    if (path == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    std::string module_part;
    std::string name;
    bool has_name = false;
    try {
        const bool is_token_path = split_path(path, &module_part, &name, &has_name);
        if (module_part_out != nullptr) {
            if (!is_token_path || !has_name) return nullptr;
            *module_part_out = module_part;
        } else if (!is_token_path) {
            name = path;
        }
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return nullptr;
    }
    if (name.empty()) return nullptr;
    int len = 0;
    char* label = PASSWD_encode(name.c_str(), static_cast<int>(name.size()), &len);
    if (label == nullptr) PKCS11_ERR(F, ERR_R_INTERNAL);
    return label;
}

int PKCS11_path_get_prefix(const char* path, std::string* out) {
    std::string module_part;
    std::string name;
    bool has_name = false;
    if (out == nullptr || !split_path(path, &module_part, &name, &has_name)) return 0;
    *out = std::move(module_part);
    return 1;
}

int PKCS11_path_is_child(const char* dir, const char* name) {
    if (dir == nullptr || name == nullptr) return 0;
    const std::string parent = trim_separator(dir);
    const std::string child = trim_separator(name);
    const auto last = child.rfind('\\');
    const std::string child_parent =
        last == std::string::npos ? std::string() : child.substr(0, last);
    return child_parent == parent ? 1 : 0;
}

int PKCS11_walk_dir(const char* path, int flags, PKCS11_WALK_CB cb, void* user) {
    constexpr int F = PKCS11_F_PKCS11_WALK_DIR;
    if (cb == nullptr) return 1;
    if (path == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    std::vector<std::string> names;
    try {
        const std::string dir = with_backslashes(path);
        std::string prefix;
        PKCS11_OBJ_ptr ctx = open_on(dir, (flags & PKCS11_WALK_USER_IS_PIN_ARG) ? user : nullptr);
        PKCS11_TEMPLATE_ptr t(walk_template(flags));
        if (!ctx || !t || !PKCS11_path_get_prefix(dir.c_str(), &prefix) ||
            ((flags & PKCS11_WALK_PRIVATE_KEYS) && !PKCS11_OBJ_login(ctx.get(), 0))) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
        std::vector<std::string> ids;
        if (!collect_ids(ctx.get(), t.get(), &ids)) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
        for (const std::string& id : ids) {
            std::string local;
            if (!decode_name(id, &local)) {
                PKCS11_ERR(F, ERR_R_INTERNAL);
                return 0;
            }
            std::string full = prefix + "\\" + local;
            if ((flags & PKCS11_WALK_ALL) || PKCS11_path_is_child(dir.c_str(), full.c_str())) {
                names.push_back(std::move(full));
            }
        }
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    // The token is left alone while the callback runs: it may open
    // contexts of its own.
    for (const std::string& name : names) {
        if (cb(name.c_str(), user) == 0) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
    }
    return 1;
}

int PKCS11_file_exists(const char* path) {
    int found = 0;
    std::string module_part;
    char* label = PKCS11_path_get_label(path, &module_part);
    if (label != nullptr) {
        const std::string name(label);
        OPENSSL_free(label);
        PKCS11_OBJ_ptr ctx = open_on(module_part, nullptr);
        // A token that cannot be asked may hold anything under the name.
        if (!ctx) found = -1;
        // A lone private half bears the name as much as a whole pair does: a
        // writer that took the name for free would destroy it.
        for (auto base : {PKCS11_TEMPLATE_public_keys, PKCS11_TEMPLATE_private_keys,
                          PKCS11_TEMPLATE_certificates}) {
            if (found != 0) break;
            PKCS11_TEMPLATE_ptr t(base());
            std::vector<std::string> ids;
            if (!t || !collect_ids(ctx.get(), t.get(), &ids)) {
                found = -1;
                break;
            }
            found = std::any_of(ids.begin(), ids.end(),
                                [&name](const std::string& id) { return id.starts_with(name); })
                        ? 1
                        : 0;
        }
    }
    ERR_clear_error();
    return found;
}

int PKCS11_file_erase(const char* path) {
    constexpr int F = PKCS11_F_PKCS11_FILE_ERASE;
    if (path == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    std::string module_part;
    char* label = PKCS11_path_get_label(path, &module_part);
    if (label == nullptr) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    const std::string name(label);
    OPENSSL_free(label);
    PKCS11_OBJ_ptr ctx = open_on(module_part, nullptr);
    if (!ctx || !PKCS11_OBJ_login(ctx.get(), 0)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    int ok = 1;
    const int key =
        pkcs11::find_by_status(ctx.get(), PKCS11_TEMPLATE_private_keys, name.c_str(), nullptr, F);
    const int certificate = key != 0
                                ? 0
                                : pkcs11::find_by_status(ctx.get(), PKCS11_TEMPLATE_certificates,
                                                         name.c_str(), nullptr, F);
    if (key < 0 || certificate < 0) {
        ok = 0;
    } else if (key > 0) {
        ok = PKCS11_OBJ_destroy_keys(ctx.get(), name.c_str());
    } else if (certificate > 0) {
        ok = PKCS11_OBJ_destroy_certificates(ctx.get(), name.c_str());
    }
    if (!ok) PKCS11_ERR(F, ERR_R_INTERNAL);
    return ok;
}

}  // namespace cadb
