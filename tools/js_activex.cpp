#include "tools/js_activex.h"

#include <cmath>
#include <string>
#include <vector>

#include "platform/com/errorinfo.h"
#include "platform/com/inproc.h"
#include "platform/com/object.h"
#include "tools/js_text.h"

namespace cadb::host {

using namespace cadb::com;

namespace {

constexpr const char* kPointer = DUK_HIDDEN_SYMBOL("dispatch");
constexpr const char* kTarget = DUK_HIDDEN_SYMBOL("target");
constexpr const char* kDispid = DUK_HIDDEN_SYMBOL("dispid");
// The script engine's own numbers: an object it cannot create, a name the
// object does not have.
constexpr HRESULT kCannotCreate = hresult(0x800A01AD);
constexpr HRESULT kNotSupported = hresult(0x800A01B6);

const char* generic_text(HRESULT hr) {
    switch (hr) {
        case DISP_E_MEMBERNOTFOUND:
        case DISP_E_UNKNOWNNAME:
        case kNotSupported:
            return "Object doesn't support this property or method";
        case DISP_E_TYPEMISMATCH:
            return "Type mismatch";
        case DISP_E_OVERFLOW:
            return "Overflow";
        case DISP_E_BADPARAMCOUNT:
            return "Wrong number of arguments or invalid property assignment";
        case kCannotCreate:
            return "Automation server can't create object";
        case E_OUTOFMEMORY:
            return "Out of memory";
        default:
            return "Unspecified error";
    }
}

// The engine unwinds by a long jump: a function that throws holds no C++
// object that owns anything. The description waits on the value stack.
[[noreturn]] void throw_pushed(duk_context* ctx, HRESULT hr) {
    if (!duk_is_string(ctx, -1) || duk_get_length(ctx, -1) == 0) {
        duk_pop(ctx);
        duk_push_string(ctx, generic_text(hr));
    }
    duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", duk_get_string(ctx, -1));
    duk_push_int(ctx, hr);
    duk_put_prop_string(ctx, -2, "number");
    duk_dup(ctx, -2);
    duk_put_prop_string(ctx, -2, "description");
    (void)duk_throw(ctx);
    __builtin_unreachable();
}

[[noreturn]] void throw_com_error(duk_context* ctx, HRESULT hr) {
    duk_push_string(ctx, generic_text(hr));
    throw_pushed(ctx, hr);
}

// Pushes the error text of a failed call and gives the HRESULT to report.
HRESULT push_failure(duk_context* ctx, HRESULT hr, EXCEPINFO& excep) {
    if (hr == DISP_E_EXCEPTION) {
        hr = excep.scode;
        const std::string text = utf16_to_cesu8(bstr_view(excep.bstrDescription));
        duk_push_lstring(ctx, text.data(), text.size());
    } else {
        duk_push_string(ctx, generic_text(hr));
    }
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    excep = EXCEPINFO();
    return hr;
}

std::string js_text(std::u16string_view text) { return utf16_to_cesu8(text); }

std::u16string string_at(duk_context* ctx, duk_idx_t idx) {
    duk_size_t len = 0;
    const char* s = duk_get_lstring(ctx, idx, &len);
    return cesu8_to_utf16({s ? s : "", len});
}

IDispatch* dispatch_of(duk_context* ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx)) return nullptr;
    duk_get_prop_string(ctx, idx, kPointer);
    auto* d = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return d;
}

void push_wrapper(duk_context* ctx, IDispatch* d);

void push_variant(duk_context* ctx, const VARIANT* in) {
    const VARIANT* v = variant_deref(in);
    switch (v->vt) {
        case VT_NULL:
            duk_push_null(ctx);
            return;
        case VT_I2:
            duk_push_int(ctx, v->iVal);
            return;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            duk_push_int(ctx, v->lVal);
            return;
        case VT_UI4:
            duk_push_uint(ctx, v->ulVal);
            return;
        case VT_BOOL:
            duk_push_boolean(ctx, v->boolVal != 0);
            return;
        case VT_BSTR:
            if (!v->bstrVal) {
                duk_push_null(ctx);
            } else {
                const std::string s = js_text(bstr_view(v->bstrVal));
                duk_push_lstring(ctx, s.data(), s.size());
            }
            return;
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            IDispatch* d = nullptr;
            if (v->punkVal) v->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
            if (!d) {
                duk_push_null(ctx);
                return;
            }
            push_wrapper(ctx, d);  // takes the reference
            return;
        }
        default:
            duk_push_undefined(ctx);
    }
}

