#include "platform/com/dispatch.h"

#include <vector>

#include "platform/com/errorinfo.h"

namespace cadb::com {

namespace {

bool name_matches(const char* member, const char16_t* name) {
    for (; *member && *name; ++member, ++name) {
        char16_t a = static_cast<unsigned char>(*member);
        char16_t b = *name;
        if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
        if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
        if (a != b) return false;
    }
    return *member == 0 && *name == 0;
}

const DispMember* select_member(std::span<const DispMember> members, DISPID id,
                                std::uint16_t flags) {
    const DispMember* method = nullptr;
    const DispMember* get = nullptr;
    const DispMember* put = nullptr;
    for (const DispMember& m : members) {
        if (m.id != id) continue;
        if (m.kind == MemberKind::method) method = &m;
        if (m.kind == MemberKind::get) get = &m;
        if (m.kind == MemberKind::put) put = &m;
    }
    if (flags & DISPATCH_PROPERTYPUT) return put;
    if ((flags & DISPATCH_METHOD) && method) return method;
    if (flags & DISPATCH_PROPERTYGET) return get;
    return nullptr;
}

bool is_output(ArgType t) {
    return t == ArgType::out_i4 || t == ArgType::out_bstr || t == ArgType::out_variant;
}

// A caller's argument that can take an output back.
bool is_reference(const VARIANT& v) {
    return v.vt == (VT_BYREF | VT_VARIANT) || v.vt == (VT_BYREF | VT_I4) ||
           v.vt == (VT_BYREF | VT_BSTR);
}

// The output's first value: what the caller passed by reference.
HRESULT load_output(ArgType type, const VARIANT& given, ArgSlot& slot) {
    const VARIANT* v = variant_deref(&given);
    switch (type) {
        case ArgType::out_i4:
            return v->vt == VT_EMPTY ? S_OK : variant_to_i4(v, &slot.i4);
        case ArgType::out_bstr:
            return v->vt == VT_EMPTY || v->vt == VT_NULL ? S_OK : variant_to_bstr(v, &slot.bstr);
        default:
            return VariantCopy(&slot.var, v);
    }
}

// Moves an output into a VARIANT the caller owns.
void store_output(ArgType type, ArgSlot& slot, VARIANT* dst) {
    VariantClear(dst);
    switch (type) {
        case ArgType::out_i4:
            dst->vt = VT_I4;
            dst->lVal = slot.i4;
            break;
        case ArgType::out_bstr:
            dst->vt = VT_BSTR;
            dst->bstrVal = slot.bstr;
            slot.bstr = nullptr;
            break;
        default:
            *dst = slot.var;
            VariantInit(&slot.var);
            break;
    }
}

void write_back(ArgType type, ArgSlot& slot, VARIANT& given) {
    if (given.vt == (VT_BYREF | VT_VARIANT)) {
        if (given.pvarVal) store_output(type, slot, given.pvarVal);
    } else if (given.vt == (VT_BYREF | VT_I4) && type == ArgType::out_i4) {
        if (given.plVal) *given.plVal = slot.i4;
    } else if (given.vt == (VT_BYREF | VT_BSTR) && type == ArgType::out_bstr) {
        if (given.pbstrVal) {
            SysFreeString(*given.pbstrVal);
            *given.pbstrVal = slot.bstr;
            slot.bstr = nullptr;
        }
    }
}

struct Slots {
    std::vector<ArgSlot> slots;
    explicit Slots(std::size_t n) : slots(n) {}
    ~Slots() {
        for (ArgSlot& s : slots) {
            SysFreeString(s.bstr);
            VariantClear(&s.var);
        }
    }
};

}  // namespace

HRESULT dispatch_ids_of_names(std::span<const DispMember> members, const char16_t* const* names,
                              std::uint32_t count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        // Only the first name is a member; named arguments are not served.
        if (i == 0 && names[0]) {
            for (const DispMember& m : members) {
                if (name_matches(m.name, names[0])) {
                    ids[0] = m.id;
                    break;
                }
            }
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT dispatch_invoke(std::span<const DispMember> members, void* iface, DISPID id,
                        std::uint16_t flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        std::uint32_t* arg_err) {
    SetErrorInfo(0, nullptr);
    const DispMember* member = select_member(members, id, flags);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none;
    if (!params) params = &none;
    const std::uint32_t given = params->cArgs;
    if (given > member->arg_count) return DISP_E_BADPARAMCOUNT;

    Slots slots(member->arg_count);
    std::vector<bool> by_reference(member->arg_count, false);
    int retval = -1;
    for (std::uint32_t k = 0; k < member->arg_count; ++k) {
        const ArgType type = member->args[k];
        ArgSlot& slot = slots.slots[k];
        if (k >= given) {
            if (!is_output(type)) return DISP_E_BADPARAMCOUNT;
            if (k + 1 == member->arg_count) retval = static_cast<int>(k);
            continue;
        }
        // Arguments come last first.
        const std::uint32_t pos = given - 1 - k;
        VARIANT& arg = params->rgvarg[pos];
        HRESULT hr = S_OK;
        if (is_output(type)) {
            by_reference[k] = is_reference(arg);
            if (by_reference[k]) hr = load_output(type, arg, slot);
        } else if (type == ArgType::i4) {
            hr = variant_to_i4(&arg, &slot.i4);
        } else {
            hr = variant_to_bstr(&arg, &slot.bstr);
        }
        if (failed(hr)) {
            if (arg_err) *arg_err = pos;
            return hr;
        }
    }

    const HRESULT hr = member->call(iface, slots.slots.data());

    for (std::uint32_t k = 0; k < member->arg_count && k < given; ++k)
        if (by_reference[k])
            write_back(member->args[k], slots.slots[k], params->rgvarg[given - 1 - k]);
    if (succeeded(hr)) {
        if (result) {
            if (retval >= 0)
                store_output(member->args[retval], slots.slots[retval], result);
            else
                VariantClear(result);
        }
        return hr;
    }
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return hr;
    if (excep) {
        info->GetSource(&excep->bstrSource);
        info->GetDescription(&excep->bstrDescription);
        excep->scode = hr;
    }
    info->Release();
    return DISP_E_EXCEPTION;
}

}  // namespace cadb::com
