// Two-step requests: a Begin makes the key and prepares the subject and the
// extensions; its End builds the request and hands it out as a plain PKCS#10
// request, or inside a CMC request inside CMS signed data signed with an
// existing certificate and key. The file variants write to the file named at
// the file Begin.
#include <optional>
#include <string>

#include "crypto/store/media_io.h"
#include "enrol/alert.h"
#include "enrol/cms_signer.h"
#include "enrol/log.h"
#include "enrol/out_values.h"
#include "enrol/printable_request.h"
#include "enrol/quillon.h"
#include "enrol/request_container.h"
#include "enrol/request_parts.h"
#include "enrol/strings.h"
#include "enrol/transaction_id.h"
#include "enrol/two_step_request.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tcmc.h"
#include "wrappers/tpse.h"

namespace cadb::enrol {

using com::S_OK;

namespace {

// The file CMC End names itself in this line whichever End saves the key.
constexpr const char* kKeySaveExceptionMember = "CQuillon::createFileRequest_PKCS10_CMP_CMS_End";

// The text as a text-mode stream of the system writes it: every line feed
// becomes CR LF.
std::string with_crlf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 1);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

bool make_request(TwoStepRequest& st) {
    try {
        return st.last.make(*st.subject, *st.key, st.signing);
    } catch (...) {
        return false;
    }
}

}  // namespace

HRESULT CQuillon::createRequestBegin(I4 Flags, BSTR strDNName, BSTR Usage, I4 bSetDefaultExts) {
    log_line("CQuillon::createRequestBegin()...Entry");
    log_line("CQuillon::createRequest(Flags:[%li])...Entry", static_cast<long>(Flags));
    return request_begin("CQuillon::createRequest", Flags, strDNName, Usage, nullptr,
                         bSetDefaultExts);
}

HRESULT CQuillon::createFileRequestBegin(I4 Flags, BSTR strDNName, BSTR strUsage,
                                         BSTR strRequestFileName, I4 bSetDefaultExts) {
    log_line("CQuillon::createFileRequest(Flags:[%li])...Entry", static_cast<long>(Flags));
    return request_begin("CQuillon::createFileRequest", Flags, strDNName, strUsage,
                         &strRequestFileName, bSetDefaultExts);
}

HRESULT CQuillon::request_begin(const char* member, I4 Flags, BSTR strDNName, BSTR usageText,
                                const BSTR* fileName, I4 bSetDefaultExts) {
    TwoStepRequest& st = *two_step_;
    st.type = kRequestNone;
    if (Flags != kRequestPlain && Flags != kRequestCmc) {
        // A refused kind is still recorded, so that a following End does nothing.
        if (Flags == kRequestRefused) st.type = kRequestRefused;
        log_line("%s()... Unknown Request Type ...Error!", member);
        return PrepareAlert(kUnknownRequestType);
    }
    st.type = Flags;
    const bool cmc = Flags == kRequestCmc;
    const std::string road = std::string(member) + (cmc ? "_PKCS10_CMP_CMS_Begin" : "_PKCS10_Begin");

    accepted_content_ = 0;
    st.last = TPKCS10();
    tid_.clear();
    // Nothing of an earlier Begin survives but the extension stack: a Begin
    // that fails leaves no key or subject that an End could sign.
    st.subject = std::make_unique<TX509Name>();
    st.key = std::make_unique<TPrivateKey>();
    st.keyLoaded = false;
    st.signing = TPKCS10SignParams();
    if (fileName) st.fileName = com::bstr_view(*fileName);

    const std::optional<std::string> dn = com::bstr_to_ansi(strDNName);
    if (!dn || dn->empty()) {
        log_line("%s()... Distinguish Name is empty ...Error!", road.c_str());
        return PrepareAlert(kDistinguishNameEmpty);
    }
    // Usage makes only the default extensions: without them it is not
    // looked at (checked as the empty list, which every row takes).
    const std::optional<std::string> usage =
        bSetDefaultExts != 0 ? com::bstr_to_ansi(usageText) : std::optional<std::string>("");
    SubjectValues subject;
    RequestUsage ku;
    if (HRESULT hr = check_request_texts(road.c_str(), *dn, usage, subject, ku); hr != S_OK)
        return hr;

    {
        // The store's and the key's questions carry this road's prompts.
        TRequestUIScope ui_scope;
        TPSE pse;
        bool stopped = false;
        if (HRESULT hr = open_request_store(road.c_str(), pse, stopped); hr != S_OK || stopped)
            return hr;
        if (HRESULT hr = make_request_key(road.c_str(), pse, *st.key, st.keyLoaded); hr != S_OK)
            return hr;
        // The signed request's key is written by its End, once the request
        // is signed.
        if (!cmc && !st.keyLoaded)
            if (HRESULT hr = save_request_key(road.c_str(), road.c_str(), *st.key); hr != S_OK)
                return hr;
    }
    (void)BuildSubjectName(subject, *st.subject);  // whole: checked before the key was made
    if (bSetDefaultExts != 0) {
        DefaultExtensions defaults;
        PrepareDefaultExtensions(*usage, ku.mask, ku.keyUsageCritical, ku.purposesCritical,
                                 defaults);
        AddDefaultExtensions(defaults, st.extensions);
    }

    st.key->setType(TPrivateKey::kSelectPEM, TPrivateKey::kFormPKCS8);
    st.signing.signingKey = st.key.get();
    st.signing.hashAlgId = hash_alg_id_;
    st.signing.extensions = &st.extensions;

    if (cmc) {
        if (use_internal_tid_ != 0) {
            std::optional<std::u16string> tid;
            try {
                tid = MakeInternalTid();
            } catch (...) {
                tid.reset();
            }
            if (tid)
                tid_ = *tid;
            else
                log_line(fileName ? "%s()...Invalid Rand Vector" : "%s()...Bad Vector",
                         road.c_str());
        }
        log_line("%s()...Finish", road.c_str());
    }
    return S_OK;
}

