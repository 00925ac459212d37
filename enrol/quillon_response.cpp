// A certification authority's signed CMC response: who signed it, the
// status it reports and its transaction identifier, handed back through the
// caller's VARIANTs. Each output changes only when a value is found.
#include <string>
#include <vector>

#include "crypto/cms/cmc.h"
#include "crypto/core/objects.h"
#include "enrol/alert.h"
#include "enrol/log.h"
#include "enrol/quillon.h"
#include "enrol/response_certs.h"
#include "enrol/script_text.h"
#include "wrappers/tbuffer.h"

namespace cadb::enrol {

using com::S_OK;

namespace {

struct CmcFree {
    void operator()(CMC* c) const { CMC_free(c); }
};

void put_text(VARIANT* out, std::string_view ansi) {
    if (out == nullptr || ansi.empty()) return;
    BSTR text = com::bstr_from_ansi(ansi);
    if (text == nullptr) return;
    com::VariantClear(out);
    out->vt = com::VT_BSTR;
    out->bstrVal = text;
}

void put_number(VARIANT* out, std::int32_t value) {
    if (out == nullptr) return;
    com::VariantClear(out);
    out->vt = com::VT_I4;
    out->lVal = value;
}

// The response in text, as bytes: read, its certificates kept in kept, the
// outputs filled.
HRESULT read_response(std::string_view text, std::vector<TCertificate>& kept,
                      VARIANT* varTransID, VARIANT* pvarSubject, VARIANT* pvarIssuer,
                      VARIANT* pvarSerial, VARIANT* pvarStatus, VARIANT* pvarReason,
                      VARIANT* pvarStatusString) {
    try {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        SignedResponse response;
        std::string rewrapped;
        bool read = ReadSignedResponse(bytes, text.size(), response);
        const bool read_as_is = read;
        if (!read && RewrapAsPKCS7Pem(text, rewrapped))
            read = ReadSignedResponse(reinterpret_cast<const unsigned char*>(rewrapped.data()),
                                      rewrapped.size(), response);
        if (!read || response.type <= 0) return PrepareAlert(kResponseBadInterpretation);

        std::vector<TCertificate> certs;
        int found = ParsePKCS7Certificates(bytes, text.size(), certs);
        if (found <= 0) {
            if (rewrapped.empty() && !RewrapAsPKCS7Pem(text, rewrapped)) {
                log_line("CQuillon::AcceptPKCS7Response()...Can't parse CMS File ...Error!");
                return PrepareAlert(kResponseNotAccepted);
            }
            found = ParsePKCS7Certificates(
                reinterpret_cast<const unsigned char*>(rewrapped.data()), rewrapped.size(), certs);
            if (found <= 0) {
                log_line("CQuillon::AcceptPKCS7Response()...Can't parse modified CMS File "
                         "...Error!");
                return PrepareAlert(kResponseNotAccepted);
            }
        }
        kept = std::move(certs);

        // Checked against the answer's own certificates only; the outcome
        // is logged and the answer read all the same.
        const std::string_view checked = read_as_is ? text : std::string_view(rewrapped);
        const bool verified = VerifyResponseWithItsCertificates(
            reinterpret_cast<const unsigned char*>(checked.data()), checked.size(), kept);
        if (!verified) log_line("AcceptPKCS7Response()... CMS message is not verified !!!");

        if (response.type == NID_pkcs7_signed) {
            for (const auto& signer : response.signers) {
                put_text(pvarSerial, signer.serial);
                put_text(pvarIssuer, signer.issuer);
                put_text(pvarSubject, signer.subject);
            }
            std::unique_ptr<CMC, CmcFree> body(
                response.content.empty()
                    ? nullptr
                    : CMS_read(response.content.data(), static_cast<long>(response.content.size()),
                               NID_CMC_RESPONSE_BODY));
            const int controls = body ? sk_CMS_TATTR_num(body->controls) : 0;
            for (int i = 0; i < controls; ++i) {
                const CMS_TATTR* control = sk_CMS_TATTR_value(body->controls, i);
                if (control->type == NID_CMC_STATUS_INFO && control->value.status != nullptr) {
                    const CMS_STATUS* status = control->value.status;
                    put_number(pvarStatus, status->status);
                    put_number(pvarReason, status->fail_info);
                    if (status->status_string != nullptr && status->status_string->length > 0)
                        put_text(pvarStatusString,
                                 std::string_view(
                                     reinterpret_cast<const char*>(status->status_string->data),
                                     static_cast<std::size_t>(status->status_string->length)));
                } else if (control->type == NID_CMC_TRANSACTION_ID &&
                           control->value.bytes != nullptr) {
                    // Every byte of the identifier, zero bytes included.
                    const BUFFER* id = control->value.bytes;
                    put_text(varTransID,
                             std::string_view(reinterpret_cast<const char*>(id->data),
                                              static_cast<std::size_t>(id->length)));
                }
            }
        }
        return S_OK;
    } catch (...) {
        log_line("CQuillon::AcceptPKCS7Response()...Exception Caught!");
        return PrepareAlert(kResponseNotAccepted);
    }
}

}  // namespace

HRESULT CQuillon::AcceptPKCS7Response(BSTR bstrPKCS7Resp, I4 bCheckSign, VARIANT* varTransID,
                                      VARIANT* pvarSubject, VARIANT* pvarIssuer,
                                      VARIANT* pvarSerial, VARIANT* pvarStatus,
                                      VARIANT* pvarReason, VARIANT* pvarStatusString) {
    (void)bCheckSign;  // every response is checked
    if (bstrPKCS7Resp == nullptr) return PrepareAlert(kResponseUndefined);
    std::string text;
    try {
        text = ansi_or_utf8(bstrPKCS7Resp);
    } catch (...) {
        return PrepareAlert(kResponseNotAccepted);
    }
    log_line("CQuillon::AcceptPKCS7Response(bstrPKCS7Resp:[%s] bCheckSign:[%d]) ... Entry",
             text.c_str(), 1);
    return read_response(text, response_certs_, varTransID, pvarSubject, pvarIssuer, pvarSerial,
                         pvarStatus, pvarReason, pvarStatusString);
}

HRESULT CQuillon::AcceptPKCS7ResponseFile(BSTR bstrPKCS7RespFileName, I4 bCheckSign,
                                          VARIANT* varTransID, VARIANT* pvarSubject,
                                          VARIANT* pvarIssuer, VARIANT* pvarSerial,
                                          VARIANT* pvarStatus, VARIANT* pvarReason,
                                          VARIANT* pvarStatusString) {
    const std::string name = ansi_or_utf8(bstrPKCS7RespFileName);
    if (name.empty()) return PrepareAlert(kResponseUndefined);
    log_line("CQuillon::CQuillon::AcceptPKCS7ResponseFile(bstrPKCS7Resp:[%s] bCheckSign:[%d]) "
             "... Entry",
             name.c_str(), bCheckSign);
    try {
        TBuffer content;
        if (content.loadFile(name.c_str()) <= 0) return PrepareAlert(kResponseNotAccepted);
        // The bytes as they are: DER holds zero bytes and bytes no code
        // page has a character for.
        const std::string_view bytes(reinterpret_cast<const char*>(content.getData()),
                                     static_cast<std::size_t>(content.getLength()));
        return read_response(bytes, response_certs_, varTransID, pvarSubject, pvarIssuer,
                             pvarSerial, pvarStatus, pvarReason, pvarStatusString);
    } catch (...) {
        return PrepareAlert(kResponseNotAccepted);
    }
}

}  // namespace cadb::enrol
