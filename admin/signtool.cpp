#include "admin/signtool.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <cstring>

#include "crypto/core/err.h"
#include "crypto/x509v3/ext_print.h"

namespace cadb {

ASN1_SEQUENCE(ISSUER_SIGN_TOOL) = {
    ASN1_SIMPLE(ISSUER_SIGN_TOOL, sign_tool, ASN1_UTF8STRING),
    ASN1_SIMPLE(ISSUER_SIGN_TOOL, ca_tool, ASN1_UTF8STRING),
    ASN1_SIMPLE(ISSUER_SIGN_TOOL, sign_tool_cert, ASN1_UTF8STRING),
    ASN1_SIMPLE(ISSUER_SIGN_TOOL, ca_tool_cert, ASN1_UTF8STRING),
} ASN1_SEQUENCE_END(ISSUER_SIGN_TOOL)

ISSUER_SIGN_TOOL* ISSUER_SIGN_TOOL_new() {
    auto* v = reinterpret_cast<ISSUER_SIGN_TOOL*>(ASN1_item_new(ASN1_ITEM_rptr(ISSUER_SIGN_TOOL)));
    if (v == nullptr) {
        ::ERR_clear_error();
        CADB_ERR(ERR_LIB_ASN1_, ASN1_F_ISSUER_SIGN_TOOL_NEW, ERR_R_MALLOC);
    }
    return v;
}

void ISSUER_SIGN_TOOL_free(ISSUER_SIGN_TOOL* v) {
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), ASN1_ITEM_rptr(ISSUER_SIGN_TOOL));
}

int i2d_ISSUER_SIGN_TOOL(const ISSUER_SIGN_TOOL* v, unsigned char** out) {
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), out,
                         ASN1_ITEM_rptr(ISSUER_SIGN_TOOL));
}

ISSUER_SIGN_TOOL* d2i_ISSUER_SIGN_TOOL(ISSUER_SIGN_TOOL** out, const unsigned char** in,
                                       long len) {
    ASN1_VALUE* v = out != nullptr ? reinterpret_cast<ASN1_VALUE*>(*out) : nullptr;
    ASN1_VALUE* r = ASN1_item_d2i(&v, in, len, ASN1_ITEM_rptr(ISSUER_SIGN_TOOL));
    if (r == nullptr) {
        ERR_move_openssl_errors(ERR_LIB_ASN1_, ASN1_F_D2I_ISSUER_SIGN_TOOL);
        // libcrypto frees a record it was handed when the decoding fails.
        if (out != nullptr) *out = nullptr;
        return nullptr;
    }
    if (out != nullptr) *out = reinterpret_cast<ISSUER_SIGN_TOOL*>(r);
    return reinterpret_cast<ISSUER_SIGN_TOOL*>(r);
}

int ISSUER_SIGN_TOOL_print(const X509V3_EXT_METHOD* /*method*/, const ISSUER_SIGN_TOOL* v,
                           BIO* out, int indent) {
    if (v == nullptr || out == nullptr) return 0;
    const struct {
        const char* label;
        const ASN1_UTF8STRING* text;
    } lines[] = {
        {"signTool", v->sign_tool},
        {"cATool", v->ca_tool},
        {"signToolCert", v->sign_tool_cert},
        {"cAToolCert", v->ca_tool_cert},
    };
    for (const auto& line : lines) {
        if (line.text == nullptr) continue;
        if (BIO_printf(out, "%*s%s: ", indent, "", line.label) < 0 ||
            BIO_write(out, ASN1_STRING_get0_data(line.text), ASN1_STRING_length(line.text)) < 0 ||
            BIO_puts(out, "\n") < 0)
            return 0;
    }
    return 1;
}

ASN1_UTF8STRING* s2i_SUBJECT_SIGN_TOOL(const X509V3_EXT_METHOD* /*method*/,
                                       X509V3_CTX* /*ctx*/, const char* text) {
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_X509V3_, X509V3_F_S2I_SUBJECT_SIGN_TOOL, X509V3_REASON_NULL_ARGUMENT);
        return nullptr;
    }
    ASN1_UTF8STRING* s = ASN1_UTF8STRING_new();
    if (s == nullptr || !ASN1_STRING_set(s, text, static_cast<int>(std::strlen(text)))) {
        ASN1_UTF8STRING_free(s);
        ::ERR_clear_error();
        CADB_ERR(ERR_LIB_X509V3_, X509V3_F_S2I_SUBJECT_SIGN_TOOL, ERR_R_MALLOC);
        return nullptr;
    }
    return s;
}

