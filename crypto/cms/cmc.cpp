// The CMC record, its controls and tagged requests, and the operations that
// fill them.
#include "crypto/cms/cmc.h"

#include <openssl/crypto.h>

#include <cstring>
#include <memory>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

template <typename T>
T* zalloc(int func) {
    auto* v = static_cast<T*>(OPENSSL_zalloc(sizeof(T)));
    if (v == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    }
    return v;
}

bool is_bytes_control(int nid) {
    return nid == NID_CMC_TRANSACTION_ID || nid == NID_CMC_REG_INFO ||
           nid == NID_CMC_RESPONSE_INFO;
}

// Frees a control value of the type's kind.
void free_value(int nid, void* value) {
    if (value == nullptr) return;
    if (nid == NID_CMC_STATUS_INFO)
        CMS_STATUS_free(static_cast<CMS_STATUS*>(value));
    else if (nid == NID_CMC_REVOKE_REQUEST)
        CMS_REVREQ_free(static_cast<CMS_REVREQ*>(value));
    else if (is_bytes_control(nid))
        BUFFER_free(static_cast<BUFFER*>(value));
}

bool known_control(int nid) {
    return nid == NID_CMC_STATUS_INFO || nid == NID_CMC_REVOKE_REQUEST || is_bytes_control(nid);
}

template <typename Stack, typename New>
bool ensure(Stack*& sk, New make) {
    if (sk == nullptr) sk = make();
    return sk != nullptr;
}

BUFFER* text_copy(const char* text, int func) {
    BUFFER* b = BUFFER_fill(text, -1);
    if (b == nullptr) CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    return b;
}

}  // namespace

CMC* CMC_new() {
    return zalloc<CMC>(CADB_F_CMC_NEW);
}

void CMC_free(CMC* cmc) {
    if (cmc == nullptr) return;
    sk_CMP_TREQ_pop_free(cmc->requests, CMP_TREQ_free);
    sk_CMS_TATTR_pop_free(cmc->controls, CMS_TATTR_free);
    CMC_PKI_DATA_free(cmc->content);
    OPENSSL_free(cmc);
}

CMS_STATUS* CMS_STATUS_new() {
    auto* s = zalloc<CMS_STATUS>(CADB_F_CMC_STATUS_NEW);
    if (s != nullptr) s->fail_info = -1;
    return s;
}

void CMS_STATUS_free(CMS_STATUS* s) {
    if (s == nullptr) return;
    BUFFER_free(s->status_string);
    OPENSSL_free(s);
}

CMS_REVREQ* CMS_REVREQ_new() { return zalloc<CMS_REVREQ>(CADB_F_CMC_REVREQ_NEW); }

void CMS_REVREQ_free(CMS_REVREQ* r) {
    if (r == nullptr) return;
    X509_NAME_free(r->issuer);
    BUFFER_free(r->serial);
    OPENSSL_free(r->invalidity_date);
    // The shared secret is a revocation password: BUFFER_free wipes it.
    BUFFER_free(r->shared_secret);
    BUFFER_free(r->comment);
    OPENSSL_free(r);
}

CMS_TATTR* CMS_TATTR_new() { return zalloc<CMS_TATTR>(CADB_F_CMC_TATTR_NEW); }

void CMS_TATTR_free(CMS_TATTR* a) {
    if (a == nullptr) return;
    free_value(a->type, a->value.any);
    OPENSSL_free(a);
}

CMP_TCERTREQ* CMP_TCERTREQ_new() { return zalloc<CMP_TCERTREQ>(CADB_F_CMP_TCERTREQ_NEW); }

void CMP_TCERTREQ_free(CMP_TCERTREQ* t) {
    if (t == nullptr) return;
    PKCS10_free(t->request);
    OPENSSL_free(t);
}

CMP_TREQ* CMP_TREQ_new() { return zalloc<CMP_TREQ>(CADB_F_CMP_TREQ_NEW); }

void CMP_TREQ_free(CMP_TREQ* t) {
    if (t == nullptr) return;
    if (t->choice == CMP_TREQ_PKCS10)
        CMP_TCERTREQ_free(t->value.tcr);
    else if (t->choice == CMP_TREQ_CRMF)
        CRMF_CERT_REQ_MSG_free(t->value.crm);
    OPENSSL_free(t);
}

