// Acceptance of the certification authority's answer: the certificates of a
// signed-data message, given as text or as a file, kept with their PEM texts
// and display names. Nothing is written anywhere. Each answer replaces the
// whole accepted state: the certificates of an earlier one are let go before
// the new one is read, so a refused answer leaves none (the accepted-content
// flag stays as it was). Only an empty text to acceptPKCS7 changes nothing.
#include <string>
#include <vector>

#include "enrol/alert.h"
#include "enrol/key_by_cert.h"
#include "enrol/log.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"
#include "enrol/response_certs.h"
#include "enrol/script_text.h"
#include "wrappers/tbuffer.h"

namespace cadb::enrol {

using com::S_FALSE;
using com::S_OK;

void CQuillon::clear_accepted() {
    accepted_certs_.clear();
    accepted_pems_.clear();
    accepted_names_.clear();
}

HRESULT CQuillon::accept_certificates(std::string_view bytes, const char* member) {
    try {
        clear_accepted();
        std::vector<TCertificate> certs;
        std::string rewrapped;
        std::string_view message = bytes;
        int found = ParsePKCS7Certificates(reinterpret_cast<const unsigned char*>(bytes.data()),
                                           bytes.size(), certs);
        if (found <= 0) {
            if (!RewrapAsPKCS7Pem(bytes, rewrapped)) {
                log_line("CQuillon::%s()...Can't parse CMS File ...Error!", member);
                return PrepareAlert(kResponseNotAccepted);
            }
            found = ParsePKCS7Certificates(
                reinterpret_cast<const unsigned char*>(rewrapped.data()), rewrapped.size(), certs);
            if (found <= 0) {
                log_line("CQuillon::%s()...Can't parse modified CMS File ...Error!", member);
                return PrepareAlert(kResponseNotAccepted);
            }
            message = rewrapped;
        }
        // An answer whose signature does not hold has been changed on its way.
        if (!PKCS7SignaturesHold(reinterpret_cast<const unsigned char*>(message.data()),
                                 message.size())) {
            log_line("CQuillon::%s()...Signature of the Response ...Error!", member);
            return PrepareAlert(kResponseNotAccepted);
        }
        std::vector<std::string> pems;
        std::vector<std::string> names;
        for (const TCertificate& cert : certs) {
            TCertificate copy(cert);
            names.push_back(CertificateDisplayName(copy));
            copy.setFormat(TCertificate::kFormatPEM);
            const TBuffer* pem = copy.getEncoded();
            if (pem == nullptr || pem->isEmpty()) {
                log_line("CQuillon::%s()...Certificate PEM Encoding ...Error!", member);
                return PrepareAlert(kResponseNotAccepted);
            }
            pems.emplace_back(reinterpret_cast<const char*>(pem->getData()),
                              static_cast<std::size_t>(pem->getLength()));
        }
        accepted_certs_ = std::move(certs);
        accepted_pems_ = std::move(pems);
        accepted_names_ = std::move(names);
        accepted_content_ = 1;
        return S_OK;
    } catch (...) {
        log_line("CQuillon::%s()...Exception Caught!", member);
        return PrepareAlert(kResponseNotAccepted);
    }
}

HRESULT CQuillon::acceptPKCS7(BSTR PKCS7) {
    log_line("CQuillon::acceptPKCS7()...Entry");
    std::string text;
    try {
        text = ansi_or_utf8(PKCS7);
    } catch (...) {
        return S_FALSE;
    }
    log_line("CQuillon::acceptPKCS7(Chain:[%s])", text.c_str());
    if (text.empty()) return S_FALSE;
    return accept_certificates(text, "acceptPKCS7");
}

HRESULT CQuillon::acceptFilePKCS7(BSTR wszPKCS7FileName) {
    try {
        clear_accepted();
        const std::string name = ansi_or_utf8(wszPKCS7FileName);
        log_line("CQuillon::acceptFilePKCS7(FileName:[%s])", name.c_str());
        if (name.empty()) return PrepareAlert(kResponseNotAccepted);
        // The file's bytes as they are: DER holds zero bytes.
        TBuffer content;
        if (content.loadFile(name.c_str()) <= 0) {
            log_line("CQuillon::acceptFilePKCS7()...Can't read File ...Error!");
            return PrepareAlert(kResponseNotAccepted);
        }
        return accept_certificates(
            std::string_view(reinterpret_cast<const char*>(content.getData()),
                             static_cast<std::size_t>(content.getLength())),
            "acceptFilePKCS7");
    } catch (...) {
        log_line("CQuillon::acceptFilePKCS7()...Exception Caught!");
        return PrepareAlert(kResponseNotAccepted);
    }
}

HRESULT CQuillon::FindPairPKeyByCert(BSTR bstrCertFName, BSTR bstrPSEPath, BSTR bstrPKeyPath,
                                     I4 askPKPass, BSTR* pName) {
    const std::string cert = ansi_or_utf8(bstrCertFName);
    const std::string store = ansi_or_utf8(bstrPSEPath);
    const std::string folder = ansi_or_utf8(bstrPKeyPath);
    log_line("CQuillon::FindPairPKeyByCert(bstrCertFName:[%s], bstrPSEPath:[%s], "
             "bstrPKeyPath:[%s], bAskPKPass:[%d])",
             cert.c_str(), store.c_str(), folder.c_str(), askPKPass);
    if (!pName) return com::E_POINTER;
    std::string found;
    bool ok = false;
    try {
        ok = enrol::FindPairPKeyByCert(cert, store, folder, found);
    } catch (...) {
        ok = false;
    }
    // Not found is no error: the name stays null.
    clear_out(pName);
    if (ok) *pName = com::bstr_from_ansi(found);
    return S_OK;
}

}  // namespace cadb::enrol
