// A CMC record rebuilt from a received PKIData or ResponseBody, and the
// readers of those bodies.
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <climits>
#include <memory>
#include <vector>

#include "crypto/asn1/asn1_int.h"
#include "crypto/asn1/asn1_read.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/cms/cmc.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

// A message body is never larger than this; a stream that goes on is
// refused rather than read into memory without end.
constexpr long kMaxBody = 16L << 20;

struct CmcDeleter {
    void operator()(CMC* c) const { CMC_free(c); }
};
using CmcPtr = std::unique_ptr<CMC, CmcDeleter>;

int fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SPLIT, reason);
    return 0;
}

// A body part id, status or other int of an INTEGER or ENUMERATED; values
// an int cannot hold are refused.
bool int_of(const ASN1_STRING* v, int& out, bool allow_negative) {
    int64_t n = 0;
    const int ok = ASN1_STRING_type(v) == V_ASN1_ENUMERATED ||
                           ASN1_STRING_type(v) == V_ASN1_NEG_ENUMERATED
                       ? ASN1_ENUMERATED_get_int64(&n, v)
                       : ASN1_INTEGER_get_int64(&n, v);
    if (ok != 1 || n > INT_MAX || n < (allow_negative ? INT_MIN : 0)) return false;
    out = static_cast<int>(n);
    return true;
}

// The big-endian magnitude of a non-negative INTEGER, without leading
// zero bytes; as long as the INTEGER was.
BUFFER* bytes_of_integer(const ASN1_INTEGER* v) {
    BnPtr bn = bn_of_asn1_int(v);
    if (!bn) return nullptr;
    std::vector<unsigned char> bytes(static_cast<size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), bytes.data());
    return BUFFER_fill(bytes.data(), static_cast<int>(bytes.size()));
}

BUFFER* local_of_utf8(const ASN1_STRING* s) {
    int n = 0;
    char* local = STR_utf8_to_local(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                                    ASN1_STRING_length(s), &n);
    if (local == nullptr) return nullptr;
    BUFFER* b = BUFFER_fill(local, n);
    OPENSSL_clear_free(local, static_cast<size_t>(n));
    return b;
}

// Bytes of the UTF-8 character whose first byte is lead, or 0 when no
// character starts with it.
std::size_t utf8_width(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// An authority's text in the local code page, whatever it holds: a byte
// sequence that is not UTF-8, or a character the code page has no place
// for, becomes '?', so that the status it explains is never lost with it.
BUFFER* local_of_utf8_text(const ASN1_STRING* s) {
    const auto* in = ASN1_STRING_get0_data(s);
    const auto len = static_cast<std::size_t>(ASN1_STRING_length(s));
    std::vector<unsigned char> local;
    local.reserve(len);
    for (std::size_t i = 0; i < len;) {
        std::size_t width = utf8_width(in[i]);
        for (std::size_t k = 1; k < width; ++k)
            if (i + k >= len || (in[i + k] & 0xC0) != 0x80) width = 0;
        unsigned char c[4];
        const long n = width > 0 ? codepage_convert(kUtf8, kLocalCodePage, {in + i, width}, c) : -1;
        if (n > 0) {
            local.insert(local.end(), c, c + n);
        } else {
            local.push_back('?');
        }
        i += width > 0 ? width : 1;
    }
    return BUFFER_fill(local.data(), static_cast<int>(local.size()));
}

// The record of item it decoded from a SEQUENCE value, filling it exactly.
template <typename T>
T* sequence_of(const ASN1_TYPE* v, const ASN1_ITEM* it) {
    if (v->type != V_ASN1_SEQUENCE || v->value.sequence == nullptr) return nullptr;
    const unsigned char* der = v->value.sequence->data;
    const long len = v->value.sequence->length;
    const unsigned char* p = der;
    ASN1_VALUE* r = ASN1_item_d2i(nullptr, &p, len, it);
    if (r != nullptr && p != der + len) {
        ASN1_item_free(r, it);
        r = nullptr;
    }
    return reinterpret_cast<T*>(r);
}

template <typename T>
struct ItemFree {
    const ASN1_ITEM* it;
    void operator()(T* v) const { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), it); }
};

