// The flat CRMF record and the split of a CertReqMsg into it.
#include "crypto/cms/crmf.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

struct CrmfDeleter {
    void operator()(CRMF* c) const { CRMF_free(c); }
};
using CrmfPtr = std::unique_ptr<CRMF, CrmfDeleter>;

int fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_SPLIT, reason);
    return 0;
}

// A 32-bit number of an INTEGER; larger or negative values are refused,
// never cut down.
bool int32_of(const ASN1_INTEGER* v, std::int32_t& out) {
    int64_t n = 0;
    if (ASN1_INTEGER_get_int64(&n, v) != 1 || n < 0 || n > INT32_MAX) {
        ::ERR_clear_error();
        return false;
    }
    out = static_cast<std::int32_t>(n);
    return true;
}

int nid_of_algor(const X509_ALGOR* alg) {
    const ASN1_OBJECT* obj = nullptr;
    if (alg != nullptr) X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    return obj != nullptr ? cadb::OBJ_obj2nid(obj) : 0;
}

template <typename T>
std::vector<unsigned char> der_of(const T* v, const ASN1_ITEM* it) {
    std::vector<unsigned char> out;
    unsigned char* buf = nullptr;
    const int len = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), &buf, it);
    if (len > 0) out.assign(buf, buf + len);
    OPENSSL_free(buf);
    return out;
}

bool same_key(const X509_PUBKEY* a, const X509_PUBKEY* b) {
    const std::vector<unsigned char> da = der_of(a, ASN1_ITEM_rptr(X509_PUBKEY));
    return !da.empty() && da == der_of(b, ASN1_ITEM_rptr(X509_PUBKEY));
}

// 1 when the signature POP verifies, 0 when it does not.
int check_signature_pop(const CRMF_CERT_REQ_MSG* msg, const CRMF_POPO_SIGNING_KEY* pop,
                        EVP_PKEY* key) {
    const X509_PUBKEY* template_key = msg->cert_req->cert_template->public_key;
    ERR_set_mark();
    int r = 0;
    if (pop->poposk_input != nullptr) {
        if (same_key(pop->poposk_input->public_key, template_key))
            r = ASN1_item_verify(ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY_INPUT), pop->algorithm,
                                 pop->signature, pop->poposk_input, key);
    } else {
        r = ASN1_item_verify(ASN1_ITEM_rptr(CRMF_CERT_REQUEST), pop->algorithm, pop->signature,
                             msg->cert_req, key);
    }
    ERR_pop_to_mark();
    ::ERR_clear_error();
    return r == 1 ? 1 : 0;
}

// An absent or empty name leaves no list; a name that does not split fails.
bool split_name(const X509_NAME* name, ATTRIBUTE** out) {
    if (name == nullptr || X509_NAME_entry_count(name) == 0) return true;
    return (*out = X509_NAME_split(name)) != nullptr;
}

int split_into(CRMF* c, CRMF_CERT_REQ_MSG* msg) {
    const CRMF_CERT_REQUEST* req = msg->cert_req;
    const CRMF_CERT_TEMPLATE* t = req->cert_template;
    if (!int32_of(req->cert_req_id, c->request_id)) return fail(CADB_R_INVALID_DATA);
    if (t->version != nullptr && !int32_of(t->version, c->version))
        return fail(CADB_R_INVALID_DATA);
    c->signing_algorithm = nid_of_algor(t->signing_alg);
    if (t->serial_number != nullptr &&
        (c->serial_number = ASN1_STRING_get_bytes(t->serial_number)) == nullptr)
        return fail(ERR_R_MALLOC);
    if (!split_name(t->subject, &c->subject) || !split_name(t->issuer, &c->issuer))
        return fail(ERR_LIB_CADB);
    if (t->validity != nullptr) {
        const ASN1_TIME* nb = t->validity->not_before;
        const ASN1_TIME* na = t->validity->not_after;
        if (nb != nullptr && (c->not_before = ASN1_TIME_parse(nb)) == nullptr)
            return fail(CADB_R_INVALID_DATA);
        if (na != nullptr && (c->not_after = ASN1_TIME_parse(na)) == nullptr)
            return fail(CADB_R_INVALID_DATA);
    }

    EVP_PKEY* key = nullptr;
    if (t->public_key != nullptr) {
        ASN1_OBJECT* alg = nullptr;
        X509_PUBKEY_get0_param(&alg, nullptr, nullptr, nullptr, t->public_key);
        c->key_algorithm = alg != nullptr ? cadb::OBJ_obj2nid(alg) : 0;
        key = X509_PUBKEY_get0(t->public_key);
        ::ERR_clear_error();
        if (key == nullptr) return fail(CADB_R_UNABLE_TO_GET_PUBLIC_KEY);
        c->key_size = EVP_PKEY_get_bits(key);
        c->key_fingerprint = X509_PUBKEY_FINGER_PRINT_get(t->public_key);
        if (c->key_fingerprint == nullptr) return fail(ERR_LIB_CADB);
    }

    if (t->extensions != nullptr) {
        c->raw_extensions = sk_X509_EXTENSION_deep_copy(t->extensions, X509_EXTENSION_dup,
                                                        X509_EXTENSION_free);
        if (c->raw_extensions == nullptr) return fail(ERR_R_MALLOC);
        c->extensions = CADB_V3EXT_parse_extensions(c->raw_extensions);
        if (c->extensions == nullptr) return fail(ERR_LIB_CADB);
    }

    const CRMF_PROOF_OF_POSSESSION* popo = msg->popo;
    c->pop_type = popo != nullptr ? popo->type : CRMF_POP_NONE;
    switch (c->pop_type) {
        case CRMF_POP_NONE:
        case CRMF_POP_RA_VERIFIED:
            return 1;
        case CRMF_POP_SIGNATURE:
            if (key == nullptr || popo->value.signature == nullptr) return fail(ERR_LIB_CADB);
            c->pop_result = check_signature_pop(msg, popo->value.signature, key);
            return 1;
        default:
            return fail(ERR_LIB_CADB);
    }
}

}  // namespace