char* i2s_SUBJECT_SIGN_TOOL(const X509V3_EXT_METHOD* /*method*/, const ASN1_UTF8STRING* value) {
    if (value == nullptr || ASN1_STRING_length(value) <= 0) return nullptr;
    const int n = ASN1_STRING_length(value);
    auto* copy = static_cast<char*>(OPENSSL_malloc(static_cast<std::size_t>(n) + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, ASN1_STRING_get0_data(value), static_cast<std::size_t>(n));
    copy[n] = '\0';
    return copy;
}

namespace {

// The subject's tool as its text at the indent, no line break.
int print_subject_tool(const X509V3_EXT_METHOD*, const void* value, BIO* out, int indent) {
    if (value == nullptr || out == nullptr) return 0;
    char* text = i2s_SUBJECT_SIGN_TOOL(nullptr, static_cast<const ASN1_UTF8STRING*>(value));
    const int ok = BIO_printf(out, "%*s%s", indent, "", text != nullptr ? text : "") >= 0;
    OPENSSL_free(text);
    return ok ? 1 : 0;
}

int print_issuer_tool(const X509V3_EXT_METHOD* method, const void* value, BIO* out, int indent) {
    return ISSUER_SIGN_TOOL_print(method, static_cast<const ISSUER_SIGN_TOOL*>(value), out,
                                  indent);
}

int nid_of(const char* oid, const char* sn, const char* ln) {
    int nid = ::OBJ_txt2nid(oid);
    if (nid == NID_undef) nid = ::OBJ_create(oid, sn, ln);
    return nid;
}

}  // namespace

int SIGNTOOL_subject_nid() {
    static const int nid = nid_of(OID_SUBJECT_SIGN_TOOL, SN_SUBJECT_SIGN_TOOL, LN_SUBJECT_SIGN_TOOL);
    return nid;
}

int SIGNTOOL_issuer_nid() {
    static const int nid = nid_of(OID_ISSUER_SIGN_TOOL, SN_ISSUER_SIGN_TOOL, LN_ISSUER_SIGN_TOOL);
    return nid;
}

int SIGNTOOL_add_extensions() {
    if (SIGNTOOL_subject_nid() == NID_undef || SIGNTOOL_issuer_nid() == NID_undef) return 0;
    // The extension printer of the library shows both the program's way.
    const int subject =
        X509V3_EXT_add_printer(SIGNTOOL_subject_nid(), ASN1_UTF8STRING_it, print_subject_tool);
    const int issuer =
        X509V3_EXT_add_printer(SIGNTOOL_issuer_nid(), ISSUER_SIGN_TOOL_it, print_issuer_tool);
    return subject && issuer ? 1 : 0;
}

int SIGNTOOL_print_extension(BIO* out, X509_EXTENSION* ext, int indent) {
    if (out == nullptr || ext == nullptr) return 0;
    const int nid = ::OBJ_obj2nid(X509_EXTENSION_get_object(ext));
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ext);
    const unsigned char* p = ASN1_STRING_get0_data(data);
    const long len = ASN1_STRING_length(data);
    if (nid != NID_undef && nid == SIGNTOOL_subject_nid()) {
        ASN1_UTF8STRING* s = d2i_ASN1_UTF8STRING(nullptr, &p, len);
        if (s == nullptr) {
            ERR_move_openssl_errors(ERR_LIB_X509V3_, X509V3_F_S2I_SUBJECT_SIGN_TOOL);
            return 0;
        }
        const int ok = print_subject_tool(nullptr, s, out, indent);
        ASN1_UTF8STRING_free(s);
        return ok;
    }
    if (nid != NID_undef && nid == SIGNTOOL_issuer_nid()) {
        ISSUER_SIGN_TOOL* v = d2i_ISSUER_SIGN_TOOL(nullptr, &p, len);
        if (v == nullptr) return 0;
        const int ok = ISSUER_SIGN_TOOL_print(nullptr, v, out, indent);
        ISSUER_SIGN_TOOL_free(v);
        return ok;
    }
    return -1;
}

}  // namespace cadb
