#include "crypto/cadb/str_convert.h"

#include <openssl/crypto.h>

#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

std::size_t text_length(const char* text, int len, bool bmp) {
    if (len >= 0) return static_cast<std::size_t>(len);
    if (!bmp) return std::strlen(text);
    std::size_t n = 0;
    while (text[n] != 0 || text[n + 1] != 0) n += 2;
    return n;
}

char* convert(const char* from, const char* to, const char* text, int len, int* out_len) {
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_X509_, X509_F_STR_CONVERT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const bool bmp_in = std::strcmp(from, kBmp) == 0;
    const std::size_t n = text_length(text, len, bmp_in);
    std::size_t out = 0;
    unsigned char* r = codepage_convert_new(
        from, to, {reinterpret_cast<const unsigned char*>(text), n}, 2, &out);
    if (r == nullptr || out >= INT_MAX) {
        OPENSSL_free(r);
        CADB_ERR(ERR_LIB_X509_, X509_F_STR_CONVERT, ERR_R_INTERNAL);
        return nullptr;
    }
    if (out_len != nullptr) *out_len = static_cast<int>(out);
    return reinterpret_cast<char*>(r);
}

bool printable_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(" '()+,-./:=?", c) != nullptr;
}

struct Bounds {
    int max, min;
    std::vector<int> types;  // empty: the general list
};

constexpr int kGeneral = 0;

const Bounds* bounds_of(int nid) {
    static const Bounds kName{64, 1, {}}, kCountry{2, 2, {19}}, kPlace{128, 1, {}},
        kMail{255, 1, {22}}, kUnstructured{255, 1, {22, kGeneral}}, kChallenge{255, 1, {}},
        kGiven{16, 1, {}}, kSurname{40, 1, {}}, kInitials{5, 1, {}}, kSerial{64, 1, {19}},
        kDescription{1024, 1, {}}, kPostal{180, 1, {}}, kInn{12, 1, {19}},
        kGeneration{3, 1, {19}}, kRns{10, 1, {}}, kKp{4, 1, {}};
    switch (nid) {
        case 13: case 17: case 18: case 106: return &kName;
        case 14: return &kCountry;
        case 15: case 16: case NID_STREET_ADDRESS: case NID_PSEUDONYM: return &kPlace;
        case 48: case NID_DOMAIN_COMPONENT: return &kMail;
        case 49: return &kUnstructured;
        case 54: return &kChallenge;
        case 99: return &kGiven;
        case 100: return &kSurname;
        case 101: return &kInitials;
        case 105: case NID_DN_QUALIFIER: return &kSerial;
        case 107: return &kDescription;
        case NID_POSTAL_ADDRESS: return &kPostal;
        case NID_RU_INN: return &kInn;
        case NID_GENERATION_QUALIFIER: return &kGeneration;
        case NID_RNS_FSS: return &kRns;
        case NID_KP_FSS: return &kKp;
        default: return nullptr;
    }
}

std::vector<int> types_of(const Bounds& b, int flags) {
    const std::vector<int> general = (flags & NAME_ENTRY_NO_T61)
                                         ? std::vector<int>{19, 30, 12}
                                         : std::vector<int>{19, 20, 30, 12, 28};
    if (b.types.empty()) return general;
    std::vector<int> out;
    for (int t : b.types) {
        if (t == kGeneral)
            out.insert(out.end(), general.begin(), general.end());
        else
            out.push_back(t);
    }
    return out;
}

bool converts(const char* text, std::size_t n, const char* to) {
    std::size_t out = 0;
    unsigned char* r =
        codepage_convert_new(kLocalCodePage, to, {reinterpret_cast<const unsigned char*>(text), n},
                             1, &out);
    OPENSSL_clear_free(r, out + 1);
    return r != nullptr;
}

}  // namespace

char* STR_local_to_utf8(const char* t, int len, int* out_len) {
    return convert(kLocalCodePage, kUtf8, t, len, out_len);
}
char* STR_utf8_to_local(const char* t, int len, int* out_len) {
    return convert(kUtf8, kLocalCodePage, t, len, out_len);
}
char* STR_bmp_to_utf8(const char* t, int len, int* out_len) {
    return convert(kBmp, kUtf8, t, len, out_len);
}
char* STR_utf8_to_bmp(const char* t, int len, int* out_len) {
    return convert(kUtf8, kBmp, t, len, out_len);
}
char* STR_bmp_to_local(const char* t, int len, int* out_len) {
    return convert(kBmp, kLocalCodePage, t, len, out_len);
}
char* STR_local_to_bmp(const char* t, int len, int* out_len) {
    return convert(kLocalCodePage, kBmp, t, len, out_len);
}

