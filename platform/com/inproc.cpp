#include "platform/com/inproc.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/com/registry.h"

namespace cadb::com {

namespace {

struct LoadedModule {
    void* handle = nullptr;
    DllGetClassObjectFn get_class_object = nullptr;
    DllCanUnloadNowFn can_unload_now = nullptr;
};

// Modules stay loaded until CoFreeUnusedLibraries finds them idle.
std::mutex g_modules_mutex;
std::map<std::string, LoadedModule> g_modules;

HRESULT module_for(const std::string& path, LoadedModule* out) {
    std::lock_guard lock(g_modules_mutex);
    auto it = g_modules.find(path);
    if (it == g_modules.end()) {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return CO_E_DLLNOTFOUND;
        LoadedModule m;
        m.handle = handle;
        m.get_class_object =
            reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
        m.can_unload_now = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
        if (!m.get_class_object) {
            ::dlclose(handle);
            return CO_E_ERRORINDLL;
        }
        it = g_modules.emplace(path, m).first;
    }
    *out = it->second;
    return S_OK;
}

}  // namespace

HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    std::optional<Registry> reg = Registry::read(registry_path());
    if (!reg) return REGDB_E_READREGDB;
    const std::string key = std::string(kClassesRoot) + "\\" + std::string(progid);
    std::optional<std::string> text = reg->value(key + "\\CLSID");
    if (!text) {
        // A version-independent name without a class of its own.
        if (auto current = reg->value(key + "\\CurVer"))
            text = reg->value(std::string(kClassesRoot) + "\\" + *current + "\\CLSID");
    }
    if (!text) return CO_E_CLASSSTRING;
    std::optional<GUID> parsed = guid_parse(*text);
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

HRESULT CoGetClassObject(const CLSID& clsid, const IID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::optional<Registry> reg = Registry::read(registry_path());
    if (!reg) return REGDB_E_READREGDB;
    std::optional<std::string> path = reg->value(std::string(kClassesRoot) + "\\CLSID\\" +
                                                 guid_format(clsid) + "\\InprocServer32");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    LoadedModule module;
    HRESULT hr = module_for(*path, &module);
    if (failed(hr)) return hr;
    return module.get_class_object(clsid, iid, out);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, const IID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_StdComponentCategoriesMgr) {
        if (outer) return CLASS_E_NOAGGREGATION;
        return category_manager_new(iid, out);
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (failed(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, out);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(g_modules_mutex);
    for (auto it = g_modules.begin(); it != g_modules.end();) {
        if (it->second.can_unload_now && it->second.can_unload_now() == S_OK) {
            ::dlclose(it->second.handle);
            it = g_modules.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace cadb::com
