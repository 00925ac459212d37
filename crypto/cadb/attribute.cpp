#include "crypto/cadb/attribute.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "crypto/cadb/buffer_der.h"
#include "crypto/cadb/name_text.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

using Bytes = std::span<const unsigned char>;

// A printed value and the string type its node records.
struct Printed {
    std::string text;
    int type;
};

bool print_one(BIO* mem, int type, Bytes b) {
    return b.size() < INT_MAX &&
           ASN1_STRING_print_text(mem, type, b.data(), static_cast<int>(b.size()));
}

// A value as its node holds it. A sequence of strings (postal address)
// prints each string in turn and records the first string's type.
std::optional<Printed> print_value(int type, Bytes bytes) {
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem) return std::nullopt;
    int node_type = type;
    if (type == V_ASN1_SEQUENCE) {
        auto seq = der_get(bytes, DER_SEQUENCE);
        if (!seq || !bytes.empty()) return std::nullopt;
        node_type = 0;
        while (!seq->empty()) {
            auto item = der_get(*seq);
            if (!item || !print_one(mem.get(), item->tag, item->content)) return std::nullopt;
            if (node_type == 0) node_type = item->tag;
        }
    } else {
        if (!print_one(mem.get(), type, bytes)) return std::nullopt;
        // A UniversalString is shown through the narrower UTF8String.
        if (type == V_ASN1_UNIVERSALSTRING) node_type = V_ASN1_UTF8STRING;
    }
    char* p = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &p);
    return Printed{std::string(p, static_cast<std::size_t>(n)), node_type};
}

Bytes bytes_of(const ASN1_STRING* s) {
    return {ASN1_STRING_get0_data(s), static_cast<std::size_t>(ASN1_STRING_length(s))};
}

void fail(int func, int reason) {
    CADB_ERR(ERR_LIB_CADB, func, reason);
    CADB_ERR(ERR_LIB_CADB, func, ERR_LIB_CADB);
}

// A node holding a copy of the text (len <= 0: strlen), not yet linked; null
// with the error on the queue.
ATTRIBUTE* attribute_new(int nid, const char* text, int len, int string_type) {
    if (len <= 0) {
        const std::size_t n = std::strlen(text);
        if (n >= INT_MAX) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_ATTRIBUTE_ADD, ERR_R_INTERNAL);
            return nullptr;
        }
        len = static_cast<int>(n);
    }
    auto* node = static_cast<ATTRIBUTE*>(OPENSSL_zalloc(sizeof(ATTRIBUTE)));
    char* copy = static_cast<char*>(OPENSSL_zalloc(static_cast<std::size_t>(len) + 1));
    if (node == nullptr || copy == nullptr) {
        OPENSSL_free(node);
        OPENSSL_free(copy);
        CADB_ERR(ERR_LIB_CADB, CADB_F_ATTRIBUTE_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    std::memcpy(copy, text, static_cast<std::size_t>(len));
    *node = ATTRIBUTE{nid, copy, len, string_type, nullptr};
    return node;
}

// A list being gathered: each node is linked at the kept tail, so a name of
// n entries is split in n steps rather than n * n / 2.
class ListBuilder {
  public:
    ListBuilder() = default;
    ListBuilder(const ListBuilder&) = delete;
    ListBuilder& operator=(const ListBuilder&) = delete;
    ~ListBuilder() { ATTRIBUTE_free(head_); }
    bool add(int nid, const std::string& text, int string_type) {
        ATTRIBUTE* node =
            attribute_new(nid, text.c_str(), static_cast<int>(text.size()), string_type);
        if (node == nullptr) return false;
        *tail_ = node;
        tail_ = &node->next;
        return true;
    }
    ATTRIBUTE* release() {
        tail_ = &head_;
        return std::exchange(head_, nullptr);
    }

  private:
    ATTRIBUTE* head_ = nullptr;
    ATTRIBUTE** tail_ = &head_;
};

}  // namespace

ATTRIBUTE* ATTRIBUTE_add(ATTRIBUTE** head, int nid, const char* text, int len, int string_type) {
    if (head == nullptr || text == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_ATTRIBUTE_ADD, ERR_R_INTERNAL);
        return nullptr;
    }
    ATTRIBUTE* node = attribute_new(nid, text, len, string_type);
    if (node == nullptr) return nullptr;
    ATTRIBUTE** tail = head;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = node;
    return node;
}

