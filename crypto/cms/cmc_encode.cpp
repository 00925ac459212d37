// The CMC record written as a PKIData or ResponseBody.
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <memory>
#include <vector>

#include "crypto/asn1/asn1_int.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/cms/cmc.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

template <typename T>
struct ItemFree {
    const ASN1_ITEM* it;
    void operator()(T* v) const { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), it); }
};
template <typename T>
using Owned = std::unique_ptr<T, ItemFree<T>>;
template <typename T>
Owned<T> make(const ASN1_ITEM* it) {
    return Owned<T>(reinterpret_cast<T*>(ASN1_item_new(it)), ItemFree<T>{it});
}

struct TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
using TypePtr = std::unique_ptr<ASN1_TYPE, TypeFree>;
struct StrFree {
    void operator()(ASN1_STRING* s) const { ASN1_STRING_free(s); }
};
using StrPtr = std::unique_ptr<ASN1_STRING, StrFree>;

// An INTEGER of a big-endian unsigned number of any length: transaction
// identifiers and serial numbers are kept whole, never cut to a machine
// number.
ASN1_INTEGER* integer_of_bytes(const BUFFER* b) {
    BnPtr bn(BN_bin2bn(b != nullptr ? b->data : nullptr, b != nullptr ? b->length : 0, nullptr));
    if (!bn) return nullptr;
    return asn1_int_of(bn.get()).release();
}

// A UTF8String of local text.
ASN1_UTF8STRING* utf8_of_local(const BUFFER* text) {
    int n = 0;
    char* utf8 = STR_local_to_utf8(reinterpret_cast<const char*>(text->data), text->length, &n);
    if (utf8 == nullptr) return nullptr;
    ASN1_UTF8STRING* s = ASN1_UTF8STRING_new();
    if (s != nullptr && !ASN1_STRING_set(s, utf8, n)) {
        ASN1_UTF8STRING_free(s);
        s = nullptr;
    }
    OPENSSL_clear_free(utf8, static_cast<size_t>(n));
    return s;
}

ASN1_OCTET_STRING* octets_of(const BUFFER* b) {
    StrPtr s(ASN1_OCTET_STRING_new());
    if (!s || !ASN1_STRING_set(s.get(), b->data, b->length)) return nullptr;
    return s.release();
}

// A value holding a whole DER element (a SEQUENCE).
template <typename T>
ASN1_TYPE* sequence_value(const T* v, const ASN1_ITEM* it) {
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), &der, it);
    if (len <= 0) return nullptr;
    StrPtr s(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    TypePtr t(ASN1_TYPE_new());
    const bool ok = s && t && ASN1_STRING_set(s.get(), der, len);
    OPENSSL_free(der);
    if (!ok) return nullptr;
    ASN1_TYPE_set(t.get(), V_ASN1_SEQUENCE, s.release());
    return t.release();
}

ASN1_TYPE* simple_value(int type, ASN1_STRING* s) {
    if (s == nullptr) return nullptr;
    TypePtr t(ASN1_TYPE_new());
    if (!t) {
        ASN1_STRING_free(s);
        return nullptr;
    }
    ASN1_TYPE_set(t.get(), type, s);
    return t.release();
}

ASN1_TYPE* status_value(const CMS_STATUS* s) {
    Owned<CMC_STATUS_INFO> info = make<CMC_STATUS_INFO>(ASN1_ITEM_rptr(CMC_STATUS_INFO));
    if (!info || !ASN1_INTEGER_set(info->status, s->status)) return nullptr;
    ASN1_INTEGER* ref = ASN1_INTEGER_new();
    if (ref == nullptr || !ASN1_INTEGER_set(ref, s->body_part_ref) ||
        !sk_ASN1_INTEGER_push(info->body_list, ref)) {
        ASN1_INTEGER_free(ref);
        return nullptr;
    }
    if (s->status_string != nullptr &&
        (info->status_string = utf8_of_local(s->status_string)) == nullptr)
        return nullptr;
    if (s->fail_info != -1) {
        Owned<CMC_OTHER_INFO> other = make<CMC_OTHER_INFO>(ASN1_ITEM_rptr(CMC_OTHER_INFO));
        if (!other || (other->value.fail_info = ASN1_INTEGER_new()) == nullptr ||
            !ASN1_INTEGER_set(other->value.fail_info, s->fail_info))
            return nullptr;
        other->type = CMC_OTHER_INFO_FAIL;
        info->other_info = other.release();
    }
    return sequence_value(info.get(), ASN1_ITEM_rptr(CMC_STATUS_INFO));
}

