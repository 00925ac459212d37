// Objects a page must not script: one without IObjectSafety (the registry's
// category decides), one whose IObjectSafety offers nothing. Both answer
// Ping() with 42 when they are let through.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/object.h"
#include "platform/com/registry.h"

using namespace cadb::com;

namespace {

constexpr CLSID CLSID_Plain = guid("{6E1A0101-0000-4000-8000-000000000001}");
constexpr CLSID CLSID_Refusing = guid("{6E1A0102-0000-4000-8000-000000000002}");

ModuleCount g_module;

struct IPing : IDispatch {
    virtual HRESULT Ping(std::int32_t* answer) = 0;

  protected:
    ~IPing() = default;
};

template <bool WithSafety>
class Pinger final
    : public ComObject<Pinger<WithSafety>, Dispatchable<Pinger<WithSafety>, IPing>, IObjectSafety> {
  public:
    explicit Pinger(IUnknown* outer)
        : ComObject<Pinger, Dispatchable<Pinger, IPing>, IObjectSafety>(outer) {
        g_module.lock();
    }
    ~Pinger() override { g_module.unlock(); }
    HRESULT final_construct() { return S_OK; }
    void* find_interface(const IID& iid) {
        if (iid == IID_IDispatch) return static_cast<IPing*>(this);
        if (WithSafety && iid == IID_IObjectSafety) return static_cast<IObjectSafety*>(this);
        return nullptr;
    }
    static std::span<const DispMember> members() {
        static constexpr DispMember table[] = {disp_method<&IPing::Ping>("Ping", 1)};
        return table;
    }
    HRESULT Ping(std::int32_t* answer) override {
        *answer = 42;
        return S_OK;
    }
    HRESULT GetInterfaceSafetyOptions(const IID&, std::uint32_t* supported,
                                      std::uint32_t* enabled) override {
        *supported = 0;
        *enabled = 0;
        return S_OK;
    }
    HRESULT SetInterfaceSafetyOptions(const IID&, std::uint32_t, std::uint32_t) override {
        return E_FAIL;
    }
};

template <class T>
HRESULT factory_for(const IID& iid, void** out) {
    auto* f = new (std::nothrow) ClassFactory<T>(g_module);
    if (!f) return E_OUTOFMEMORY;
    f->AddRef();
    HRESULT hr = f->QueryInterface(iid, out);
    f->Release();
    return hr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid,
                                                                            const IID& iid,
                                                                            void** out) {
    if (clsid == CLSID_Plain) return factory_for<Pinger<false>>(iid, out);
    if (clsid == CLSID_Refusing) return factory_for<Pinger<true>>(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return g_module.count() == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    Dl_info info;
    char full[PATH_MAX];
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) ||
        !realpath(info.dli_fname, full))
        return E_UNEXPECTED;
    const std::string path = full;
    return registry_update(
               [&](Registry& reg) {
                   for (auto [progid, clsid] : {std::pair{"Test.Plain", CLSID_Plain},
                                                std::pair{"Test.Refusing", CLSID_Refusing}}) {
                       reg.set_value(std::string("HKCR\\") + progid + "\\CLSID", "",
                                     guid_format(clsid));
                       reg.set_value("HKCR\\CLSID\\" + guid_format(clsid) + "\\InprocServer32", "",
                                     path);
                   }
                   return true;
               },
               registry_path())
               ? S_OK
               : REGDB_E_WRITEREGDB;
}
