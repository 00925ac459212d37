// Library 66 (CADB) function codes of the certificate, CRL and verification
// records.
#pragma once

namespace cadb {

enum CadbCertFunc : int {
    CADB_F_CERT_NEW = 420,
    CADB_F_CERT_READ_BIO = 421,
    CADB_F_CERT_READ_BUFFER = 422,
    CADB_F_CERT_SPLIT = 423,
    CADB_F_CERT_GET = 424,
    CADB_F_CERT_CTX = 425,  // the context operations share one code
    CADB_F_CRL_NEW = 426,
    CADB_F_CRL_READ_BIO = 427,
    CADB_F_CRL_READ_BUFFER = 428,
    CADB_F_CRL_SPLIT = 429,
    CADB_F_REVOKED_NEW = 430,
    CADB_F_X509_VERIFY_ERROR_NEW = 431,
    CADB_F_CERT_VERIFY = 432,
    CADB_F_CRL_GET = 433,
};

}  // namespace cadb
