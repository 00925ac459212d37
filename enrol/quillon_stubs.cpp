// Members kept for the pages that call them, which do nothing but log their
// entry and succeed, leaving their outputs as they are; and those that do not
// even log.
#include "enrol/log.h"
#include "enrol/quillon.h"

namespace cadb::enrol {

using com::S_OK;

#define QUILLON_STUB(member, params, line) \
    HRESULT CQuillon::member params {      \
        log_line(line);                    \
        return S_OK;                       \
    }

QUILLON_STUB(getCertFromPKCS7, (BSTR, BSTR*), "CQuillon::getCertFromPKCS7()...Entry")
QUILLON_STUB(get_KeySpec, (I4*), "CQuillon::get_KeySpec()...Entry")
QUILLON_STUB(put_KeySpec, (I4), "CQuillon::put_KeySpec()...Entry")
QUILLON_STUB(get_HashAlgorithm, (BSTR*), "CQuillon::get_HashAlgorithm()...Entry")
QUILLON_STUB(put_HashAlgorithm, (BSTR), "CQuillon::put_HashAlgorithm()...Entry")
QUILLON_STUB(addNameValuePairToRequest, (I4, BSTR, BSTR),
             "CQuillon::addNameValuePairToRequest()...Entry")
QUILLON_STUB(GetKeyLenEx, (I4, I4, I4*), "CQuillon::GetKeyLenEx()...Entry")
QUILLON_STUB(get_EnableSMIMECapabilities, (I4*), "CQuillon::get_EnableSMIMECapabilities()...Entry")
QUILLON_STUB(put_EnableSMIMECapabilities, (I4), "CQuillon::put_EnableSMIMECapabilities()...Entry")
QUILLON_STUB(get_ThumbPrint, (BSTR*), "CQuillon::get_ThumbPrint()...Entry")
QUILLON_STUB(put_ThumbPrint, (BSTR), "CQuillon::put_ThumbPrint()...Entry")
QUILLON_STUB(addAttributeToRequest, (I4, BSTR, BSTR), "CQuillon::addAttributeToRequest()...Entry")
QUILLON_STUB(resetExtensions, (), "CQuillon::resetExtensions()...Entry")
QUILLON_STUB(resetAttributes, (), "CQuillon::resetAttributes()...Entry")
QUILLON_STUB(createPFX, (BSTR, BSTR*), "CQuillon::createPFX()...Entry")
QUILLON_STUB(createFilePFX, (BSTR, BSTR), "CQuillon::createFilePFX()...Entry")
QUILLON_STUB(getProviderType, (BSTR, I4*), "CQuillon::getProviderType()...Entry")
QUILLON_STUB(put_SignerCertificate, (BSTR), "CQuillon::put_SignerCertificate()...Entry")
QUILLON_STUB(get_ClientId, (I4*), "CQuillon::get_ClientId()...Entry")
QUILLON_STUB(put_ClientId, (I4), "CQuillon::put_ClientId()...Entry")
QUILLON_STUB(addBlobPropertyToCertificate, (I4, I4, BSTR),
             "CQuillon::addBlobPropertyToCertificate()...Entry")
QUILLON_STUB(resetBlobProperties, (), "CQuillon::resetBlobProperties()...Entry")

#undef QUILLON_STUB

HRESULT CQuillon::CRLXML(I4, I4, VARIANT*) { return S_OK; }
HRESULT CQuillon::SaveCRL(I4, I4) { return S_OK; }
HRESULT CQuillon::getAcceptedPKCS7Content(BSTR*) { return S_OK; }

}  // namespace cadb::enrol
