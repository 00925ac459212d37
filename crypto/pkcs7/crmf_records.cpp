#include "crypto/pkcs7/crmf_records.h"

#include <openssl/err.h>

#include "crypto/asn1/asn1_implicit.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/asn1/asn1_read.h"

namespace cadb {
namespace {

// An empty optional SEQUENCE OF is left out of the encoding, not written
// as an empty SEQUENCE.
template <typename Stack>
void drop_if_empty(Stack*& sk) {
    if (sk != nullptr && OPENSSL_sk_num(reinterpret_cast<OPENSSL_STACK*>(sk)) == 0) {
        OPENSSL_sk_free(reinterpret_cast<OPENSSL_STACK*>(sk));
        sk = nullptr;
    }
}

int cert_request_cb(int op, ASN1_VALUE** pval, const ASN1_ITEM*, void*) {
    if (op == ASN1_OP_I2D_PRE && *pval != nullptr)
        drop_if_empty(reinterpret_cast<CRMF_CERT_REQUEST*>(*pval)->controls);
    return 1;
}

int cert_req_msg_cb(int op, ASN1_VALUE** pval, const ASN1_ITEM*, void*) {
    auto* msg = reinterpret_cast<CRMF_CERT_REQ_MSG*>(*pval);
    switch (op) {
        case ASN1_OP_NEW_POST:
            msg->references = 1;
            break;
        case ASN1_OP_FREE_PRE: {
            if (msg == nullptr) break;
            LockGuard lock(CRYPTO_LOCK_CRMF);
            // 2 tells the template engine to leave the record alone.
            if (--msg->references > 0) return 2;
            break;
        }
        case ASN1_OP_I2D_PRE:
            if (msg != nullptr) drop_if_empty(msg->reg_info);
            break;
        default:
            break;
    }
    return 1;
}

}  // namespace

// clang-format off
ASN1_SEQUENCE(CRMF_OPTIONAL_VALIDITY) = {
    ASN1_IMP_OPT(CRMF_OPTIONAL_VALIDITY, not_before, CADB_IMPLICIT_TIME, 0),
    ASN1_IMP_OPT(CRMF_OPTIONAL_VALIDITY, not_after, CADB_IMPLICIT_TIME, 1),
} ASN1_SEQUENCE_END(CRMF_OPTIONAL_VALIDITY)

ASN1_SEQUENCE(CRMF_CERT_TEMPLATE) = {
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, version, ASN1_INTEGER, 0),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, serial_number, ASN1_INTEGER, 1),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, signing_alg, X509_ALGOR, 2),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, issuer, CADB_IMPLICIT_NAME, 3),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, validity, CRMF_OPTIONAL_VALIDITY, 4),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, subject, CADB_IMPLICIT_NAME, 5),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, public_key, X509_PUBKEY, 6),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, issuer_uid, ASN1_BIT_STRING, 7),
    ASN1_IMP_OPT(CRMF_CERT_TEMPLATE, subject_uid, ASN1_BIT_STRING, 8),
    ASN1_IMP_SEQUENCE_OF_OPT(CRMF_CERT_TEMPLATE, extensions, X509_EXTENSION, 9),
} ASN1_SEQUENCE_END(CRMF_CERT_TEMPLATE)

ASN1_SEQUENCE(CRMF_CERT_ID) = {
    ASN1_SIMPLE(CRMF_CERT_ID, issuer, GENERAL_NAME),
    ASN1_SIMPLE(CRMF_CERT_ID, serial_number, ASN1_INTEGER),
} ASN1_SEQUENCE_END(CRMF_CERT_ID)

ASN1_SEQUENCE(CRMF_ATTR_TYPE_AND_VALUE) = {
    ASN1_SIMPLE(CRMF_ATTR_TYPE_AND_VALUE, type, ASN1_OBJECT),
    ASN1_SIMPLE(CRMF_ATTR_TYPE_AND_VALUE, value, ASN1_ANY),
} ASN1_SEQUENCE_END(CRMF_ATTR_TYPE_AND_VALUE)

ASN1_ADB_TEMPLATE(crmf_control_default) = ASN1_SIMPLE(CRMF_CONTROL, value.other, ASN1_ANY);
ASN1_ADB(CRMF_CONTROL) = {
    ADB_ENTRY(NID_id_regCtrl_oldCertID, ASN1_SIMPLE(CRMF_CONTROL, value.old_cert_id, CRMF_CERT_ID)),
} ASN1_ADB_END(CRMF_CONTROL, 0, type, 0, &crmf_control_default_tt, nullptr);

ASN1_SEQUENCE(CRMF_CONTROL) = {
    ASN1_SIMPLE(CRMF_CONTROL, type, ASN1_OBJECT),
    ASN1_ADB_OBJECT(CRMF_CONTROL),
} ASN1_SEQUENCE_END(CRMF_CONTROL)

ASN1_SEQUENCE_cb(CRMF_CERT_REQUEST, cert_request_cb) = {
    ASN1_SIMPLE(CRMF_CERT_REQUEST, cert_req_id, ASN1_INTEGER),
    ASN1_SIMPLE(CRMF_CERT_REQUEST, cert_template, CRMF_CERT_TEMPLATE),
    ASN1_SEQUENCE_OF_OPT(CRMF_CERT_REQUEST, controls, CRMF_CONTROL),
} ASN1_SEQUENCE_END_cb(CRMF_CERT_REQUEST, CRMF_CERT_REQUEST)

