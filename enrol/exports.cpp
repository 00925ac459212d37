// The module's four entries, the only symbols it exports.
#include "enrol/identities.h"
#include "enrol/module.h"
#include "enrol/quillon.h"
#include "enrol/registration.h"

using cadb::com::CLSID;
using cadb::com::HRESULT;
using cadb::com::IID;

#define QUILLON_EXPORT extern "C" __attribute__((visibility("default")))

QUILLON_EXPORT HRESULT DllCanUnloadNow() {
    return cadb::enrol::module_count().count() == 0 ? cadb::com::S_OK : cadb::com::S_FALSE;
}

QUILLON_EXPORT HRESULT DllGetClassObject(const CLSID& rclsid, const IID& riid, void** ppv) {
    using namespace cadb;
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (rclsid != enrol::CLSID_Quillon) return com::CLASS_E_CLASSNOTAVAILABLE;
    // Objects are no use when the library beneath them did not start.
    if (!enrol::module_started()) return com::E_UNEXPECTED;
    auto* factory = new (std::nothrow) com::ClassFactory<enrol::CQuillon>(enrol::module_count());
    if (!factory) return com::E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

QUILLON_EXPORT HRESULT DllRegisterServer() { return cadb::enrol::register_server(); }

QUILLON_EXPORT HRESULT DllUnregisterServer() { return cadb::enrol::unregister_server(); }
