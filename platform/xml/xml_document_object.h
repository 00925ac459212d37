// An XML document handed to a script as an object: what a page receives
// when it asks for a document rather than its text. Its `xml` property is
// the document's text in code page 1251 with the declaration the document
// carries, the same text the text form gives.
//
// The object owns its document. It counts as a live object of the module
// that made it, so the module is not unloaded while a script holds it.
#pragma once

#include <memory>
#include <span>

#include "platform/com/dispatch.h"
#include "platform/com/object.h"
#include "platform/xml/xml_dom.h"

namespace cadb::com {

struct IXmlDocumentObject : IDispatch {
    virtual HRESULT get_xml(BSTR* pVal) = 0;

  protected:
    ~IXmlDocumentObject() = default;
};

// {C8B0A1F2-5E47-4D2B-9A3C-7E61D0F4B512}
inline constexpr IID IID_IXmlDocumentObject = guid("{C8B0A1F2-5E47-4D2B-9A3C-7E61D0F4B512}");

class XmlDocumentObject final
    : public ComObject<XmlDocumentObject, Dispatchable<XmlDocumentObject, IXmlDocumentObject>> {
  public:
    // A new object owning document, its IDispatch in *out (one reference).
    // module (may be null) counts the object while it lives.
    static HRESULT create(std::unique_ptr<XmlDocument> document, ModuleCount* module,
                          IDispatch** out);

    void* find_interface(const IID& iid);
    static std::span<const DispMember> members();

    HRESULT get_xml(BSTR* pVal) override;

  private:
    XmlDocumentObject(std::unique_ptr<XmlDocument> document, ModuleCount* module);
    ~XmlDocumentObject() override;

    std::unique_ptr<XmlDocument> document_;
    ModuleCount* module_;
};

}  // namespace cadb::com
