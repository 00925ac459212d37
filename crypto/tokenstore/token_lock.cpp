#include "crypto/tokenstore/token_lock.h"

#include <string>
#include <string_view>

#include "crypto/core/err.h"
#include "platform/module.h"

namespace cadb {
namespace {

template <std::size_t N>
std::string_view field_of(const unsigned char (&f)[N]) {
    return {reinterpret_cast<const char*>(f), N};
}

}  // namespace

bool TokenLock::acquire(const PKCS11_OBJ* ctx, int func) {
    if (ctx == nullptr || !ctx->module) {
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
        return false;
    }
    std::string module = module_file(ctx->module->library);
    if (module.empty()) module = ctx->module->name;
    std::string name = "token";
    device_lock_name_add(name, std::string_view(module).substr(module.rfind('/') + 1));
    device_lock_name_add(name, field_of(ctx->token_info.manufacturerID));
    device_lock_name_add(name, field_of(ctx->token_info.model));
    device_lock_name_add(name, field_of(ctx->token_info.serialNumber));
    return lock_.acquire(name, func);
}

}  // namespace cadb
