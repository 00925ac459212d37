// Members whose work stands on layers this version does not have yet
// (responses, two-step and revocation requests, certificate views, the key
// search by certificate). Each fails honestly with E_NOTIMPL and a text
// saying so, its outputs empty.
#include "enrol/alert.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"

namespace cadb::enrol {

namespace {

void clear_variants(std::initializer_list<VARIANT*> outs) {
    for (VARIANT* v : outs)
        if (v) com::VariantClear(v);
}

}  // namespace

HRESULT CQuillon::acceptFilePKCS7(BSTR) { return not_available("acceptFilePKCS7"); }

HRESULT CQuillon::acceptPKCS7(BSTR) { return not_available("acceptPKCS7"); }

HRESULT CQuillon::createRequestBegin(I4, BSTR, BSTR, I4) {
    return not_available("createRequestBegin");
}
HRESULT CQuillon::createFileRequestBegin(I4, BSTR, BSTR, BSTR, I4) {
    return not_available("createFileRequestBegin");
}
HRESULT CQuillon::createFileRequestEnd(BSTR, BSTR, BSTR) {
    return not_available("createFileRequestEnd");
}

HRESULT CQuillon::createRequestEnd(BSTR, BSTR, BSTR, BSTR* pbstrReq) {
    clear_out(pbstrReq);
    return not_available("createRequestEnd");
}

HRESULT CQuillon::createRvcBegin(BSTR, I4, BSTR, BSTR, BSTR) {
    return not_available("createRvcBegin");
}

HRESULT CQuillon::createRvcEndSigned(BSTR, BSTR, BSTR, BSTR* pstrRequest) {
    clear_out(pstrRequest);
    return not_available("createRvcEndSigned");
}

HRESULT CQuillon::createRvcEnd(BSTR* pstrRequest) {
    clear_out(pstrRequest);
    return not_available("createRvcEnd");
}

HRESULT CQuillon::createFileRvcEndSigned(BSTR, BSTR, BSTR, BSTR) {
    return not_available("createFileRvcEndSigned");
}
HRESULT CQuillon::createFileRvcEnd(BSTR) { return not_available("createFileRvcEnd"); }

HRESULT CQuillon::CertXML(I4, I4, VARIANT* pVal) {
    clear_variants({pVal});
    return not_available("CertXML");
}

HRESULT CQuillon::SaveCert(I4, I4) { return not_available("SaveCert"); }

HRESULT CQuillon::FindPairPKeyByCert(BSTR, BSTR, BSTR, I4, BSTR* pName) {
    clear_out(pName);
    return not_available("FindPairPKeyByCert");
}

HRESULT CQuillon::GetCertFileXML(BSTR, BSTR* pBSTR_XML) {
    clear_out(pBSTR_XML);
    return not_available("GetCertFileXML");
}

HRESULT CQuillon::SaveCertAs(BSTR, BSTR) { return not_available("SaveCertAs"); }
HRESULT CQuillon::SaveCRLAs(BSTR, BSTR) { return not_available("SaveCRLAs"); }

// Outputs of the response readers stay as the caller passed them unless a
// value is found; none is read here.
HRESULT CQuillon::AcceptPKCS7Response(BSTR, I4, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                      VARIANT*, VARIANT*) {
    return not_available("AcceptPKCS7Response");
}

HRESULT CQuillon::AcceptPKCS7ResponseFile(BSTR, I4, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                          VARIANT*, VARIANT*, VARIANT*) {
    return not_available("AcceptPKCS7ResponseFile");
}

HRESULT CQuillon::LoadPKCS10(BSTR) { return not_available("LoadPKCS10"); }
HRESULT CQuillon::LoadPKCS10File(BSTR) { return not_available("LoadPKCS10File"); }

}  // namespace cadb::enrol