CMS_STATUS* status_of(const ASN1_TYPE* v) {
    std::unique_ptr<CMC_STATUS_INFO, ItemFree<CMC_STATUS_INFO>> info(
        sequence_of<CMC_STATUS_INFO>(v, ASN1_ITEM_rptr(CMC_STATUS_INFO)),
        ItemFree<CMC_STATUS_INFO>{ASN1_ITEM_rptr(CMC_STATUS_INFO)});
    if (!info) return nullptr;
    std::unique_ptr<CMS_STATUS, decltype(&CMS_STATUS_free)> s(CMS_STATUS_new(), CMS_STATUS_free);
    if (!s || !int_of(info->status, s->status, true)) return nullptr;
    // The record holds one reference: the first of the list.
    if (sk_ASN1_INTEGER_num(info->body_list) > 0 &&
        !int_of(sk_ASN1_INTEGER_value(info->body_list, 0), s->body_part_ref, false))
        return nullptr;
    if (info->status_string != nullptr &&
        (s->status_string = local_of_utf8_text(info->status_string)) == nullptr)
        return nullptr;
    if (info->other_info != nullptr && info->other_info->type == CMC_OTHER_INFO_FAIL &&
        !int_of(info->other_info->value.fail_info, s->fail_info, false))
        return nullptr;
    return s.release();
}

CMS_REVREQ* revreq_of(const ASN1_TYPE* v) {
    std::unique_ptr<CMC_REVOKE_REQUEST, ItemFree<CMC_REVOKE_REQUEST>> rr(
        sequence_of<CMC_REVOKE_REQUEST>(v, ASN1_ITEM_rptr(CMC_REVOKE_REQUEST)),
        ItemFree<CMC_REVOKE_REQUEST>{ASN1_ITEM_rptr(CMC_REVOKE_REQUEST)});
    if (!rr) return nullptr;
    std::unique_ptr<CMS_REVREQ, decltype(&CMS_REVREQ_free)> r(CMS_REVREQ_new(), CMS_REVREQ_free);
    if (!r || (r->issuer = X509_NAME_dup(rr->issuer)) == nullptr ||
        (r->serial = bytes_of_integer(rr->serial_number)) == nullptr ||
        !int_of(rr->reason, r->reason, false))
        return nullptr;
    if (rr->invalidity_date != nullptr &&
        (r->invalidity_date = ASN1_TIME_parse(rr->invalidity_date)) == nullptr)
        return nullptr;
    if (rr->shared_secret != nullptr) {
        r->shared_secret = BUFFER_fill(ASN1_STRING_get0_data(rr->shared_secret),
                                       ASN1_STRING_length(rr->shared_secret));
        OPENSSL_cleanse(rr->shared_secret->data, static_cast<size_t>(rr->shared_secret->length));
        if (r->shared_secret == nullptr) return nullptr;
    }
    if (rr->comment != nullptr && (r->comment = local_of_utf8(rr->comment)) == nullptr)
        return nullptr;
    return r.release();
}

BUFFER* octets_of(const ASN1_TYPE* v) {
    if (v->type != V_ASN1_OCTET_STRING || v->value.octet_string == nullptr) return nullptr;
    return BUFFER_fill(ASN1_STRING_get0_data(v->value.octet_string),
                       ASN1_STRING_length(v->value.octet_string));
}

BUFFER* trans_id_of(const ASN1_TYPE* v) {
    if (v->type != V_ASN1_INTEGER) return nullptr;  // a negative one too
    return bytes_of_integer(v->value.integer);
}

int split_control(CMC* cmc, const CMC_TAGGED_ATTRIBUTE* ta) {
    const int nid = cadb::OBJ_obj2nid(ta->type);
    if (nid != NID_CMC_STATUS_INFO && nid != NID_CMC_TRANSACTION_ID &&
        nid != NID_CMC_REVOKE_REQUEST && nid != NID_CMC_REG_INFO && nid != NID_CMC_RESPONSE_INFO)
        return 1;  // other controls are not the record's business
    int id = 0;
    if (!int_of(ta->body_part_id, id, false)) return fail(CADB_R_NUMBER_OUT_OF_RANGE);
    if (sk_ASN1_TYPE_num(ta->values) != 1) return fail(CADB_R_BAD_CONTROL_VALUE);
    const ASN1_TYPE* v = sk_ASN1_TYPE_value(ta->values, 0);
    void* value = nullptr;
    switch (nid) {
        case NID_CMC_STATUS_INFO:
            value = status_of(v);
            break;
        case NID_CMC_TRANSACTION_ID:
            value = trans_id_of(v);
            break;
        case NID_CMC_REVOKE_REQUEST:
            value = revreq_of(v);
            break;
        default:
            value = octets_of(v);
            break;
    }
    ::ERR_clear_error();
    if (value == nullptr) return fail(CADB_R_BAD_CONTROL_VALUE);
    return CMS_TATTR_push(cmc, id, nid, value, 0);
}

