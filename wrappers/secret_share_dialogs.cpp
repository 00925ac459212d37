// The dialogue of the secret-share flows: message boxes with texts of the
// dialog library's string table, and the directory request of each part.
#include <cstring>
#include <string>

#include "crypto/store/media_io.h"
#include "wrappers/log.h"
#include "wrappers/secret_share.h"

namespace cadb {
namespace {

// String ids of the reasons, by error code.
int reason_id(int code) {
    switch (code) {
        case CSecretShare::E_NO_DIRECTORY: return 58;
        case CSecretShare::E_SHARING: return 59;
        case CSecretShare::E_POINT: return 62;
        case CSecretShare::E_SET_SHARE: return 63;
        case CSecretShare::E_PARAMS: return 64;
        case CSecretShare::E_RAND_STATE: return 65;
        case CSecretShare::E_READ_NO_DIRECTORY: return 41;
        case CSecretShare::E_READ_PART: return 42;
        case CSecretShare::E_READ_PARAMS: return 43;
        case CSecretShare::E_READ_TWICE: return 44;
        case CSecretShare::E_ADD_POINT: return 56;
        case CSecretShare::E_SET_PATH: return 54;
        case CSecretShare::E_SET_MASKS: return 55;
        case CSecretShare::E_OPEN: return 49;
        case CSecretShare::E_SAVE_RAND: return 48;
        case CSecretShare::E_REBUILD: return 56;
        default: return -1;
    }
}

std::string reason(int code) {
    const int id = reason_id(code);
    return id < 0 ? std::string() : UIString(id);
}

int box(const std::string& text, int captionId, unsigned type) {
    const int answer = UIMessageBox(text, UIString(captionId), type);
    LoadUIString(nullptr, -1);
    return answer;
}

constexpr int kErrorLimit = 3;

}  // namespace

int TShareMediaDialog::requestDirectory(char* out, int size, std::int32_t* type) {
    ++counter_;
    const std::string caption = UIFormat(UIString(73), {std::to_string(counter_)});
    LoadUIString(nullptr, -1);
    UIDirRecord record{};
    const int n = ui_.dirOperationCBK(caption.c_str(), &record);
    const std::size_t len = strnlen(record.path, sizeof record.path);
    if (n <= 0 || len == 0 || out == nullptr || size <= 0 ||
        len >= static_cast<std::size_t>(size)) {
        --counter_;
        return 0;
    }
    std::memcpy(out, record.path, len + 1);
    if (type != nullptr) *type = record.type;
    return static_cast<int>(len);
}

void CAdvSecretShare::onSeedNeeded() {
    if (!RndInitThroughUI()) box(UIString(38), 39, MB_OK | MB_ICONEXCLAMATION);
}

int CAdvSecretShare::onReadError(int partNumber) {
    if (++errors_ > kErrorLimit) {
        box(UIString(37), 16, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    const std::string text = UIFormat(UIString(40), {std::to_string(partNumber)}) +
                             reason(lastError()) + UIString(50);
    return box(text, 39, MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
}

void CAdvSecretShare::onPartAccepted(int partNumber) {
    box(UIFormat(UIString(51), {std::to_string(partNumber)}) + UIString(52), 39, MB_OK);
}

int CAdvSecretShare::onRebuildError() {
    if (++errors_ > kErrorLimit) {
        box(UIString(37), 39, MB_OK);
        return 0;
    }
    box(UIString(53) + reason(lastError()), 39, MB_OK);
    return 0;
}

int CAdvSecretShare::onCreateError(int partIndex) {
    if (auto* media = dynamic_cast<TShareMediaDialog*>(GetCurrentContainerDialog()))
        media->setPartCounter(partIndex);
    const std::string text = UIFormat(UIString(57), {std::to_string(partIndex + 1)}) +
                             reason(lastError()) + UIString(50);
    return box(text, 39, MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
}

int CAdvSecretShare::onPreparePart(TPSEContainer&, const char* dir, int index) {
    StoreFileNames names;
    if (!BuildStoreFileNames(dir, GetPSEMediaType(dir), names)) return 1;
    bool exists = false;
    for (const std::string& name : names) exists = exists || IsMediaPathPresent(name.c_str()) == 1;
    if (!exists) return 1;
    const std::string text = UIFormat(UIString(67), {std::to_string(index + 1), dir});
    return box(text, 39, MB_YESNO | MB_ICONEXCLAMATION) == IDYES ? 1 : 0;
}

void CAdvSecretShare::onPartPrepared(TPSEContainer&, int index) {
    LogMessage("CAdvSecretShare::OnGeneratePartPrepared(iPartInx=%li). Prepare the Next!",
               static_cast<long>(index));
}

void CAdvSecretShare::onPartWritten(TPSEContainer&, int index) {
    const std::string next = UIString(index + 1 < shareCount() ? 70 : 71);
    box(UIFormat(UIString(69), {std::to_string(index + 1)}) + next, 39, MB_OK);
}

}  // namespace cadb
