#include "crypto/x509/cert_verify.h"

#include <openssl/x509.h>

#include <algorithm>
#include <memory>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/x509/lookup_local.h"
#include "crypto/x509/verify_local.h"

namespace cadb {
namespace {

struct StoreCtxFree {
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};

int fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_VERIFY, reason);
    return 0;
}

// The record of a certificate met during verification: the caller's own for
// the certificate itself, else a new one put in front of the collection.
VerifyLevel* level_of(VerifyData& data, X509* x, int depth) {
    for (VerifyLevel& l : data.levels) {
        if (l.x509 == x) return &l;
    }
    CERT* c = x == data.subject->x509 ? data.subject : CERT_split(x);
    if (c == nullptr) return nullptr;
    data.levels.insert(data.levels.begin(), VerifyLevel{x, c, depth});
    return &data.levels.front();
}

bool add_error(VerifyData& data, CERT* c, int code) {
    if (c->verify_errors == nullptr) c->verify_errors = sk_X509_VERIFY_ERROR_new_null();
    X509_VERIFY_ERROR* e =
        X509_VERIFY_ERROR_make(code, X509_verify_cert_error_string(code), data.ignorable);
    if (c->verify_errors == nullptr || e == nullptr ||
        sk_X509_VERIFY_ERROR_push(c->verify_errors, e) <= 0) {
        X509_VERIFY_ERROR_free(e);
        return false;
    }
    return true;
}

// Records what each call reports and always lets verification go on, so that
// every level is checked and every error seen.
int collect(int ok, X509_STORE_CTX* ctx) {
    VerifyData* data = VerifyData_of(ctx);
    if (data == nullptr) return ok;
    int depth = X509_STORE_CTX_get_error_depth(ctx);
    X509* x = X509_STORE_CTX_get_current_cert(ctx);
    if (x == nullptr) {
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
        x = depth >= 0 && depth < sk_X509_num(chain) ? sk_X509_value(chain, depth) : nullptr;
    }
    if (x == nullptr) {
        x = data->subject->x509;
        depth = 0;
    }
    VerifyLevel* level = level_of(*data, x, depth);
    if (level == nullptr) {
        data->out_of_memory = true;
    } else {
        level->depth = depth;
        CERT* c = level->cert;
        if (c->crl == nullptr) {
            auto chosen = data->chosen_crl.find(x);
            if (chosen != data->chosen_crl.end()) {
                c->crl = CRL_split(chosen->second);
                if (c->crl == nullptr) data->out_of_memory = true;
            }
        }
        if (!ok && !add_error(*data, c, X509_STORE_CTX_get_error(ctx))) data->out_of_memory = true;
    }
    X509_STORE_CTX_set_error(ctx, X509_V_OK);
    return 1;
}

int own_result(const CERT* c) {
    for (int i = 0; i < sk_X509_VERIFY_ERROR_num(c->verify_errors); ++i) {
        if (!sk_X509_VERIFY_ERROR_value(c->verify_errors, i)->ignorable) return 0;
    }
    return 1;
}

// Links the collection into the caller's issuer chain, from the certificate
// upward, and combines the results from the top down.
void link_chain(VerifyData& data) {
    std::stable_sort(data.levels.begin(), data.levels.end(),
                     [](const VerifyLevel& a, const VerifyLevel& b) { return a.depth < b.depth; });
    std::vector<CERT*> chain = {data.subject};
    for (VerifyLevel& l : data.levels) {
        if (l.cert == data.subject) continue;
        chain.back()->issuer_cert = l.cert;
        chain.push_back(l.cert);
    }
    data.levels.clear();  // ownership has moved into the chain
    int above = 1;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->verify_result = own_result(*it) && above ? 1 : 0;
        above = (*it)->verify_result;
    }
}

void clear_results(CERT* c) {
    c->verify_result = -1;
    X509_VERIFY_ERROR_list_free(c->verify_errors);
    c->verify_errors = nullptr;
    CERT_free(c->issuer_cert);
    c->issuer_cert = nullptr;
    CRL_free(c->crl);
    c->crl = nullptr;
}

}  // namespace

