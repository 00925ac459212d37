#include "wrappers/tcertstore.h"

#include <cstring>

#include "crypto/x509/cert.h"
#include "crypto/x509/lookup_local.h"

namespace cadb {
namespace {

// A method with the same operations under its own record: the library store
// keeps one lookup per method record, and each name needs a lookup of its
// own (a certificate put into "untrusted" must not land in "trusted").
X509_LOOKUP_METHOD* clone_method(const X509_LOOKUP_METHOD* m, const char* name) {
    X509_LOOKUP_METHOD* c = X509_LOOKUP_meth_new(name);
    if (c == nullptr) return nullptr;
    if (!X509_LOOKUP_meth_set_new_item(c, X509_LOOKUP_meth_get_new_item(m)) ||
        !X509_LOOKUP_meth_set_free(c, X509_LOOKUP_meth_get_free(m)) ||
        !X509_LOOKUP_meth_set_init(c, X509_LOOKUP_meth_get_init(m)) ||
        !X509_LOOKUP_meth_set_shutdown(c, X509_LOOKUP_meth_get_shutdown(m)) ||
        !X509_LOOKUP_meth_set_ctrl(c, X509_LOOKUP_meth_get_ctrl(m)) ||
        !X509_LOOKUP_meth_set_get_by_subject(c, X509_LOOKUP_meth_get_get_by_subject(m)) ||
        !X509_LOOKUP_meth_set_get_by_issuer_serial(c,
                                                   X509_LOOKUP_meth_get_get_by_issuer_serial(m)) ||
        !X509_LOOKUP_meth_set_get_by_fingerprint(c, X509_LOOKUP_meth_get_get_by_fingerprint(m)) ||
        !X509_LOOKUP_meth_set_get_by_alias(c, X509_LOOKUP_meth_get_get_by_alias(m))) {
        X509_LOOKUP_meth_free(c);
        return nullptr;
    }
    return c;
}

}  // namespace

TCertStoreEntry::TCertStoreEntry(const char* name, X509_LOOKUP* lookup)
    : name_(name != nullptr ? std::string(name, strnlen(name, kMaxName)) : std::string()),
      lookup_(lookup) {}

bool TCertStoreEntry::addCertificate(const TCertificate& certificate) {
    const CERT* cert = certificate.getCERT();
    if (lookup_ == nullptr || cert == nullptr || cert->x509 == nullptr) return false;
    return X509_LOOKUP_local_add_cert(lookup_, cert->x509) > 0;
}

TCertStore::TCertStore() : store_(X509_STORE_new()) {}

TCertStore::~TCertStore() {
    try {
        entries_.clear();
        refused_.clear();
    } catch (...) {
    }
    X509_STORE_free(store_);  // frees the lookups, which still use the clones
    for (X509_LOOKUP_METHOD* m : clones_) X509_LOOKUP_meth_free(m);
}

TCertStoreEntry* TCertStore::addLookup(X509_LOOKUP_METHOD* method, const char* name, long) {
    auto entry = std::make_unique<TCertStoreEntry>(name, nullptr);
    const std::string key = entry->name();
    if (name == nullptr || method == nullptr || store_ == nullptr || entries_.count(key) != 0) {
        refused_.push_back(std::move(entry));
        return refused_.back().get();
    }
    X509_LOOKUP_METHOD* use = method;
    if (methods_.count(method) != 0) {
        use = clone_method(method, key.c_str());
        if (use != nullptr) clones_.push_back(use);
    }
    X509_LOOKUP* lookup = use != nullptr ? X509_STORE_add_lookup(store_, use) : nullptr;
    if (lookup == nullptr) {
        refused_.push_back(std::move(entry));
        return refused_.back().get();
    }
    methods_.insert(method);
    entry = std::make_unique<TCertStoreEntry>(key.c_str(), lookup);
    TCertStoreEntry* out = entry.get();
    entries_[key] = std::move(entry);
    last_ = out;
    return out;
}

TCertificate& TCertStore::keep(const TCertificate& certificate) {
    kept_.push_back(certificate);
    return kept_.back();
}

}  // namespace cadb
