#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_module.h"

namespace cadb {
namespace {

constexpr char kPrefix[] = "pkcs11";
constexpr std::size_t kPrefixLen = sizeof(kPrefix) - 1;

// atoi's reading of the slot index, without its overflow: values past the
// range of int saturate, and so never name an existing slot.
int parse_index(const std::string& text) {
    const long v = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

}  // namespace

int PKCS11_path_parse(const char* path, std::string* module_out, int* index_out) {
    if (path == nullptr || strncasecmp(path, kPrefix, kPrefixLen) != 0) return 0;
    if (module_out != nullptr) module_out->clear();
    if (index_out != nullptr) *index_out = -1;

    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    const auto colon = p.find(':');
    if (colon == std::string::npos || colon + 1 >= p.size() || p[colon + 1] != '\\') return 0;

    const auto start = colon + 2;
    const auto end = p.find('\\', start);
    const std::size_t len = (end == std::string::npos ? p.size() : end) - start;
    if (module_out != nullptr) {
        if (len > PKCS11_MAX_PATH) return 0;
        module_out->assign(p, start, len);
    }
    if (index_out != nullptr && colon > kPrefixLen) {
        *index_out = parse_index(p.substr(kPrefixLen, colon - kPrefixLen));
    }
    return 1;
}

int PKCS11_module_probe(const char* path) {
    std::string name;
    int ok = 0;
    if (PKCS11_path_parse(path, &name, nullptr)) {
        PKCS11_MODULE* m = PKCS11_MODULE_get_by_name(name.c_str());
        ok = m != nullptr ? 1 : 0;
        PKCS11_MODULE_free(m);
    }
    ERR_clear_error();
    return ok;
}

int PKCS11_get_slot(const char* path, CK_SLOT_ID* slot_out) {
    constexpr int F = PKCS11_F_PKCS11_GET_SLOT;
    std::string name;
    int index = -1;
    if (!PKCS11_path_parse(path, &name, &index)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    const PKCS11_MODULE_ptr module(PKCS11_MODULE_get_by_name(name.c_str()));
    if (!module) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    CK_FUNCTION_LIST* f = module->functions;
    std::vector<CK_SLOT_ID> ids;
    const CK_RV rv = pkcs11::fetch_slot_list(f, ids);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, rv == CKR_HOST_MEMORY ? ERR_R_MALLOC : ERR_R_INTERNAL, rv);
        return 0;
    }
    if (ids.empty()) return 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        CK_SLOT_INFO info{};
        const CK_RV info_rv = f->C_GetSlotInfo(ids[i], &info);
        if (info_rv != CKR_OK) {
            PKCS11_RV_ERR(F, ERR_R_INTERNAL, info_rv);
            return 0;
        }
        if ((info.flags & CKF_TOKEN_PRESENT) != 0 &&
            (index == -1 || static_cast<std::size_t>(index) == i)) {
            if (slot_out != nullptr) *slot_out = ids[i];
            return 1;
        }
    }
    ERR_set_last_rv(CKR_TOKEN_NOT_PRESENT, TOKEN_CODE_PKCS11);
    return 0;
}

int PKCS11_token_present(const char* path) { return PKCS11_get_slot(path, nullptr); }

}  // namespace cadb