ASN1_TYPE* revreq_value(const CMS_REVREQ* r) {
    Owned<CMC_REVOKE_REQUEST> rr = make<CMC_REVOKE_REQUEST>(ASN1_ITEM_rptr(CMC_REVOKE_REQUEST));
    if (!rr || r->issuer == nullptr || !X509_NAME_set(&rr->issuer, r->issuer)) return nullptr;
    ASN1_INTEGER* serial = integer_of_bytes(r->serial);
    if (serial == nullptr) return nullptr;
    ASN1_INTEGER_free(rr->serial_number);
    rr->serial_number = serial;
    if (!ASN1_ENUMERATED_set(rr->reason, r->reason)) return nullptr;
    if (r->invalidity_date != nullptr &&
        (rr->invalidity_date = TIME_to_generalized(r->invalidity_date)) == nullptr)
        return nullptr;
    if (r->shared_secret != nullptr &&
        (rr->shared_secret = octets_of(r->shared_secret)) == nullptr)
        return nullptr;
    if (r->comment != nullptr && (rr->comment = utf8_of_local(r->comment)) == nullptr)
        return nullptr;
    ASN1_TYPE* v = sequence_value(rr.get(), ASN1_ITEM_rptr(CMC_REVOKE_REQUEST));
    // The copy of the shared secret inside the record goes with the record.
    if (rr->shared_secret != nullptr)
        OPENSSL_cleanse(rr->shared_secret->data, static_cast<size_t>(rr->shared_secret->length));
    return v;
}

ASN1_TYPE* control_value(const CMS_TATTR* a) {
    switch (a->type) {
        case NID_CMC_STATUS_INFO:
            return a->value.status != nullptr ? status_value(a->value.status) : nullptr;
        case NID_CMC_TRANSACTION_ID:
            return simple_value(V_ASN1_INTEGER, integer_of_bytes(a->value.bytes));
        case NID_CMC_REVOKE_REQUEST:
            return a->value.revreq != nullptr ? revreq_value(a->value.revreq) : nullptr;
        case NID_CMC_REG_INFO:
        case NID_CMC_RESPONSE_INFO:
            return a->value.bytes != nullptr
                       ? simple_value(V_ASN1_OCTET_STRING, octets_of(a->value.bytes))
                       : nullptr;
        default:
            return nullptr;
    }
}

CMC_TAGGED_ATTRIBUTE* tagged_attribute(const CMS_TATTR* a) {
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(a->type);
    Owned<CMC_TAGGED_ATTRIBUTE> ta =
        make<CMC_TAGGED_ATTRIBUTE>(ASN1_ITEM_rptr(CMC_TAGGED_ATTRIBUTE));
    if (obj == nullptr || !ta || !ASN1_INTEGER_set(ta->body_part_id, a->body_part_id)) return nullptr;
    ASN1_OBJECT_free(ta->type);
    if ((ta->type = OBJ_dup(obj)) == nullptr) return nullptr;
    ASN1_TYPE* v = control_value(a);
    if (v == nullptr) return nullptr;
    if (!sk_ASN1_TYPE_push(ta->values, v)) {
        ASN1_TYPE_free(v);
        return nullptr;
    }
    return ta.release();
}

// The tagged request of a record's request; null for a choice that has no
// form (dropped by the caller) and, with *failed set, on failure.
CMC_TAGGED_REQUEST* tagged_request(const CMP_TREQ* r, bool* failed) {
    Owned<CMC_TAGGED_REQUEST> tr = make<CMC_TAGGED_REQUEST>(ASN1_ITEM_rptr(CMC_TAGGED_REQUEST));
    *failed = true;
    if (!tr) return nullptr;
    if (r->choice == CMP_TREQ_PKCS10) {
        const CMP_TCERTREQ* t = r->value.tcr;
        if (t == nullptr || t->request == nullptr || t->request->request == nullptr) return nullptr;
        Owned<CMC_TAGGED_CERT_REQUEST> tcr =
            make<CMC_TAGGED_CERT_REQUEST>(ASN1_ITEM_rptr(CMC_TAGGED_CERT_REQUEST));
        if (!tcr || !ASN1_INTEGER_set(tcr->body_part_id, t->body_part_id)) return nullptr;
        // Copied through its DER: X509_REQ_dup cannot duplicate the
        // engine's GOST keys.
        unsigned char* der = nullptr;
        const int len = i2d_X509_REQ(t->request->request, &der);
        const unsigned char* p = der;
        X509_REQ* copy = len > 0 ? d2i_X509_REQ(nullptr, &p, len) : nullptr;
        OPENSSL_free(der);
        if (copy == nullptr) return nullptr;
        X509_REQ_free(tcr->request);
        tcr->request = copy;
        tr->type = CMC_REQUEST_TCR;
        tr->value.tcr = tcr.release();
    } else if (r->choice == CMP_TREQ_CRMF) {
        if (r->value.crm == nullptr || !CRMF_CERT_REQ_MSG_up_ref(r->value.crm)) return nullptr;
        tr->type = CMC_REQUEST_CRM;
        tr->value.crm = r->value.crm;
    } else {
        *failed = false;
        return nullptr;
    }
    *failed = false;
    return tr.release();
}