int split_request(CMC* cmc, const CMC_TAGGED_REQUEST* tr) {
    if (tr->type == CMC_REQUEST_TCR) {
        int id = 0;
        if (tr->value.tcr == nullptr || !int_of(tr->value.tcr->body_part_id, id, false))
            return fail(CADB_R_NUMBER_OUT_OF_RANGE);
        PKCS10* p10 = PKCS10_split(tr->value.tcr->request);
        if (p10 == nullptr) return fail(CADB_R_INVALID_DATA);
        return CMP_push_PKCS10(cmc, id, &p10);
    }
    if (tr->type == CMC_REQUEST_CRM) {
        if (!CRMF_CERT_REQ_MSG_up_ref(tr->value.crm)) return fail(CADB_R_INVALID_DATA);
        return CMS_push_CRMF(cmc, tr->value.crm);
    }
    return fail(CADB_R_INVALID_DATA);
}

}  // namespace

CMC* CMS_split(const CMC_PKI_DATA* body, int content_type) {
    if (body == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SPLIT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (content_type != NID_CMC_PKI_DATA && content_type != NID_CMC_RESPONSE_BODY) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SPLIT, CADB_R_UNSUPPORTED_CMC_TYPE);
        return nullptr;
    }
    CmcPtr cmc(CMC_new());
    if (!cmc) return nullptr;
    cmc->content_type = content_type;
    for (int i = 0; i < sk_CMC_TAGGED_ATTRIBUTE_num(body->controls); ++i)
        if (!split_control(cmc.get(), sk_CMC_TAGGED_ATTRIBUTE_value(body->controls, i)))
            return nullptr;
    if (content_type == NID_CMC_PKI_DATA) {
        for (int i = 0; i < sk_CMC_TAGGED_REQUEST_num(body->requests); ++i)
            if (!split_request(cmc.get(), sk_CMC_TAGGED_REQUEST_value(body->requests, i)))
                return nullptr;
    }
    return cmc.release();
}

CMC* CMS_read(const unsigned char* der, long len, int content_type) {
    if (content_type != NID_CMC_PKI_DATA && content_type != NID_CMC_RESPONSE_BODY) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_READ, CADB_R_UNSUPPORTED_CMC_TYPE);
        return nullptr;
    }
    CMC_PKI_DATA* body = CMC_body_read(content_type, der, len);
    if (body == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_READ, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    CMC* cmc = CMS_split(body, content_type);
    if (cmc == nullptr) {
        CMC_PKI_DATA_free(body);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_READ, ERR_LIB_CADB);
        return nullptr;
    }
    cmc->content = body;
    return cmc;
}

namespace {

CMC_PKI_DATA* read_bio(BIO* in, int content_type, int func) {
    if (in == nullptr) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    std::vector<unsigned char> all;
    unsigned char chunk[4096];
    int n = 0;
    while ((n = BIO_read(in, chunk, sizeof chunk)) > 0) {
        if (static_cast<long>(all.size()) + n > kMaxBody) {
            CADB_ERR(ERR_LIB_CADB, func, CADB_R_INVALID_DATA);
            return nullptr;
        }
        all.insert(all.end(), chunk, chunk + n);
    }
    CMC_PKI_DATA* body = CMC_body_read(content_type, all.data(), static_cast<long>(all.size()));
    if (body == nullptr) CADB_ERR(ERR_LIB_CADB, func, ERR_R_NESTED_ASN1_ERROR_);
    return body;
}

}  // namespace

CMC_PKI_DATA* PKI_DATA_read_bio(BIO* in) {
    return read_bio(in, NID_CMC_PKI_DATA, CADB_F_PKI_DATA_READ_BIO);
}

CMC_PKI_DATA* RESPONSE_BODY_read_bio(BIO* in) {
    return read_bio(in, NID_CMC_RESPONSE_BODY, CADB_F_RESPONSE_BODY_READ_BIO);
}

CMC_PKI_DATA* d2i_PKI_DATA_bio(BIO* in) { return PKI_DATA_read_bio(in); }

CMC_PKI_DATA* d2i_RESPONSE_BODY_bio(BIO* in) { return RESPONSE_BODY_read_bio(in); }

}  // namespace cadb
