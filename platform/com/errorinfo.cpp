#include "platform/com/errorinfo.h"

#include <new>
#include <string>

#include "platform/com/object.h"

namespace cadb::com {

namespace {

class ErrorInfo final : public ComObject<ErrorInfo, IErrorInfo> {
  public:
    ErrorInfo(const GUID& iid, std::u16string_view source, std::u16string_view description)
        : iid_(iid), source_(source), description_(description) {}

    void* find_interface(const IID& iid) {
        return iid == IID_IErrorInfo ? static_cast<IErrorInfo*>(this) : nullptr;
    }

    HRESULT GetGUID(GUID* iid) override {
        if (!iid) return E_INVALIDARG;
        *iid = iid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return copy_out(source_, source); }
    HRESULT GetDescription(BSTR* description) override {
        return copy_out(description_, description);
    }
    HRESULT GetHelpFile(BSTR* file) override {
        if (!file) return E_INVALIDARG;
        *file = nullptr;
        return S_OK;
    }
    HRESULT GetHelpContext(std::uint32_t* context) override {
        if (!context) return E_INVALIDARG;
        *context = 0;
        return S_OK;
    }

  private:
    static HRESULT copy_out(const std::u16string& text, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = bstr_from_utf16(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    GUID iid_;
    std::u16string source_;
    std::u16string description_;
};

// The thread's error object; released when the thread ends.
struct ThreadSlot {
    IErrorInfo* info = nullptr;
    ~ThreadSlot() {
        if (info) info->Release();
    }
};
thread_local ThreadSlot t_slot;

}  // namespace

HRESULT SetErrorInfo(std::uint32_t, IErrorInfo* info) {
    if (info) info->AddRef();
    if (t_slot.info) t_slot.info->Release();
    t_slot.info = info;
    return S_OK;
}

HRESULT GetErrorInfo(std::uint32_t, IErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = t_slot.info;
    t_slot.info = nullptr;
    return *info ? S_OK : S_FALSE;
}

IErrorInfo* error_info_new(const GUID& iid, std::u16string_view source,
                           std::u16string_view description) {
    auto* object = new (std::nothrow) ErrorInfo(iid, source, description);
    if (!object) return nullptr;
    object->AddRef();
    return object;
}

HRESULT report_error(const CLSID& clsid, const IID& iid, std::u16string_view description,
                     HRESULT hr) {
    IErrorInfo* info = error_info_new(iid, utf8_to_utf16(guid_format(clsid)), description);
    SetErrorInfo(0, info);
    if (info) info->Release();
    return hr;
}

}  // namespace cadb::com
