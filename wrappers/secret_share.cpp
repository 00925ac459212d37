#include "wrappers/secret_share.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "crypto/rand/pse_rand.h"
#include "wrappers/log.h"

namespace cadb {
namespace {

// Most bytes of a part's masks contents taken as its share.
constexpr int kMaxShareBytes = 224;
constexpr int kMasksBytes = 32;

std::vector<unsigned char> bytes_of(const TBuffer& b) {
    return b.isEmpty() ? std::vector<unsigned char>{}
                       : std::vector<unsigned char>(b.getData(), b.getData() + b.getLength());
}

std::span<const unsigned char> share_of(TPSEContainer& part) {
    const TBuffer& b = part.contents(STORE_MASKS);
    return {b.getData(), static_cast<std::size_t>(std::min(b.getLength(), kMaxShareBytes))};
}

}  // namespace

CSecretShare::CSecretShare() { SetCurrentContainerDialog(new TContainerDialog); }

CSecretShare::~CSecretShare() {
    OPENSSL_cleanse(params_.data(), params_.size());
}

bool CSecretShare::setParams(int threshold, int count, bool paramsFromFirstPart) {
    if (threshold < 2 || count < threshold) return false;
    threshold_ = threshold;
    count_ = count;
    paramsFromFirstPart_ = paramsFromFirstPart;
    return true;
}

int CSecretShare::threshold() const { return sharing_ ? sharing_->threshold : 0; }

int CSecretShare::addPart(const TRef<TPSEContainer>& part) {
    const auto share = share_of(*part);
    for (const auto& held : parts_) {
        const auto other = share_of(*held);
        if (std::equal(share.begin(), share.end(), other.begin(), other.end())) return -1;
    }
    parts_.push_back(part);
    return static_cast<int>(parts_.size()) - 1;
}

bool CSecretShare::createFirstPart(TPSEContainer& part, const char* dir, bool askPassword) {
    lastError_ = 0;
    if (!part.create(dir, askPassword)) return false;
    // A password-encrypted masks file is longer than the value: nothing to share.
    std::array<unsigned char, kMasksBytes> masks{};
    const TBuffer& stored = part.contents(STORE_MASKS);
    const int len = stored.getLength() == kMasksBytes ? kMasksBytes : 0;
    if (len != 0) std::memcpy(masks.data(), stored.getData(), masks.size());
    sharing_.reset(len != 0 ? SHARED_SECRET_generate(masks.data(), len, threshold_) : nullptr);
    OPENSSL_cleanse(masks.data(), masks.size());
    if (!sharing_) {
        lastError_ = E_SHARING;
        return false;
    }
    BufferPtr params(SHARED_SECRET_get_params(sharing_.get()));
    if (!params) {
        lastError_ = E_PARAMS;
        return false;
    }
    params_.assign(params->data, params->data + params->length);
    part.contents(STORE_PARAMS).assign(params->data, params->length);
    return true;
}

bool CSecretShare::writePart(TPSEContainer& part, const char* dir, int index) {
    BufferPtr point(SHARED_SECRET_get_point(sharing_.get()));
    if (!point) {
        lastError_ = E_POINT;
        return false;
    }
    if (!part.contents(STORE_MASKS).assign(point->data, point->length)) {
        lastError_ = E_SET_SHARE;
        return false;
    }
    std::array<unsigned char, PSE_RAND_STATE_SIZE> state{};
    const bool drawn = CADB_rand_save_state(part.getPSE(), state.data()) > 0 &&
                       part.contents(STORE_RAND).assign(state.data(), state.size());
    OPENSSL_cleanse(state.data(), state.size());
    if (!drawn) {
        lastError_ = E_RAND_STATE;
        return false;
    }
    onPartPrepared(part, index);
    // The prepare check has already asked about files of the same name.
    part.setOverwriteConfirmed(true);
    if (!part.writeFiles(dir)) {
        lastError_ = E_WRITE_PART;
        return false;
    }
    onPartWritten(part, index);
    return true;
}

TRef<TPSEContainer> CSecretShare::generate(const char* path, bool askPassword) {
    TContainerDialogFlow flow;
    lastError_ = 0;
    if (threshold_ < 2 || count_ < threshold_) {
        lastError_ = E_SHARING;
        return {};
    }
    current_ = TRef<TPSEContainer>(new TPSEContainer);
    TPSEContainer& part = *current_.get();
    std::array<char, 260> dir{};
    std::int32_t type = 0;
    if (path != nullptr && path[0] != '\0') {
        if (std::strlen(path) >= dir.size()) return {};
        std::strcpy(dir.data(), path);
    } else if (GetCurrentContainerDialog() == nullptr ||
               GetCurrentContainerDialog()->requestDirectory(dir.data(), dir.size(), &type) == 0) {
        lastError_ = E_NO_DIRECTORY;
        return {};
    }
    if (!onPreparePart(part, dir.data(), 0)) return {};
    for (int attempt = 1; !createFirstPart(part, dir.data(), askPassword); ++attempt)
        if (attempt >= kMaxAttempts || !onCreateError(0)) return {};

    for (int i = 0; i < count_; ++i) {
        for (int attempt = 1;; ++attempt) {
            lastError_ = 0;
            bool ok = true;
            if (i > 0) {
                dir.fill('\0');
                if (GetCurrentContainerDialog() == nullptr ||
                    GetCurrentContainerDialog()->requestDirectory(dir.data(), dir.size(),
                                                                  &type) == 0) {
                    lastError_ = E_NO_DIRECTORY;
                    ok = false;
                } else if (!onPreparePart(part, dir.data(), i)) {
                    return {};
                }
            }
            if (ok && writePart(part, dir.data(), i)) break;
            if (attempt >= kMaxAttempts || !onCreateError(i)) return {};
        }
    }
    return current_;
}

// Reads one part; 0 when it was accepted, else the error code.
int CSecretShare::readPart() {
    std::array<char, 260> dir{};
    std::int32_t type = 0;
    if (GetCurrentContainerDialog() == nullptr ||
        GetCurrentContainerDialog()->requestDirectory(dir.data(), dir.size(), &type) == 0)
        return E_READ_NO_DIRECTORY;
    TRef<TPSEContainer> part(new TPSEContainer);
    if (!part->readFiles(dir.data()) || GetPSEMediaType(dir.data()) == PSE_MEDIA_PKCS11)
        return E_READ_PART;
    const std::vector<unsigned char> params = bytes_of(part->contents(STORE_PARAMS));
    if (parts_.empty()) {
        const std::vector<unsigned char> der = paramsFromFirstPart_ ? params : params_;
        if (der.empty()) return E_READ_PARAMS;
        sharing_.reset(SHARED_SECRET_read_params(der.data(), static_cast<int>(der.size())));
        if (!sharing_) return E_READ_PARAMS;
        params_ = der;
    } else if (params != params_) {
        return E_READ_PARAMS;
    }
    if (addPart(part) < 0) return E_READ_TWICE;
    return 0;
}

TRef<TPSEContainer> CSecretShare::recover() {
    TContainerDialogFlow flow;
    lastError_ = 0;
    errors_ = 0;
    parts_.clear();
    if (paramsFromFirstPart_) sharing_.reset();
    current_ = TRef<TPSEContainer>(new TPSEContainer);
    int failures = 0;
    while (parts_.empty() || static_cast<int>(parts_.size()) < sharing_->threshold) {
        const int code = readPart();
        if (code == 0) {
            onPartAccepted(static_cast<int>(parts_.size()));
            continue;
        }
        lastError_ = code;
        if (parts_.empty()) sharing_.reset();
        if (code == E_READ_PARAMS && !paramsFromFirstPart_ && params_.empty()) return {};
        if (++failures > kMaxReadFailures || !onReadError(static_cast<int>(parts_.size()) + 1))
            return {};
    }
    TRef<TPSEContainer> opened = rebuild();
    if (!opened) onRebuildError();
    return opened;
}

TRef<TPSEContainer> CSecretShare::rebuild() {
    for (const auto& part : parts_) {
        const auto share = share_of(*part.get());
        if (SHARED_SECRET_add_point(sharing_.get(), share.data(),
                                    static_cast<int>(share.size())) != 1) {
            lastError_ = E_ADD_POINT;
            return {};
        }
    }
    BufferPtr secret(static_cast<int>(parts_.size()) >= sharing_->threshold
                         ? SHARED_SECRET_get_secret(sharing_.get())
                         : nullptr);
    if (!secret) {
        lastError_ = E_REBUILD;
        return {};
    }
    // The store opens from the last part read: its master-key, KEK and
    // random-state files, with the rebuilt masks given directly.
    TRef<TPSEContainer> part = parts_.back();
    PSE_CTX* ctx = part->renewContext();
    if (ctx == nullptr || PSE_CTX_set_path(ctx, part->path().c_str(), 0) != 1) {
        lastError_ = E_SET_PATH;
        return {};
    }
    if (PSE_CTX_set_masks(ctx, secret->data, secret->length) != 1) {
        lastError_ = E_SET_MASKS;
        return {};
    }
    if (part->contents(STORE_RAND).isEmpty()) onSeedNeeded();
    if (PSE_CTX_read(ctx) != 1) {
        lastError_ = E_OPEN;
        return {};
    }
    if (part->saveRandState() != 1) {
        lastError_ = E_SAVE_RAND;
        return {};
    }
    current_ = part;
    return part;
}

}  // namespace cadb
