// General names, object records, IP-address text and attribute texts of the
// flat extension records.
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <cstdio>

#include "crypto/core/objects.h"
#include "crypto/x509v3/v3ext_local.h"

namespace cadb {

using namespace v3ext;

CADB_OID* CADB_OID_parse(const ASN1_OBJECT* obj) {
    if (obj == nullptr) {
        bad(CADB_F_CADB_OID_NEW);
        return nullptr;
    }
    Owner<CADB_OID, CADB_OID_free> r(CADB_OID_new());
    if (!r) return nullptr;
    char dotted[256];
    const int n = ::OBJ_obj2txt(dotted, sizeof dotted, obj, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof dotted)) {
        bad(CADB_F_CADB_OID_NEW);
        return nullptr;
    }
    r->nid = cadb::OBJ_obj2nid(obj);
    r->sn = cadb::OBJ_nid2sn(r->nid);
    r->ln = cadb::OBJ_nid2ln(r->nid);
    BUFFER* text = BUFFER_fill(dotted, n);
    if (text == nullptr) return nullptr;
    r->oid = *text;
    OPENSSL_free(text);
    return r.release();
}

BUFFER* IP_ADDRESS_get_text(const ASN1_OCTET_STRING* ip) {
    if (ip == nullptr) return nullptr;
    const unsigned char* b = ASN1_STRING_get0_data(ip);
    char text[40];
    switch (ASN1_STRING_length(ip)) {
        case 4: std::snprintf(text, sizeof text, "%i.%i.%i.%i", b[0], b[1], b[2], b[3]); break;
        case 8:
            std::snprintf(text, sizeof text, "%i.%i.%i.%i/%i.%i.%i.%i", b[0], b[1], b[2], b[3],
                          b[4], b[5], b[6], b[7]);
            break;
        default: return nullptr;
    }
    return BUFFER_fill(text, -1);
}

CADB_GENERAL_NAME* CADB_GENERAL_NAME_new() {
    return new_record<CADB_GENERAL_NAME>(CADB_F_CADB_GENERAL_NAME_NEW);
}

void CADB_GENERAL_NAME_free(CADB_GENERAL_NAME* gn) {
    if (gn == nullptr) return;
    switch (gn->type) {
        case CADB_GEN_EMAIL:
        case CADB_GEN_DNS:
        case CADB_GEN_URI:
        case CADB_GEN_IPADD: BUFFER_free(gn->value.text); break;
        case CADB_GEN_DIRNAME: ATTRIBUTE_free(gn->value.dirname); break;
        case CADB_GEN_RID: CADB_OID_free(gn->value.rid); break;
        default: break;
    }
    OPENSSL_free(gn);
}

CADB_GENERAL_NAME* CADB_GENERAL_NAME_parse(const GENERAL_NAME* gn) {
    constexpr int F = CADB_F_CADB_GENERAL_NAME_PARSE;
    if (gn == nullptr) {
        bad(F);
        return nullptr;
    }
    Owner<CADB_GENERAL_NAME, CADB_GENERAL_NAME_free> r(CADB_GENERAL_NAME_new());
    if (!r) return nullptr;
    r->type = 0x80 | gn->type;
    bool ok = true;
    switch (gn->type) {
        case GEN_EMAIL:
        case GEN_DNS:
        case GEN_URI:
            ok = (r->value.text = ASN1_STRING_get_text(gn->d.ia5)) != nullptr;
            break;
        case GEN_DIRNAME:
            r->value.dirname = X509_NAME_split(gn->d.dirn);
            ok = r->value.dirname != nullptr || X509_NAME_entry_count(gn->d.dirn) == 0;
            break;
        case GEN_IPADD: r->value.text = IP_ADDRESS_get_text(gn->d.ip); break;
        case GEN_RID: ok = (r->value.rid = CADB_OID_parse(gn->d.rid)) != nullptr; break;
        default: break;
    }
    if (!ok) {
        nested(F);
        return nullptr;
    }
    return r.release();
}

STACK_OF(CADB_GENERAL_NAME) * CADB_GENERAL_NAMES_parse(const GENERAL_NAMES* names) {
    return reinterpret_cast<STACK_OF(CADB_GENERAL_NAME)*>(
        parse_stack<CADB_GENERAL_NAME, GENERAL_NAME, CADB_GENERAL_NAME_free>(
            reinterpret_cast<const OPENSSL_STACK*>(names), CADB_GENERAL_NAME_parse,
            CADB_F_CADB_GENERAL_NAMES_PARSE));
}

void CADB_GENERAL_NAMES_free(STACK_OF(CADB_GENERAL_NAME) * names) {
    free_stack<CADB_GENERAL_NAME, CADB_GENERAL_NAME_free>(
        reinterpret_cast<OPENSSL_STACK*>(names));
}

bool v3ext::attribute_has_text(const X509_ATTRIBUTE* a) {
    if (X509_ATTRIBUTE_count(a) != 1) return false;
    switch (X509_ATTRIBUTE_get0_type(const_cast<X509_ATTRIBUTE*>(a), 0)->type) {
        case V_ASN1_UTF8STRING:
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_VISIBLESTRING:
        case V_ASN1_BMPSTRING: return true;
        default: return false;
    }
}

ATTRIBUTE* CADB_ATTRIBUTES_parse(const STACK_OF(X509_ATTRIBUTE) * attributes) {
    constexpr int F = CADB_F_CADB_ATTRIBUTES_PARSE;
    if (attributes == nullptr) {
        bad(F);
        return nullptr;
    }
    ATTRIBUTE* head = nullptr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attr = sk_X509_ATTRIBUTE_value(attributes, i);
        if (X509_ATTRIBUTE_count(attr) != 1) continue;
        const ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(attr, 0);
        if (!attribute_has_text(attr)) continue;
        BufferPtr text(ASN1_STRING_get_text(t->value.asn1_string));
        const int nid = cadb::OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attr));
        if (!text || ATTRIBUTE_add(&head, nid, text->data != nullptr
                                                   ? reinterpret_cast<const char*>(text->data)
                                                   : "",
                                   text->length > 0 ? text->length : -1, t->type) == nullptr) {
            ATTRIBUTE_free(head);
            nested(F);
            return nullptr;
        }
    }
    return head;
}

}  // namespace cadb