int CMP_push_PKCS10(CMC* cmc, int body_part_id, PKCS10** p10) {
    PKCS10* taken = p10 != nullptr ? *p10 : nullptr;
    if (p10 != nullptr) *p10 = nullptr;
    if (cmc == nullptr || taken == nullptr || taken->request == nullptr || body_part_id < 0) {
        PKCS10_free(taken);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMP_PUSH_PKCS10, ERR_R_NULL_PARAMETER);
        return 0;
    }
    CMP_TCERTREQ* tcr = CMP_TCERTREQ_new();
    CMP_TREQ* req = CMP_TREQ_new();
    if (tcr == nullptr || req == nullptr) {
        PKCS10_free(taken);
        CMP_TCERTREQ_free(tcr);
        OPENSSL_free(req);
        return 0;
    }
    tcr->body_part_id = body_part_id;
    tcr->request = taken;
    req->choice = CMP_TREQ_PKCS10;
    req->value.tcr = tcr;
    if (!ensure(cmc->requests, [] { return sk_CMP_TREQ_new_null(); }) ||
        !sk_CMP_TREQ_push(cmc->requests, req)) {
        CMP_TREQ_free(req);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMP_PUSH_PKCS10, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

int CMS_push_CRMF(CMC* cmc, CRMF_CERT_REQ_MSG* msg) {
    if (cmc == nullptr || msg == nullptr) {
        CRMF_CERT_REQ_MSG_free(msg);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_PUSH_CRMF, ERR_R_NULL_PARAMETER);
        return 0;
    }
    CMP_TREQ* req = CMP_TREQ_new();
    if (req == nullptr) {
        CRMF_CERT_REQ_MSG_free(msg);
        return 0;
    }
    req->choice = CMP_TREQ_CRMF;
    req->value.crm = msg;
    if (!ensure(cmc->requests, [] { return sk_CMP_TREQ_new_null(); }) ||
        !sk_CMP_TREQ_push(cmc->requests, req)) {
        CMP_TREQ_free(req);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_PUSH_CRMF, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

int CMS_TATTR_push(CMC* cmc, int body_part_id, int nid, void* value, int replace) {
    if (cmc == nullptr || value == nullptr || body_part_id < 0) {
        free_value(nid, value);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_TATTR_PUSH, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (!known_control(nid)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_TATTR_PUSH, CADB_R_UNSUPPORTED_CONTROL);
        return 0;
    }
    CMS_TATTR* a = CMS_TATTR_new();
    if (a == nullptr) {
        free_value(nid, value);
        return 0;
    }
    a->body_part_id = body_part_id;
    a->type = nid;
    a->value.any = value;
    if (!ensure(cmc->controls, [] { return sk_CMS_TATTR_new_null(); })) {
        CMS_TATTR_free(a);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_TATTR_PUSH, ERR_R_MALLOC);
        return 0;
    }
    if (replace) {
        for (int i = sk_CMS_TATTR_num(cmc->controls) - 1; i >= 0; --i) {
            if (sk_CMS_TATTR_value(cmc->controls, i)->type == nid)
                CMS_TATTR_free(sk_CMS_TATTR_delete(cmc->controls, i));
        }
    }
    if (!sk_CMS_TATTR_push(cmc->controls, a)) {
        CMS_TATTR_free(a);
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_TATTR_PUSH, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

int CMS_set_octet_string(CMC* cmc, int body_part_id, int nid, const BUFFER* bytes, int replace) {
    if (cmc == nullptr || bytes == nullptr || !is_bytes_control(nid)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SET_OCTET_STRING, ERR_R_NULL_PARAMETER);
        return 0;
    }
    BUFFER* copy = BUFFER_fill(bytes->data, bytes->length);
    if (copy == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SET_OCTET_STRING, ERR_R_MALLOC);
        return 0;
    }
    return CMS_TATTR_push(cmc, body_part_id, nid, copy, replace);
}

int CMS_set_trans_id(CMC* cmc, int body_part_id, const BUFFER* bytes) {
    if (!CMS_set_octet_string(cmc, body_part_id, NID_CMC_TRANSACTION_ID, bytes, 1)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_SET_TRANS_ID, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

int CMS_add_status_info(CMC* cmc, int body_part_id, int status, int body_part_ref,
                        const char* status_string, int fail_info) {
    CMS_STATUS* s = CMS_STATUS_new();
    if (s == nullptr) return 0;
    s->status = status;
    s->body_part_ref = body_part_ref;
    s->fail_info = fail_info;
    if (status_string != nullptr &&
        (s->status_string = text_copy(status_string, CADB_F_CMC_ADD_STATUS_INFO)) == nullptr) {
        CMS_STATUS_free(s);
        return 0;
    }
    if (!CMS_TATTR_push(cmc, body_part_id, NID_CMC_STATUS_INFO, s, 0)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_ADD_STATUS_INFO, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

int CMS_add_revreq_info(CMC* cmc, int body_part_id, const X509_NAME* issuer, const BUFFER* serial,
                        int reason, const struct tm* invalidity_date, const char* shared_secret,
                        const char* comment) {
    if (cmc == nullptr || issuer == nullptr || serial == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_ADD_REVREQ_INFO, ERR_R_NULL_PARAMETER);
        return 0;
    }
    std::unique_ptr<CMS_REVREQ, decltype(&CMS_REVREQ_free)> r(CMS_REVREQ_new(), CMS_REVREQ_free);
    if (!r) return 0;
    r->reason = reason;
    bool ok = (r->issuer = X509_NAME_dup(issuer)) != nullptr &&
              (r->serial = BUFFER_fill(serial->data, serial->length)) != nullptr;
    if (ok && invalidity_date != nullptr) {
        r->invalidity_date = static_cast<struct tm*>(OPENSSL_malloc(sizeof(struct tm)));
        ok = r->invalidity_date != nullptr;
        if (ok) *r->invalidity_date = *invalidity_date;
    }
    if (ok && shared_secret != nullptr)
        ok = (r->shared_secret = text_copy(shared_secret, CADB_F_CMC_ADD_REVREQ_INFO)) != nullptr;
    if (ok && comment != nullptr)
        ok = (r->comment = text_copy(comment, CADB_F_CMC_ADD_REVREQ_INFO)) != nullptr;
    if (!ok) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_ADD_REVREQ_INFO, ERR_R_MALLOC);
        return 0;
    }
    if (!CMS_TATTR_push(cmc, body_part_id, NID_CMC_REVOKE_REQUEST, r.release(), 0)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CMC_ADD_REVREQ_INFO, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

}  // namespace cadb
