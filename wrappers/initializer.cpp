#include "wrappers/initializer.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>

#include "crypto/bio/etoken.h"
#include "crypto/bio/rutoken.h"
#include "crypto/init/init.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/store/media_io.h"
#include "wrappers/log.h"
#include "wrappers/pse_media.h"
#include "wrappers/secret_share.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

constexpr int kMasksMax = 224;
constexpr int kKekMax = 36;

void warning(int textId, int captionId) {
    UIMessageBox(UIString(textId), UIString(captionId), MB_OK | MB_ICONEXCLAMATION);
    LoadUIString(nullptr, -1);
}

bool present(const std::string& path) { return IsMediaPathPresent(path.c_str()) == 1; }

}  // namespace

CN2kGlobalParams::CN2kGlobalParams() : pse_(std::make_unique<TPSE>()) {}
CN2kGlobalParams::~CN2kGlobalParams() = default;

void CN2kGlobalParams::SetPSEPath(const char* path) { explicitPath_ = path != nullptr ? path : ""; }
void CN2kGlobalParams::SetDefaultPSEPath(const char* path) {
    fallbackPath_ = path != nullptr ? path : "";
}
std::string CN2kGlobalParams::GetPSEPath() const {
    return explicitPath_.empty() ? fallbackPath_ : explicitPath_;
}

int CN2kGlobalParams::InitRandomizer(int argument) {
    const int r = GetPSEMediaType(GetPSEPath().c_str()) == PSE_MEDIA_PKCS11
                      ? RndInitThroughUI()
                      : ReadRndBuffer(argument);
    randResult_ = static_cast<unsigned char>(r);
    return r;
}

int CN2kGlobalParams::ReadRndBuffer(int argument) {
    try {
        LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 0");
        const std::string path = GetPSEPath();
        const int type = GetPSEMediaType(path.c_str());
        ETOKEN_set_passwd_cb(etoken_passwd_cb);
        RUTOKEN_set_passwd_cb(rutoken_passwd_cb);
        PKCS11_set_passwd_cb(pkcs11_passwd_cb);
        LogMessage("TCADBInitializer::ReadRndBuffer()...Pass 1");
        if (!creating_) {
            LogMessage("TCADBInitializer::ReadRndBuffer()...Pass 2");
            if (path == "SHARED" || shared_) return recoverShared();
            return openStore(path, type);
        }
        LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 5");
        if (!RndInitThroughUI()) return 0;
        LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 6");
        (void)argument;  // a shared store is never made under a password (see createShared)
        return shared_ ? createShared() : createStore(type);
    } catch (...) {
        LogMessage("CN2kGlobalParams::ReadRndBuffer() : RandomizerInitialize()...Exception Caught !");
        return 0;
    }
}

int CN2kGlobalParams::recoverShared() {
    LogMessage("TCADBInitializer::ReadRndBuffer()...Pass 3");
    CAdvSecretShare share;
    SetCurrentContainerDialog(new TShareMediaDialog);
    TRef<TPSEContainer> container = share.recover();
    PSE* record = container ? container->getPSE() : nullptr;
    if (record == nullptr) {
        warning(76, 16);
        return 0;
    }
    // The container holds the record until the wrapper has its own reference.
    pse_->attach(record);
    container.reset();
    shared_ = share.threshold() >= 2;
    return RndInitThroughUI();
}

int CN2kGlobalParams::openStore(const std::string& path, int type) {
    LogMessage("TCADBInitializer::ReadRndBuffer()...Pass 4");
    if (pse_->getPSE() != nullptr) {
        if (CADB_rand_status()) return 1;
        LogMessage("CN2kGlobalParams::ReadRndBuffer()... store held, generator stopped: seeding");
        return RndInitThroughUI();
    }
    StoreFileNames names;
    if (!BuildStoreFileNames(path.c_str(), type, names, 4)) {
        LogMessage("CN2kGlobalParams::ReadRndBuffer()... no store file names for the path");
        return 0;
    }
    if (!present(names[STORE_MKEY]) || !present(names[STORE_MASKS]) ||
        !present(names[STORE_KEK]))
        return 0;
    std::array<unsigned char, kMasksMax> masks{};
    std::array<unsigned char, kKekMax> kek{};
    const int masksRead = CADB_read_file_plain(names[STORE_MASKS].c_str(), masks.data(),
                                               static_cast<int>(masks.size()));
    const int kekRead =
        CADB_read_file_plain(names[STORE_KEK].c_str(), kek.data(), static_cast<int>(kek.size()));
    OPENSSL_cleanse(masks.data(), masks.size());
    OPENSSL_cleanse(kek.data(), kek.size());
    if (masksRead == 0 || kekRead == 0) {
        LogMessage("CN2kGlobalParams::ReadRndBuffer()... empty masks or KEK file: no store opened");
        return 0;
    }
    std::array<unsigned char, PSE_RAND_STATE_SIZE> state{};
    const int stateRead = CADB_read_file_plain(names[STORE_RAND].c_str(), state.data(),
                                               static_cast<int>(state.size()));
    // The generator is started here, not by the read: a missing state file
    // must not keep the store from opening, and the file is not rewritten.
    if (!pse_->open(path.c_str(), PSE_CTX_FLAG_NO_RAND_INIT)) {
        pse_->close();
        OPENSSL_cleanse(state.data(), state.size());
        LogMessage("CN2kGlobalParams::ReadRndBuffer()... the store did not open");
        return 0;
    }
    if (stateRead == PSE_RAND_STATE_SIZE) pse_->initRandom(state.data(), nullptr, nullptr);
    OPENSSL_cleanse(state.data(), state.size());
    if (!CADB_rand_status()) {
        if (stateRead == PSE_RAND_STATE_SIZE)
            LogMessage("CN2kGlobalParams::ReadRndBuffer()... saved state refused: seeding");
        if (!RndInitThroughUI()) {
            warning(38, 16);
            return 0;
        }
    }
    return 1;
}

