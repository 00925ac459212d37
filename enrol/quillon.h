// CQuillon: the enrolment object (coclass Quillon). Scripts create it, choose
// an algorithm, set a few properties and call the request, response,
// revocation and certificate members of IQuillon. Besides IQuillon it carries
// the interfaces a browser asks a control for: error information, object
// safety and site.
//
// The object lives on its caller's thread and is not shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "enrol/quillon_iface.h"
#include "enrol/request_parts.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tcmc.h"
#include "platform/com/dispatch.h"
#include "platform/com/object.h"

namespace cadb {
class TPSE;
class TPrivateKey;
}  // namespace cadb

namespace cadb::enrol {

struct TwoStepRequest;

class CQuillon final
    : public com::ComObject<CQuillon, com::Dispatchable<CQuillon, IQuillon>, com::ISupportErrorInfo,
                            com::IObjectSafety, com::IObjectWithSite> {
  public:
    explicit CQuillon(com::IUnknown* outer);
    ~CQuillon() override;

    // Runs once the class factory has made the object.
    HRESULT final_construct();
    void* find_interface(const com::IID& iid);
    static std::span<const com::DispMember> members();

    HRESULT createFilePKCS10(BSTR DNName, BSTR Usage, BSTR wszPKCS10FileName) override;
    HRESULT acceptFilePKCS7(BSTR wszPKCS7FileName) override;
    HRESULT createPKCS10(BSTR DNName, BSTR Usage, BSTR* pPKCS10) override;
    HRESULT acceptPKCS7(BSTR PKCS7) override;
    HRESULT getCertFromPKCS7(BSTR wszPKCS7, BSTR* pbstrCert) override;
    HRESULT enumProviders(I4 dwIndex, I4 dwFlags, BSTR* pbstrProvName) override;
    HRESULT get_ProviderName(BSTR* pVal) override;
    HRESULT put_ProviderName(BSTR newVal) override;
    HRESULT get_ProviderType(I4* pVal) override;
    HRESULT put_ProviderType(I4 newVal) override;
    HRESULT get_KeySpec(I4* pVal) override;
    HRESULT put_KeySpec(I4 newVal) override;
    HRESULT get_UseExistingKeySet(I4* pVal) override;
    HRESULT put_UseExistingKeySet(I4 newVal) override;
    HRESULT get_HashAlgorithm(BSTR* pVal) override;
    HRESULT put_HashAlgorithm(BSTR newVal) override;
    HRESULT addNameValuePairToRequest(I4 Flags, BSTR strName, BSTR strValue) override;
    HRESULT Reset() override;
    HRESULT GetSupportedKeySpec(I4* pdwKeySpec) override;
    HRESULT GetKeyLenEx(I4 lSizeSpec, I4 lKeySpec, I4* pdwKeySize) override;
    HRESULT GetKeyLen(I4 fMin, I4 fExchange, I4* pdwKeySize) override;
    HRESULT EnumAlgs(I4 dwIndex, I4 algClass, I4* pdwAlgID) override;
    HRESULT GetAlgName(I4 algID, BSTR* pbstr) override;
    HRESULT get_HashAlgID(I4* pVal) override;
    HRESULT put_HashAlgID(I4 newVal) override;
    HRESULT get_EnableSMIMECapabilities(I4* pVal) override;
    HRESULT put_EnableSMIMECapabilities(I4 newVal) override;
    HRESULT get_ThumbPrint(BSTR* pVal) override;
    HRESULT put_ThumbPrint(BSTR newVal) override;
    HRESULT addExtensionToRequest(I4 Flags, BSTR strName, BSTR strValue) override;
    HRESULT addAttributeToRequest(I4 Flags, BSTR strName, BSTR strValue) override;
    HRESULT resetExtensions() override;
    HRESULT resetAttributes() override;
    HRESULT createRequestBegin(I4 Flags, BSTR strDNName, BSTR Usage, I4 bSetDefaultExts) override;
    HRESULT createFileRequestBegin(I4 Flags, BSTR strDNName, BSTR strUsage, BSTR strRequestFileName,
                                   I4 bSetDefaultExts) override;
    HRESULT createPFX(BSTR strPassword, BSTR* pfx) override;
    HRESULT createFilePFX(BSTR strPassword, BSTR strFileName) override;
    HRESULT getProviderType(BSTR strProvName, I4* plProvType) override;
    HRESULT put_SignerCertificate(BSTR newVal) override;
    HRESULT get_ClientId(I4* pVal) override;
    HRESULT put_ClientId(I4 newVal) override;
    HRESULT addBlobPropertyToCertificate(I4 lPropertyId, I4 lReserved, BSTR bstrProperty) override;
    HRESULT resetBlobProperties() override;
    HRESULT get_GenKeyFlags(I4* pVal) override;
    HRESULT put_GenKeyFlags(I4 newVal) override;
    HRESULT get_ContainerName(BSTR* pVal) override;
    HRESULT put_ContainerName(BSTR newVal) override;
    HRESULT get_UseInternalTID(I4* pVal) override;
    HRESULT put_UseInternalTID(I4 newVal) override;
    HRESULT get_TID(BSTR* pVal) override;
    HRESULT put_TID(BSTR newVal) override;
    HRESULT createFileRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName,
                                 BSTR bstrKeyFileName) override;
    HRESULT createRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName, BSTR bstrKeyFileName,
                             BSTR* pbstrReq) override;
    HRESULT createRvcBegin(BSTR strCertFileName, I4 lReason, BSTR strPassword, BSTR strComment,
                           BSTR bstrContainer) override;
    HRESULT createRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign, BSTR bstrKeyFileName,
                               BSTR* pstrRequest) override;
    HRESULT createRvcEnd(BSTR* pstrRequest) override;
    HRESULT createFileRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign,
                                   BSTR bstrKeyFileName, BSTR strFileName) override;
    HRESULT createFileRvcEnd(BSTR strRequest) override;
    HRESULT IsPSEExists(BSTR bstrPSEPath, I4* pResult) override;
    HRESULT IsFileExists(BSTR bstrFileName, I4* pbRes) override;
    HRESULT DeletePSE(BSTR bstrPSEPath) override;
    HRESULT get_DefaultPSEPath(BSTR* pVal) override;
    HRESULT put_DefaultPSEPath(BSTR newVal) override;
    HRESULT get_DefaultPKeyPath(BSTR* pVal) override;
    HRESULT put_DefaultPKeyPath(BSTR newVal) override;
    HRESULT get_DefaultPKeyFileName(BSTR* pVal) override;
    HRESULT put_DefaultPKeyFileName(BSTR newVal) override;
    HRESULT CertPathLen(I4* pVal) override;
    HRESULT CertXML(I4 lInx, I4 lRetType, VARIANT* pVal) override;
    HRESULT CRLXML(I4 lInx, I4 lRetType, VARIANT* pVal) override;
    HRESULT SaveCert(I4 lInx, I4 lFormat) override;
    HRESULT SaveCRL(I4 lInx, I4 lFormat) override;
    HRESULT IsPSEPathReady(BSTR bstrPath, I4* pbReady) override;
    HRESULT DefMediaPKeyFileName(I4 lMediaInx, BSTR* pVal) override;
    HRESULT FindPairPKeyByCert(BSTR bstrCertFName, BSTR bstrPSEPath, BSTR bstrPKeyPath,
                               I4 askPKPass, BSTR* pName) override;
    HRESULT getAcceptedPKCS7Content(BSTR* pVal) override;
    HRESULT GetCertFileXML(BSTR bstrCertPath, BSTR* pBSTR_XML) override;
    HRESULT SaveCertAs(BSTR bstrCertView, BSTR bstrSaveFileName) override;
    HRESULT SaveCRLAs(BSTR bstrCRLView, BSTR bstrSaveFileName) override;
    HRESULT AcceptPKCS7Response(BSTR bstrPKCS7Resp, I4 bCheckSign, VARIANT* varTransID,
                                VARIANT* pvarSubject, VARIANT* pvarIssuer, VARIANT* pvarSerial,
                                VARIANT* pvarStatus, VARIANT* pvarReason,
                                VARIANT* pvarStatusString) override;
    HRESULT AcceptPKCS7ResponseFile(BSTR bstrPKCS7RespFileName, I4 bCheckSign, VARIANT* varTransID,
                                    VARIANT* pvarSubject, VARIANT* pvarIssuer, VARIANT* pvarSerial,
                                    VARIANT* pvarStatus, VARIANT* pvarReason,
                                    VARIANT* pvarStatusString) override;
    HRESULT put_PassOnContainer(I4 newVal) override;
    HRESULT get_PassOnContainer(I4* pVal) override;
    HRESULT P10_PrintableText(BSTR* pVal) override;
    HRESULT LoadPKCS10(BSTR bstrPKCS10_PEM) override;
    HRESULT LoadPKCS10File(BSTR bstrFileName) override;
    HRESULT BrowseDevuces(BSTR bstrStartPath, I4 bFolderOnly, I4 bFileSystemOnly,
                          BSTR* pbstrSelectPath) override;
    // ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(const com::IID& iid) override;
    // IObjectSafety
    HRESULT GetInterfaceSafetyOptions(const com::IID& iid, std::uint32_t* supported,
                                      std::uint32_t* enabled) override;
    HRESULT SetInterfaceSafetyOptions(const com::IID& iid, std::uint32_t mask,
                                      std::uint32_t enabled) override;
    // IObjectWithSite
    HRESULT SetSite(com::IUnknown* site) override;
    HRESULT GetSite(const com::IID& iid, void** site) override;

  private:
    void restore_path_defaults();
    // Lets go of the accepted certificates, their PEM texts and names.
    void clear_accepted();
    // Clears the accepted certificates, reads the answer's and, when all is
    // well, makes them the accepted ones; member names the caller in log
    // lines.
    HRESULT accept_certificates(std::string_view bytes, const char* member);
    bool has_interface(const com::IID& iid);
    // Forgets the revocation request's state (the emergency password wiped).
    void clear_revocation();
    // Writes a revocation request's text to a file: S_OK, or S_FALSE when
    // it cannot be written; member names the caller in the log line.
    HRESULT write_revocation_file(const char* member, BSTR file_name, BSTR text);

    // Steps of the request roads (quillon_request.cpp), shared by
    // createPKCS10 and the two-step Begin; member names the caller in log
    // lines. Each returns S_OK to go on, else the HRESULT to return.
    HRESULT check_request_texts(const char* member, const std::string& dn,
                                const std::optional<std::string>& usage, SubjectValues& subject,
                                RequestUsage& usageOut);
    // stopped: the store's password was refused; the member returns S_OK.
    HRESULT open_request_store(const char* member, TPSE& pse, bool& stopped);
    // loaded: the key was read from the key file (UseExistingKeySet), not
    // made; a made key carries its strong-encryption password.
    HRESULT make_request_key(const char* member, const TPSE& pse, TPrivateKey& key, bool& loaded);
    HRESULT save_request_key(const char* member, const char* exceptionMember, TPrivateKey& key);
    // The two-step requests (quillon_two_step.cpp).
    HRESULT request_begin(const char* member, I4 Flags, BSTR strDNName, BSTR usage,
                          const BSTR* fileName, I4 bSetDefaultExts);
    HRESULT plain_end(bool toFile, BSTR* pbstrReq);
    HRESULT cmc_end(bool toFile, BSTR bstrContainer, BSTR bstrCertFileName, BSTR bstrKeyFileName,
                    BSTR* pbstrReq);

    // Text fields are UTF-16 as scripts give them; a copy goes out on each get.
    std::int32_t provider_index_ = 2;
    std::vector<std::int32_t> rows_;  // of the last enumeration
    std::int32_t last_min_key_len_ = 256;
    std::int32_t last_max_key_len_ = 256;
    std::int32_t key_length_ = 256;
    std::u16string provider_name_ = u"ГОСТ Р 34.10-2001";
    std::int32_t use_existing_key_set_ = 0;
    std::u16string container_name_ = u"a:\\";
    bool container_name_null_ = false;  // set to a null string: no name at all
    std::int32_t strong_encryption_ = 0;
    std::int32_t hash_alg_id_ = 176;
    std::int32_t use_internal_tid_ = 1;
    std::u16string tid_;
    std::u16string default_pkey_path_ = u"a:\\keys";
    std::u16string default_pkey_file_name_ = u"00000001.key";
    std::int32_t accepted_content_ = 0;
    // The accepted certificates in the answer's order, with their PEM texts
    // and display names (local code page).
    std::vector<TCertificate> accepted_certs_;
    std::vector<std::string> accepted_pems_;
    std::vector<std::string> accepted_names_;
    // The certificates of the last signed response read.
    std::vector<TCertificate> response_certs_;
    std::int32_t pass_on_container_ = 0;
    std::u16string printable_request_;
    // What a two-step Begin prepared for its End, and the request-extension
    // stack that addExtensionToRequest fills.
    std::unique_ptr<TwoStepRequest> two_step_;
    // The revocation request of the last successful createRvcBegin (an End
    // without one is refused) and its emergency password (local code page).
    TCMC revocation_cmc_;
    std::string emergency_password_;
    bool revocation_ready_ = false;

    std::uint32_t safety_options_ = 0;
    com::IUnknown* site_ = nullptr;
};

}  // namespace cadb::enrol
