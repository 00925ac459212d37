#include "admin/cert_path.h"

#include "crypto/pkcs11/pkcs11_module.h"

namespace cadb {

std::string certificate_path(const char* root, const char* name) {
    if (PKCS11_path_parse(name, nullptr, nullptr)) return name;
    std::string path = root;
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path + "\\" + name;
}

}  // namespace cadb