// One script value as an argument; holders are filled in `refs`.
HRESULT to_variant(duk_context* ctx, duk_idx_t idx, VARIANT* out, Variant* holder) {
    VariantInit(out);
    switch (duk_get_type(ctx, idx)) {
        case DUK_TYPE_UNDEFINED:
            return S_OK;
        case DUK_TYPE_NULL:
            out->vt = VT_NULL;
            return S_OK;
        case DUK_TYPE_BOOLEAN:
            out->vt = VT_BOOL;
            out->boolVal = duk_get_boolean(ctx, idx) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case DUK_TYPE_NUMBER: {
            double n = duk_get_number(ctx, idx);
            // Whole numbers up to 2^32 (flag words written in hexadecimal)
            // are 32-bit integers; nothing else is.
            if (std::floor(n) != n || n < -2147483648.0 || n > 4294967295.0)
                return DISP_E_TYPEMISMATCH;
            out->vt = VT_I4;
            out->lVal = static_cast<std::int32_t>(static_cast<std::int64_t>(n));
            return S_OK;
        }
        case DUK_TYPE_STRING:
            out->vt = VT_BSTR;
            out->bstrVal = bstr_from_utf16(string_at(ctx, idx));
            return out->bstrVal ? S_OK : E_OUTOFMEMORY;
        case DUK_TYPE_OBJECT: {
            if (IDispatch* d = dispatch_of(ctx, idx)) {
                d->AddRef();
                out->vt = VT_DISPATCH;
                out->pdispVal = d;
                return S_OK;
            }
            duk_get_prop_string(ctx, idx, "value");
            VARIANT start;
            HRESULT hr = duk_is_object(ctx, -1) && !dispatch_of(ctx, -1)
                             ? S_OK
                             : to_variant(ctx, -1, &start, nullptr);
            duk_pop(ctx);
            if (failed(hr)) return hr;
            if (!holder) {  // a holder inside a holder passes its value only
                *out = start;
                return S_OK;
            }
            *static_cast<VARIANT*>(holder) = start;
            out->vt = VT_BYREF | VT_VARIANT;
            out->pvarVal = holder;
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Calls the member and leaves its result on the stack; a failure leaves its
// text there and gives the HRESULT to report.
HRESULT invoke(duk_context* ctx, IDispatch* d, DISPID id, std::uint16_t flags, duk_idx_t first,
               duk_idx_t count, bool named_put) {
    std::vector<Variant> args(static_cast<std::size_t>(count));
    std::vector<Variant> holders(static_cast<std::size_t>(count));
    for (duk_idx_t i = 0; i < count; ++i) {
        // The component layer takes the last argument first.
        const std::size_t slot = static_cast<std::size_t>(count - 1 - i);
        HRESULT hr = to_variant(ctx, first + i, &args[slot], &holders[slot]);
        if (failed(hr)) {
            duk_push_string(ctx, generic_text(hr));
            return hr;
        }
    }
    DISPPARAMS params;
    params.rgvarg = count ? static_cast<VARIANT*>(&args[0]) : nullptr;
    params.cArgs = static_cast<std::uint32_t>(count);
    DISPID put_id = DISPID_PROPERTYPUT;
    if (named_put) {
        params.rgdispidNamedArgs = &put_id;
        params.cNamedArgs = 1;
    }
    Variant result;
    EXCEPINFO excep;
    HRESULT hr = d->Invoke(id, 0, flags, &params, &result, &excep, nullptr);
    // Outputs reach their holders whatever the result.
    for (duk_idx_t i = 0; i < count; ++i) {
        const std::size_t slot = static_cast<std::size_t>(count - 1 - i);
        if (args[slot].vt != (VT_BYREF | VT_VARIANT)) continue;
        push_variant(ctx, &holders[slot]);
        duk_put_prop_string(ctx, first + i, "value");
    }
    if (failed(hr)) return push_failure(ctx, hr, excep);
    activex_set_last_result(ctx, hr);
    if (result.vt == VT_EMPTY && flags == DISPATCH_METHOD)
        duk_push_int(ctx, hr);
    else
        push_variant(ctx, &result);
    return hr;
}

DISPID dispid_of(IDispatch* d, const std::u16string& name) {
    const char16_t* names[] = {name.c_str()};
    DISPID id = DISPID_UNKNOWN;
    return succeeded(d->GetIDsOfNames(names, 1, 0, &id)) ? id : DISPID_UNKNOWN;
}

duk_ret_t method_call(duk_context* ctx) {
    const duk_idx_t count = duk_get_top(ctx);
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, kTarget);
    IDispatch* d = dispatch_of(ctx, -1);
    duk_get_prop_string(ctx, -2, kDispid);
    const DISPID id = duk_get_int(ctx, -1);
    duk_pop_3(ctx);
    if (!d) throw_com_error(ctx, E_UNEXPECTED);
    const HRESULT hr = invoke(ctx, d, id, DISPATCH_METHOD, 0, count, false);
    if (failed(hr)) throw_pushed(ctx, hr);
    return 1;
}

// Reads a property and leaves its value on the stack, or, when the name is a
// method, leaves a function that calls it. A failure leaves its text.
HRESULT read_member(duk_context* ctx, IDispatch* d) {
    const std::u16string name = string_at(ctx, 1);
    const DISPID id = dispid_of(d, name);
    if (id == DISPID_UNKNOWN) {
        if (name == u"toString" || name == u"valueOf") {
            duk_push_c_function(
                ctx,
                [](duk_context* c) -> duk_ret_t {
                    duk_push_string(c, "[object]");
                    return 1;
                },
                0);
            return S_OK;
        }
        duk_push_string(ctx, generic_text(kNotSupported));
        return kNotSupported;
    }
    DISPPARAMS none;
    Variant result;
    EXCEPINFO excep;
    HRESULT hr = d->Invoke(id, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr);
    if (hr == DISP_E_MEMBERNOTFOUND) {
        duk_push_c_function(ctx, method_call, DUK_VARARGS);
        duk_dup(ctx, 0);
        duk_put_prop_string(ctx, -2, kTarget);
        duk_push_int(ctx, id);
        duk_put_prop_string(ctx, -2, kDispid);
        return S_OK;
    }
    if (failed(hr)) return push_failure(ctx, hr, excep);
    activex_set_last_result(ctx, hr);
    push_variant(ctx, &result);
    return hr;
}

// get trap (target, key, receiver)
duk_ret_t trap_get(duk_context* ctx) {
    IDispatch* d = dispatch_of(ctx, 0);
    if (!d || !duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
        duk_push_undefined(ctx);
        return 1;
    }
    const HRESULT hr = read_member(ctx, d);
    if (failed(hr)) throw_pushed(ctx, hr);
    return 1;
}

// set trap (target, key, value, receiver)
duk_ret_t trap_set(duk_context* ctx) {
    IDispatch* d = dispatch_of(ctx, 0);
    if (!d || !duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1))
        throw_com_error(ctx, DISP_E_MEMBERNOTFOUND);
    const DISPID id = dispid_of(d, string_at(ctx, 1));
    if (id == DISPID_UNKNOWN) throw_com_error(ctx, DISP_E_UNKNOWNNAME);
    const HRESULT hr = invoke(ctx, d, id, DISPATCH_PROPERTYPUT, 2, 1, true);
    if (failed(hr)) throw_pushed(ctx, hr);
    duk_pop(ctx);
    duk_push_true(ctx);
    return 1;
}

duk_ret_t release_target(duk_context* ctx) {
    duk_get_prop_string(ctx, 0, kPointer);
    if (auto* d = static_cast<IDispatch*>(duk_get_pointer(ctx, -1))) {
        d->Release();
        duk_push_pointer(ctx, nullptr);
        duk_put_prop_string(ctx, 0, kPointer);
    }
    return 0;
}

// The wrapper takes over the reference d holds.
void push_wrapper(duk_context* ctx, IDispatch* d) {
    duk_push_object(ctx);  // target
    duk_push_pointer(ctx, d);
    duk_put_prop_string(ctx, -2, kPointer);
    duk_push_c_function(ctx, release_target, 1);
    duk_set_finalizer(ctx, -2);
    duk_push_object(ctx);  // handler
    duk_push_c_function(ctx, trap_get, 3);
    duk_put_prop_string(ctx, -2, "get");
    duk_push_c_function(ctx, trap_set, 4);
    duk_put_prop_string(ctx, -2, "set");
    duk_push_proxy(ctx, 0);
}

// What a browser asks before it lets a page script an object.
bool safe_for_scripting(IDispatch* d, const CLSID& clsid) {
    ComPtr<IObjectSafety> safety;
    if (failed(d->QueryInterface(IID_IObjectSafety, safety.put_void())))
        return class_implements_category(clsid, CATID_SafeForScripting);
    std::uint32_t supported = 0, enabled = 0;
    if (failed(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled)))
        return false;
    if (!(supported & INTERFACESAFE_FOR_UNTRUSTED_CALLER)) return false;
    if (enabled & INTERFACESAFE_FOR_UNTRUSTED_CALLER) return true;
    return succeeded(safety->SetInterfaceSafetyOptions(
        IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER, INTERFACESAFE_FOR_UNTRUSTED_CALLER));
}

