// VARIANT: the tagged value a dispatch call carries. Only the types this
// system's interfaces use are known: empty, null, 16- and 32-bit integers,
// booleans, strings, error codes, object references, and references to an
// integer, a string or a VARIANT (the holders of by-reference outputs).
#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/types.h"

namespace cadb::com {

struct IUnknown;
struct IDispatch;

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
    VT_INT = 22,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    union {
        std::int32_t lVal;
        std::int16_t iVal;
        std::uint32_t ulVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        std::int32_t* plVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
    };
    VARIANT() : lVal(0) {}
};

CADB_COM_API void VariantInit(VARIANT* v);
// Frees what v owns (a string, an object reference) and leaves it empty.
CADB_COM_API HRESULT VariantClear(VARIANT* v);
// dst (cleared first) becomes an independent copy of src.
CADB_COM_API HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// The value behind a by-reference variant, or v itself.
CADB_COM_API const VARIANT* variant_deref(const VARIANT* v);

// Conversions a dispatch call applies to its arguments. Integers, booleans
// and decimal text become a 32-bit integer; integers and booleans become
// text. DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW otherwise.
CADB_COM_API HRESULT variant_to_i4(const VARIANT* v, std::int32_t* out);
// out receives a new string (null for an empty variant).
CADB_COM_API HRESULT variant_to_bstr(const VARIANT* v, BSTR* out);

// An owned VARIANT, cleared when it goes.
class CADB_COM_API Variant : public VARIANT {
  public:
    Variant() = default;
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

}  // namespace cadb::com