HRESULT CQuillon::createRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName,
                                   BSTR bstrKeyFileName, BSTR* pbstrReq) {
    switch (two_step_->type) {
        case kRequestPlain:
        case kRequestCmc:
            if (!pbstrReq) return com::E_POINTER;
            clear_out(pbstrReq);
            return two_step_->type == kRequestPlain
                       ? plain_end(false, pbstrReq)
                       : cmc_end(false, bstrContainer, bstrCertFileName, bstrKeyFileName,
                                 pbstrReq);
        default: return S_OK;
    }
}

HRESULT CQuillon::createFileRequestEnd(BSTR bstrContainer, BSTR bstrCertFileName,
                                       BSTR bstrKeyFileName) {
    switch (two_step_->type) {
        case kRequestPlain: return plain_end(true, nullptr);
        case kRequestCmc:
            return cmc_end(true, bstrContainer, bstrCertFileName, bstrKeyFileName, nullptr);
        default: return S_OK;
    }
}

HRESULT CQuillon::plain_end(bool toFile, BSTR* pbstrReq) {
    TwoStepRequest& st = *two_step_;
    const std::optional<std::string> file = Utf8ToAnsi(com::utf16_to_utf8(st.fileName));
    const char* member = toFile ? "CQuillon::createFileRequest_PKCS10_End"
                                : "CQuillon::createRequest_PKCS10_End";
    if (toFile)
        log_line("CQuillon::createFileRequest_PKCS10_End(bstrRequestFile=[%s])",
                 com::utf16_to_utf8(st.fileName).c_str());
    if (!make_request(st)) {
        log_line("%s()... PKCS#10 Generation...Error!", member);
        return PrepareAlert(kPkcs10GenerationError);
    }
    RefreshPrintableRequest(st.last, printable_request_);

    if (!toFile) {
        const std::string pem = RequestText(st.last, TPKCS10::kFormatPEM);
        if (pem.empty()) {
            log_line("%s()... PKCS#10 Generation...Error!", member);
            return PrepareAlert(kPkcs10GenerationError);
        }
        *pbstrReq = com::bstr_from_ansi(pem);
        return *pbstrReq ? S_OK : com::E_OUTOFMEMORY;
    }

    log_line("CQuillon::createFileRequest_PKCS10_End()... Final PKCS#10 (TXT):[\n%s]",
             RequestText(st.last, TPKCS10::kFormatText).c_str());
    bool written = false;
    try {
        const std::string pem = RequestText(st.last, TPKCS10::kFormatPEM);
        written = file && !file->empty() && !pem.empty() &&
                  CADB_write_file_plain(file->c_str(), pem.data(), static_cast<int>(pem.size())) !=
                      0;
    } catch (...) {
        written = false;
    }
    if (!written) {
        log_line("CQuillon::createFileRequest_PKCS10_End()... PKCS#10 File Creation...Error!");
        return PrepareAlert(kPkcs10FileError);
    }
    return S_OK;
}

