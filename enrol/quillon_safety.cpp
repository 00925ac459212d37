// What a browser asks a control before it lets a page use it: error
// information, object safety and the site the control sits in.
#include "enrol/identities.h"
#include "enrol/quillon.h"

namespace cadb::enrol {

using com::E_FAIL;
using com::E_NOINTERFACE;
using com::E_POINTER;
using com::S_FALSE;
using com::S_OK;

namespace {

bool is_persistence(const com::IID& iid) {
    return iid == com::IID_IPersistStreamInit || iid == com::IID_IPersistStorage;
}

}  // namespace

bool CQuillon::has_interface(const com::IID& iid) {
    void* out = nullptr;
    if (com::failed(QueryInterface(iid, &out))) return false;
    static_cast<com::IUnknown*>(out)->Release();
    return true;
}

HRESULT CQuillon::InterfaceSupportsErrorInfo(const com::IID& iid) {
    return iid == IID_IQuillon ? S_OK : S_FALSE;
}

HRESULT CQuillon::GetInterfaceSafetyOptions(const com::IID& iid, std::uint32_t* supported,
                                            std::uint32_t* enabled) {
    if (!supported || !enabled) return E_FAIL;
    if (!has_interface(iid)) return E_NOINTERFACE;
    std::uint32_t offered = 0;
    if (iid == com::IID_IDispatch)
        offered = com::INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    else if (is_persistence(iid))
        offered = com::INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (!offered) {
        *supported = 0;
        *enabled = 0;
        return E_FAIL;
    }
    *supported = offered;
    *enabled = safety_options_ & offered;
    return S_OK;
}

HRESULT CQuillon::SetInterfaceSafetyOptions(const com::IID& iid, std::uint32_t mask,
                                            std::uint32_t enabled) {
    if (mask == 0 && enabled == 0) return E_FAIL;
    if (!has_interface(iid)) return E_NOINTERFACE;
    safety_options_ |= mask & enabled;
    if (iid == com::IID_IDispatch && (safety_options_ & com::INTERFACESAFE_FOR_UNTRUSTED_CALLER))
        return S_OK;
    if (is_persistence(iid) && (safety_options_ & com::INTERFACESAFE_FOR_UNTRUSTED_DATA))
        return S_OK;
    return E_FAIL;
}

HRESULT CQuillon::SetSite(com::IUnknown* site) {
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
}

HRESULT CQuillon::GetSite(const com::IID& iid, void** site) {
    if (!site) return E_POINTER;
    if (!site_) {
        *site = nullptr;
        return E_FAIL;
    }
    return site_->QueryInterface(iid, site);
}

}  // namespace cadb::enrol
