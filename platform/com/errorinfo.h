// Per-thread error information: a method that fails may leave an error object
// (source, interface, description) for its caller on the calling thread. The
// next SetErrorInfo replaces it; GetErrorInfo hands it over and clears it.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"

namespace cadb::com {

// The thread's error object becomes info (one reference taken; null clears).
CADB_COM_API HRESULT SetErrorInfo(std::uint32_t reserved, IErrorInfo* info);
// *info receives the thread's error object (the caller releases it) and the
// thread's slot is cleared; S_FALSE and null when there is none.
CADB_COM_API HRESULT GetErrorInfo(std::uint32_t reserved, IErrorInfo** info);

// A new error object; null when out of memory.
CADB_COM_API IErrorInfo* error_info_new(const GUID& iid, std::u16string_view source,
                                        std::u16string_view description);

// What a class does when one of its methods fails: the error object names the
// class (its identity in text as the source), the interface and the text,
// becomes the thread's, and hr is returned.
CADB_COM_API HRESULT report_error(const CLSID& clsid, const IID& iid,
                                  std::u16string_view description, HRESULT hr);

}  // namespace cadb::com