VerifyData::~VerifyData() {
    for (VerifyLevel& l : levels) {
        if (l.cert != subject) CERT_free(l.cert);
    }
    for (auto& [x, crl] : chosen_crl) X509_CRL_free(crl);
}

int VerifyData_index() {
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

VerifyData* VerifyData_of(X509_STORE_CTX* ctx) {
    return static_cast<VerifyData*>(X509_STORE_CTX_get_ex_data(ctx, VerifyData_index()));
}

int CERT_verify(CERT* cert, X509_STORE* store, STACK_OF(CERT) * untrusted, STACK_OF(CRL) * crls,
                const struct tm* time, VERIFY_IGNORE_MASK ignorable) {
    if (cert == nullptr || cert->x509 == nullptr || store == nullptr)
        return fail(ERR_R_INTERNAL);
    clear_results(cert);
    // Findings (a changed signature, an unreadable key) are recorded in the
    // levels; what the checks leave on libcrypto's queue is not the caller's
    // error, and what the caller had queued before stays queued.
    const OpensslErrorMark openssl_mark;
    if (VerifyData_index() < 0) return fail(ERR_R_INTERNAL);

    std::unique_ptr<STACK_OF(X509), X509StackFree> chain_certs(sk_X509_new_null());
    if (!chain_certs) return fail(ERR_R_MALLOC);
    for (int i = 0; i < sk_CERT_num(untrusted); ++i) {
        X509* x = sk_CERT_value(untrusted, i) ? sk_CERT_value(untrusted, i)->x509 : nullptr;
        if (x == nullptr) continue;
        if (!X509_up_ref(x)) return fail(ERR_R_INTERNAL);
        if (sk_X509_push(chain_certs.get(), x) <= 0) {
            X509_free(x);
            return fail(ERR_R_MALLOC);
        }
    }

    VerifyData data;
    data.subject = cert;
    data.ignorable = ignorable;
    if (time != nullptr) {
        data.time = *time;
    } else if (!TIME_now(&data.time)) {
        return fail(ERR_R_INTERNAL);
    }
    std::unique_ptr<X509_STORE, StoreFree> crl_store(X509_STORE_new());
    if (!crl_store) return fail(ERR_R_MALLOC);
    data.crls = X509_STORE_add_lookup(crl_store.get(), X509_LOOKUP_local());
    if (data.crls == nullptr) return fail(ERR_R_MALLOC);
    for (int i = 0; i < sk_CRL_num(crls); ++i) {
        const CRL* c = sk_CRL_value(crls, i);
        if (c != nullptr && c->crl != nullptr && !X509_LOOKUP_local_add_crl(data.crls, c->crl))
            return fail(ERR_R_MALLOC);
    }

    std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
    if (!ctx || !X509_STORE_CTX_init(ctx.get(), store, cert->x509, chain_certs.get()) ||
        !X509_STORE_CTX_set_ex_data(ctx.get(), VerifyData_index(), &data))
        return fail(ERR_R_INTERNAL);
    // The check and the callback are the context's own, so a store shared
    // with other threads is left as it is.
    X509_STORE_CTX_set_verify(ctx.get(), X509_verify_chain_levels);
    X509_STORE_CTX_set_verify_cb(ctx.get(), collect);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    // GOST R 34.11-94 signatures rate 105 bits: no security level is asked
    // for, so a caller's or the system's level cannot fail GOST chains.
    X509_VERIFY_PARAM_set_auth_level(param, 0);
    if (time != nullptr) {
        struct tm at = *time;
        X509_VERIFY_PARAM_set_time(param, timegm(&at));
    }
    ERR_set_mark();
    const int ran = X509_verify_cert(ctx.get());
    ERR_pop_to_mark();
    if (ran < 0 || data.out_of_memory) {
        clear_results(cert);
        return fail(ran < 0 ? ERR_R_INTERNAL : ERR_R_MALLOC);
    }
    link_chain(data);
    return cert->verify_result;
}

}  // namespace cadb
