// The algorithm members: the provider (signature algorithm) the object
// generates keys for, the enumerations of the algorithm table and the key
// lengths of the chosen row; and the request-extension template entry.
#include "enrol/alert.h"
#include "enrol/algorithms.h"
#include "enrol/log.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"
#include "enrol/two_step_request.h"

namespace cadb::enrol {

using com::S_FALSE;
using com::S_OK;

namespace {

std::u16string display_name(std::int32_t row) {
    return com::utf8_to_utf16(algorithm_display_name(AlgorithmTable[row]));
}

// The hash rows a request signed with the key of a provider row may use.
std::vector<std::int32_t> hash_rows_for(std::int32_t provider) {
    switch (provider) {
        case 0:
        case 1:
            return {7};
        case 2:
        case 3:
            return {6};
        case 4:
            return {9, 8};
        case 5:
            return {9};
        default:
            return {6, 7, 8, 9};
    }
}

std::vector<std::int32_t> rows_of_class(std::int32_t alg_class) {
    std::vector<std::int32_t> rows;
    for (const AlgorithmRow& row : AlgorithmTable)
        if (row.alg_class == alg_class) rows.push_back(row.index);
    return rows;
}

}  // namespace

HRESULT CQuillon::enumProviders(I4 dwIndex, I4 dwFlags, BSTR* pbstrProvName) {
    log_line("CQuillon::enumProviders()...Entry");
    rows_ = rows_of_class(dwFlags == 0 ? kAlgClassSignature : dwFlags);
    if (static_cast<std::uint32_t>(dwIndex) < rows_.size())
        return set_out(pbstrProvName, display_name(rows_[static_cast<std::uint32_t>(dwIndex)]));
    clear_out(pbstrProvName);
    return report_alert_quietly(kNoMoreProviders);
}

HRESULT CQuillon::get_ProviderName(BSTR* pVal) {
    log_line("CQuillon::get_ProviderName()...Entry");
    return set_out(pVal, provider_name_);
}

HRESULT CQuillon::put_ProviderName(BSTR newVal) {
    log_line("CQuillon::put_ProviderName(SSTR newVal :[%s])...Entry",
             com::bstr_to_utf8(newVal).c_str());
    const std::u16string_view name = com::bstr_view(newVal);
    for (const AlgorithmRow& row : AlgorithmTable) {
        if (row.alg_class != kAlgClassSignature || display_name(row.index) != name) continue;
        provider_index_ = row.index;
        provider_name_ = name;
        return S_OK;
    }
    return PrepareAlert(kBadObjectName);
}

HRESULT CQuillon::GetKeyLen(I4 fMin, I4 fExchange, I4* pdwKeySize) {
    if (provider_index_ < 0 || provider_index_ >= kAlgorithmRows) {
        *pdwKeySize = 0;
        return PrepareAlert(kExtraObjectIndex);
    }
    const AlgorithmRow& row = AlgorithmTable[provider_index_];
    if (fMin) {
        last_min_key_len_ = key_length_min(row);
        *pdwKeySize = last_min_key_len_;
    } else {
        last_max_key_len_ = key_length_max(row);
        *pdwKeySize = last_max_key_len_;
    }
    log_line("CQuillon::GetKeyLen(fMin:[%li] fExchange:[%li] *pdwKeySize:[%li])...Entry",
             static_cast<long>(fMin), static_cast<long>(fExchange), static_cast<long>(*pdwKeySize));
    return S_OK;
}

HRESULT CQuillon::EnumAlgs(I4 dwIndex, I4 algClass, I4* pdwAlgID) {
    log_line("CQuillon::EnumAlgs(Inx:[%li] AlgClass:[%li])...Entry", static_cast<long>(dwIndex),
             static_cast<long>(algClass));
    rows_ = algClass == kAlgClassHash ? hash_rows_for(provider_index_) : rows_of_class(algClass);
    if (static_cast<std::uint32_t>(dwIndex) < rows_.size()) {
        *pdwAlgID = AlgorithmTable[rows_[static_cast<std::uint32_t>(dwIndex)]].nid;
        return S_OK;
    }
    *pdwAlgID = 0;
    return report_alert_quietly(kNoMoreProviders);
}

HRESULT CQuillon::GetAlgName(I4 algID, BSTR* pbstr) {
    log_line("CQuillon::GetAlgName()...Entry");
    for (std::int32_t row : rows_)
        if (AlgorithmTable[row].nid == algID) return set_out(pbstr, display_name(row));
    clear_out(pbstr);
    return S_FALSE;
}

HRESULT CQuillon::addExtensionToRequest(I4 Flags, BSTR strName, BSTR strValue) {
    if (Flags != -1) return S_OK;
    std::string name = com::bstr_to_utf8(strName);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    log_line("CQuillon::addExtensionToRequest(Flags:[%li], strName:[%s], strValue:[%s])...Entry",
             static_cast<long>(Flags), name.c_str(), com::bstr_to_utf8(strValue).c_str());
    // The template goes onto the request-extension stack of the two-step
    // requests; a later template replaces what an earlier one put there.
    int filled = 0;
    try {
        if (name == "XML_FILE") {
            const std::optional<std::string> path = com::bstr_to_ansi(strValue);
            filled = path ? two_step_->extensions.fillFromXMLTemplate(path->c_str(), 1, 1) : 0;
        } else if (name == "XML_TEXT") {
            filled = two_step_->extensions.fillFromXMLTemplate(
                com::bstr_to_utf8(strValue).c_str(), 0, 1);
        }
    } catch (...) {
        filled = 0;
    }
    if (filled == 1) return S_OK;
    PrepareAlert(kExtensionTemplateError);
    return S_FALSE;
}

}  // namespace cadb::enrol
