// Certificates shown to a page as XML: those accepted from the last answer
// and one read from a file. The DOM writes every value escaped, so a field
// holding markup characters stays text.
#include <optional>
#include <string>

#include "enrol/alert.h"
#include "enrol/cert_asn2xml.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"
#include "enrol/script_text.h"
#include "platform/xml/xml_document_object.h"
#include "wrappers/asn2xml.h"

namespace cadb::enrol {

using com::S_OK;

namespace {

constexpr I4 kReturnText = 8;
constexpr I4 kReturnDocument = 9;

// The XML text of a certificate's DER (local code page); nullopt when it
// does not convert.
std::optional<std::string> certificate_xml(const TBuffer& der) {
    TCertASN2XML builder;
    TXMLDomHolder holder(builder);
    if (!holder.convert(der.getData(), der.getLength())) return std::nullopt;
    return holder.xml();
}

}  // namespace

HRESULT CQuillon::CertXML(I4 lInx, I4 lRetType, VARIANT* pVal) {
    log_line("CQuillon::CertXML()...Entry");
    try {
        if (!accepted_content_) return PrepareAlert(kResponseNotAccepted);
        if (lInx < 0 || static_cast<std::size_t>(lInx) >= accepted_certs_.size())
            return PrepareAlert(kExtraCertificateIndex);
        // The output encoding, not the parsed form: a certificate held as its
        // bytes alone (a key algorithm the library does not compute) has one.
        TCertificate copy(accepted_certs_[static_cast<std::size_t>(lInx)]);
        copy.setFormat(TCertificate::kFormatDER);
        const TBuffer* der = copy.getEncoded();
        if (der == nullptr || der->isEmpty()) return PrepareAlert(kCertificateConversionError);
        TCertASN2XML builder;
        TXMLDomHolder holder(builder);
        if (!holder.convert(der->getData(), der->getLength()))
            return PrepareAlert(kCertificateXmlError);
        if (lRetType == kReturnText && pVal != nullptr) {
            const std::optional<std::string> xml = holder.xml();
            BSTR text = xml ? com::bstr_from_ansi(*xml) : nullptr;
            if (text == nullptr) return PrepareAlert(kCertificateXmlError);
            com::VariantClear(pVal);
            pVal->vt = com::VT_BSTR;
            pVal->bstrVal = text;
        } else if (lRetType == kReturnDocument && pVal != nullptr) {
            com::IDispatch* document = nullptr;
            if (com::XmlDocumentObject::create(holder.releaseDocument(), &module_count(),
                                               &document) != S_OK)
                return PrepareAlert(kCertificateXmlError);
            com::VariantClear(pVal);
            pVal->vt = com::VT_DISPATCH;
            pVal->pdispVal = document;
        }
        return S_OK;
    } catch (...) {
        log_line("CQuillon::CertXML()...Exception Caught!");
        return PrepareAlert(kCertificateXmlError);
    }
}

HRESULT CQuillon::GetCertFileXML(BSTR bstrCertPath, BSTR* pBSTR_XML) {
    const std::string path = ansi_or_utf8(bstrCertPath);
    log_line("CQuillon::GetCertFileXML(bstrCertPath:[%s] ", path.c_str());
    try {
        if (path.empty()) return PrepareAlert(kCertificateFileBad);
        TCertificate cert;
        if (!cert.loadFile(path.c_str())) return PrepareAlert(kCertificateFileBad);
        const auto der = cert.encode(TCertificate::kFormatDER);
        if (!der || der->isEmpty()) return PrepareAlert(kCertificateConversionError);
        const std::optional<std::string> xml = certificate_xml(*der);
        if (!xml) return PrepareAlert(kCertificateXmlError);
        BSTR text = com::bstr_from_ansi(*xml);
        if (text == nullptr) return PrepareAlert(kCertificateXmlError);
        clear_out(pBSTR_XML);
        if (pBSTR_XML) *pBSTR_XML = text;
        else com::SysFreeString(text);
        return S_OK;
    } catch (...) {
        log_line("CQuillon::GetCertFileXML()...Exception Caught!");
        return PrepareAlert(kCertificateFileBad);
    }
}

}  // namespace cadb::enrol
