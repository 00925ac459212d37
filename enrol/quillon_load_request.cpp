// A certification request a page brings, as text or as a file, shown as the
// printable request. Only the printable request changes: the request the
// object built last stays as it was.
#include <climits>
#include <string>
#include <string_view>

#include "enrol/alert.h"
#include "enrol/log.h"
#include "enrol/printable_request.h"
#include "enrol/quillon.h"
#include "enrol/script_text.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tpkcs10.h"

namespace cadb::enrol {

using com::S_OK;

namespace {

// The request read from bytes in any form (DER, PEM, base64); false when
// there is none.
bool read_request(const TBuffer& bytes, TPKCS10& request) {
    return !bytes.isEmpty() && request.loadDER(bytes.getData(), bytes.getLength());
}

}  // namespace

HRESULT CQuillon::LoadPKCS10(BSTR bstrPKCS10_PEM) {
    log_line("CQuillon::LoadPKCS10()...Entry");
    printable_request_.clear();
    try {
        const std::string text = ansi_or_utf8(bstrPKCS10_PEM);
        if (text.size() > static_cast<std::size_t>(INT_MAX)) return PrepareAlert(kPkcs10ReadError);
        TBuffer bytes;
        if (!bytes.assign(text.data(), static_cast<int>(text.size())))
            return PrepareAlert(kPkcs10ReadError);
        TPKCS10 request;
        if (!read_request(bytes, request)) return PrepareAlert(kPkcs10ReadError);
        RefreshPrintableRequest(request, printable_request_);
        return S_OK;
    } catch (...) {
        printable_request_.clear();
        log_line("CQuillon::LoadPKCS10()...Exception Caught!");
        return PrepareAlert(kPkcs10ReadError);
    }
}

HRESULT CQuillon::LoadPKCS10File(BSTR bstrFileName) {
    printable_request_.clear();
    try {
        const std::string name = ansi_or_utf8(bstrFileName);
        log_line("CQuillon::LoadPKCS10File(FileName:[%s])...Entry", name.c_str());
        if (name.empty()) return PrepareAlert(kPkcs10ReadError);
        TBuffer bytes;
        if (bytes.loadFile(name.c_str()) <= 0) return PrepareAlert(kPkcs10ReadError);
        TPKCS10 request;
        if (!read_request(bytes, request)) return PrepareAlert(kPkcs10ReadError);
        RefreshPrintableRequest(request, printable_request_);
        return S_OK;
    } catch (...) {
        printable_request_.clear();
        log_line("CQuillon::LoadPKCS10File()...Exception Caught!");
        return PrepareAlert(kPkcs10ReadError);
    }
}

}  // namespace cadb::enrol
