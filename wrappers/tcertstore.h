// A certificate store for checking signed responses: the library store with
// named lookups ("trusted", "untrusted") that certificates are put into, and
// the certificates themselves kept for the store's lifetime.
#pragma once

#include <openssl/x509_vfy.h>

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "wrappers/refcounted.h"
#include "wrappers/tcertificate.h"

namespace cadb {

class TCertStoreEntry {
  public:
    static constexpr std::size_t kMaxName = 256;

    TCertStoreEntry(const char* name, X509_LOOKUP* lookup);
    // Adds the certificate to the lookup's list. False without a lookup or
    // certificate.
    bool addCertificate(const TCertificate& certificate);

    const std::string& name() const { return name_; }
    X509_LOOKUP* lookup() const { return lookup_; }

  private:
    std::string name_;               // at most kMaxName characters
    X509_LOOKUP* lookup_ = nullptr;  // owned by the library store
};

class TCertStore : public TRefCounted {
  public:
    TCertStore();  // a new library store

    // A lookup of method named name in the library store. Every name gets its
    // own lookup, also when another name uses the same method. The entry is
    // returned in every case (owned by the store); for a name already held,
    // a null method or a library failure it has no lookup.
    TCertStoreEntry* addLookup(X509_LOOKUP_METHOD* method, const char* name, long argument);
    // Keeps a copy of the certificate for the store's lifetime.
    TCertificate& keep(const TCertificate& certificate);

    X509_STORE* get() const { return store_; }
    TCertStoreEntry* lastLookup() const { return last_; }

  protected:
    ~TCertStore() override;

  private:
    X509_STORE* store_;
    std::map<std::string, std::unique_ptr<TCertStoreEntry>> entries_;
    std::vector<std::unique_ptr<TCertStoreEntry>> refused_;
    std::set<const X509_LOOKUP_METHOD*> methods_;  // given methods with a lookup here
    std::vector<X509_LOOKUP_METHOD*> clones_;      // freed after the store
    TCertStoreEntry* last_ = nullptr;
    std::list<TCertificate> kept_;
};

}  // namespace cadb
