// Outputs of the enrolment object's members: a string output replaces (and
// frees) what the component layer put there; every failure leaves outputs
// empty, so a script never reads a stale value after an error.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/types.h"

namespace cadb::enrol {

inline com::HRESULT set_out(com::BSTR* out, std::u16string_view text) {
    if (!out) return com::E_POINTER;
    com::SysFreeString(*out);
    *out = com::bstr_from_utf16(text);
    return *out ? com::S_OK : com::E_OUTOFMEMORY;
}

inline void clear_out(com::BSTR* out) {
    if (!out) return;
    com::SysFreeString(*out);
    *out = nullptr;
}

}  // namespace cadb::enrol
