#include "platform/xml/xml_document_object.h"

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "platform/com/bstr.h"

namespace cadb::com {

HRESULT XmlDocumentObject::create(std::unique_ptr<XmlDocument> document, ModuleCount* module,
                                  IDispatch** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!document) return E_INVALIDARG;
    auto* object = new (std::nothrow) XmlDocumentObject(std::move(document), module);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    *out = static_cast<IXmlDocumentObject*>(object);
    return S_OK;
}

XmlDocumentObject::XmlDocumentObject(std::unique_ptr<XmlDocument> document, ModuleCount* module)
    : document_(std::move(document)), module_(module) {
    if (module_) module_->lock();
}

XmlDocumentObject::~XmlDocumentObject() {
    if (module_) module_->unlock();
}

void* XmlDocumentObject::find_interface(const IID& iid) {
    if (iid == IID_IDispatch || iid == IID_IXmlDocumentObject)
        return static_cast<IXmlDocumentObject*>(this);
    return nullptr;
}

std::span<const DispMember> XmlDocumentObject::members() {
    static constexpr DispMember table[] = {
        disp_get<&IXmlDocumentObject::get_xml>("xml", 1),
    };
    return table;
}

HRESULT XmlDocumentObject::get_xml(BSTR* pVal) {
    if (pVal == nullptr) return E_POINTER;
    try {
        const std::optional<std::string> text = document_->serialize("windows-1251");
        if (!text) return E_FAIL;
        BSTR made = bstr_from_ansi(*text);
        if (made == nullptr) return E_OUTOFMEMORY;
        SysFreeString(*pVal);
        *pVal = made;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace cadb::com
