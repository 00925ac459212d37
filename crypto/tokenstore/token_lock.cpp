#include "crypto/tokenstore/token_lock.h"

#include <cctype>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// The blank-padded fields of the token's information, trimmed, made safe
// for a file name. Two tokens whose names collide only share a lock.
void append_field(std::string& out, std::string_view field) {
    while (!field.empty() && (field.back() == ' ' || field.back() == '\0')) field.remove_suffix(1);
    out += '-';
    for (const char c : field) {
        const auto u = static_cast<unsigned char>(c);
        out += std::isalnum(u) != 0 || c == '.' || c == '_' ? c : '_';
    }
}

template <std::size_t N>
std::string_view field_of(const CK_UTF8CHAR (&f)[N]) {
    return {reinterpret_cast<const char*>(f), N};
}

}  // namespace

bool TokenLock::acquire(const PKCS11_OBJ* ctx) {
    if (ctx == nullptr || !ctx->module) return false;
    const std::string folder = runtime_directory();
    if (folder.empty()) return false;
    std::string module = module_file(ctx->module->library);
    if (module.empty()) module = ctx->module->name;
    std::string name = "token";
    append_field(name, module.substr(module.rfind('/') + 1));
    append_field(name, field_of(ctx->token_info.manufacturerID));
    append_field(name, field_of(ctx->token_info.model));
    append_field(name, field_of(ctx->token_info.serialNumber));
    return lock_.acquire_file(folder + "/" + name + ".lock", pse_lock_wait());
}

}  // namespace cadb
