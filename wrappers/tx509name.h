// A distinguished name as the enrolment control assembles it from its
// ";"-separated subject text: one entry object per attribute type, each made
// from local (code page 1251) text in the string type the attribute allows,
// added as its own relative distinguished name after the last one.
//
// Nothing here logs except the entry's destructor, and nothing throws.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "wrappers/x509_ext.h"

namespace cadb {

struct X509NameEntryDeleter {
    void operator()(X509_NAME_ENTRY* e) const { X509_NAME_ENTRY_free(e); }
};
using X509NameEntryOwner = std::unique_ptr<X509_NAME_ENTRY, X509NameEntryDeleter>;
struct X509NameDeleter {
    void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
using X509NameOwner = std::unique_ptr<X509_NAME, X509NameDeleter>;

class TX509NameEntry : public TASN1Object {
  public:
    static constexpr std::uint16_t kTypeNotChosen = 0xFFFF;

    TX509NameEntry();  // a new empty library entry, no type chosen
    // Duplicates the other's library entry (attribute object included).
    TX509NameEntry(const TX509NameEntry& other);
    explicit TX509NameEntry(const X509_NAME_ENTRY* entry);
    TX509NameEntry& operator=(const TX509NameEntry&) = delete;
    ~TX509NameEntry() override;

    // A new entry of attribute nid from local text (length 0: up to the
    // terminator) in the preferred string type, or the first type of the
    // attribute's list the text fits. False, and no entry, when the text
    // breaks the attribute's length bound or fits no type.
    bool set(int nid, int type, const char* text, int length, int flags);

    // The attribute's object identifier as its DER content bytes.
    virtual std::string getOidBytes() const;
    // "X509_NAME_ENTRY" without an entry.
    virtual std::string getLongName() const;
    // 0 without an entry.
    int getNid() const override;

    X509_NAME_ENTRY* get() const { return entry_.get(); }
    std::uint16_t stringType() const { return type_; }
    // Takes over a library entry (the held one freed).
    void adopt(X509_NAME_ENTRY* entry) { entry_.reset(entry); }

  private:
    X509NameEntryOwner entry_;
    std::uint16_t type_ = kTypeNotChosen;
};

class TX509Name {
  public:
    TX509Name();  // a new empty library name
    // A copy of name; no entry is filed as added.
    explicit TX509Name(const X509_NAME* name);
    TX509Name(const TX509Name&) = delete;
    TX509Name& operator=(const TX509Name&) = delete;
    virtual ~TX509Name();

    // Appends a copy of entry as a new relative distinguished name. 0, and
    // the name unchanged, for a second entry of an attribute type already
    // added, or for an entry without attribute.
    virtual int addEntry(const TX509NameEntry& entry);

    // The operations on the name's entry list. Positions outside the list
    // give null or -1.
    virtual std::unique_ptr<TX509Name> create() const;
    virtual void freeEntries();
    virtual int count() const;
    virtual std::unique_ptr<TX509NameEntry> entryAt(int i) const;
    // Replaces entry i when entry's type is new to the name: a copy of
    // entry, else an empty entry.
    virtual std::unique_ptr<TX509NameEntry> setEntryAt(int i, const TX509NameEntry& entry);
    virtual void clear();
    // The position of an entry equal to entry (type and value), or -1.
    virtual int find(const TX509NameEntry& entry) const;
    // The position entry's type was added at, or -1.
    virtual int indexOf(const TX509NameEntry& entry) const;
    // Takes entry i out of the name and hands it over (null when none).
    virtual std::unique_ptr<TX509NameEntry> removeAt(int i);
    virtual void remove(const TX509NameEntry& entry);
    // Inserts a copy of entry at position i when its type is new. 1/0.
    virtual int insertAt(const TX509NameEntry& entry, int i);
    virtual std::unique_ptr<TX509Name> copy() const;
    virtual std::unique_ptr<TX509NameEntry> shift();
    virtual std::unique_ptr<TX509NameEntry> pop();
    // Orders the entries by attribute type, keeping the order within one.
    virtual void sort();

    X509_NAME* get() const { return name_.get(); }

  private:
    std::unique_ptr<TX509NameEntry> takeOut(int i);

    // Attribute type -> position at which it was added, with a copy of the
    // entry.
    struct Filed {
        int position;
        std::unique_ptr<TX509NameEntry> entry;
    };
    std::map<int, Filed> added_;
    X509NameOwner name_;
};

}  // namespace cadb
