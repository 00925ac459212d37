#include <openssl/x509.h>

#include <optional>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/x509/cert_verify.h"
#include "crypto/x509/lookup_local.h"
#include "crypto/x509/verify_local.h"

namespace cadb {
namespace {

// A time that does not convert is a verification finding, recorded by the
// callback; it leaves nothing on the error queue.
bool quiet_time(const ASN1_TIME* t, struct tm* out) {
    ERR_set_mark();
    const bool ok = cadb::ASN1_TIME_to_tm(t, out) == 1;
    ERR_pop_to_mark();
    return ok;
}

class LevelCheck {
  public:
    LevelCheck(X509_STORE_CTX* ctx, VerifyData& data)
        : ctx_(ctx), data_(data), cb_(X509_STORE_CTX_get_verify_cb(ctx)) {}

    // False when the callback asked to stop.
    bool report(int error) {
        X509_STORE_CTX_set_error(ctx_, error);
        return cb_(0, ctx_) != 0;
    }

    bool level(X509* subject, X509* issuer, int depth) {
        X509_STORE_CTX_set_error_depth(ctx_, depth);
        X509_STORE_CTX_set_current_cert(ctx_, subject);
        EVP_PKEY* key = X509_get0_pubkey(issuer);
        if (key == nullptr) {
            if (!report(X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY)) return false;
        } else if (X509_verify(subject, key) <= 0) {
            if (!report(X509_V_ERR_CERT_SIGNATURE_FAILURE)) return false;
        }
        if (!validity(subject) || !revocation(subject, key)) return false;
        X509_STORE_CTX_set_error(ctx_, X509_V_OK);
        return cb_(1, ctx_) != 0;
    }

  private:
    // 0 on time, negative before it, positive after it; nothing when t does
    // not convert.
    std::optional<int> against_time(const ASN1_TIME* t) const {
        struct tm tm {};
        if (!quiet_time(t, &tm)) return std::nullopt;
        return TIME_cmp(&tm, &data_.time);
    }

    bool validity(X509* x) {
        const auto start = against_time(X509_get0_notBefore(x));
        if (!start) {
            if (!report(X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD)) return false;
        } else if (*start > 0 && !report(X509_V_ERR_CERT_NOT_YET_VALID)) {
            return false;
        }
        const auto end = against_time(X509_get0_notAfter(x));
        if (!end) return report(X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD);
        if (*end < 0) return report(X509_V_ERR_CERT_HAS_EXPIRED);
        return true;
    }

    // Every CRL of the certificate's issuer, from the store and from the
    // caller's list.
    STACK_OF(X509_CRL) * candidates(X509* x) {
        const X509_NAME* issuer = X509_get_issuer_name(x);
        STACK_OF(X509_CRL)* all = X509_STORE_CTX_get1_crls(ctx_, issuer);
        if (all == nullptr) all = sk_X509_CRL_new_null();
        if (all != nullptr && data_.crls != nullptr &&
            X509_LOOKUP_local_crls_by_subject(data_.crls, issuer, all, 1) < 0) {
            data_.out_of_memory = true;
        }
        return all;
    }

    // The latest thisUpdate not after the time (ties: the first found); a
    // list whose thisUpdate does not convert is taken only when no other
    // is, so that its error is seen.
    X509_CRL* choose(STACK_OF(X509_CRL) * all) {
        X509_CRL* best = nullptr;
        X509_CRL* unreadable = nullptr;
        struct tm best_time {};
        for (int i = 0; i < sk_X509_CRL_num(all); ++i) {
            X509_CRL* crl = sk_X509_CRL_value(all, i);
            struct tm t {};
            if (!quiet_time(X509_CRL_get0_lastUpdate(crl), &t)) {
                if (unreadable == nullptr) unreadable = crl;
                continue;
            }
            if (TIME_cmp(&t, &data_.time) > 0) continue;
            if (best == nullptr || TIME_cmp(&t, &best_time) > 0) {
                best = crl;
                best_time = t;
            }
        }
        return best != nullptr ? best : unreadable;
    }

    bool crl_signature_ok(X509_CRL* crl, EVP_PKEY* key) {
        auto it = data_.crl_signature_ok.find(crl);
        if (it != data_.crl_signature_ok.end()) return it->second;
        const bool ok = key != nullptr && X509_CRL_verify(crl, key) > 0;
        data_.crl_signature_ok.emplace(crl, ok);
        return ok;
    }

    bool revocation(X509* x, EVP_PKEY* issuer_key) {
        STACK_OF(X509_CRL)* all = candidates(x);
        X509_CRL* crl = all != nullptr ? choose(all) : nullptr;
        if (crl != nullptr && X509_CRL_up_ref(crl)) {
            auto [slot, fresh] = data_.chosen_crl.emplace(x, crl);
            if (!fresh) {
                X509_CRL_free(slot->second);
                slot->second = crl;
            }
        }
        sk_X509_CRL_pop_free(all, X509_CRL_free);
        if (crl == nullptr) return report(X509_V_ERR_UNABLE_TO_GET_CRL);

        if (issuer_key != nullptr && !crl_signature_ok(crl, issuer_key) &&
            !report(X509_V_ERR_CRL_SIGNATURE_FAILURE)) {
            return false;
        }
        const auto start = against_time(X509_CRL_get0_lastUpdate(crl));
        if (!start) {
            if (!report(X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD)) return false;
        } else if (*start > 0 && !report(X509_V_ERR_CRL_NOT_YET_VALID)) {
            return false;
        }
        if (const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl); next != nullptr) {
            const auto end = against_time(next);
            if (!end) {
                if (!report(X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD)) return false;
            } else if (*end < 0 && !report(X509_V_ERR_CRL_HAS_EXPIRED)) {
                return false;
            }
        }
        X509_REVOKED* entry = nullptr;
        if (X509_CRL_get0_by_serial(crl, &entry, X509_get0_serialNumber(x)) == 1)
            return report(X509_V_ERR_CERT_REVOKED);
        return true;
    }

    X509_STORE_CTX* ctx_;
    VerifyData& data_;
    X509_STORE_CTX_verify_cb cb_;
};

}  // namespace

int X509_verify_chain_levels(X509_STORE_CTX* ctx) {
    VerifyData* data = VerifyData_of(ctx);
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
    const int n = sk_X509_num(chain);
    if (data == nullptr || n <= 0) return 0;
    LevelCheck check(ctx, *data);

    int level = n - 1;
    X509* top = sk_X509_value(chain, level);
    if (X509_NAME_cmp(X509_get_subject_name(top), X509_get_issuer_name(top)) != 0) {
        if (level == 0) {
            X509_STORE_CTX_set_error_depth(ctx, 0);
            X509_STORE_CTX_set_current_cert(ctx, top);
            return check.report(X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE) ? 1 : 0;
        }
        --level;
    }
    X509* issuer = top;
    for (; level >= 0; --level) {
        X509* subject = sk_X509_value(chain, level);
        if (!check.level(subject, issuer, level)) return 0;
        issuer = subject;
    }
    return 1;
}

}  // namespace cadb