char* STR_copy(const char* text, int len, int* out_len) {
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_X509_, X509_F_STR_CONVERT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const std::size_t n = len < 1 ? std::strlen(text) : static_cast<std::size_t>(len);
    if (n >= INT_MAX - 2) return nullptr;
    auto* out = static_cast<char*>(OPENSSL_zalloc(n + 2));
    if (out == nullptr) {
        CADB_ERR(ERR_LIB_X509_, X509_F_STR_CONVERT, ERR_R_MALLOC);
        return nullptr;
    }
    std::memcpy(out, text, n);
    if (out_len != nullptr) *out_len = static_cast<int>(n);
    return out;
}

char* PASSWD_decode(const char* passwd, int len, int* out_len) {
    return STR_copy(passwd, len, out_len);
}

char* PASSWD_to_bmp(const char* passwd, int len, int* out_len) {
    return STR_local_to_bmp(passwd, len, out_len);
}

char* STR_decode_name(const char* text, int len, int* out_len) {
    return STR_utf8_to_local(text, len, out_len);
}

int X509_NAME_ENTRY_check_type(const char* text, int len, int type) {
    if (text == nullptr) return 0;
    const std::size_t n = len <= 0 ? std::strlen(text) : static_cast<std::size_t>(len);
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    auto all = [&](auto pred) {
        for (std::size_t i = 0; i < n; ++i)
            if (!pred(p[i])) return false;
        return true;
    };
    auto ascii = [](unsigned char c) { return c >= 32 && c <= 126; };
    switch (type) {
        case V_ASN1_PRINTABLESTRING: return all(printable_char) ? type : 0;
        case V_ASN1_IA5STRING:
        case V_ASN1_T61STRING:
        case V_ASN1_VISIBLESTRING: return all(ascii) ? type : 0;
        case V_ASN1_UTF8STRING: return converts(text, n, kUtf8) ? type : 0;
        case V_ASN1_BMPSTRING: return converts(text, n, kBmp) ? type : 0;
        case V_ASN1_UNIVERSALSTRING: return converts(text, n, "UCS-4BE") ? type : 0;
        default: return 0;
    }
}

int X509_NAME_ENTRY_choose_type(int nid, int* type, const char* text, int len, int flags) {
    auto fail = [] {
        CADB_ERR(ERR_LIB_X509_, X509_F_X509_NAME_ENTRY_CHOOSE_TYPE, ERR_R_INTERNAL);
        return 0;
    };
    const Bounds* b = bounds_of(nid);
    if (b == nullptr || type == nullptr || text == nullptr) return fail();
    const std::size_t n = len <= 0 ? std::strlen(text) : static_cast<std::size_t>(len);
    if (!(flags & NAME_ENTRY_ANY_LENGTH) &&
        (n < static_cast<std::size_t>(b->min) || n > static_cast<std::size_t>(b->max)))
        return fail();
    const std::vector<int> list = types_of(*b, flags);
    for (int t : list) {
        if (t == *type && X509_NAME_ENTRY_check_type(text, static_cast<int>(n), t)) return 1;
    }
    if (flags & NAME_ENTRY_KEEP_TYPE) return fail();
    for (int t : list) {
        if (X509_NAME_ENTRY_check_type(text, static_cast<int>(n), t)) {
            *type = t;
            return 1;
        }
    }
    return fail();
}

unsigned char* X509_NAME_ENTRY_encode_text(const char* text, int* len, int type) {
    auto fail = [] {
        CADB_ERR(ERR_LIB_X509_, X509_F_X509_NAME_ENTRY_ENCODE_TEXT, ERR_R_INTERNAL);
        return nullptr;
    };
    if (text == nullptr || len == nullptr) return fail();
    const int n = *len <= 0 ? -1 : *len;
    int out = 0;
    char* r = nullptr;
    switch (type) {
        case V_ASN1_UTF8STRING: r = STR_local_to_utf8(text, n, &out); break;
        case V_ASN1_BMPSTRING: r = STR_local_to_bmp(text, n, &out); break;
        case V_ASN1_UNIVERSALSTRING: r = convert(kLocalCodePage, "UCS-4BE", text, n, &out); break;
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_VISIBLESTRING:
            if (!X509_NAME_ENTRY_check_type(text, n < 0 ? 0 : n, type)) return fail();
            r = STR_copy(text, n < 0 ? 0 : n, &out);
            break;
        default: return fail();
    }
    if (r == nullptr) return fail();
    *len = out;
    return reinterpret_cast<unsigned char*>(r);
}

int X509_NAME_ENTRY_set_text(ASN1_STRING* s, const char* text, int len, int type) {
    int n = len;
    unsigned char* bytes = s != nullptr ? X509_NAME_ENTRY_encode_text(text, &n, type) : nullptr;
    if (bytes == nullptr) {
        CADB_ERR(ERR_LIB_X509_, X509_F_X509_NAME_ENTRY_SET_TEXT, ERR_R_INTERNAL);
        return 0;
    }
    ASN1_STRING_set0(s, bytes, n);
    s->type = type;
    return 1;
}

}  // namespace cadb
