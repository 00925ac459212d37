// The request road: createPKCS10 opens or creates the key store, starts its
// generator, makes the key of the chosen algorithm row, saves it as a key
// file (or token objects), and returns a signed certification request as
// PEM; createFilePKCS10 writes that text to a file. Its steps up to the key
// are shared with the two-step requests (quillon_two_step.cpp).
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>

#include "crypto/store/media_io.h"
#include "enrol/alert.h"
#include "enrol/algorithms.h"
#include "enrol/key_file_names.h"
#include "enrol/key_savers.h"
#include "enrol/key_usage.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "enrol/out_values.h"
#include "enrol/printable_request.h"
#include "enrol/quillon.h"
#include "enrol/request_container.h"
#include "enrol/request_parts.h"
#include "enrol/strings.h"
#include "wrappers/initializer.h"
#include "wrappers/pse_media.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tpkcs10.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tpse.h"
#include "wrappers/tx509name.h"
#include "wrappers/ui_binding.h"
#include "wrappers/x509_ext.h"

namespace cadb::enrol {

using com::S_OK;

namespace {

// A path whose key lives in the CryptoPro token module of the GOST parameter
// sets for token keys.
bool IsTokenKeyPath(std::string path) {
    path = WithTrailingSeparator(std::move(path));
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return path.rfind("pkcs11", 0) == 0 && path.find(":\\mskey-pkcs11") != std::string::npos;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Code page 1251 text as the object keeps its fields.
std::u16string from_ansi(std::string_view text) {
    com::BSTR b = com::bstr_from_ansi(text);
    std::u16string out(com::bstr_view(b));
    com::SysFreeString(b);
    return out;
}

std::optional<std::string> to_ansi(std::u16string_view text) {
    return Utf8ToAnsi(com::utf16_to_utf8(text));
}

void show_wrong_password() {
    UIMessageBox(QuillonString(IDS_WRONG_PASSWORD), QuillonString(IDS_ERROR_CAPTION),
                 MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

HRESULT CQuillon::open_request_store(const char* member, TPSE& pse, bool& stopped) {
    stopped = false;
    TCADBInitializer& global = initializer();
    // A null name is no name; an empty one is a name, of no folder.
    const std::optional<std::string> container =
        container_name_null_ ? std::nullopt : to_ansi(container_name_);

    if (use_existing_key_set_ != 0) {
        global.SetCreating(false);
        if (!container) {
            log_line("%s()... Container Name is empty ...Error!", member);
            return PrepareAlert(kBadObjectName);
        }
        global.SetDefaultPSEPath(container->c_str());
        global.SetPSEPath(container->c_str());
        SetPasswordPrompt(QuillonString(IDS_PSE_PASSWORD));
        TRef<TRequestContainer> store = make_ref<TRequestContainer>();
        // An empty name is a name, of no store: nothing is read at the root.
        const std::string path = global.GetPSEPath();
        bool opened = false;
        if (!NamesNoFolder(path)) {
            (void)store->readFiles(path.c_str());
            opened = store->open() == 1;
        }
        if (!opened) {
            log_line("%s()... Container Name is Empty or Broken ...Error!", member);
            return PrepareAlert(kContainerBad);
        }
        if (global.InitRandomizer(1) != 1) return PrepareAlert(kRandomizerInitBad);
        if (store->getPSE() == nullptr) {
            show_wrong_password();
            stopped = true;
            return S_OK;
        }
        pse.attach(store->getPSE());
    } else {
        if (container) {
            global.SetDefaultPSEPath(container->c_str());
            global.SetPSEPath(container->c_str());
        }
        SetPasswordPrompt(QuillonString(IDS_PSE_PASSWORD));
        const std::string path = global.GetPSEPath();
        // No store is read or made where the path names no folder.
        if (NamesNoFolder(path)) {
            log_line("%s()... Vambrace Container is Bad ...Error!", member);
            return PrepareAlert(kContainerBad);
        }
        TRef<TRequestContainer> store = make_ref<TRequestContainer>();
        if (store->readFiles(path.c_str()) == 1) {
            if (store->open() != 1) {
                show_wrong_password();
                return PrepareAlert(kContainerBad);
            }
            if (store->getPSE() != nullptr) pse.attach(store->getPSE());
            global.SetCreating(false);
            if (global.InitRandomizer(1) != 1) return PrepareAlert(kRandomizerInitBad);
        } else {
            global.SetCreating(true);
            if (global.InitRandomizer(1) != 1) return PrepareAlert(kRandomizerInitBad);
            // Another page may have made the store since it was looked
            // for: that store is then used, never replaced under its keys.
            TRef<TRequestContainer> created = make_ref<TRequestContainer>();
            if (created->createOrOpen(path.c_str(), pass_on_container_ != 0) != 1) {
                log_line("%s()... Vambrace Container is Bad ...Error!", member);
                return PrepareAlert(kContainerBad);
            }
            if (created->getPSE() != nullptr) {
                pse.attach(created->getPSE());
            } else if (pass_on_container_ != 0) {
                show_wrong_password();
                return PrepareAlert(kContainerBad);
            }
        }
    }
    container_name_ = from_ansi(global.GetPSEPath());
    container_name_null_ = false;
    return S_OK;
}

HRESULT CQuillon::make_request_key(const char* member, const TPSE& pse, TPrivateKey& key,
                                   bool& loaded) {
    TCADBInitializer& global = initializer();
    const std::string pkey_path = to_ansi(default_pkey_path_).value_or("");
    const std::string pkey_name = to_ansi(default_pkey_file_name_).value_or("");
    loaded = use_existing_key_set_ != 0;
    key.setPSE(pse);
    if (loaded) {
        if (NamesNoFolder(pkey_path)) {
            log_line("%s()... Private Key Path [%s] names no folder ...Error!", member,
                     pkey_path.c_str());
            return PrepareAlert(kPrivateKeyFileReadError);
        }
        const std::string folder = WithTrailingSeparator(pkey_path);
        const std::int32_t media = GetPSEMediaType(folder.c_str());
        const std::string key_path = folder + (pkey_name.empty() ? DefaultKeyFileName(media)
                                                                 : pkey_name);
        SetPasswordPrompt(UIFormat(QuillonString(IDS_KEY_PASSWORD), {key_path}));
        if (media == PSE_MEDIA_PKCS11) {
            if (!key.loadFile(&pse, key_path.c_str())) return PrepareAlert(kPrivateKeyFileReadError);
            return S_OK;
        }
        const long size = CADB_file_size(key_path.c_str());
        if (size <= 0 || size > 0x100000) return PrepareAlert(kPrivateKeyFileReadError);
        TBuffer bytes;
        if (!bytes.allocate(static_cast<int>(size)) ||
            CADB_read_file_plain(key_path.c_str(), bytes.get()->data, static_cast<int>(size)) !=
                size)
            return PrepareAlert(kPrivateKeyFileReadError);
        if (!key.loadWithPassword(bytes, &pse, nullptr, 0) &&
            !key.loadWithCallback(bytes, &pse, nullptr, KeyPasswordPrompt().c_str()))
            return PrepareAlert(kKeyViewError);
        if (key.save() == nullptr) return PrepareAlert(kKeyViewError);
        return S_OK;
    }

    // New key files are PEM PKCS#8, as this road has always written them.
    key.setType(TPrivateKey::kSelectPEM, TPrivateKey::kFormPKCS8);
    const AlgorithmRow& row = AlgorithmTable[provider_index_];
    // A key length below the row's range (the object's default suits no RSA
    // or DSA key) is taken as the row's smallest; one above it was refused
    // before the store was opened.
    std::int32_t bits = key_length_;
    if (key_length_is_used(row) && bits < key_length_min(row)) {
        log_line("%s()... Key Length %d is out of [%d, %d]: %d is used", member,
                 static_cast<int>(bits), static_cast<int>(key_length_min(row)),
                 static_cast<int>(key_length_max(row)), static_cast<int>(key_length_min(row)));
        bits = key_length_min(row);
    }
    const bool token = IsTokenKeyPath(pkey_path);
    TPKeyParams params;
    bool made = false;
    switch (provider_index_) {
        case 0: made = key.generateByAlgorithm(271, token ? 283 : 286); break;
        case 1: made = key.generateByAlgorithm(272, token ? 276 : 280); break;
        case 2: made = key.generateByAlgorithm(181, static_cast<std::uint32_t>(bits)); break;
        case 3: made = key.generateByAlgorithm(177, static_cast<std::uint32_t>(bits)); break;
        case 4:
            global.loadUILibrary();
            made = key.generate(bits);
            global.freeUILibrary();
            break;
        case 5:
            global.loadUILibrary();
            made = params.generate(116, bits) && key.generateWithParams(&params);
            global.freeUILibrary();
            break;
    }
    if (!made) {
        log_line("%s()... Key Generation ...Error!", member);
        return PrepareAlert(kKeyGenerationError);
    }

    key.setPSE(pse);
    log_line("%s... Strong Encryption :[%li]", member, static_cast<long>(strong_encryption_));
    if (strong_encryption_) {
        SetPasswordPrompt(QuillonString(IDS_NEW_KEY_PASSWORD));
        key.setType(TPrivateKey::kSelectPEM, TPrivateKey::kFormPKCS8);
        std::array<char, 1024> password{};
        TUICallbacks* ui = GetCurrentUI();
        const std::string prompt = QuillonString(IDS_NEW_KEY_PASSWORD);
        const int n = ui ? ui->putPassCBK(password.data(), static_cast<int>(password.size()), 0,
                                          prompt.c_str())
                         : 0;
        if (n <= 0 || n > static_cast<int>(password.size())) {
            OPENSSL_cleanse(password.data(), password.size());
            log_line("%s()... Key Password is Error ...Error!", member);
            return PrepareAlert(kKeyPasswordEmpty);
        }
        key.setPassword(password.data(), n);
        OPENSSL_cleanse(password.data(), password.size());
    }
    return S_OK;
}

HRESULT CQuillon::save_request_key(const char* member, const char* exceptionMember,
                                   TPrivateKey& key) {
    const std::string pkey_path = to_ansi(default_pkey_path_).value_or("");
    const std::string pkey_name = to_ansi(default_pkey_file_name_).value_or("");
    // An empty key path would put the key files at the root of the file
    // system.
    if (NamesNoFolder(pkey_path)) {
        log_line("%s()... Private Key Path [%s] names no folder ...Error!", member,
                 pkey_path.c_str());
        log_line("%s()... Key Write Error...Error!", member);
        return PrepareAlert(kSaveKeyError);
    }
    try {
        const std::int32_t media = GetPSEMediaType(pkey_path.c_str());
        const std::string default_name = DefaultKeyFileName(media);
        TBuffer* encoded = nullptr;
        if (media != PSE_MEDIA_PKCS11) {
            encoded = key.save();
            if (encoded == nullptr || encoded->isEmpty()) {
                log_line("%s()... return Key Buffer ...Error!", member);
                return PrepareAlert(kKeyViewError);
            }
        }
        const std::string folder = WithTrailingSeparator(pkey_path);
        const std::string main_path = folder + default_name;
        const std::string wanted = lower(pkey_name);
        const std::optional<std::string> user_path =
            wanted != "00000001.key" ? std::optional<std::string>(folder + wanted) : std::nullopt;
        const std::string* user = user_path ? &*user_path : nullptr;
        const bool saved =
            media == PSE_MEDIA_PKCS11
                ? SaveKeyPKCS11Generated(key.getKey(), main_path, user)
                : SaveKeyFileGenerated(main_path,
                                       {encoded->getData(),
                                        static_cast<std::size_t>(encoded->getLength())},
                                       user);
        if (!saved) {
            log_line("%s()... Key Write Error...Error!", member);
            return PrepareAlert(kSaveKeyError);
        }
    } catch (...) {
        log_line("%s()... Encrypted Key File Save ...Error!", exceptionMember);
        return PrepareAlert(kSaveKeyError);
    }
    return S_OK;
}

// The subject and the key usage are checked before any store is opened or
// any key made: a request that cannot be built leaves the medium as it was.
HRESULT CQuillon::check_request_texts(const char* member, const std::string& dn,
                                      const std::optional<std::string>& usage,
                                      SubjectValues& subject, RequestUsage& out) {
    try {
        subject = SubjectValuesOf(dn);
    } catch (...) {
        log_line("%s()... Distinguish Name Parsing: Exception Caught!", member);
        return PrepareAlert(kExceptionCaught);
    }
    if (!HasCommonName(subject)) return PrepareAlert(kCommonNameEmpty);
    // A value the request cannot carry whole (a common name over 64
    // characters, a country that is not two letters, a zero byte inside)
    // would be left out or cut: such a subject is refused here, before any
    // key is made.
    if (TX509Name probe; !BuildSubjectName(subject, probe)) {
        log_line("%s()... Subject Name ...Error!", member);
        return PrepareAlert(kPkcs10GenerationError);
    }
    out.keyUsageCritical = true;
    out.purposesCritical = false;
    out.mask = usage ? KeyUsageFromPurposes(*usage, provider_index_, &out.keyUsageCritical,
                                            &out.purposesCritical)
                     : -1;
    if (out.mask < 0) return PrepareAlert(kBadOid);
    if (provider_index_ < 0 || provider_index_ > 5) {
        log_line("%s()... Key Generation ...Error!", member);
        return PrepareAlert(kKeyGenerationError);
    }
    // A row whose key takes the length makes none longer than its range: a
    // longer one asked for is refused rather than made shorter than the page
    // believes.
    const AlgorithmRow& row = AlgorithmTable[provider_index_];
    if (use_existing_key_set_ == 0 && key_length_is_used(row) &&
        key_length_ > key_length_max(row)) {
        log_line("%s()... Key Length %d is above the maximum %d of the algorithm ...Error!",
                 member, static_cast<int>(key_length_), static_cast<int>(key_length_max(row)));
        log_line("%s()... Key Generation ...Error!", member);
        return PrepareAlert(kKeyGenerationError);
    }
    return S_OK;
}

HRESULT CQuillon::createPKCS10(BSTR DNName, BSTR Usage, BSTR* pPKCS10) {
    static constexpr const char* kMember = "CQuillon::createPKCS10";
    if (!pPKCS10) return com::E_POINTER;
    clear_out(pPKCS10);
    accepted_content_ = 0;
    const std::optional<std::string> dn = com::bstr_to_ansi(DNName);
    if (!dn || dn->empty()) {
        log_line("CQuillon::createPKCS10()... Distinguish Name is empty ...Error!");
        return PrepareAlert(kDistinguishNameEmpty);
    }
    const std::optional<std::string> usage = com::bstr_to_ansi(Usage);
    log_line("CQuillon::createPKCS10(DNName:[%s] KeyUsage:[%s])...Entry",
             com::bstr_to_utf8(DNName).c_str(), com::bstr_to_utf8(Usage).c_str());

    SubjectValues subject;
    RequestUsage ku;
    if (HRESULT hr = check_request_texts(kMember, *dn, usage, subject, ku); hr != S_OK) return hr;

    // The store's and the key's questions carry this road's prompts.
    TRequestUIScope ui_scope;
    TPSE pse;  // the key store of this call
    bool stopped = false;
    if (HRESULT hr = open_request_store(kMember, pse, stopped); hr != S_OK || stopped) return hr;
    TPrivateKey key;
    bool loaded = false;
    if (HRESULT hr = make_request_key(kMember, pse, key, loaded); hr != S_OK) return hr;
    if (!loaded)
        if (HRESULT hr = save_request_key(kMember, kMember, key); hr != S_OK) return hr;

    TX509Name name;
    (void)BuildSubjectName(subject, name);  // whole: checked before the key was made
    TStack_V3EXT extensions;
    DefaultExtensions defaults;
    PrepareDefaultExtensions(*usage, ku.mask, ku.keyUsageCritical, ku.purposesCritical, defaults);
    AddDefaultExtensions(defaults, extensions);

    TPKCS10 request;
    key.setType(TPrivateKey::kSelectPEM, TPrivateKey::kFormPKCS8);
    TPKCS10SignParams sign;
    sign.signingKey = &key;
    sign.hashAlgId = hash_alg_id_;
    sign.extensions = &extensions;
    if (!request.make(name, key, sign)) {
        log_line("CQuillon::createPKCS10()... PKCS#10 Generation...Error!");
        return PrepareAlert(kPkcs10GenerationError);
    }
    RefreshPrintableRequest(request, printable_request_);
    if (request.setFormat(TPKCS10::kFormatText) == 1) {
        if (TBuffer* text = request.getEncoded(); text && !text->isEmpty()) {
            const std::string printed(reinterpret_cast<const char*>(text->getData()),
                                      static_cast<std::size_t>(text->getLength()));
            log_line("CQuillon::createPKCS10()... Final PKCS#10 (TXT):[\n%s]", printed.c_str());
        }
    }
    TBuffer* pem = request.setFormat(TPKCS10::kFormatPEM) == 1 ? request.getEncoded() : nullptr;
    if (pem == nullptr || pem->isEmpty()) {
        log_line("CQuillon::createPKCS10()... PKCS#10 Generation...Error!");
        return PrepareAlert(kPkcs10GenerationError);
    }
    *pPKCS10 = com::bstr_from_ansi(std::string_view(
        reinterpret_cast<const char*>(pem->getData()), static_cast<std::size_t>(pem->getLength())));
    return *pPKCS10 ? S_OK : com::E_OUTOFMEMORY;
}

HRESULT CQuillon::createFilePKCS10(BSTR DNName, BSTR Usage, BSTR wszPKCS10FileName) {
    BSTR pem = nullptr;
    if (createPKCS10(DNName, Usage, &pem) != S_OK) {
        com::SysFreeString(pem);
        log_line("CQuillon::createFilePKCS10()... Error!");
        return PrepareAlert(kPkcs10FileError);
    }
    const std::optional<std::string> file = com::bstr_to_ansi(wszPKCS10FileName);
    const std::optional<std::string> text = com::bstr_to_ansi(pem);
    com::SysFreeString(pem);
    if (!file || file->empty() || !text || text->empty()) return PrepareAlert(kPkcs10FileError);
    if (CADB_write_file_plain(file->c_str(), text->data(), static_cast<int>(text->size())) !=
        static_cast<int>(text->size()))
        return PrepareAlert(kPkcs10FileError);
    return S_OK;
}

}  // namespace cadb::enrol
