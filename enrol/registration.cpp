#include "enrol/registration.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "enrol/identities.h"
#include "platform/com/inproc.h"
#include "platform/com/object.h"
#include "platform/com/registry.h"

namespace cadb::enrol {

using com::HRESULT;
using com::Registry;

namespace {

const std::string kRoot = com::kClassesRoot;

std::string class_key() { return kRoot + "\\CLSID\\" + com::guid_format(CLSID_Quillon); }
std::string typelib_key() { return kRoot + "\\TypeLib\\" + com::guid_format(LIBID_QUILLONLib); }

// The full path of this module, as the registry must name it.
std::string module_path() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&module_path), &info) || !info.dli_fname) return {};
    char full[PATH_MAX];
    return realpath(info.dli_fname, full) ? std::string(full) : std::string();
}

HRESULT write_entries(const std::string& path) {
    const std::string clsid = com::guid_format(CLSID_Quillon);
    const bool ok = com::registry_update(
        [&](Registry& reg) {
            reg.set_value(kRoot + "\\" + kProgId, "", kClassDescription);
            reg.set_value(kRoot + "\\" + kProgId + "\\CLSID", "", clsid);
            const std::string vi = kRoot + "\\" + kVersionIndependentProgId;
            reg.set_value(vi, "", kClassDescription);
            reg.set_value(vi + "\\CLSID", "", clsid);
            reg.set_value(vi + "\\CurVer", "", kProgId);
            const std::string cls = class_key();
            reg.set_value(cls, "", kClassDescription);
            reg.set_value(cls + "\\ProgID", "", kProgId);
            reg.set_value(cls + "\\VersionIndependentProgID", "", kVersionIndependentProgId);
            reg.create_key(cls + "\\Programmable");
            reg.set_value(cls + "\\InprocServer32", "", path);
            reg.set_value(cls + "\\InprocServer32", "ThreadingModel", "Apartment");
            reg.set_value(cls + "\\TypeLib", "", com::guid_format(LIBID_QUILLONLib));
            // The member tables that stand for the type library are in this module.
            reg.set_value(typelib_key() + "\\1.0", "", kTypeLibName);
            reg.set_value(typelib_key() + "\\1.0\\0\\linux", "", path);
            return true;
        },
        com::registry_path());
    return ok ? com::S_OK : com::REGDB_E_WRITEREGDB;
}

HRESULT remove_entries() {
    const bool ok = com::registry_update(
        [&](Registry& reg) {
            reg.remove_key(kRoot + "\\" + kProgId);
            reg.remove_key(kRoot + "\\" + kVersionIndependentProgId);
            reg.remove_key(class_key());
            reg.remove_key(typelib_key());
            return true;
        },
        com::registry_path());
    return ok ? com::S_OK : com::REGDB_E_WRITEREGDB;
}

const com::CATID kBothCategories[] = {com::CATID_SafeForInitializing, com::CATID_SafeForScripting};

com::CATEGORYINFO category(const com::CATID& id, std::u16string_view text) {
    com::CATEGORYINFO info;
    info.catid = id;
    info.lcid = 1033;
    text = text.substr(0, std::min<std::size_t>(text.size(), 127));
    std::copy(text.begin(), text.end(), info.szDescription);
    return info;
}

bool category_manager(com::ComPtr<com::ICatRegister>& out) {
    return com::succeeded(com::CoCreateInstance(com::CLSID_StdComponentCategoriesMgr, nullptr,
                                                com::IID_ICatRegister, out.put_void()));
}

}  // namespace

HRESULT register_server() {
    const std::string path = module_path();
    const HRESULT hr = path.empty() ? com::E_UNEXPECTED : write_entries(path);
    com::ComPtr<com::ICatRegister> cat;
    if (!category_manager(cat)) return com::SELFREG_E_CLASS;
    const com::CATEGORYINFO infos[] = {
        category(com::CATID_SafeForScripting, u"Controls that are safely scriptable"),
        category(com::CATID_SafeForInitializing,
                 u"Controls safely initializable from persistent data"),
    };
    if (com::failed(cat->RegisterCategories(1, &infos[0])) ||
        com::failed(cat->RegisterCategories(1, &infos[1])) ||
        com::failed(
            cat->RegisterClassImplCategories(CLSID_SafeControlsHolder, 2, kBothCategories)) ||
        com::failed(
            cat->RegisterClassImplCategories(CLSID_Quillon, 1, &com::CATID_SafeForScripting)))
        return com::SELFREG_E_CLASS;
    return hr;
}

HRESULT unregister_server() {
    const HRESULT hr = remove_entries();
    com::ComPtr<com::ICatRegister> cat;
    if (!category_manager(cat)) return com::SELFREG_E_CLASS;
    if (com::failed(
            cat->UnRegisterClassImplCategories(CLSID_SafeControlsHolder, 2, kBothCategories)) ||
        com::failed(
            cat->UnRegisterClassImplCategories(CLSID_Quillon, 1, &com::CATID_SafeForScripting)))
        return com::SELFREG_E_CLASS;
    return hr;
}

}  // namespace cadb::enrol
