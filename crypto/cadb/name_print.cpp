#include "crypto/cadb/name_print.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "crypto/cadb/buffer_der.h"
#include "crypto/cadb/name_text.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;
constexpr int kOnelineMax = 2048;

// The type's short name, or its dotted OID cut to 80 characters.
std::string type_name(const ASN1_OBJECT* obj) {
    if (const char* sn = cadb::OBJ_nid2sn(cadb::OBJ_obj2nid(obj))) return sn;
    char dotted[81] = {};
    ::OBJ_obj2txt(dotted, sizeof dotted, obj, 1);
    return dotted;
}

// The value as ASN1_STRING_print_text shows it; a sequence of strings shows
// each in turn.
std::optional<std::string> value_text(const ASN1_STRING* v) {
    BioPtr mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem) return std::nullopt;
    std::span<const unsigned char> bytes(ASN1_STRING_get0_data(v),
                                         static_cast<std::size_t>(ASN1_STRING_length(v)));
    if (ASN1_STRING_type(v) == V_ASN1_SEQUENCE) {
        auto seq = der_get(bytes, DER_SEQUENCE);
        if (!seq) return std::nullopt;
        while (!seq->empty()) {
            auto item = der_get(*seq);
            if (!item || !ASN1_STRING_print_text(mem.get(), item->tag, item->content.data(),
                                                 static_cast<int>(item->content.size())))
                return std::nullopt;
        }
    } else if (!ASN1_STRING_print_text(mem.get(), ASN1_STRING_type(v), bytes.data(),
                                       static_cast<int>(bytes.size()))) {
        return std::nullopt;
    }
    char* p = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &p);
    return std::string(p, static_cast<std::size_t>(n));
}

bool needs_quotes(const std::string& v) {
    if (v.empty()) return false;
    if (v.find_first_of(",+=\"\n<>#;") != std::string::npos) return true;
    return v.front() == ' ' || v.back() == ' ' || v.find("  ") != std::string::npos;
}

bool shown_as_is(unsigned char c) {
    return (c >= 32 && c <= 126) || c >= 192 || c == 168 || c == 171 || c == 184 || c == 185 ||
           c == 187;
}

// One "/sn=value" component of the one-line form.
std::optional<std::string> oneline_entry(const X509_NAME_ENTRY* e) {
    const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
    std::string value;
    const int type = ASN1_STRING_type(v);
    if (type == V_ASN1_UTF8STRING || type == V_ASN1_BMPSTRING || type == V_ASN1_UNIVERSALSTRING) {
        auto shown = value_text(v);
        if (!shown) return std::nullopt;
        value = *shown;
    } else {
        value.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(v)),
                     static_cast<std::size_t>(ASN1_STRING_length(v)));
    }
    std::string out = "/" + type_name(X509_NAME_ENTRY_get_object(e)) + "=";
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : value) {
        if (shown_as_is(c)) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

int X509_NAME_print_rfc2253(BIO* out, const X509_NAME* name, int indent) {
    if (out == nullptr || name == nullptr) return 0;
    std::string text(static_cast<std::size_t>(indent > 0 ? indent : 0), ' ');
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        auto value = value_text(X509_NAME_ENTRY_get_data(e));
        if (!value) return 0;
        if (i > 0) text += ", ";
        text += type_name(X509_NAME_ENTRY_get_object(e)) + "=";
        text += needs_quotes(*value) ? "\"" + *value + "\"" : *value;
    }
    return text.size() < INT_MAX && BIO_write(out, text.data(), static_cast<int>(text.size())) ==
                                        static_cast<int>(text.size());
}

char* X509_NAME_oneline(const X509_NAME* name, char* buf, int size) {
    if (buf != nullptr && size <= 0) return nullptr;
    std::string text;
    if (name == nullptr) {
        text = "NO X509_NAME";
    } else {
        for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
            auto entry = oneline_entry(X509_NAME_get_entry(name, i));
            if (!entry) return nullptr;
            if (buf != nullptr && text.size() + entry->size() >= static_cast<std::size_t>(size))
                break;
            text += *entry;
        }
    }
    if (buf == nullptr) return OPENSSL_strndup(text.data(), text.size());
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return buf;
}

BUFFER* X509_NAME_get_text(const X509_NAME* name, int mode) {
    if (name == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (mode == 1) {
        char line[kOnelineMax + 1];
        if (cadb::X509_NAME_oneline(name, line, sizeof line) == nullptr) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
            return nullptr;
        }
        return BUFFER_fill(line, -1);
    }
    BioPtr mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem || !X509_NAME_print_rfc2253(mem.get(), name, 0)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    char* p = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &p);
    return BUFFER_fill(p, static_cast<int>(n));
}

BUFFER* X509_NAME_get_rfc2253(const X509_NAME* name) { return X509_NAME_get_text(name, 0); }

}  // namespace cadb
