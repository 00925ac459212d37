// Certificates and CRLs saved to a file the user names in a save dialog: an
// accepted certificate, or a certificate or CRL a page gives as text. Every
// file is written beside its target under a temporary name, synced and
// renamed over it, so a failed save leaves no half file and an existing file
// whole. A cancelled dialog is no error.
#include <openssl/x509.h>

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "crypto/x509/crl.h"
#include "enrol/alert.h"
#include "enrol/log.h"
#include "enrol/quillon.h"
#include "enrol/response_certs.h"
#include "enrol/script_text.h"
#include "enrol/strings.h"
#include "platform/save_dialog.h"

namespace cadb::enrol {

using com::S_FALSE;
using com::S_OK;

namespace {

constexpr int kCrlDer = 1;
constexpr int kCrlPem = 2;
constexpr int kCrlText = 5;

struct CrlFree {
    void operator()(CRL* c) const { CRL_free(c); }
};

// The save dialog without owner, hiding the read-only box and asking before
// an existing file is replaced, on the first filter. The chosen path, or
// nothing when the user cancelled or the question's answer was refused
// (refused set: nothing can be saved, which the caller reports as its
// failure); the reason logged.
std::optional<std::string> ask_save_path(const char* member, int title_id, int filter_id,
                                         const char* default_extension,
                                         const std::string& offered, bool& refused) {
    SaveFileQuestion question;
    question.title = QuillonString(title_id);
    question.filter = QuillonString(filter_id);
    question.filter_index = 1;
    question.default_extension = default_extension;
    question.file_name = offered;
    question.overwrite_prompt = true;
    SaveFileAnswer answer = AskSaveFileName(question);
    log_line("CQuillon::%s()...%s", member, answer.note.c_str());
    refused = answer.refused;
    return std::move(answer.path);
}

// The serial number of a certificate held as its bytes alone, read from
// them; "" when they give none.
std::string unparsed_serial(const TCertificate& cert) {
    TCertificate copy(cert);
    copy.setFormat(TCertificate::kFormatDER);
    const TBuffer* der = copy.getEncoded();
    if (der == nullptr || der->isEmpty()) return {};
    const unsigned char* p = der->getData();
    const cadb::OpensslErrorMark mark;  // bytes that are no certificate give no serial
    const std::unique_ptr<X509, decltype(&X509_free)> x(d2i_X509(nullptr, &p, der->getLength()),
                                                        X509_free);
    const ASN1_INTEGER* serial = x ? X509_get0_serialNumber(x.get()) : nullptr;
    if (serial == nullptr || serial->data == nullptr || serial->length <= 0) return {};
    return HexString(serial->data, static_cast<std::size_t>(serial->length));
}

// The name a certificate is offered under: its display name, or, when that
// leaves no file name (a common name of dots or blanks, or a certificate
// held as its bytes alone, whose display name is empty), its serial number,
// as a certificate without a common name is named.
std::string offered_name(const TCertificate& cert, const std::string& display) {
    if (!SafeFileName(display).empty()) return display;
    const CERT* parsed = cert.getCERT();
    if (parsed == nullptr) {
        std::string serial = unparsed_serial(cert);
        return serial.empty() ? display : serial;
    }
    if (parsed->serial == nullptr || parsed->serial->data == nullptr) return display;
    return HexString(parsed->serial->data, static_cast<std::size_t>(parsed->serial->length));
}

// The extension of the path's file name in upper case ("" without one).
std::string upper_extension(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

// The whole file replaced at once; false when it could not be.
bool write_whole(const std::string& path, const unsigned char* data, std::size_t length) {
    if (length == 0 || length > static_cast<std::size_t>(INT_MAX)) return false;
    const int n = static_cast<int>(length);
    return CADB_write_file_plain(path.c_str(), data, n) == n;
}

bool write_whole(const std::string& path, const TBuffer& bytes) {
    return !bytes.isEmpty() &&
           write_whole(path, bytes.getData(), static_cast<std::size_t>(bytes.getLength()));
}

}  // namespace

HRESULT CQuillon::SaveCert(I4 lInx, I4 lFormat) {
    log_line("CQuillon::SaveCert()...Entry");
    try {
        if (!accepted_content_) return PrepareAlert(kResponseNotAccepted);
        if (lInx < 0 || static_cast<std::size_t>(lInx) >= accepted_certs_.size())
            return PrepareAlert(kExtraCertificateIndex);
        const auto index = static_cast<std::size_t>(lInx);
        const int format = lFormat == TCertificate::kFormatDER || lFormat == TCertificate::kFormatPEM
                               ? lFormat
                               : TCertificate::kFormatPEM;
        // The output encoding, not the parsed form: a certificate held as its
        // bytes alone (a key algorithm the library does not compute) has one.
        TCertificate copy(accepted_certs_[index]);
        copy.setFormat(format);
        const TBuffer* encoded = copy.getEncoded();
        if (encoded == nullptr || encoded->isEmpty())
            return PrepareAlert(kCertificateConversionError);

        // The display name may be any text a certificate carries: the dialog
        // layer makes it one plain file name before it is offered anywhere.
        const std::string offered =
            offered_name(copy, index < accepted_names_.size() ? accepted_names_[index] : "");
        const bool der = format == TCertificate::kFormatDER;
        bool refused = false;
        const std::optional<std::string> path =
            ask_save_path("SaveCert", IDS_SAVE_CERT_TITLE, der ? IDS_FILTER_DER : IDS_FILTER_PEM,
                          der ? "der" : "cer", offered, refused);
        if (!path) return refused ? PrepareAlert(kCertificateSaveError) : S_OK;
        if (!write_whole(*path, *encoded)) {
            log_line("CQuillon::SaveCert()...Certificate File Save...Exception Caught!");
            return PrepareAlert(kCertificateSaveError);
        }
        return S_OK;
    } catch (...) {
        log_line("CQuillon::SaveCert()...Certificate File Save...Exception Caught!");
        return PrepareAlert(kCertificateSaveError);
    }
}

HRESULT CQuillon::SaveCertAs(BSTR bstrCertView, BSTR bstrSaveFileName) {
    try {
        const std::string view = ansi_or_utf8(bstrCertView);
        const std::string offered = ansi_or_utf8(bstrSaveFileName);
        log_line("CQuillon::SaveCertAs(bstrCertView:[%s]-[%s])...", view.c_str(), offered.c_str());
        if (view.empty()) {
            log_line("CQuillon::SaveCertAs()...Certificate View is Empty...error!");
            return PrepareAlert(kCertificateFileBad);
        }
        bool refused = false;
        const std::optional<std::string> path = ask_save_path(
            "SaveCertAs", IDS_SAVE_CERT_TITLE, IDS_FILTER_CERT_ANY, "der", offered, refused);
        if (!path) return refused ? PrepareAlert(kCertificateSaveError) : S_OK;

        TCertificate cert;
        if (view.size() > static_cast<std::size_t>(INT_MAX) ||
            !cert.loadDER(reinterpret_cast<const unsigned char*>(view.data()),
                          static_cast<int>(view.size())))
            return PrepareAlert(kCertificateFileBad);
        const int format =
            upper_extension(*path) == "DER" ? TCertificate::kFormatDER : TCertificate::kFormatPEM;
        const std::unique_ptr<TBuffer> encoded = cert.encode(format);
        if (!encoded || encoded->isEmpty()) return PrepareAlert(kCertificateConversionError);
        if (!write_whole(*path, *encoded)) {
            log_line("CQuillon::SaveCertAs()...Certificate File Save...Exception Caught!");
            return PrepareAlert(kCertificateSaveError);
        }
        return S_OK;
    } catch (...) {
        log_line("CQuillon::SaveCertAs()...Exception Caught!");
        return PrepareAlert(kCertificateFileBad);
    }
}

HRESULT CQuillon::SaveCRLAs(BSTR bstrCRLView, BSTR bstrSaveFileName) {
    try {
        const std::string view = ansi_or_utf8(bstrCRLView);
        const std::string offered = ansi_or_utf8(bstrSaveFileName);
        log_line("CQuillon::SaveCRLAs(bstrCRLView:[%s]-[%s])...", view.c_str(), offered.c_str());
        if (view.empty()) return PrepareAlert(kCrlFileBad);
        bool refused = false;
        const std::optional<std::string> path =
            ask_save_path("SaveCRLAs", IDS_SAVE_CRL_TITLE, IDS_FILTER_CRL, "crl", offered, refused);
        if (!path) return refused ? PrepareAlert(kCrlSaveError) : S_OK;

        if (view.size() > static_cast<std::size_t>(INT_MAX)) return PrepareAlert(kCrlFileBad);
        const std::unique_ptr<CRL, CrlFree> crl(
            CRL_read_buffer(0, reinterpret_cast<const unsigned char*>(view.data()),
                            static_cast<int>(view.size())));
        if (!crl) return PrepareAlert(kCrlFileBad);

        const std::string ext = upper_extension(*path);
        std::string content;
        if (ext == "CRL") {
            const BufferPtr der(CRL_get(crl.get(), kCrlDer));
            if (!der || der->length <= 0) return PrepareAlert(kCrlSaveError);
            content.assign(reinterpret_cast<const char*>(der->data),
                           static_cast<std::size_t>(der->length));
        } else {
            if (ext == "PEM") {
                const BufferPtr text(CRL_get(crl.get(), kCrlText));
                if (!text || text->length <= 0) {
                    // Nothing is written: the caller learns it as from a
                    // CRL without its PEM form.
                    log_line("!!!CQuillon::SaveCRLAs()...CRL_get(pCRL,ENCODE_TYPE_TEXT)...error");
                    return S_FALSE;
                }
                content.assign(reinterpret_cast<const char*>(text->data),
                               static_cast<std::size_t>(text->length));
            }
            const BufferPtr pem(CRL_get(crl.get(), kCrlPem));
            if (!pem || pem->length <= 0) {
                log_line("!!!CQuillon::SaveCRLAs()...CRL_get(pCRL,ENCODE_TYPE_PEM)...error");
                return S_FALSE;
            }
            content.append(reinterpret_cast<const char*>(pem->data),
                           static_cast<std::size_t>(pem->length));
        }
        if (!write_whole(*path, reinterpret_cast<const unsigned char*>(content.data()),
                         content.size())) {
            log_line("CQuillon::SaveCRLAs()...Certificate File Save...Exception Caught!");
            return PrepareAlert(kCrlSaveError);
        }
        return S_OK;
    } catch (...) {
        log_line("CQuillon::SaveCRLAs()...Certificate File Save...Exception Caught!");
        return PrepareAlert(kCrlSaveError);
    }
}

}  // namespace cadb::enrol
