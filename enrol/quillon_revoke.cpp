// Revocation requests: createRvcBegin records the certificate to revoke, the
// reason, the emergency password and a comment as a CMC revokeRequest kept in
// the object; createRvcEnd hands out the CMC request as base64 (the authority
// trusts it through the emergency password), createRvcEndSigned signs it into
// a CMS signed-data message; the file variants write those texts to a file.
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <ctime>
#include <optional>
#include <string>

#include "crypto/store/media_io.h"
#include "enrol/alert.h"
#include "enrol/cms_signer.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"
#include "enrol/request_container.h"
#include "enrol/strings.h"
#include "enrol/transaction_id.h"
#include "wrappers/initializer.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tcmc.h"
#include "wrappers/tx509name.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {

using com::S_FALSE;
using com::S_OK;

namespace {

// The transaction identifier is the first control of a revocation request.
constexpr std::int32_t kTidBodyPart = 1;

// Passwords never reach the log: only whether one was given.
const char* masked(const std::string& secret) { return secret.empty() ? "" : "********"; }

// Seeds the library generator for the internal transaction identifier: the
// store in use, else the store at container, else the user.
bool seed_generator(const std::optional<std::string>& container) {
    // A revocation never makes a key store: the creation flag a request road
    // left set would have the random start make a new store over the one in
    // use, and the key made under it could no longer be read.
    initializer().SetCreating(false);
    if (initializer().InitRandomizer(1) == 1) return true;
    if (container && !container->empty()) {
        TRef<TRequestContainer> store = make_ref<TRequestContainer>();
        if (store->readFiles(container->c_str()) == 1 && store->open() == 1) return true;
    }
    return RndInitThroughUI() == 1;
}

}  // namespace

void CQuillon::clear_revocation() {
    if (!emergency_password_.empty())
        OPENSSL_cleanse(emergency_password_.data(), emergency_password_.size());
    emergency_password_.clear();
    revocation_ready_ = false;
}

HRESULT CQuillon::createRvcBegin(BSTR strCertFileName, I4 lReason, BSTR strPassword,
                                 BSTR strComment, BSTR bstrContainer) {
    accepted_content_ = 0;
    // Until this Begin has built its request, no End may hand out the last one.
    clear_revocation();
    std::optional<std::string> password = com::bstr_to_ansi(strPassword);
    const bool password_converts = password.has_value();
    if (password) {
        emergency_password_ = *password;
        OPENSSL_cleanse(password->data(), password->size());
    }
    std::optional<std::string> comment = com::bstr_to_ansi(strComment);
    if (comment && comment->empty()) comment = " ";
    const std::optional<std::string> cert_file = com::bstr_to_ansi(strCertFileName);
    const std::optional<std::string> container = com::bstr_to_ansi(bstrContainer);
    log_line(
        "CQuillon::createRvcBegin(strCertFileName:[%s] lReason:[%li] ePass:[%s] "
        "strComment:[%s]), csPSEContainerDir:[%s]",
        com::bstr_to_utf8(strCertFileName).c_str(), static_cast<long>(lReason),
        masked(emergency_password_), com::bstr_to_utf8(strComment).c_str(),
        com::bstr_to_utf8(bstrContainer).c_str());

    if (!cert_file || cert_file->empty()) {
        log_line("CQuillon::createRvcBegin()...Certificate for Revocation is not defined...Error!");
        return PrepareAlert(kRevocationCertUndefined);
    }

    TRequestUIScope ui_scope;
    if (use_internal_tid_ != 0) {
        if (!seed_generator(container)) {
            log_line("CQuillon::createRvcBegin()...Randomizer Initialization...Error!");
            return PrepareAlert(kRandomizerInitBad);
        }
        try {
            if (std::optional<std::u16string> tid = MakeInternalTid())
                tid_ = std::move(*tid);
            else
                log_line("CQuillon::createRequest_PKCS10_CMP_CMS_Begin()...Bad Vector");
        } catch (...) {
            log_line("CQuillon::createRequest_PKCS10_CMP_CMS_Begin()...Bad Vector");
        }
    }

    revocation_cmc_.reset();

    TCertificate cert;
    bool loaded = false;
    try {
        loaded = cert.loadFile(cert_file->c_str()) && cert.getCERT() != nullptr;
    } catch (...) {
        loaded = false;
    }
    if (!loaded) {
        log_line("CQuillon::createRvcBegin()...Create Certificate View...Error!");
        return PrepareAlert(kCertificateViewError);
    }

    try {
        const CERT* record = cert.getCERT();
        TRevokeRequest request;
        request.bodyPartId = 0;
        request.issuer = std::make_unique<TX509Name>(X509_get_issuer_name(record->x509));
        request.serial = TBuffer(record->serial);
        request.reason = lReason;
        const std::time_t now = std::time(nullptr);
        ::gmtime_r(&now, &request.invalidityDate);
        // Text the local code page cannot carry cannot go into the request.
        if (!password_converts || !comment) throw 0;
        struct Wipe {
            std::string& s;
            ~Wipe() { OPENSSL_cleanse(s.data(), s.size()); }
        } wipe{request.sharedSecret};
        if (!emergency_password_.empty()) {
            request.hasSharedSecret = true;
            request.sharedSecret = emergency_password_;
        }
        request.comment = *comment;
        if (!revocation_cmc_.addRevocationRequest(request)) throw 0;
    } catch (...) {
        log_line("CQuillon::createRvcBegin()...Certificate Revocation Info...Error!");
        return PrepareAlert(kRevocationInfoError);
    }
    revocation_ready_ = true;
    return S_OK;
}