ASN1_SEQUENCE(CRMF_PKMAC_VALUE) = {
    ASN1_SIMPLE(CRMF_PKMAC_VALUE, algorithm, X509_ALGOR),
    ASN1_SIMPLE(CRMF_PKMAC_VALUE, value, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(CRMF_PKMAC_VALUE)

ASN1_CHOICE(CRMF_POPO_AUTH_INFO) = {
    ASN1_EXP(CRMF_POPO_AUTH_INFO, value.sender, GENERAL_NAME, 0),
    ASN1_SIMPLE(CRMF_POPO_AUTH_INFO, value.public_key_mac, CRMF_PKMAC_VALUE),
} ASN1_CHOICE_END(CRMF_POPO_AUTH_INFO)

ASN1_SEQUENCE(CRMF_POPO_SIGNING_KEY_INPUT) = {
    ASN1_SIMPLE(CRMF_POPO_SIGNING_KEY_INPUT, auth_info, CRMF_POPO_AUTH_INFO),
    ASN1_SIMPLE(CRMF_POPO_SIGNING_KEY_INPUT, public_key, X509_PUBKEY),
} ASN1_SEQUENCE_END(CRMF_POPO_SIGNING_KEY_INPUT)

ASN1_SEQUENCE(CRMF_POPO_SIGNING_KEY) = {
    ASN1_IMP_OPT(CRMF_POPO_SIGNING_KEY, poposk_input, CRMF_POPO_SIGNING_KEY_INPUT, 0),
    ASN1_SIMPLE(CRMF_POPO_SIGNING_KEY, algorithm, X509_ALGOR),
    ASN1_SIMPLE(CRMF_POPO_SIGNING_KEY, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(CRMF_POPO_SIGNING_KEY)

ASN1_CHOICE(CRMF_PROOF_OF_POSSESSION) = {
    ASN1_IMP(CRMF_PROOF_OF_POSSESSION, value.ra_verified, ASN1_NULL, 0),
    ASN1_IMP(CRMF_PROOF_OF_POSSESSION, value.signature, CRMF_POPO_SIGNING_KEY, 1),
    ASN1_EXP(CRMF_PROOF_OF_POSSESSION, value.key_encipherment, ASN1_ANY, 2),
    ASN1_EXP(CRMF_PROOF_OF_POSSESSION, value.key_agreement, ASN1_ANY, 3),
} ASN1_CHOICE_END(CRMF_PROOF_OF_POSSESSION)

ASN1_SEQUENCE_cb(CRMF_CERT_REQ_MSG, cert_req_msg_cb) = {
    ASN1_SIMPLE(CRMF_CERT_REQ_MSG, cert_req, CRMF_CERT_REQUEST),
    ASN1_OPT(CRMF_CERT_REQ_MSG, popo, CRMF_PROOF_OF_POSSESSION),
    ASN1_SEQUENCE_OF_OPT(CRMF_CERT_REQ_MSG, reg_info, CRMF_ATTR_TYPE_AND_VALUE),
} ASN1_SEQUENCE_END_cb(CRMF_CERT_REQ_MSG, CRMF_CERT_REQ_MSG)
// clang-format on

CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_OPTIONAL_VALIDITY)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_CERT_TEMPLATE)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_CERT_ID)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_ATTR_TYPE_AND_VALUE)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_CONTROL)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_CERT_REQUEST)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_PKMAC_VALUE)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_POPO_AUTH_INFO)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_POPO_SIGNING_KEY_INPUT)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_POPO_SIGNING_KEY)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_PROOF_OF_POSSESSION)
CADB_ASN1_IMPLEMENT_FUNCTIONS(CRMF_CERT_REQ_MSG)

int CRMF_CERT_REQ_MSG_up_ref(CRMF_CERT_REQ_MSG* msg) {
    if (msg == nullptr) return 0;
    LockGuard lock(CRYPTO_LOCK_CRMF);
    ++msg->references;
    return 1;
}

int CRMF_CONTROL_nid(const CRMF_CONTROL* control) {
    return control != nullptr && control->type != nullptr ? cadb::OBJ_obj2nid(control->type) : 0;
}

int CRMF_CONTROL_set(CRMF_CONTROL* control, int nid, void* value) {
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(nid);
    if (control == nullptr || value == nullptr || obj == nullptr) {
        CADB_ERR(ERR_LIB_ASN1_, 0, ERR_R_NULL_PARAMETER);
        return 0;
    }
    ASN1_OBJECT* type = OBJ_dup(obj);
    if (type == nullptr) {
        CADB_ERR(ERR_LIB_ASN1_, 0, ERR_R_MALLOC);
        return 0;
    }
    // The value lives under the type it was decoded by: free it by that.
    if (CRMF_CONTROL_nid(control) == NID_OLD_CERT_ID)
        CRMF_CERT_ID_free(control->value.old_cert_id);
    else
        ASN1_TYPE_free(control->value.other);
    ASN1_OBJECT_free(control->type);
    control->type = type;
    if (nid == NID_OLD_CERT_ID)
        control->value.old_cert_id = static_cast<CRMF_CERT_ID*>(value);
    else
        control->value.other = static_cast<ASN1_TYPE*>(value);
    return 1;
}

CRMF_CERT_REQ_MSG* CRMF_CERT_REQ_MSG_read(const unsigned char* der, long len) {
    return asn1_read_exact<CRMF_CERT_REQ_MSG>(der, len, ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG),
                                              ASN1_F_D2I_CRMF_CERT_REQ_MSG);
}

}  // namespace cadb
