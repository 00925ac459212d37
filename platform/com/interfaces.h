// The interfaces of the component layer. An interface is an abstract class
// whose first three slots are IUnknown's; objects are used only through
// interface pointers, counted with AddRef and Release.
#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/types.h"
#include "platform/com/variant.h"

namespace cadb::com {

struct IUnknown {
    // QueryInterface: null out gives E_POINTER; an interface the object does
    // not have sets *out to null and gives E_NOINTERFACE.
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

  protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

  protected:
    ~IClassFactory() = default;
};

enum : std::uint16_t {
    DISPATCH_METHOD = 1,
    DISPATCH_PROPERTYGET = 2,
    DISPATCH_PROPERTYPUT = 4,
};

// Arguments of a dispatch call, the last argument first.
struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;
    DISPID* rgdispidNamedArgs = nullptr;
    std::uint32_t cArgs = 0;
    std::uint32_t cNamedArgs = 0;
};

// What a failed dispatch call tells its caller (DISP_E_EXCEPTION).
struct EXCEPINFO {
    BSTR bstrSource = nullptr;
    BSTR bstrDescription = nullptr;
    HRESULT scode = S_OK;
};

struct IDispatch : IUnknown {
    // Type information is not kept: each class has a member table instead.
    virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
    // names: UTF-16 texts matched without regard to case; the ids of unknown
    // names are DISPID_UNKNOWN and the call gives DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(const char16_t* const* names, std::uint32_t count, LCID lcid,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, LCID lcid, std::uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, std::uint32_t* arg_err) = 0;

  protected:
    ~IDispatch() = default;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* iid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* file) = 0;
    virtual HRESULT GetHelpContext(std::uint32_t* context) = 0;

  protected:
    ~IErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(const IID& iid) = 0;

  protected:
    ~ISupportErrorInfo() = default;
};

enum : std::uint32_t {
    INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1,
    INTERFACESAFE_FOR_UNTRUSTED_DATA = 2,
};

struct IObjectSafety : IUnknown {
    virtual HRESULT GetInterfaceSafetyOptions(const IID& iid, std::uint32_t* supported,
                                              std::uint32_t* enabled) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(const IID& iid, std::uint32_t mask,
                                              std::uint32_t enabled) = 0;

  protected:
    ~IObjectSafety() = default;
};

struct IObjectWithSite : IUnknown {
    virtual HRESULT SetSite(IUnknown* site) = 0;
    virtual HRESULT GetSite(const IID& iid, void** site) = 0;

  protected:
    ~IObjectWithSite() = default;
};

using CATID = GUID;

struct CATEGORYINFO {
    CATID catid;
    LCID lcid = 0;
    char16_t szDescription[128] = {};
};

// Component categories: which categories exist (with a description per
// locale) and which classes implement them.
struct ICatRegister : IUnknown {
    virtual HRESULT RegisterCategories(std::uint32_t count, const CATEGORYINFO* infos) = 0;
    virtual HRESULT UnRegisterCategories(std::uint32_t count, const CATID* ids) = 0;
    virtual HRESULT RegisterClassImplCategories(const CLSID& clsid, std::uint32_t count,
                                                const CATID* ids) = 0;
    virtual HRESULT UnRegisterClassImplCategories(const CLSID& clsid, std::uint32_t count,
                                                  const CATID* ids) = 0;

  protected:
    ~ICatRegister() = default;
};

inline constexpr CLSID CLSID_StdComponentCategoriesMgr =
    guid("{0002E005-0000-0000-C000-000000000046}");
inline constexpr IID IID_ICatRegister = guid("{0002E012-0000-0000-C000-000000000046}");

inline constexpr CATID CATID_SafeForScripting = guid("{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
inline constexpr CATID CATID_SafeForInitializing = guid("{7DD95802-9882-11CF-9FA9-00AA006C42C4}");

// Entry points of an in-process server module.
using DllGetClassObjectFn = HRESULT (*)(const CLSID& clsid, const IID& iid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

}  // namespace cadb::com