// Creates the object the ProgID names; null when it cannot be had.
IDispatch* create_object(duk_context* ctx) {
    const std::string progid = utf16_to_utf8(string_at(ctx, 0));
    CLSID clsid;
    if (failed(CLSIDFromProgID(progid, &clsid))) return nullptr;
    IDispatch* d = nullptr;
    if (failed(CoCreateInstance(clsid, nullptr, IID_IDispatch, reinterpret_cast<void**>(&d))))
        return nullptr;
    if (!d || !safe_for_scripting(d, clsid)) {
        if (d) d->Release();
        return nullptr;
    }
    return d;
}

duk_ret_t activex_construct(duk_context* ctx) {
    if (!duk_is_constructor_call(ctx) || !duk_is_string(ctx, 0))
        throw_com_error(ctx, kCannotCreate);
    IDispatch* d = create_object(ctx);
    if (!d) throw_com_error(ctx, kCannotCreate);
    push_wrapper(ctx, d);
    return 1;
}

}  // namespace

void activex_set_last_result(duk_context* ctx, int hr) {
    duk_get_global_string(ctx, "WScript");
    if (duk_is_object(ctx, -1)) {
        duk_push_int(ctx, hr);
        duk_put_prop_string(ctx, -2, "LastResult");
    }
    duk_pop(ctx);
}

void activex_install(duk_context* ctx) {
    duk_push_c_function(ctx, activex_construct, 1);
    duk_put_global_string(ctx, "ActiveXObject");
}

}  // namespace cadb::host
