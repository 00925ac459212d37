#include "enrol/cms_signer.h"

#include <fstream>
#include <optional>

#include "crypto/store/media_io.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "enrol/request_container.h"
#include "enrol/strings.h"
#include "platform/paths.h"
#include "wrappers/initializer.h"
#include "wrappers/pse_media.h"
#include "wrappers/tcms.h"
#include "wrappers/ui_exports.h"

namespace cadb::enrol {

using com::HRESULT;
using com::S_OK;

namespace {

// Largest key file read: far above any key the library writes.
constexpr long kMaxKeyFile = 0x100000;

void show_wrong_password() {
    UIMessageBox(QuillonString(IDS_WRONG_PASSWORD), QuillonString(IDS_ERROR_CAPTION),
                 MB_OK | MB_ICONEXCLAMATION);
}

// The certificate at a disk path, read as bytes; a token path through the
// token. A file that is missing or does not parse leaves no certificate.
void read_certificate(const std::string& path, TCertificate& certificate) {
    if (GetPSEMediaType(path.c_str()) == PSE_MEDIA_PKCS11) {
        (void)certificate.loadFile(path.c_str());
        return;
    }
    const std::optional<OsPath> os = path_to_os(path);
    if (!os) return;
    std::ifstream in(os->path, std::ios::binary);
    if (in) (void)ReadStreamToCertificate(in, certificate);
}

}  // namespace

HRESULT TCmsSigner::fail(AlertCode code, const char* what) {
    log_line("%s... %s ...Error!", road_.member, what);
    return PrepareAlert(code);
}

TCmsSigner::Outcome TCmsSigner::prepare(com::BSTR container, com::BSTR certFile,
                                        com::BSTR keyFile, bool haveTransactionId,
                                        HRESULT* result) {
    // A container whose name has no place in the local code page is a store
    // that cannot be read.
    std::optional<std::string> store_path = com::bstr_to_ansi(container);
    if (store_path && store_path->empty()) store_path = initializer().GetPSEPath();

    if (com::SysStringLen(certFile) == 0) {
        *result = fail(kSigningCertUndefined, "Certificate for CMS signing is undefined");
        return Outcome::kFailed;
    }
    if (!haveTransactionId) {
        *result = fail(kTidEmpty, "Transaction ID is Empty");
        return Outcome::kFailed;
    }

    // The store's and the key's questions carry this road's prompts.
    TRequestUIScope ui_scope;
    SetPasswordPrompt(QuillonString(IDS_SIGNER_PSE_PASSWORD));
    TRef<TRequestContainer> opened = make_ref<TRequestContainer>();
    if (!store_path || opened->readFiles(store_path->c_str()) != 1 || opened->open() != 1) {
        *result = fail(kContainerBad, "Container is Empty or Broken");
        return Outcome::kFailed;
    }
    if (opened->getPSE() != nullptr) {
        store_.attach(opened->getPSE());
    } else {
        switch (road_.refused) {
            case RefusedStorePassword::kShowAndStop:
                show_wrong_password();
                *result = S_OK;
                return Outcome::kStopped;
            case RefusedStorePassword::kShowAndFail:
                show_wrong_password();
                *result = PrepareAlert(kContainerBad);
                return Outcome::kFailed;
            case RefusedStorePassword::kGoOn:
                break;
        }
    }

    const std::optional<std::string> cert_path = com::bstr_to_ansi(certFile);
    try {
        if (cert_path) read_certificate(*cert_path, certificate_);
    } catch (...) {
        log_line("%s... Certificate Loading:[%s] ...Error!", road_.member,
                 com::bstr_to_utf8(certFile).c_str());
        *result = PrepareAlert(kCertificateLoadError);
        return Outcome::kFailed;
    }

    if (com::SysStringLen(keyFile) == 0) {
        *result = fail(kPrivateKeyPathUndefined, "Private Key Path is not defined");
        return Outcome::kFailed;
    }
    const std::optional<std::string> key_path = com::bstr_to_ansi(keyFile);
    if (!key_path) {
        *result = fail(kPrivateKeyFileReadError, "Private Key File Read");
        return Outcome::kFailed;
    }
    SetPasswordPrompt(UIFormat(QuillonString(IDS_KEY_PASSWORD), {*key_path}));
    try {
        if (GetPSEMediaType(key_path->c_str()) == PSE_MEDIA_PKCS11) {
            if (!key_.loadFile(&store_, key_path->c_str())) {
                *result = fail(road_.tokenKeyFailure, "Private Key Token Read");
                return Outcome::kFailed;
            }
        } else {
            const long size = CADB_file_size(key_path->c_str());
            TBuffer bytes;
            if (size <= 0 || size > kMaxKeyFile || !bytes.allocate(static_cast<int>(size)) ||
                CADB_read_file_plain(key_path->c_str(), bytes.get()->data,
                                     static_cast<int>(size)) != size) {
                *result = fail(kPrivateKeyFileReadError, "Private Key File Read");
                return Outcome::kFailed;
            }
            if (!key_.loadWithPassword(bytes, &store_, nullptr, 0) &&
                !key_.loadWithCallback(bytes, &store_, nullptr, nullptr)) {
                *result = fail(kPrivateKeyLoadError, "Private Key Load");
                return Outcome::kFailed;
            }
        }
    } catch (...) {
        *result = fail(kPrivateKeyLoadError, "Private Key Load: Exception Caught!");
        return Outcome::kFailed;
    }

    if (!certificate_.matchesKey(key_)) {
        *result = fail(kNotInPair, "Certificate and PKey are not in Pair");
        return Outcome::kFailed;
    }
    *result = S_OK;
    return Outcome::kReady;
}

HRESULT TCmsSigner::sign(const TBuffer& cmc, std::string& pem) {
    const auto step_failed = [this](const char* step) {
        log_line("%s...%s...Error!", road_.member, step);
        return PrepareAlert(kPkcs7CreationError);
    };
    TRef<TCMS> cms = make_ref<TCMS>();
    if (!cms->setType(TCMS::kTypeSigned, 2)) return step_failed("CMS:set_type()");
    if (!cms->setContentType(TCMS::kContentPKIData)) return step_failed("CMS:set_content_type()");
    if (!cms->addSignature(&certificate_, &key_, 64)) return step_failed("CMS:add_signature()");
    if (!cms->setContent(cmc)) return step_failed("CMS:update()");
    if (!cms->final()) return step_failed("CMS:final()");
    // The signed request goes out as PEM text.
    if (!cms->setFormat(2)) return step_failed("CMS:to_format()");
    TBuffer* encoded = cms->getEncoded();
    if (encoded == nullptr || encoded->isEmpty()) return step_failed("CMS:buffer:get_data()");
    pem.assign(reinterpret_cast<const char*>(encoded->getData()),
               static_cast<std::size_t>(encoded->getLength()));
    // A terminating zero is not part of the text.
    while (!pem.empty() && pem.back() == '\0') pem.pop_back();
    if (pem.empty()) return step_failed("CMS:buffer:get_data()");
    log_line("%s...Check Stream for (PKCS#10 nested CMC) nested to PKCS#7:[%s]", road_.member,
             pem.c_str());
    return S_OK;
}

}  // namespace cadb::enrol
