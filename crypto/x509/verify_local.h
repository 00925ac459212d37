// What CERT_verify hands its chain check and collecting callback through the
// store context.
#pragma once

#include <openssl/x509_vfy.h>

#include <ctime>
#include <map>
#include <vector>

#include "crypto/x509/cert.h"
#include "crypto/x509/verify_error.h"

namespace cadb {

struct VerifyLevel {
    X509* x509;
    CERT* cert;  // the caller's own record at the bottom, else owned until linked
    int depth;
};

struct VerifyData {
    CERT* subject = nullptr;  // the caller's record
    std::vector<VerifyLevel> levels;
    X509_LOOKUP* crls = nullptr;  // the caller's CRLs
    struct tm time {};            // the verification time
    VERIFY_IGNORE_MASK ignorable = 0;
    std::map<const X509*, X509_CRL*> chosen_crl;  // references held until the end
    std::map<const X509_CRL*, bool> crl_signature_ok;
    bool out_of_memory = false;

    VerifyData() = default;
    VerifyData(const VerifyData&) = delete;
    VerifyData& operator=(const VerifyData&) = delete;
    ~VerifyData();
};

// The store-context slot that carries the data.
int VerifyData_index();
VerifyData* VerifyData_of(X509_STORE_CTX* ctx);

}  // namespace cadb
