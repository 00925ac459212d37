// IQuillon: the dual interface of the enrolment object. Its slots follow
// IDispatch's in dispatch-id order, a property's get before its put (for
// PassOnContainer the put comes first); the member table (quillon_members.cpp)
// gives each its dispatch id. Dispatch ids 52 to 54 do not exist.
#pragma once

#include <cstdint>

#include "platform/com/interfaces.h"

namespace cadb::enrol {

using com::BSTR;
using com::HRESULT;
using com::VARIANT;
using I4 = std::int32_t;

struct IQuillon : com::IDispatch {
    virtual HRESULT createFilePKCS10(BSTR DNName, BSTR Usage, BSTR wszPKCS10FileName) = 0;  // 1
    virtual HRESULT acceptFilePKCS7(BSTR wszPKCS7FileName) = 0;                             // 2
    virtual HRESULT createPKCS10(BSTR DNName, BSTR Usage, BSTR* pPKCS10) = 0;               // 3
    virtual HRESULT acceptPKCS7(BSTR PKCS7) = 0;                                            // 4
    virtual HRESULT getCertFromPKCS7(BSTR wszPKCS7, BSTR* pbstrCert) = 0;                   // 5
    virtual HRESULT enumProviders(I4 dwIndex, I4 dwFlags, BSTR* pbstrProvName) = 0;         // 6
    virtual HRESULT get_ProviderName(BSTR* pVal) = 0;                                       // 7
    virtual HRESULT put_ProviderName(BSTR newVal) = 0;
    virtual HRESULT get_ProviderType(I4* pVal) = 0;  // 8
    virtual HRESULT put_ProviderType(I4 newVal) = 0;
    virtual HRESULT get_KeySpec(I4* pVal) = 0;  // 9
    virtual HRESULT put_KeySpec(I4 newVal) = 0;
    virtual HRESULT get_UseExistingKeySet(I4* pVal) = 0;  // 10
    virtual HRESULT put_UseExistingKeySet(I4 newVal) = 0;
    virtual HRESULT get_HashAlgorithm(BSTR* pVal) = 0;  // 11
    virtual HRESULT put_HashAlgorithm(BSTR newVal) = 0;
    virtual HRESULT addNameValuePairToRequest(I4 Flags, BSTR strName, BSTR strValue) = 0;  // 12
    virtual HRESULT Reset() = 0;                                                           // 13
    virtual HRESULT GetSupportedKeySpec(I4* pdwKeySpec) = 0;                               // 14
    virtual HRESULT GetKeyLenEx(I4 lSizeSpec, I4 lKeySpec, I4* pdwKeySize) = 0;            // 15
    virtual HRESULT GetKeyLen(I4 fMin, I4 fExchange, I4* pdwKeySize) = 0;                  // 16
    virtual HRESULT EnumAlgs(I4 dwIndex, I4 algClass, I4* pdwAlgID) = 0;                   // 17
    virtual HRESULT GetAlgName(I4 algID, BSTR* pbstr) = 0;                                 // 18
    virtual HRESULT get_HashAlgID(I4* pVal) = 0;                                           // 19
    virtual HRESULT put_HashAlgID(I4 newVal) = 0;
    virtual HRESULT get_EnableSMIMECapabilities(I4* pVal) = 0;  // 20
    virtual HRESULT put_EnableSMIMECapabilities(I4 newVal) = 0;
    virtual HRESULT get_ThumbPrint(BSTR* pVal) = 0;  // 21
    virtual HRESULT put_ThumbPrint(BSTR newVal) = 0;
    virtual HRESULT addExtensionToRequest(I4 Flags, BSTR strName, BSTR strValue) = 0;  // 22
    virtual HRESULT addAttributeToRequest(I4 Flags, BSTR strName, BSTR strValue) = 0;  // 23
    virtual HRESULT resetExtensions() = 0;                                             // 24
    virtual HRESULT resetAttributes() = 0;                                             // 25
    virtual HRESULT createRequestBegin(I4 Flags, BSTR strDNName, BSTR Usage,
                                       I4 bSetDefaultExts) = 0;  // 26
    virtual HRESULT createFileRequestBegin(I4 Flags, BSTR strDNName, BSTR strUsage,
                                           BSTR strRequestFileName, I4 bSetDefaultExts) = 0;  // 27
    virtual HRESULT createPFX(BSTR strPassword, BSTR* pfx) = 0;                               // 28
    virtual HRESULT createFilePFX(BSTR strPassword, BSTR strFileName) = 0;                    // 29
    virtual HRESULT getProviderType(BSTR strProvName, I4* plProvType) = 0;                    // 30
    virtual HRESULT put_SignerCertificate(BSTR newVal) = 0;                                   // 31
    virtual HRESULT get_ClientId(I4* pVal) = 0;                                               // 32
    virtual HRESULT put_ClientId(I4 newVal) = 0;
    virtual HRESULT addBlobPropertyToCertificate(I4 lPropertyId, I4 lReserved,
                                                 BSTR bstrProperty) = 0;  // 33
    virtual HRESULT resetBlobProperties() = 0;                            // 34
    virtual HRESULT get_GenKeyFlags(I4* pVal) = 0;                        // 35
    virtual HRESULT put_GenKeyFlags(I4 newVal) = 0;
    virtual HRESULT get_ContainerName(BSTR* pVal) = 0;  // 36
    virtual HRESULT put_ContainerName(BSTR newVal) = 0;
    virtual HRESULT get_UseInternalTID(I4* pVal) = 0;  // 37
    virtual HRESULT put_UseInternalTID(I4 newVal) = 0;
    virtual HRESULT get_TID(BSTR* pVal) = 0;  // 38
    virtual HRESULT put_TID(BSTR newVal) = 0;
    virtual HRESULT createFileRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName,
                                         BSTR bstrKeyFileName) = 0;  // 39
    virtual HRESULT createRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName,
                                     BSTR bstrKeyFileName, BSTR* pbstrReq) = 0;  // 40
    virtual HRESULT createRvcBegin(BSTR strCertFileName, I4 lReason, BSTR strPassword,
                                   BSTR strComment, BSTR bstrContainer) = 0;  // 41
    virtual HRESULT createRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign,
                                       BSTR bstrKeyFileName, BSTR* pstrRequest) = 0;  // 42
    virtual HRESULT createRvcEnd(BSTR* pstrRequest) = 0;                              // 43
    virtual HRESULT createFileRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign,
                                           BSTR bstrKeyFileName, BSTR strFileName) = 0;  // 44
    virtual HRESULT createFileRvcEnd(BSTR strRequest) = 0;                               // 45
    virtual HRESULT IsPSEExists(BSTR bstrPSEPath, I4* pResult) = 0;                      // 46
    virtual HRESULT IsFileExists(BSTR bstrFileName, I4* pbRes) = 0;                      // 47
    virtual HRESULT DeletePSE(BSTR bstrPSEPath) = 0;                                     // 48
    virtual HRESULT get_DefaultPSEPath(BSTR* pVal) = 0;                                  // 49
    virtual HRESULT put_DefaultPSEPath(BSTR newVal) = 0;
    virtual HRESULT get_DefaultPKeyPath(BSTR* pVal) = 0;  // 50
    virtual HRESULT put_DefaultPKeyPath(BSTR newVal) = 0;
    virtual HRESULT get_DefaultPKeyFileName(BSTR* pVal) = 0;  // 51
    virtual HRESULT put_DefaultPKeyFileName(BSTR newVal) = 0;
    virtual HRESULT CertPathLen(I4* pVal) = 0;                           // 55
    virtual HRESULT CertXML(I4 lInx, I4 lRetType, VARIANT* pVal) = 0;    // 56
    virtual HRESULT CRLXML(I4 lInx, I4 lRetType, VARIANT* pVal) = 0;     // 57
    virtual HRESULT SaveCert(I4 lInx, I4 lFormat) = 0;                   // 58
    virtual HRESULT SaveCRL(I4 lInx, I4 lFormat) = 0;                    // 59
    virtual HRESULT IsPSEPathReady(BSTR bstrPath, I4* pbReady) = 0;      // 60
    virtual HRESULT DefMediaPKeyFileName(I4 lMediaInx, BSTR* pVal) = 0;  // 61
    virtual HRESULT FindPairPKeyByCert(BSTR bstrCertFName, BSTR bstrPSEPath, BSTR bstrPKeyPath,
                                       I4 askPKPass, BSTR* pName) = 0;         // 62
    virtual HRESULT getAcceptedPKCS7Content(BSTR* pVal) = 0;                   // 63
    virtual HRESULT GetCertFileXML(BSTR bstrCertPath, BSTR* pBSTR_XML) = 0;    // 64
    virtual HRESULT SaveCertAs(BSTR bstrCertView, BSTR bstrSaveFileName) = 0;  // 65
    virtual HRESULT SaveCRLAs(BSTR bstrCRLView, BSTR bstrSaveFileName) = 0;    // 66
    virtual HRESULT AcceptPKCS7Response(BSTR bstrPKCS7Resp, I4 bCheckSign, VARIANT* varTransID,
                                        VARIANT* pvarSubject, VARIANT* pvarIssuer,
                                        VARIANT* pvarSerial, VARIANT* pvarStatus,
                                        VARIANT* pvarReason, VARIANT* pvarStatusString) = 0;  // 67
    virtual HRESULT AcceptPKCS7ResponseFile(BSTR bstrPKCS7RespFileName, I4 bCheckSign,
                                            VARIANT* varTransID, VARIANT* pvarSubject,
                                            VARIANT* pvarIssuer, VARIANT* pvarSerial,
                                            VARIANT* pvarStatus, VARIANT* pvarReason,
                                            VARIANT* pvarStatusString) = 0;  // 68
    virtual HRESULT put_PassOnContainer(I4 newVal) = 0;                      // 69
    virtual HRESULT get_PassOnContainer(I4* pVal) = 0;
    virtual HRESULT P10_PrintableText(BSTR* pVal) = 0;      // 70
    virtual HRESULT LoadPKCS10(BSTR bstrPKCS10_PEM) = 0;    // 71
    virtual HRESULT LoadPKCS10File(BSTR bstrFileName) = 0;  // 72
    virtual HRESULT BrowseDevuces(BSTR bstrStartPath, I4 bFolderOnly, I4 bFileSystemOnly,
                                  BSTR* pbstrSelectPath) = 0;  // 73

  protected:
    ~IQuillon() = default;
};

}  // namespace cadb::enrol
