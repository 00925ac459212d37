// The order in which start-up loads every error-string table, and library
// 66's table from the parts its folders keep: it stands above every folder
// whose table it loads.
#include <openssl/crypto.h>

#include "crypto/cadb/err_str.h"
#include "crypto/pkcs7/p7_err.h"

namespace cadb {

void ERR_load_CADB_strings() {
    ERR_load_CADB_shared_strings();
    ERR_load_CADB_keys_strings();
    ERR_load_CADB_x509_strings();
    ERR_load_CADB_store_strings();
}

void ERR_load_cadb_strings() {
    // libcrypto's own tables name the errors moved over from its queue.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    ERR_load_ASN1_strings();
    ERR_load_BN_strings();
    ERR_load_BUF_strings();
    ERR_load_R3410_strings();
    ERR_load_GOSTS_strings();
    ERR_load_ECGOST_strings();
    ERR_load_GOSTE_strings();
    ERR_load_ERR_strings();
    ERR_load_EVP_strings();
    ERR_load_X509_strings();
    ERR_load_PKCS7_strings();
    ERR_load_CADB_strings();
    ERR_load_CMC_strings();
    ERR_load_V3EXT_strings();
    ERR_load_PSE_strings();
    ERR_load_RAND_strings();
    ERR_load_SHAMIR_strings();
    ERR_load_ETOKEN_strings();
    ERR_load_RUTOKEN_strings();
}

}  // namespace cadb
