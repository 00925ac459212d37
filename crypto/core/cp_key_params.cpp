#include "crypto/core/cp_key_params.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

#include "crypto/core/objects.h"

namespace cadb {
namespace {

struct SeqDeleter {
    void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using SeqPtr = std::unique_ptr<ASN1_SEQUENCE_ANY, SeqDeleter>;

int nid_of(const ASN1_TYPE* t) {
    if (t == nullptr || t->type != V_ASN1_OBJECT) return NID_undef;
    return cadb::OBJ_obj2nid(t->value.object);
}

bool push_oid(ASN1_SEQUENCE_ANY* seq, int nid) {
    const ASN1_OBJECT* obj = OBJ_nid2obj(nid);
    if (obj == nullptr || nid == NID_undef) return false;
    ASN1_TYPE* t = ASN1_TYPE_new();
    if (t == nullptr) return false;
    ASN1_TYPE_set(t, V_ASN1_OBJECT, const_cast<ASN1_OBJECT*>(obj));
    if (sk_ASN1_TYPE_push(seq, t) > 0) return true;
    ASN1_TYPE_free(t);
    return false;
}

}  // namespace

int CP_KEY_PARAMS_decode(CpKeyParams* out, const unsigned char* der, long len) {
    if (out == nullptr || der == nullptr || len <= 0) return 0;
    const unsigned char* p = der;
    SeqPtr seq(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, len));
    if (!seq || p != der + len) return 0;
    const int n = sk_ASN1_TYPE_num(seq.get());
    if (n < 2 || n > 3) return 0;
    CpKeyParams params;
    params.key_set = nid_of(sk_ASN1_TYPE_value(seq.get(), 0));
    params.digest_set = nid_of(sk_ASN1_TYPE_value(seq.get(), 1));
    if (n == 3) {
        params.cipher_set = nid_of(sk_ASN1_TYPE_value(seq.get(), 2));
        if (params.cipher_set == NID_undef) return 0;
    }
    if (params.key_set == NID_undef || params.digest_set == NID_undef) return 0;
    *out = params;
    return 1;
}

int CP_KEY_PARAMS_from_type(CpKeyParams* out, int ptype, const void* pval) {
    if (ptype != V_ASN1_SEQUENCE || pval == nullptr) return 0;
    const auto* s = static_cast<const ASN1_STRING*>(pval);
    return CP_KEY_PARAMS_decode(out, ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
}

ASN1_STRING* CP_KEY_PARAMS_encode(const CpKeyParams& params) {
    SeqPtr seq(sk_ASN1_TYPE_new_null());
    if (!seq || !push_oid(seq.get(), params.key_set) || !push_oid(seq.get(), params.digest_set))
        return nullptr;
    if (params.cipher_set != NID_undef && !push_oid(seq.get(), params.cipher_set)) return nullptr;
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_SEQUENCE_ANY(seq.get(), &der);
    if (len <= 0) return nullptr;
    ASN1_STRING* s = ASN1_STRING_new();
    if (s != nullptr)
        ASN1_STRING_set0(s, der, len);
    else
        OPENSSL_free(der);
    return s;
}

}  // namespace cadb