HRESULT CQuillon::cmc_end(bool toFile, BSTR bstrContainer, BSTR bstrCertFileName,
                          BSTR bstrKeyFileName, BSTR* pbstrReq) {
    TwoStepRequest& st = *two_step_;
    const char* member = toFile ? "CQuillon::createFileRequest_PKCS10_CMP_CMS_End"
                                : "CQuillon::createRequest_PKCS10_CMP_CMS_End";
    const std::string named = std::string(member) + "()";

    if (!make_request(st)) {
        log_line("%s... PKCS#10 Generation...Error!", named.c_str());
        return PrepareAlert(kPkcs10GenerationError);
    }
    if (st.last.get() == nullptr) {
        log_line("%s... End Operation without Begin ...Error!", named.c_str());
        return PrepareAlert(kEndWithoutBegin);
    }
    RefreshPrintableRequest(st.last, printable_request_);

    TCmsSigner signer({named.c_str(), RefusedStorePassword::kShowAndStop,
                       kPrivateKeyFileReadError});
    HRESULT hr = S_OK;
    if (signer.prepare(bstrContainer, bstrCertFileName, bstrKeyFileName, !tid_.empty(), &hr) !=
        TCmsSigner::Outcome::kReady)
        return hr;

    // The request and its transaction identifier as a CMC request.
    const auto cmc_failed = [&named](const char* step) {
        log_line("%s...%s...Error!", named.c_str(), step);
        return PrepareAlert(kCmcCreationError);
    };
    const std::optional<std::string> tid = Utf8ToAnsi(com::utf16_to_utf8(tid_));
    TBuffer id;
    if (!tid || tid->empty() || !id.assign(tid->data(), static_cast<int>(tid->size())))
        return cmc_failed("CMC:set_trans_id()");
    TCMC cmc;
    TBuffer encoded;
    st.bodyPart = 1;
    if (!cmc.setTransactionId(st.bodyPart, id)) return cmc_failed("CMC:set_trans_id()");
    if (!cmc.setContentType(TCMC::kContentPKIData)) return cmc_failed("CMC:set_content()");
    st.bodyPart = 2;
    if (!cmc.pushPKCS10(st.last, st.bodyPart)) return cmc_failed("CMC:push(pkcs#10)");
    if (!cmc.getEncoded(encoded) || encoded.isEmpty()) return cmc_failed("CMC:buffer:get()");

    std::string pem;
    if (hr = signer.sign(encoded, pem); hr != S_OK) return hr;

    // The new key is written only now that its request is signed (a key read
    // from its key file is there already).
    if (!st.keyLoaded)
        if (hr = save_request_key(member, kKeySaveExceptionMember, *st.key); hr != S_OK) return hr;

    if (!toFile) {
        *pbstrReq = com::bstr_from_ansi(pem);
        if (!*pbstrReq) return com::E_OUTOFMEMORY;
        log_line("%s...Finish", named.c_str());
        return S_OK;
    }
    const std::optional<std::string> file = Utf8ToAnsi(com::utf16_to_utf8(st.fileName));
    if (!st.fileName.empty()) {
        bool written = false;
        try {
            const std::string text = with_crlf(pem);
            // Into the folder named, as a file stream opens it: a missing
            // folder fails the save and none is made.
            written = file && CADB_write_file_in_dir(file->c_str(), text.data(),
                                                     static_cast<int>(text.size())) != 0;
        } catch (...) {
            written = false;
        }
        if (!written) {
            log_line("%s...CMS:save_to_file()...Exception Caught!", named.c_str());
            return PrepareAlert("Certificate as File Save Error", kPkcs7CreationError);
        }
    }
    log_line("%s...Finish", named.c_str());
    return S_OK;
}

}  // namespace cadb::enrol
