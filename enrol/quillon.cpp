#include "enrol/quillon.h"

#include "enrol/alert.h"
#include "enrol/identities.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "enrol/out_values.h"
#include "enrol/two_step_request.h"

namespace cadb::enrol {

using com::E_POINTER;
using com::S_OK;

namespace {

// Text of a field for a log line.
std::string text_of(std::u16string_view s) { return com::utf16_to_utf8(s); }

}  // namespace

CQuillon::CQuillon(com::IUnknown* outer)
    : ComObject(outer), two_step_(std::make_unique<TwoStepRequest>()) {
    module_count().lock();
}

CQuillon::~CQuillon() {
    log_line("FinalRelease()...Entry");
    clear_revocation();
    if (site_) site_->Release();
    module_count().unlock();
}

HRESULT CQuillon::final_construct() {
    log_line("FinalConstruct()...Entry");
    restore_path_defaults();
    return S_OK;
}

void CQuillon::restore_path_defaults() {
    container_name_ = u"a:\\";
    container_name_null_ = false;
    default_pkey_path_ = u"a:\\keys";
    default_pkey_file_name_ = u"00000001.key";
}

void* CQuillon::find_interface(const com::IID& iid) {
    if (iid == IID_IQuillon || iid == com::IID_IDispatch) return static_cast<IQuillon*>(this);
    if (iid == com::IID_ISupportErrorInfo) return static_cast<com::ISupportErrorInfo*>(this);
    if (iid == com::IID_IObjectSafety) return static_cast<com::IObjectSafety*>(this);
    if (iid == com::IID_IObjectWithSite) return static_cast<com::IObjectWithSite*>(this);
    return nullptr;
}

HRESULT CQuillon::Reset() {
    log_line("CQuillon::Reset()...Entry");
    restore_path_defaults();
    return S_OK;
}

HRESULT CQuillon::get_ProviderType(I4* pVal) {
    log_line("CQuillon::get_ProviderType()...Entry");
    *pVal = 0;
    return S_OK;
}

HRESULT CQuillon::put_ProviderType(I4 newVal) {
    log_line("CQuillon::put_ProviderType()...Entry");
    return newVal > 0 ? PrepareAlert(kExtraObjectIndex) : S_OK;
}

HRESULT CQuillon::get_UseExistingKeySet(I4* pVal) {
    log_line("CQuillon::get_UseExistingKeySet()...Entry");
    *pVal = use_existing_key_set_;
    return S_OK;
}

HRESULT CQuillon::put_UseExistingKeySet(I4 newVal) {
    log_line("CQuillon::put_UseExistingKeySet()...Entry");
    use_existing_key_set_ = newVal;
    return S_OK;
}

HRESULT CQuillon::GetSupportedKeySpec(I4* pdwKeySpec) {
    log_line("CQuillon::GetSupportedKeySpec()...Entry");
    *pdwKeySpec = 3;
    return S_OK;
}

HRESULT CQuillon::get_HashAlgID(I4* pVal) {
    log_line("CQuillon::get_HashAlgID()...Entry");
    *pVal = hash_alg_id_;
    return S_OK;
}

HRESULT CQuillon::put_HashAlgID(I4 newVal) {
    log_line("CQuillon::put_HashAlgID()...Entry");
    hash_alg_id_ = newVal;
    return S_OK;
}

HRESULT CQuillon::get_GenKeyFlags(I4* pVal) {
    log_line("CQuillon::get_GenKeyFlags()...Entry");
    *pVal = static_cast<I4>((static_cast<std::uint32_t>(key_length_) << 16) |
                            (strong_encryption_ ? 2u : 0u));
    return S_OK;
}

HRESULT CQuillon::put_GenKeyFlags(I4 newVal) {
    log_line("CQuillon::put_GenKeyFlags()...Entry");
    key_length_ = newVal >> 16;
    strong_encryption_ = newVal & 2;
    return S_OK;
}

HRESULT CQuillon::get_UseInternalTID(I4* pVal) {
    *pVal = use_internal_tid_;
    return S_OK;
}

HRESULT CQuillon::put_UseInternalTID(I4 newVal) {
    use_internal_tid_ = newVal;
    return S_OK;
}

HRESULT CQuillon::get_TID(BSTR* pVal) { return set_out(pVal, tid_); }

HRESULT CQuillon::put_TID(BSTR newVal) {
    tid_ = com::bstr_view(newVal);
    return S_OK;
}

HRESULT CQuillon::get_ContainerName(BSTR* pVal) {
    log_line("CQuillon::get_ContainerName():[%s]", text_of(container_name_).c_str());
    return set_out(pVal, container_name_);
}

HRESULT CQuillon::put_ContainerName(BSTR newVal) {
    log_line("CQuillon::put_ContainerName(newVal:[%s])", com::bstr_to_utf8(newVal).c_str());
    container_name_ = com::bstr_view(newVal);
    container_name_null_ = newVal == nullptr;
    return S_OK;
}

HRESULT CQuillon::get_DefaultPSEPath(BSTR* pVal) {
    log_line("CQuillon::get_DefaultPSEPath(bstrFileName:[%s])...Entry",
             text_of(container_name_).c_str());
    return set_out(pVal, container_name_);
}

HRESULT CQuillon::put_DefaultPSEPath(BSTR newVal) {
    container_name_ = com::bstr_view(newVal);
    container_name_null_ = newVal == nullptr;
    return S_OK;
}

HRESULT CQuillon::get_DefaultPKeyPath(BSTR* pVal) {
    log_line("CQuillon::get_DefaultPKeyPath(m_cbstrDefaultPKeyPath:[%s])...Entry",
             text_of(default_pkey_path_).c_str());
    return set_out(pVal, default_pkey_path_);
}

HRESULT CQuillon::put_DefaultPKeyPath(BSTR newVal) {
    log_line("CQuillon::put_DefaultPKeyPath(newVal:[%s])...Entry",
             com::bstr_to_utf8(newVal).c_str());
    default_pkey_path_ = com::bstr_view(newVal);
    return S_OK;
}

HRESULT CQuillon::get_DefaultPKeyFileName(BSTR* pVal) {
    log_line("CQuillon::get_DefaultPKeyFileName(bstrFileName:[%s])...Entry",
             text_of(default_pkey_file_name_).c_str());
    return set_out(pVal, default_pkey_file_name_);
}

HRESULT CQuillon::put_DefaultPKeyFileName(BSTR newVal) {
    log_line("CQuillon::put_DefaultPKeyFileName(bstrFileName:[%s])...Entry",
             com::bstr_to_utf8(newVal).c_str());
    default_pkey_file_name_ = com::bstr_view(newVal);
    return S_OK;
}

HRESULT CQuillon::put_PassOnContainer(I4 newVal) {
    pass_on_container_ = newVal;
    return S_OK;
}

HRESULT CQuillon::get_PassOnContainer(I4* pVal) {
    *pVal = pass_on_container_;
    return S_OK;
}

HRESULT CQuillon::CertPathLen(I4* pVal) {
    log_line("CQuillon::CertPathLen()...Entry");
    if (!accepted_content_) {
        *pVal = 0;
        return PrepareAlert(kResponseNotAccepted);
    }
    *pVal = static_cast<I4>(accepted_certs_.size());
    return S_OK;
}

HRESULT CQuillon::P10_PrintableText(BSTR* pVal) {
    log_line("CQuillon::P10_PrintableText()...Entry");
    if (!pVal) return E_POINTER;
    return set_out(pVal, printable_request_);
}

}  // namespace cadb::enrol