CRMF* CRMF_new() {
    auto* c = static_cast<CRMF*>(OPENSSL_zalloc(sizeof(CRMF)));
    if (c == nullptr || (c->message = CRMF_CERT_REQ_MSG_new()) == nullptr) {
        OPENSSL_free(c);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    c->version = -1;
    c->pop_type = CRMF_POP_NONE;
    c->pop_result = -1;
    return c;
}

void CRMF_free(CRMF* c) {
    if (c == nullptr) return;
    CRMF saved = *c;
    OPENSSL_cleanse(c, sizeof(CRMF));
    BUFFER_free(saved.serial_number);
    OPENSSL_free(saved.not_before);
    OPENSSL_free(saved.not_after);
    ATTRIBUTE_free(saved.subject);
    ATTRIBUTE_free(saved.issuer);
    CADB_V3EXT_stack_free(saved.extensions);
    sk_X509_EXTENSION_pop_free(saved.raw_extensions, X509_EXTENSION_free);
    CRMF_CERT_REQ_MSG_free(saved.message);
    BUFFER_free(saved.key_fingerprint);
    OPENSSL_free(c);
}

CRMF* CRMF_split(CRMF_CERT_REQ_MSG* msg) {
    if (msg == nullptr || msg->cert_req == nullptr || msg->cert_req->cert_template == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_SPLIT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    CrmfPtr c(CRMF_new());
    if (!c) return nullptr;
    CRMF_CERT_REQ_MSG_free(c->message);
    c->message = nullptr;
    if (!CRMF_CERT_REQ_MSG_up_ref(msg)) return nullptr;
    c->message = msg;
    if (!split_into(c.get(), msg)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_SPLIT, ERR_LIB_CADB);
        return nullptr;
    }
    return c.release();
}

int CRMF_append_text(ASN1_STRING* s, const char* text, int len) {
    if (s == nullptr || text == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_APPEND_TEXT, ERR_R_NULL_PARAMETER);
        return 0;
    }
    int n = 0;
    char* utf8 = STR_local_to_utf8(text, len, &n);
    if (utf8 == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_APPEND_TEXT, CADB_R_INVALID_DATA);
        return 0;
    }
    const int old = ASN1_STRING_length(s);
    int ok = 0;
    if (n <= INT_MAX - old) {
        std::vector<unsigned char> joined(static_cast<size_t>(old) + static_cast<size_t>(n));
        if (old > 0) std::memcpy(joined.data(), ASN1_STRING_get0_data(s), static_cast<size_t>(old));
        if (n > 0) std::memcpy(joined.data() + old, utf8, static_cast<size_t>(n));
        ok = ASN1_STRING_set(s, joined.data(), static_cast<int>(joined.size()));
        OPENSSL_cleanse(joined.data(), joined.size());
    }
    OPENSSL_clear_free(utf8, static_cast<size_t>(n));
    if (!ok) CADB_ERR(ERR_LIB_CADB, CADB_F_CRMF_APPEND_TEXT, ERR_R_MALLOC);
    return ok;
}

}  // namespace cadb