// Requests of a choice without a form leave the record.
void drop_unknown_requests(CMC* cmc) {
    for (int i = sk_CMP_TREQ_num(cmc->requests) - 1; i >= 0; --i) {
        const CMP_TREQ* r = sk_CMP_TREQ_value(cmc->requests, i);
        if (r->choice != CMP_TREQ_PKCS10 && r->choice != CMP_TREQ_CRMF)
            CMP_TREQ_free(sk_CMP_TREQ_delete(cmc->requests, i));
    }
}

int fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_GET, reason);
    return 0;
}

int build(CMC* cmc, int content_type, CMC_PKI_DATA* body) {
    for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i) {
        const CMS_TATTR* a = sk_CMS_TATTR_value(cmc->controls, i);
        if (a->type != NID_CMC_STATUS_INFO && a->type != NID_CMC_TRANSACTION_ID &&
            a->type != NID_CMC_REVOKE_REQUEST && a->type != NID_CMC_REG_INFO &&
            a->type != NID_CMC_RESPONSE_INFO)
            return fail(CADB_R_UNSUPPORTED_CONTROL);
        CMC_TAGGED_ATTRIBUTE* ta = tagged_attribute(a);
        if (ta == nullptr) return fail(CADB_R_BAD_CONTROL_VALUE);
        if (!sk_CMC_TAGGED_ATTRIBUTE_push(body->controls, ta)) {
            CMC_TAGGED_ATTRIBUTE_free(ta);
            return fail(ERR_R_MALLOC);
        }
    }
    // A ResponseBody has no reqSequence: the record's requests stay out.
    if (content_type != NID_CMC_PKI_DATA) return 1;
    drop_unknown_requests(cmc);
    for (int i = 0; i < sk_CMP_TREQ_num(cmc->requests); ++i) {
        bool failed = false;
        CMC_TAGGED_REQUEST* tr = tagged_request(sk_CMP_TREQ_value(cmc->requests, i), &failed);
        if (tr == nullptr) return fail(failed ? static_cast<int>(CADB_R_INVALID_DATA) : static_cast<int>(ERR_R_INTERNAL));
        if (!sk_CMC_TAGGED_REQUEST_push(body->requests, tr)) {
            CMC_TAGGED_REQUEST_free(tr);
            return fail(ERR_R_MALLOC);
        }
    }
    return 1;
}

}  // namespace

BUFFER* CMC_get(CMC* cmc, int content_type) {
    if (cmc == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_GET, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (content_type != NID_CMC_PKI_DATA && content_type != NID_CMC_RESPONSE_BODY) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_GET, CADB_R_UNSUPPORTED_CMC_TYPE);
        return nullptr;
    }
    cmc->content_type = content_type;
    Owned<CMC_PKI_DATA> body = make<CMC_PKI_DATA>(ASN1_ITEM_rptr(CMC_PKI_DATA));
    if (!body) {
        fail(ERR_R_MALLOC);
        return nullptr;
    }
    if (!build(cmc, content_type, body.get())) {
        ::ERR_clear_error();
        return nullptr;
    }
    unsigned char* der = nullptr;
    const int len = CMC_body_write(content_type, body.get(), &der);
    ::ERR_clear_error();
    if (len <= 0) {
        fail(ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    BUFFER* out = BUFFER_fill(der, len);
    OPENSSL_free(der);
    if (out == nullptr) {
        fail(ERR_R_MALLOC);
        return nullptr;
    }
    CMC_PKI_DATA_free(cmc->content);
    cmc->content = body.release();
    return out;
}

}  // namespace cadb
