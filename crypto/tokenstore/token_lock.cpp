#include "crypto/tokenstore/token_lock.h"

#include <new>
#include <string>
#include <string_view>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_local.h"

namespace cadb {
namespace {

template <std::size_t N>
std::string_view field_of(const unsigned char (&f)[N]) {
    return {reinterpret_cast<const char*>(f), N};
}

bool blank(std::string_view field) {
    return field.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos;
}

// The token, not the module file that reached it: a copy of the module or a
// proxy in front of it must meet the same lock.
std::string lock_name(const CK_TOKEN_INFO& info) {
    std::string name = "token";
    device_lock_name_add(name, field_of(info.manufacturerID));
    device_lock_name_add(name, field_of(info.model));
    if (blank(field_of(info.serialNumber)))
        device_lock_name_add(name, field_of(info.label));
    else
        device_lock_name_add(name, field_of(info.serialNumber));
    return name;
}

}  // namespace

bool TokenLock::acquire(PKCS11_OBJ* ctx, int func) {
    if (ctx == nullptr || !ctx->module) {
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
        return false;
    }
    std::string name;
    try {
        name = lock_name(ctx->token_info);
    } catch (const std::bad_alloc&) {
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
        return false;
    }
    if (!lock_.acquire(name, func)) return false;
    if (pkcs11::refresh_view(ctx)) return true;
    lock_.release();
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
    return false;
}

}  // namespace cadb
