// Late binding without a type library: each class keeps a static member table
// (name, dispatch id, kind, argument types) built from its interface's
// methods, and IDispatch serves names and calls from it. Names match without
// regard to case. Argument types follow the C++ signature:
//   int32_t -> 32-bit integer in        BSTR -> string in (the caller's)
//   int32_t* -> integer out             BSTR* -> string out
//   VARIANT* -> VARIANT out
// An output the caller passes by reference (VT_BYREF) is written back to it;
// the last parameter, when it is an output the caller leaves out, is the
// call's result. Outputs start as the value the caller passed (or empty).
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "platform/com/interfaces.h"

namespace cadb::com {

enum class ArgType : std::uint8_t { i4, bstr, out_i4, out_bstr, out_variant };
enum class MemberKind : std::uint8_t { method, get, put };

// One argument's storage during a call.
struct ArgSlot {
    std::int32_t i4 = 0;
    BSTR bstr = nullptr;
    VARIANT var;
};

struct DispMember {
    const char* name;
    DISPID id;
    MemberKind kind;
    const ArgType* args;
    std::uint8_t arg_count;
    HRESULT (*call)(void* iface, ArgSlot* slots);
};

namespace detail {

template <class A>
struct ArgOf;
template <>
struct ArgOf<std::int32_t> {
    static constexpr ArgType type = ArgType::i4;
    static std::int32_t get(ArgSlot& s) { return s.i4; }
};
template <>
struct ArgOf<BSTR> {
    static constexpr ArgType type = ArgType::bstr;
    static BSTR get(ArgSlot& s) { return s.bstr; }
};
template <>
struct ArgOf<std::int32_t*> {
    static constexpr ArgType type = ArgType::out_i4;
    static std::int32_t* get(ArgSlot& s) { return &s.i4; }
};
template <>
struct ArgOf<BSTR*> {
    static constexpr ArgType type = ArgType::out_bstr;
    static BSTR* get(ArgSlot& s) { return &s.bstr; }
};
template <>
struct ArgOf<VARIANT*> {
    static constexpr ArgType type = ArgType::out_variant;
    static VARIANT* get(ArgSlot& s) { return &s.var; }
};

template <auto Fn>
struct Bound;
template <class I, class... A, HRESULT (I::*Fn)(A...)>
struct Bound<Fn> {
    static constexpr ArgType types[sizeof...(A) + 1] = {ArgOf<A>::type..., ArgType::i4};
    static constexpr std::uint8_t count = sizeof...(A);
    static HRESULT call(void* iface, ArgSlot* slots) {
        return call_at(static_cast<I*>(iface), slots, std::index_sequence_for<A...>{});
    }
    template <std::size_t... K>
    static HRESULT call_at(I* self, [[maybe_unused]] ArgSlot* slots, std::index_sequence<K...>) {
        return (self->*Fn)(ArgOf<A>::get(slots[K])...);
    }
};

}  // namespace detail

template <auto Fn>
constexpr DispMember disp_method(const char* name, DISPID id) {
    using B = detail::Bound<Fn>;
    return {name, id, MemberKind::method, B::types, B::count, &B::call};
}
template <auto Fn>
constexpr DispMember disp_get(const char* name, DISPID id) {
    using B = detail::Bound<Fn>;
    return {name, id, MemberKind::get, B::types, B::count, &B::call};
}
template <auto Fn>
constexpr DispMember disp_put(const char* name, DISPID id) {
    using B = detail::Bound<Fn>;
    return {name, id, MemberKind::put, B::types, B::count, &B::call};
}

CADB_COM_API HRESULT dispatch_ids_of_names(std::span<const DispMember> members,
                                           const char16_t* const* names, std::uint32_t count,
                                           DISPID* ids);

// Calls the member of iface that id and flags select. The thread's error
// object is cleared first; a failing member that leaves one makes the call
// give DISP_E_EXCEPTION with excep filled from it (scode the member's result).
CADB_COM_API HRESULT dispatch_invoke(std::span<const DispMember> members, void* iface, DISPID id,
                                     std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, std::uint32_t* arg_err);

// IDispatch of interface I over Derived's member table
// (`static std::span<const DispMember> members()`).
template <class Derived, class I>
class Dispatchable : public I {
  public:
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const char16_t* const* names, std::uint32_t count, LCID,
                          DISPID* ids) override {
        return dispatch_ids_of_names(Derived::members(), names, count, ids);
    }
    HRESULT Invoke(DISPID id, LCID, std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, std::uint32_t* arg_err) override {
        return dispatch_invoke(Derived::members(), static_cast<I*>(this), id, flags, params, result,
                               excep, arg_err);
    }
};

}  // namespace cadb::com
