#include "platform/com/variant.h"

#include <charconv>
#include <string>

#include "platform/com/interfaces.h"

namespace cadb::com {

void VariantInit(VARIANT* v) {
    v->vt = VT_EMPTY;
    v->lVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (v->punkVal) v->punkVal->Release();
            break;
        default:
            break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    VariantClear(dst);
    if (src->vt == VT_BSTR) {
        BSTR copy = nullptr;
        if (src->bstrVal) {
            copy = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy) return E_OUTOFMEMORY;
        }
        dst->vt = VT_BSTR;
        dst->bstrVal = copy;
        return S_OK;
    }
    if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) src->punkVal->AddRef();
    *static_cast<VARIANT*>(dst) = *src;
    return S_OK;
}

const VARIANT* variant_deref(const VARIANT* v) {
    if (v->vt == (VT_BYREF | VT_VARIANT)) return v->pvarVal ? variant_deref(v->pvarVal) : v;
    return v;
}

HRESULT variant_to_i4(const VARIANT* in, std::int32_t* out) {
    const VARIANT* v = variant_deref(in);
    switch (v->vt) {
        case VT_EMPTY:
            *out = 0;
            return S_OK;
        case VT_I2:
            *out = v->iVal;
            return S_OK;
        case VT_I4:
        case VT_INT:
            *out = v->lVal;
            return S_OK;
        case VT_UI4:
            *out = static_cast<std::int32_t>(v->ulVal);
            return S_OK;
        case VT_BOOL:
            *out = v->boolVal ? -1 : 0;
            return S_OK;
        case VT_BYREF | VT_I4:
            if (!v->plVal) return DISP_E_TYPEMISMATCH;
            *out = *v->plVal;
            return S_OK;
        case VT_BSTR: {
            std::string text = bstr_to_utf8(v->bstrVal);
            std::size_t start = text.find_first_not_of(' ');
            std::size_t end = text.find_last_not_of(' ');
            if (start == std::string::npos) return DISP_E_TYPEMISMATCH;
            const char* first = text.data() + start;
            const char* last = text.data() + end + 1;
            if (*first == '+') ++first;
            std::int64_t value = 0;
            auto [ptr, ec] = std::from_chars(first, last, value);
            if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
            if (ec != std::errc() || ptr != last) return DISP_E_TYPEMISMATCH;
            // Text may name an unsigned 32-bit value (a flag word written in hex
            // by the script and printed as decimal).
            if (value < INT32_MIN || value > UINT32_MAX) return DISP_E_OVERFLOW;
            *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT variant_to_bstr(const VARIANT* in, BSTR* out) {
    const VARIANT* v = variant_deref(in);
    std::string text;
    switch (v->vt) {
        case VT_EMPTY:
            *out = nullptr;
            return S_OK;
        case VT_BSTR:
        case VT_BYREF | VT_BSTR: {
            BSTR s = v->vt == VT_BSTR ? v->bstrVal : (v->pbstrVal ? *v->pbstrVal : nullptr);
            *out = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
            return s && !*out ? E_OUTOFMEMORY : S_OK;
        }
        case VT_BOOL:
            text = v->boolVal ? "True" : "False";
            break;
        default: {
            std::int32_t n = 0;
            if (v->vt == VT_UI4) {
                text = std::to_string(v->ulVal);
                break;
            }
            HRESULT hr = variant_to_i4(v, &n);
            if (failed(hr)) return hr;
            text = std::to_string(n);
        }
    }
    *out = bstr_from_utf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace cadb::com
