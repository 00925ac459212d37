// Helpers of the CRMF and CMC tests: DER of records, names, requests and
// certificate request messages made with the parties' keys.
#pragma once

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>
#include <vector>

#include "crypto/pkcs7/cmc_records.h"
#include "crypto/pkcs7/crmf_records.h"
#include "tests/pkcs7/p7_fixture.h"

namespace cadb::test {

template <typename T>
Bytes der_of(const T* v, const ASN1_ITEM* it) {
    unsigned char* buf = nullptr;
    const int len = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), &buf, it);
    Bytes out;
    if (len > 0) out.assign(buf, buf + len);
    OPENSSL_free(buf);
    return out;
}

template <typename T>
struct Item {
    const ASN1_ITEM* it;
    void operator()(T* v) const { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), it); }
};
template <typename T>
using ItemPtr = std::unique_ptr<T, Item<T>>;

// The record of item it in exactly the bytes, or null.
template <typename T>
ItemPtr<T> read_exact(const Bytes& der, const ASN1_ITEM* it) {
    const unsigned char* p = der.data();
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), it);
    if (v != nullptr && p != der.data() + der.size()) {
        ASN1_item_free(v, it);
        v = nullptr;
    }
    ::ERR_clear_error();
    return ItemPtr<T>(reinterpret_cast<T*>(v), Item<T>{it});
}

template <typename T>
ItemPtr<T> make_item(const ASN1_ITEM* it) {
    return ItemPtr<T>(reinterpret_cast<T*>(ASN1_item_new(it)), Item<T>{it});
}

struct NameFree {
    void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
using NamePtr = std::unique_ptr<X509_NAME, NameFree>;

inline NamePtr name_cn(const std::string& cn) {
    NamePtr name(X509_NAME_new());
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    return name;
}

inline Bytes hex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) {
        if (h[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A signed PKCS#10 request of the key with the subject.
inline X509_REQ* make_request(EVP_PKEY* key, const std::string& cn) {
    X509_REQ* req = X509_REQ_new();
    NamePtr name = name_cn(cn);
    if (req == nullptr || !X509_REQ_set_version(req, 0) ||
        !X509_REQ_set_subject_name(req, name.get()) || !X509_REQ_set_pubkey(req, key) ||
        X509_REQ_sign(req, key, cert_md(key)) <= 0) {
        X509_REQ_free(req);
        ::ERR_clear_error();
        return nullptr;
    }
    return req;
}

inline ASN1_TIME* time_of(const char* text) {
    ASN1_TIME* t = ASN1_TIME_new();
    if (t != nullptr && !ASN1_TIME_set_string(t, text)) {
        ASN1_TIME_free(t);
        return nullptr;
    }
    return t;
}

using MsgPtr = ItemPtr<CRMF_CERT_REQ_MSG>;

// A CertReqMsg for the key: id, subject, validity, a keyUsage extension and
// the key; with sign, a signature POP over the CertRequest by the key.
inline MsgPtr make_msg(EVP_PKEY* key, long id, bool sign) {
    MsgPtr msg = make_item<CRMF_CERT_REQ_MSG>(ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    CRMF_CERT_REQUEST* req = msg->cert_req;
    ASN1_INTEGER_set(req->cert_req_id, id);
    CRMF_CERT_TEMPLATE* t = req->cert_template;
    t->version = ASN1_INTEGER_new();
    ASN1_INTEGER_set(t->version, 2);
    t->subject = name_cn("Subscriber").release();
    t->validity = CRMF_OPTIONAL_VALIDITY_new();
    t->validity->not_before = time_of("20260101000000Z");
    t->validity->not_after = time_of("20270101000000Z");
    if (key != nullptr) X509_PUBKEY_set(&t->public_key, key);
    t->extensions = sk_X509_EXTENSION_new_null();
    X509_EXTENSION* ku = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "digitalSignature");
    sk_X509_EXTENSION_push(t->extensions, ku);
    if (sign) {
        msg->popo = CRMF_PROOF_OF_POSSESSION_new();
        msg->popo->type = CRMF_POP_SIGNATURE;
        CRMF_POPO_SIGNING_KEY* pop = CRMF_POPO_SIGNING_KEY_new();
        msg->popo->value.signature = pop;
        if (ASN1_item_sign(ASN1_ITEM_rptr(CRMF_CERT_REQUEST), pop->algorithm, nullptr,
                           pop->signature, req, key, cert_md(key)) <= 0)
            return MsgPtr(nullptr, Item<CRMF_CERT_REQ_MSG>{ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)});
    }
    ::ERR_clear_error();
    return msg;
}

}  // namespace cadb::test