void ATTRIBUTE_free(ATTRIBUTE* head) {
    // Iterative: a long list must not exhaust the stack.
    while (head != nullptr) {
        ATTRIBUTE* next = head->next;
        OPENSSL_clear_free(head->text, static_cast<std::size_t>(head->length) + 1);
        OPENSSL_free(head);
        head = next;
    }
}

ATTRIBUTE* X509_NAME_split(const X509_NAME* name) {
    if (name == nullptr) {
        fail(CADB_F_X509_NAME_SPLIT, ERR_R_INTERNAL);
        return nullptr;
    }
    ListBuilder list;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
        const int nid = cadb::OBJ_obj2nid(X509_NAME_ENTRY_get_object(e));
        auto printed = print_value(ASN1_STRING_type(v), bytes_of(v));
        if (!printed) {
            fail(CADB_F_X509_NAME_SPLIT, ERR_R_INTERNAL);
            return nullptr;
        }
        if (!list.add(nid, printed->text, printed->type)) {
            fail(CADB_F_X509_NAME_SPLIT, CADB_R_ERROR_ADD_ATTRIBUTE);
            return nullptr;
        }
    }
    return list.release();
}

bool attributes_split(const STACK_OF(X509_ATTRIBUTE) * attributes,
                      STACK_OF(X509_EXTENSION) * *extensions, ATTRIBUTE** out) {
    constexpr int F = CADB_F_X509_ATTRIBUTES_SPLIT;
    *out = nullptr;
    if (attributes == nullptr) {
        fail(F, ERR_R_INTERNAL);
        return false;
    }
    ListBuilder list;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attr = sk_X509_ATTRIBUTE_value(attributes, i);
        if (X509_ATTRIBUTE_count(attr) < 1) continue;
        const ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(attr, 0);
        // Values with no string inside have no bytes to show.
        if (t == nullptr || t->type == V_ASN1_BOOLEAN || t->type == V_ASN1_NULL ||
            t->type == V_ASN1_OBJECT)
            continue;
        const Bytes bytes = bytes_of(t->value.asn1_string);
        if (bytes.empty()) continue;
        const int nid = cadb::OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attr));
        if (nid == NID_EXTENSION_REQUEST || nid == NID_MS_EXT_REQ) {
            if (extensions == nullptr) continue;
            const unsigned char* p = bytes.data();
            auto* exts = reinterpret_cast<STACK_OF(X509_EXTENSION)*>(ASN1_item_d2i(
                nullptr, &p, static_cast<long>(bytes.size()), ASN1_ITEM_rptr(X509_EXTENSIONS)));
            if (t->type != V_ASN1_SEQUENCE || exts == nullptr) {
                sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
                ::ERR_clear_error();
                fail(F, ERR_R_NESTED_ASN1_ERROR_);
                return false;
            }
            sk_X509_EXTENSION_pop_free(*extensions, X509_EXTENSION_free);
            *extensions = exts;
            continue;
        }
        auto printed = print_value(t->type, bytes);
        if (!printed) {
            fail(F, ERR_R_INTERNAL);
            return false;
        }
        if (!list.add(nid, printed->text, printed->type)) {
            fail(F, CADB_R_ERROR_ADD_ATTRIBUTE);
            return false;
        }
    }
    *out = list.release();
    return true;
}

ATTRIBUTE* X509_ATTRIBUTES_split(const STACK_OF(X509_ATTRIBUTE) * attributes,
                                 STACK_OF(X509_EXTENSION) * *extensions) {
    ATTRIBUTE* list = nullptr;
    attributes_split(attributes, extensions, &list);
    return list;
}

BUFFER* ASN1_STRING_get_text(const ASN1_STRING* s) {
    if (s == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    auto printed = print_value(ASN1_STRING_type(s), bytes_of(s));
    if (!printed || printed->text.size() >= INT_MAX) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    return BUFFER_fill(printed->text.data(), static_cast<int>(printed->text.size()));
}

BUFFER* ASN1_STRING_get_bytes(const ASN1_STRING* s) {
    if (s == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    return BUFFER_fill(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
}

int KEY_USAGE_bits(const ASN1_BIT_STRING* bits) {
    if (bits == nullptr) return 0;
    const int bytes = ASN1_STRING_length(bits) < 4 ? ASN1_STRING_length(bits) : 4;
    unsigned mask = 0;
    for (int i = 0; i < 8 * bytes; ++i)
        if (ASN1_BIT_STRING_get_bit(bits, i)) mask |= 1u << i;
    return static_cast<int>(mask);
}

}  // namespace cadb
