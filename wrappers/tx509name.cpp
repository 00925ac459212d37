#include "wrappers/tx509name.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/cadb/str_convert.h"
#include "crypto/core/objects.h"
#include "wrappers/log.h"

namespace cadb {
namespace {

X509_NAME_ENTRY* dup_entry(const X509_NAME_ENTRY* e) {
    return e != nullptr ? X509_NAME_ENTRY_dup(e) : nullptr;
}

int nid_of(const X509_NAME_ENTRY* e) {
    const ASN1_OBJECT* obj = e != nullptr ? X509_NAME_ENTRY_get_object(e) : nullptr;
    return obj != nullptr ? cadb::OBJ_obj2nid(obj) : 0;
}

bool same_entry(const X509_NAME_ENTRY* a, const X509_NAME_ENTRY* b) {
    if (a == nullptr || b == nullptr) return false;
    if (::OBJ_cmp(X509_NAME_ENTRY_get_object(a), X509_NAME_ENTRY_get_object(b)) != 0) return false;
    const ASN1_STRING* x = X509_NAME_ENTRY_get_data(a);
    const ASN1_STRING* y = X509_NAME_ENTRY_get_data(b);
    return x != nullptr && y != nullptr && ASN1_STRING_type(x) == ASN1_STRING_type(y) &&
           ASN1_STRING_cmp(x, y) == 0;
}

}  // namespace

// ---- TX509NameEntry ----

TX509NameEntry::TX509NameEntry() : entry_(X509_NAME_ENTRY_new()) {}

TX509NameEntry::TX509NameEntry(const TX509NameEntry& other)
    : TASN1Object(other), entry_(dup_entry(other.entry_.get())), type_(other.type_) {}

TX509NameEntry::TX509NameEntry(const X509_NAME_ENTRY* entry) : entry_(dup_entry(entry)) {}

TX509NameEntry::~TX509NameEntry() {
    LogMessage("TX509NameEntry::~TX509NameEntry()...Entry");
    try {
        entry_.reset();
    } catch (...) {
    }
    LogMessage("TX509NameEntry::~TX509NameEntry()...Exit");
}

bool TX509NameEntry::set(int nid, int type, const char* text, int length, int flags) {
    entry_.reset();
    if (text == nullptr) return false;
    if (length == 0) length = static_cast<int>(std::strlen(text));
    if (length < 0) return false;
    int chosen = type;
    if (X509_NAME_ENTRY_choose_type(nid, &chosen, text, length, flags) != 1) return false;
    int len = length;
    unsigned char* bytes = X509_NAME_ENTRY_encode_text(text, &len, chosen);
    if (bytes == nullptr) return false;
    const int openssl_nid = OBJ_nid2openssl(nid);
    entry_.reset(openssl_nid != NID_undef
                     ? X509_NAME_ENTRY_create_by_NID(nullptr, openssl_nid, chosen, bytes, len)
                     : nullptr);
    OPENSSL_free(bytes);
    if (!entry_) return false;
    type_ = static_cast<std::uint16_t>(chosen);
    setObjectId(nid);
    return true;
}

std::string TX509NameEntry::getOidBytes() const {
    const ASN1_OBJECT* obj = entry_ ? X509_NAME_ENTRY_get_object(entry_.get()) : nullptr;
    if (obj == nullptr || OBJ_length(obj) == 0) return {};
    return std::string(reinterpret_cast<const char*>(OBJ_get0_data(obj)), OBJ_length(obj));
}

std::string TX509NameEntry::getLongName() const {
    if (!entry_) return "X509_NAME_ENTRY";
    const char* ln = cadb::OBJ_nid2ln(nid_of(entry_.get()));
    return ln != nullptr ? ln : "";
}

int TX509NameEntry::getNid() const { return nid_of(entry_.get()); }

// ---- TX509Name ----

TX509Name::TX509Name() : name_(X509_NAME_new()) {}

TX509Name::TX509Name(const X509_NAME* name)
    : name_(name != nullptr ? X509_NAME_dup(name) : X509_NAME_new()) {}

TX509Name::~TX509Name() = default;

int TX509Name::addEntry(const TX509NameEntry& entry) {
    const int nid = entry.getNid();
    if (!name_ || entry.get() == nullptr || nid == 0) return 0;
    if (added_.count(nid) != 0) return 0;  // one entry per attribute type
    const int position = static_cast<int>(added_.size());
    if (X509_NAME_add_entry(name_.get(), entry.get(), X509_NAME_entry_count(name_.get()), 0) != 1)
        return 0;
    added_[nid] = Filed{position, std::make_unique<TX509NameEntry>(entry)};
    return 1;
}

std::unique_ptr<TX509Name> TX509Name::create() const { return std::make_unique<TX509Name>(); }

void TX509Name::freeEntries() { clear(); }

int TX509Name::count() const { return name_ ? X509_NAME_entry_count(name_.get()) : 0; }

std::unique_ptr<TX509NameEntry> TX509Name::entryAt(int i) const {
    if (i < 0 || i >= count()) return nullptr;
    return std::make_unique<TX509NameEntry>(X509_NAME_get_entry(name_.get(), i));
}

std::unique_ptr<TX509NameEntry> TX509Name::setEntryAt(int i, const TX509NameEntry& entry) {
    const int nid = entry.getNid();
    if (i < 0 || i >= count() || entry.get() == nullptr || nid == 0 || added_.count(nid) != 0)
        return std::make_unique<TX509NameEntry>();
    // The entry that leaves the list leaves the filed types too.
    const int old_nid = nid_of(X509_NAME_get_entry(name_.get(), i));
    X509_NAME_ENTRY_free(X509_NAME_delete_entry(name_.get(), i));
    added_.erase(old_nid);
    if (X509_NAME_add_entry(name_.get(), entry.get(), i, 0) != 1)
        return std::make_unique<TX509NameEntry>();
    added_[nid] = Filed{i, std::make_unique<TX509NameEntry>(entry)};
    return std::make_unique<TX509NameEntry>(entry);
}

void TX509Name::clear() {
    // The filed types go with the entries: an emptied name takes every type
    // again.
    while (count() > 0) X509_NAME_ENTRY_free(X509_NAME_delete_entry(name_.get(), count() - 1));
    added_.clear();
}

int TX509Name::find(const TX509NameEntry& entry) const {
    for (int i = 0; i < count(); ++i)
        if (same_entry(X509_NAME_get_entry(name_.get(), i), entry.get())) return i;
    return -1;
}

int TX509Name::indexOf(const TX509NameEntry& entry) const {
    const auto it = added_.find(entry.getNid());
    return it != added_.end() ? it->second.position : -1;
}

std::unique_ptr<TX509NameEntry> TX509Name::takeOut(int i) {
    if (i < 0 || i >= count()) return nullptr;
    X509_NAME_ENTRY* e = X509_NAME_delete_entry(name_.get(), i);
    if (e == nullptr) return nullptr;
    added_.erase(nid_of(e));
    auto out = std::make_unique<TX509NameEntry>(static_cast<const X509_NAME_ENTRY*>(nullptr));
    out->adopt(e);
    return out;
}

std::unique_ptr<TX509NameEntry> TX509Name::removeAt(int i) { return takeOut(i); }

void TX509Name::remove(const TX509NameEntry& entry) {
    added_.erase(entry.getNid());
    const int i = find(entry);
    if (i >= 0) X509_NAME_ENTRY_free(X509_NAME_delete_entry(name_.get(), i));
}

int TX509Name::insertAt(const TX509NameEntry& entry, int i) {
    const int nid = entry.getNid();
    if (!name_ || entry.get() == nullptr || nid == 0 || added_.count(nid) != 0) return 0;
    if (i < 0 || i > count()) i = count();
    if (X509_NAME_add_entry(name_.get(), entry.get(), i, 0) != 1) return 0;
    added_[nid] = Filed{i, std::make_unique<TX509NameEntry>(entry)};
    return 1;
}

std::unique_ptr<TX509Name> TX509Name::copy() const {
    return std::make_unique<TX509Name>(name_.get());
}

std::unique_ptr<TX509NameEntry> TX509Name::shift() { return takeOut(0); }

std::unique_ptr<TX509NameEntry> TX509Name::pop() { return takeOut(count() - 1); }

void TX509Name::sort() {
    std::vector<X509NameEntryOwner> entries;
    while (count() > 0) entries.emplace_back(X509_NAME_delete_entry(name_.get(), 0));
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return nid_of(a.get()) < nid_of(b.get());
    });
    for (const auto& e : entries)
        X509_NAME_add_entry(name_.get(), e.get(), X509_NAME_entry_count(name_.get()), 0);
}

}  // namespace cadb
