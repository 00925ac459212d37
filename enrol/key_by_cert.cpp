#include "enrol/key_by_cert.h"

#include <cstdio>
#include <vector>

#include "crypto/store/media_io.h"
#include "enrol/log.h"
#include "enrol/request_container.h"
#include "enrol/strings.h"
#include "wrappers/pse_media.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tprivatekey.h"
#include "wrappers/tpse.h"

namespace cadb::enrol {

namespace {

// Flags that list a token's key objects.
constexpr int kPkcs11KeyWalk = 133;
constexpr std::int32_t kMediaPkcs11 = 4;

int collect(const char* name, void* user) {
    static_cast<std::vector<std::string>*>(user)->emplace_back(name);
    return 1;
}

std::string key_prompt(const std::string& path) {
    const std::string format = QuillonString(IDS_KEY_PASSWORD);
    std::vector<char> text(format.size() + path.size() + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), path.c_str());
    return text.data();
}

bool key_pairs(const TCertificate& cert, const TPSE& store, const std::string& path) {
    KeyPasswordPrompt() = key_prompt(path);
    TPrivateKey key;
    key.setPSE(store);
    if (GetPSEMediaType(path.c_str()) == kMediaPkcs11) {
        if (!key.loadFile(&store, path.c_str())) return false;
    } else {
        TBuffer encoded;
        if (encoded.loadFile(path.c_str()) <= 0) return false;
        if (!key.loadWithPassword(encoded, &store, nullptr, 0) &&
            !key.loadWithCallback(encoded, &store))
            return false;
    }
    return cert.matchesKey(key);
}

}  // namespace

bool FindPairPKeyByCert(const std::string& certFile, const std::string& containerPath,
                        const std::string& keyFolder, std::string& keyPath) {
    keyPath.clear();
    TRequestUIScope ui_scope;
    KeyPasswordPrompt() = QuillonString(IDS_PSE_PASSWORD);
    TRef<TRequestContainer> container = make_ref<TRequestContainer>();
    (void)container->readFiles(containerPath.c_str());
    if (container->open() != 1) {
        log_line("FindPairPKeyByCert()... Container with Name [%s] is Empty or Broken ...Error!",
                 containerPath.c_str());
        return false;
    }
    TCertificate cert;
    try {
        if (!cert.loadFile(certFile.c_str())) return false;
    } catch (...) {
        return false;
    }
    if (container->getPSE() == nullptr) return false;
    TPSE store;
    store.attach(container->getPSE());

    std::vector<std::string> entries;
    const int flags = GetPSEMediaType(keyFolder.c_str()) == kMediaPkcs11 ? kPkcs11KeyWalk : 0;
    (void)CADB_walk_dir(keyFolder.c_str(), flags, collect, &entries);
    for (const std::string& entry : entries) {
        try {
            if (key_pairs(cert, store, entry)) {
                keyPath = entry;
                return true;
            }
        } catch (...) {
            // One unreadable entry does not end the search.
        }
    }
    return false;
}

}  // namespace cadb::enrol
