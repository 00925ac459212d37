// Key-store, medium and key-file utilities a page uses before and after
// enrolment: whether a store or a file is there, whether a medium answers,
// deleting a store and the default key-file name of each medium.
#include <optional>
#include <string>

#include "crypto/bio/etoken.h"
#include "crypto/bio/rutoken.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/media_io.h"
#include "enrol/alert.h"
#include "enrol/key_file_names.h"
#include "enrol/log.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"
#include "wrappers/pse_container.h"
#include "wrappers/pse_media.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {

using com::S_FALSE;
using com::S_OK;

namespace {

// A path as the library takes it (code page 1251); nullopt when a character
// has no place there, which no medium could hold either.
std::optional<std::string> narrow_path(BSTR path) { return com::bstr_to_ansi(path); }

bool empty_text(BSTR s) { return com::SysStringLen(s) == 0; }

// Whether the store files of path can be read: a fresh container each time.
bool store_readable(const std::string& path) {
    TRef<TPSEContainer> container = make_ref<TPSEContainer>();
    return container->readFiles(path.c_str()) == 1;
}

}  // namespace

HRESULT CQuillon::IsPSEExists(BSTR bstrPSEPath, I4* pResult) {
    log_line("CQuillon::IsPSEExists(bstrPSEPath:[%s])...Entry", com::bstr_to_utf8(bstrPSEPath).c_str());
    if (!pResult) return com::E_POINTER;
    *pResult = 0;
    if (empty_text(bstrPSEPath)) {
        log_line("CQuillon::IsPSEExists(bstrPSEPath is empty ...error!");
        return PrepareAlert(kContainerNameBad);
    }
    const std::optional<std::string> path = narrow_path(bstrPSEPath);
    if (!path) return S_OK;
    // A token keeps its store in objects: looking would ask for its PIN.
    if (GetPSEMediaType(path->c_str()) == PSE_MEDIA_PKCS11) {
        *pResult = 1;
        return S_OK;
    }
    *pResult = store_readable(*path) ? 1 : 0;
    return S_OK;
}

HRESULT CQuillon::IsFileExists(BSTR bstrFileName, I4* pbRes) {
    log_line("CQuillon::IsFileExists(bstrFileName:[%s])...Entry",
             com::bstr_to_utf8(bstrFileName).c_str());
    if (!pbRes) return com::E_POINTER;
    *pbRes = 0;
    if (empty_text(bstrFileName)) return PrepareAlert(kFileExistenceError);
    const std::optional<std::string> path = narrow_path(bstrFileName);
    *pbRes = path && IsMediaPathPresent(path->c_str()) == 1 ? 1 : 0;
    return S_OK;
}

HRESULT CQuillon::DeletePSE(BSTR bstrPSEPath) {
    log_line("CQuillon::DeletePSE(bstrFileName:[%s])...Entry",
             com::bstr_to_utf8(bstrPSEPath).c_str());
    const std::optional<std::string> path = narrow_path(bstrPSEPath);
    if (!path || NamesNoFolder(*path)) return PrepareAlert(kContainerNotDeleted);
    TRef<TPSEContainer> container = make_ref<TPSEContainer>();
    if (container->erase(path->c_str()) != 1) return PrepareAlert(kContainerNotDeleted);
    return S_OK;
}

HRESULT CQuillon::IsPSEPathReady(BSTR bstrPath, I4* pbReady) {
    if (!pbReady) return com::E_POINTER;
    *pbReady = 0;
    const std::optional<std::string> path = narrow_path(bstrPath);
    const std::size_t colon = path ? path->find(':') : std::string::npos;
    if (colon == std::string::npos) {
        log_line("CQuillon::IsPSEPathReady(bstrPath:[%s], )... Drive Letter is not found! Error!",
                 com::bstr_to_utf8(bstrPath).c_str());
        return S_FALSE;
    }
    const std::string root = path->substr(0, colon + 1) + "\\";
    switch (GetPSEMediaType(path->c_str())) {
        case PSE_MEDIA_FILE:
            // The volume answers when the folder its drive maps to is there.
            *pbReady = IsMediaDirectory(root.c_str()) == 1 ? 1 : 0;
            break;
        case PSE_MEDIA_ETOKEN:
            ETOKEN_set_passwd_cb(etoken_passwd_cb);
            *pbReady = IsMediaDirectory(root.c_str()) == 1 ? 1 : 0;
            break;
        case PSE_MEDIA_RUTOKEN:
            RUTOKEN_set_passwd_cb(rutoken_passwd_cb);
            *pbReady = IsMediaDirectory(root.c_str()) == 1 ? 1 : 0;
            break;
        case PSE_MEDIA_PKCS11:
            PKCS11_set_passwd_cb(pkcs11_passwd_cb);
            *pbReady = CADB_token_inserted(path->c_str()) == 1 ? 1 : 0;
            break;
        default:  // iButton
            *pbReady = IsMediaDirectory(root.c_str()) == 1 ? 1 : 0;
            break;
    }
    return S_OK;
}

HRESULT CQuillon::DefMediaPKeyFileName(I4 lMediaInx, BSTR* pVal) {
    return set_out(pVal, com::utf8_to_utf16(DefaultKeyFileName(lMediaInx)));
}

}  // namespace cadb::enrol