int CN2kGlobalParams::createShared() {
    LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 8");
    shared_ = true;
    std::int32_t threshold = 0, count = 0;
    TUICallbacks* ui = GetCurrentUI();
    const int refused = ui != nullptr ? ui->getSShareCBK(0, &threshold, &count) : 1;
    // Anything short of a real sharing counts as the user's cancel.
    if (refused != 0 || threshold < 2 || count < threshold) {
        warning(83, 39);
        return 0;
    }
    LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 9");
    CAdvSecretShare share;
    SetCurrentContainerDialog(new TShareMediaDialog);
    share.setParams(threshold, count, true);
    // A password-encrypted masks value cannot be shared: the store is made
    // without one.
    TRef<TPSEContainer> container = share.generate(nullptr, false);
    if (container && container->getPSE() != nullptr) pse_->attach(container->getPSE());
    container.reset();
    if (pse_->getPSE() != nullptr && share.lastError() == 0) {
        explicitPath_ = "SHARED";
        return 1;
    }
    warning(84, 16);
    return 0;
}

int CN2kGlobalParams::createStore(int type) {
    LogMessage("CN2kGlobalParams::ReadRndBuffer()...Pass 10");
    std::string store = explicitPath_;
    if (explicitPath_.empty()) {
        TUICallbacks* ui = GetCurrentUI();
        UIDirRecord record{};
        const std::string caption = UIString(79);
        LoadUIString(nullptr, -1);
        if (ui == nullptr || ui->dirOperationCBK(caption.c_str(), &record) == 0) return 0;
        explicitPath_ = record.path;
        store = record.path;
        type = record.type;
    }
    StoreFileNames names;
    if (!BuildStoreFileNames(store.c_str(), type, names, 4)) return 0;
    // A store another process made there since the caller looked is used
    // as it is: its keys were made under it. When it cannot be opened here
    // (it has a password), the caller's container opens it.
    bool existed = false;
    if (!pse_->createOrOpen(store.c_str(), PSE_CTX_FLAG_NO_RAND_INIT, existed))
        return existed ? 1 : 0;
    // The generator is ready, so the new store's random state was written
    // with its other files, under the store's lock: a second write of the
    // file beside the lock could race another process's commit.
    return 1;
}

TCADBInitializer::TCADBInitializer() {
    SetCurrentUI(&GlobalUI());
    libraryStarted_ = CADB_init() == 1;
    if (!LogIsStarted()) {
        logStarted_ = LogInit(nullptr, nullptr, "\\Gorget", 0) != 0;
        LogSetDaysToKeep(2);
        LogConfigure(LOG_DATE_NAMES | LOG_STAMP | LOG_SWEEP_OLD, "Gorget");
    }
    CADB_set_insert_media_cb(dev_req_callback);
}

TCADBInitializer::~TCADBInitializer() {
    if (logStarted_) {
        LogMessage("End +++++++++++++++++++++++++++++++++++++++++++++++++++++");
        FreeIniLogPathes();
    }
    pse().close();
    if (GetCurrentUI() == &GlobalUI()) SetCurrentUI(nullptr);
    if (libraryStarted_) CADB_cleanup();
}

int TCADBInitializer::loadUILibrary() {
    GlobalUI().setHolder(LoadUILibraryHolder());
    GlobalUI().Init();
    return 1;
}

void TCADBInitializer::freeUILibrary() {
    GlobalUI().Free();
    GlobalUI().setHolder(nullptr);
}

}  // namespace cadb
