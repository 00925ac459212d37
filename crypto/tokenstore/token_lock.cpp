#include "crypto/tokenstore/token_lock.h"

#include <string>
#include <string_view>

#include "crypto/core/err.h"
#include "crypto/store/pse_ctx.h"
#include "platform/module.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// Each part of the name is cut here, so that the whole stays well inside a
// file name's bound.
constexpr std::size_t kFieldMax = 64;

// A field of the identity, trimmed of its padding and made a file name's
// part in ASCII whatever the locale, so that every process names one token
// alike. Two tokens whose names collide only share a lock.
void append_field(std::string& out, std::string_view field) {
    while (!field.empty() && (field.back() == ' ' || field.back() == '\0')) field.remove_suffix(1);
    out += '-';
    for (const char c : field.substr(0, kFieldMax)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_';
        out += plain ? c : '_';
    }
}

template <std::size_t N>
std::string_view field_of(const unsigned char (&f)[N]) {
    return {reinterpret_cast<const char*>(f), N};
}

bool refuse(int func, int reason) {
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    CADB_ERR(ERR_LIB_CADB, func, reason);
    return false;
}

}  // namespace

bool TokenLock::acquire(const PKCS11_OBJ* ctx, int func) {
    if (ctx == nullptr || !ctx->module) return refuse(func, ERR_R_INTERNAL);
    const std::string folder = runtime_directory();
    if (folder.empty()) return refuse(func, CADB_R_NO_LOCK_FOLDER);
    std::string module = module_file(ctx->module->library);
    if (module.empty()) module = ctx->module->name;
    std::string name = "token";
    append_field(name, std::string_view(module).substr(module.rfind('/') + 1));
    append_field(name, field_of(ctx->token_info.manufacturerID));
    append_field(name, field_of(ctx->token_info.model));
    append_field(name, field_of(ctx->token_info.serialNumber));
    if (lock_.acquire_file(folder + "/" + name + ".lock", pse_lock_wait())) return true;
    return refuse(func, CADB_R_KEY_STORE_BUSY);
}

}  // namespace cadb
