#include "enrol/alert.h"

#include <string>

#include "enrol/identities.h"
#include "enrol/log.h"
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"

namespace cadb::enrol {

namespace {

struct AlertEntry {
    std::int32_t code;
    const char* text;
};

// 15027 has a second text at one call site, passed there explicitly.
constexpr AlertEntry kAlerts[] = {
    {15002, "No more providers"},
    {15003, "Extra Object Index"},
    {15004, "Bad Object Name"},
    {15005, "Container Name is Bad"},
    {15006, "Vambrace3_1 Container is Bad"},
    {15007, "Key Generation Error"},
    {15008, "Key View Error"},
    {15009, "Save Key as File Error"},
    {15011, "Distinguish Name is Empty"},
    {15012, "Common Name Attribute is Empty"},
    {15014, "Exception Caught !!!"},
    {15015, "PKCS#10 Generation Error"},
    {15016, "PKCS#10 File Creation Error"},
    {15018, "Key Password is Empty"},
    {15019, "Unknown Request Type"},
    {15020, "The Certificate for CMS signing is undefined Error"},
    {15021, "The Transaction ID (TID) is Empty"},
    {15022, "Private Key Load Error"},
    {15023, "Certificate Load Error"},
    {15025, "Certificate and PKey are not in Pair"},
    {15026, "CMC Creation Error"},
    {15027, "PKCS#7 Creation Error"},
    {15028, "End Operation without Begin"},
    {15029, "Read Extension from Template Error"},
    {15030, "Private Key File Read Error"},
    {15031, "Certificate for Revocation is not defined"},
    {15033, "Certificate View Error"},
    {15034, "Certificate Revocation Info Error"},
    {15035, "Revocation File Save Error"},
    {15036, "The Emergency Password must be defined"},
    {15038, "Private Key Path is not defined"},
    {15039, "File Existence Check error"},
    {15040, "Vambrace3_1 Container is not Deleted"},
    {15041, "PKCS#7 Response is not accepted"},
    {15042, "Extra Certificate Index Error"},
    {15043, "The Certificate Format Conversion Error"},
    {15044, "XML Presentation of the Certificate"},
    {15045, "Certificate as File Save Error"},
    {15047, "Certificate File is not defined or bad"},
    {15048, "CRL File is not defined or bad"},
    {15049, "CRL as File Save Error"},
    {15050, "Response PKCS#7 Message is not defined or bad"},
    {15051, "Response Bad PKCS#7 Interpretation"},
    {15053, "Randomizer Initialization is Bad"},
    {15054, "Bad OID"},
    {15055, "PKCS#10 Request Reading Error"},
};

com::HRESULT set_error(const char* text, com::HRESULT hr) {
    return com::report_error(CLSID_Quillon, IID_IQuillon, com::utf8_to_utf16(text ? text : ""), hr);
}

}  // namespace

const char* alert_text(std::int32_t code) {
    for (const AlertEntry& e : kAlerts)
        if (e.code == code) return e.text;
    return nullptr;
}

com::HRESULT PrepareAlert(const char* strErrDescr, std::int32_t lErrCode) {
    log_line("@@@ ::PrepareAlert(strErrDescr:[%s], lErrCode:[%li])...New Alert !!!",
             strErrDescr ? strErrDescr : "", static_cast<long>(lErrCode));
    const com::HRESULT hr = set_error(strErrDescr, alert_hresult(lErrCode));
    log_line("@@@ ::PrepareAlert(Alert Code:[%d])...", static_cast<int>(lErrCode));
    return hr;
}

com::HRESULT PrepareAlert(AlertCode code) { return PrepareAlert(alert_text(code), code); }

com::HRESULT report_alert_quietly(AlertCode code) {
    return set_error(alert_text(code), alert_hresult(code));
}

com::HRESULT not_available(const char* member) {
    log_line("CQuillon::%s()...not available", member);
    const std::string text = std::string(member) + " is not available in this version";
    return set_error(text.c_str(), com::E_NOTIMPL);
}

}  // namespace cadb::enrol
