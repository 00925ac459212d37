// The ground types of the component layer: result codes, 128-bit identities,
// dispatch ids. The numeric values are the ones scripts and callers of the
// component model know, so a script can compare an error number it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#define CADB_COM_API __attribute__((visibility("default")))

namespace cadb::com {

using HRESULT = std::int32_t;
using DISPID = std::int32_t;
using LCID = std::uint32_t;

constexpr HRESULT hresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr bool succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool failed(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
inline constexpr HRESULT E_POINTER = hresult(0x80004003);
inline constexpr HRESULT E_FAIL = hresult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
inline constexpr HRESULT REGDB_E_WRITEREGDB = hresult(0x80040151);
inline constexpr HRESULT REGDB_E_READREGDB = hresult(0x80040150);
inline constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresult(0x8004018F);
inline constexpr HRESULT CO_E_ERRORINDLL = hresult(0x800401F9);
inline constexpr HRESULT SELFREG_E_CLASS = hresult(0x80040201);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
inline constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);
inline constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);

// Errors a component reports itself: facility ITF plus the component's code.
inline constexpr HRESULT kItfErrorBase = hresult(0x80040000);

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

struct GUID {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, any case).
CADB_COM_API std::optional<GUID> guid_parse(std::string_view text);
// Upper case, with braces, as the registry keeps it.
CADB_COM_API std::string guid_format(const GUID& guid);

// A GUID from its text at compile time; a malformed literal does not compile.
consteval GUID guid(const char (&text)[39]) {
    auto hex = [&](int pos, int digits) {
        std::uint64_t v = 0;
        for (int i = 0; i < digits; ++i) {
            char c = text[pos + i];
            int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : throw "not a hexadecimal digit";
            v = v * 16 + d;
        }
        return v;
    };
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
        text[37] != '}')
        throw "not a braced GUID";
    GUID g;
    g.data1 = static_cast<std::uint32_t>(hex(1, 8));
    g.data2 = static_cast<std::uint16_t>(hex(10, 4));
    g.data3 = static_cast<std::uint16_t>(hex(15, 4));
    g.data4[0] = static_cast<std::uint8_t>(hex(20, 2));
    g.data4[1] = static_cast<std::uint8_t>(hex(22, 2));
    for (int i = 0; i < 6; ++i) g.data4[2 + i] = static_cast<std::uint8_t>(hex(25 + 2 * i, 2));
    return g;
}

// The well-known interface identities.
inline constexpr IID IID_IUnknown = guid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = guid("{00000001-0000-0000-C000-000000000046}");
inline constexpr IID IID_IDispatch = guid("{00020400-0000-0000-C000-000000000046}");
inline constexpr IID IID_IErrorInfo = guid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ISupportErrorInfo = guid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
inline constexpr IID IID_IObjectSafety = guid("{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
inline constexpr IID IID_IObjectWithSite = guid("{FC4801A3-2BA9-11CF-A229-00AA003D7352}");
inline constexpr IID IID_IPersistStreamInit = guid("{7FD52380-4E07-101B-AE2D-08002B2EC713}");
inline constexpr IID IID_IPersistStorage = guid("{0000010A-0000-0000-C000-000000000046}");

}  // namespace cadb::com