HRESULT CQuillon::createRvcEnd(BSTR* pstrRequest) {
    if (!pstrRequest) return com::E_POINTER;
    clear_out(pstrRequest);
    log_line("CQuillon::createRvcEnd()...Entry");
    if (!revocation_ready_) {
        log_line("CQuillon::createRvcEnd()...End Operation without Begin...Error!");
        return PrepareAlert(kEndWithoutBegin);
    }
    const std::optional<std::string> tid = Utf8ToAnsi(com::utf16_to_utf8(tid_));
    if (emergency_password_.empty()) {
        log_line("CQuillon::createRvcEnd()...Emergency Password is Empty...Error!");
        return PrepareAlert(kEmergencyPasswordUndefined);
    }
    TBuffer id;
    if (!tid || !id.assign(tid->data(), static_cast<int>(tid->size())) ||
        !revocation_cmc_.setTransactionId(kTidBodyPart, id)) {
        log_line("CQuillon::createRvcEnd()...CMC:set_trans_id()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    TBuffer encoded;
    if (!revocation_cmc_.getEncoded(encoded) || encoded.isEmpty()) {
        log_line("CQuillon::createRvcEnd()...CMC:buffer:get()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    if (!encoded.toBase64()) {
        log_line("CQuillon::createRvcEnd()...CMC:to_base64()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    *pstrRequest =
        com::bstr_from_ansi(std::string_view(reinterpret_cast<const char*>(encoded.getData()),
                                             static_cast<std::size_t>(encoded.getLength())));
    return *pstrRequest ? S_OK : com::E_OUTOFMEMORY;
}

HRESULT CQuillon::write_revocation_file(const char* member, BSTR file_name, BSTR text) {
    const std::optional<std::string> path = com::bstr_to_ansi(file_name);
    const std::optional<std::string> bytes = com::bstr_to_ansi(text);
    // The file is written whole under a temporary name, synced and renamed:
    // a failed write leaves an earlier request file as it was. Like a file
    // stream, it goes only into a folder that is there.
    if (path && bytes && !bytes->empty() &&
        CADB_write_file_in_dir(path->c_str(), bytes->data(), static_cast<int>(bytes->size())) ==
            static_cast<int>(bytes->size()))
        return S_OK;
    log_line("CQuillon::%s(File:[%s])... exception caught!", member,
             com::bstr_to_utf8(file_name).c_str());
    return S_FALSE;
}

HRESULT CQuillon::createFileRvcEnd(BSTR strRequest) {
    log_line("CQuillon::createFileRvcEnd()...Entrance");
    if (com::SysStringLen(strRequest) == 0) {
        log_line("CQuillon::createFileRvcEnd()...File Name is Empty...Error!");
        return PrepareAlert(kRevocationFileSaveError);
    }
    BSTR text = nullptr;
    const HRESULT hr = createRvcEnd(&text);
    if (hr != S_OK) {
        com::SysFreeString(text);
        return hr;
    }
    const HRESULT written = write_revocation_file("createFileRvcEnd", strRequest, text);
    com::SysFreeString(text);
    return written;
}

HRESULT CQuillon::createRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign,
                                     BSTR bstrKeyFileName, BSTR* pstrRequest) {
    if (!pstrRequest) return com::E_POINTER;
    clear_out(pstrRequest);
    log_line(
        "CQuillon::createRvcEndSigned(bstrContainer:[%s], bstrCrtFileForSign:[%s], "
        "bstrKeyFileName:[%s])",
        com::bstr_to_utf8(bstrContainer).c_str(), com::bstr_to_utf8(bstrCrtFileForSign).c_str(),
        com::bstr_to_utf8(bstrKeyFileName).c_str());
    if (!revocation_ready_) {
        log_line("CQuillon::createRvcEndSigned()...End Operation without Begin...Error!");
        return PrepareAlert(kEndWithoutBegin);
    }

    // A refused store password stops here only when the store must hold the
    // key (PassOnContainer); otherwise the key's own reading decides.
    CmsSignerRoad road;
    road.member = "CQuillon::createRvcEndSigned()";
    road.refused =
        pass_on_container_ != 0 ? RefusedStorePassword::kShowAndFail : RefusedStorePassword::kGoOn;
    road.tokenKeyFailure = kPrivateKeyLoadError;
    TCmsSigner signer(road);
    HRESULT hr = S_OK;
    if (signer.prepare(bstrContainer, bstrCrtFileForSign, bstrKeyFileName, !tid_.empty(), &hr) !=
        TCmsSigner::Outcome::kReady)
        return hr;

    const std::optional<std::string> tid = Utf8ToAnsi(com::utf16_to_utf8(tid_));
    TBuffer id;
    if (!tid || !id.assign(tid->data(), static_cast<int>(tid->size())) ||
        !revocation_cmc_.setTransactionId(kTidBodyPart, id)) {
        log_line("CQuillon::createRvcEndSigned()...CMC:set_trans_id()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    if (!revocation_cmc_.setContentType(TCMC::kContentPKIData)) {
        log_line("CQuillon::createRvcEndSigned()...CMC:set_content()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    TBuffer encoded;
    if (!revocation_cmc_.getEncoded(encoded) || encoded.isEmpty()) {
        log_line("CQuillon::createRvcEndSigned()...CMC:buffer:get()...Error!");
        return PrepareAlert(kCmcCreationError);
    }
    std::string pem;
    hr = signer.sign(encoded, pem);
    if (hr != S_OK) return hr;
    *pstrRequest = com::bstr_from_ansi(pem);
    return *pstrRequest ? S_OK : com::E_OUTOFMEMORY;
}

HRESULT CQuillon::createFileRvcEndSigned(BSTR bstrContainer, BSTR bstrCrtFileForSign,
                                         BSTR bstrKeyFileName, BSTR strFileName) {
    log_line("CQuillon::createFileRvcEndSigned()...Entrance");
    if (com::SysStringLen(strFileName) == 0) {
        log_line("CQuillon::createFileRvcEndSigned()...File Name is Empty...Error!");
        return PrepareAlert(kRevocationFileSaveError);
    }
    BSTR text = nullptr;
    const HRESULT hr =
        createRvcEndSigned(bstrContainer, bstrCrtFileForSign, bstrKeyFileName, &text);
    if (hr != S_OK) {
        com::SysFreeString(text);
        return hr;
    }
    const HRESULT written = write_revocation_file("createFileRvcEndSigned", strFileName, text);
    com::SysFreeString(text);
    return written;
}

}  // namespace cadb::enrol
