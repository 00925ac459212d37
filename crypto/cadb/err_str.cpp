// The error library's own tables: library names and the common reasons.
#include "crypto/cadb/err_str.h"

#include <openssl/crypto.h>

#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kLibraries[] = {
    // libcrypto's libraries, as its errors are printed.
    {ERR_LIB_ENTRY(ERR_LIB_SYS), "system library"},
    {ERR_LIB_ENTRY(ERR_LIB_BN_), "bignum routines"},
    {ERR_LIB_ENTRY(ERR_LIB_RSA), "rsa routines"},
    {ERR_LIB_ENTRY(ERR_LIB_DH), "Diffie-Hellman routines"},
    {ERR_LIB_ENTRY(ERR_LIB_EVP_), "digital envelope routines"},
    {ERR_LIB_ENTRY(ERR_LIB_BUF), "memory buffer routines"},
    {ERR_LIB_ENTRY(ERR_LIB_OBJ), "object identifier routines"},
    {ERR_LIB_ENTRY(ERR_LIB_PEM), "PEM routines"},
    {ERR_LIB_ENTRY(ERR_LIB_DSA), "dsa routines"},
    {ERR_LIB_ENTRY(ERR_LIB_X509_), "x509 certificate routines"},
    {ERR_LIB_ENTRY(ERR_LIB_ASN1_), "asn1 encoding routines"},
    {ERR_LIB_ENTRY(ERR_LIB_CONF), "configuration file routines"},
    {ERR_LIB_ENTRY(ERR_LIB_CRYPTO), "common libcrypto routines"},
    {ERR_LIB_ENTRY(ERR_LIB_BIO_), "BIO routines"},
    {ERR_LIB_ENTRY(ERR_LIB_PKCS7_), "PKCS7 routines"},
    {ERR_LIB_ENTRY(ERR_LIB_X509V3), "X509 V3 routines"},
    {ERR_LIB_ENTRY(ERR_LIB_PKCS12), "PKCS12 routines"},
    // The system's own.
    {ERR_LIB_ENTRY(ERR_LIB_R3410), "R3410 routines"},
    {ERR_LIB_ENTRY(ERR_LIB_CADB), "CADB routines"},
    {ERR_LIB_ENTRY(ERR_LIB_GREAVE), "Greave routines"},
    {ERR_LIB_ENTRY(ERR_LIB_COUTER), "Couter routines"},
    {ERR_LIB_ENTRY(ERR_LIB_RAND_), "RAND routines"},
    {ERR_LIB_ENTRY(ERR_LIB_ETOKEN), "ETOKEN routines"},
    {ERR_LIB_ENTRY(ERR_LIB_FORM), "FORM routines"},
    {ERR_LIB_ENTRY(ERR_LIB_GOSTE), "GOSTE routines"},
    {ERR_LIB_ENTRY(ERR_LIB_GOSTH), "GOSTH routines"},
    {ERR_LIB_ENTRY(ERR_LIB_PSE), "PSE routines"},
    {ERR_LIB_ENTRY(ERR_LIB_ECGOST), "ECGOST routines"},
    {ERR_LIB_ENTRY(ERR_LIB_SHAMIR), "SHAMIR routines"},
    {ERR_LIB_ENTRY(ERR_LIB_CRMF_), "CRMF routines"},
    {ERR_LIB_ENTRY(ERR_LIB_GOSTS), "GOSTS routines"},
    {ERR_LIB_ENTRY(ERR_LIB_PKCS11), "PKCS11 routines"},
    {ERR_LIB_ENTRY(ERR_LIB_GNIVC), "GNIVC routines"},
    {ERR_LIB_ENTRY(ERR_LIB_RUTOKEN), "RUTOKEN routines"},
    {ERR_LIB_ENTRY(ERR_LIB_KEYCHAIN), "KEYCHAIN routines"},
    // Errors moved over from libcrypto's own queue.
    {ERR_LIB_ENTRY(ERR_LIB_OPENSSL), "OpenSSL routines"},
};

// libcrypto's common reasons that the system's own entries below leave
// standing: a reason equal to a library code names that library.
constexpr ERR_STRING_DATA kStockReasons[] = {
    {ERR_REASON(ERR_LIB_SYS), "system lib"},    {ERR_REASON(ERR_LIB_BN_), "BN lib"},
    {ERR_REASON(ERR_LIB_ASN1_), "ASN1 lib"},    {ERR_REASON(ERR_LIB_CONF), "CONF lib"},
    {ERR_REASON(ERR_LIB_CRYPTO), "CRYPTO lib"}, {ERR_REASON(ERR_LIB_BIO_), "BIO lib"},
};

// The system's common reasons; they take precedence over libcrypto's.
constexpr ERR_STRING_DATA kReasons[] = {
    {ERR_REASON(ERR_R_NESTED_ASN1_ERROR_), "nested asn1 error"},
    {ERR_REASON(ERR_R_BAD_ASN1_OBJECT_HEADER_), "bad asn1 object header"},
    {ERR_REASON(ERR_R_BAD_GET_ASN1_OBJECT_CALL_), "bad get asn1 object call"},
    {ERR_REASON(ERR_R_EXPECTING_AN_ASN1_SEQUENCE_), "expecting an asn1 sequence"},
    {ERR_REASON(ERR_R_ASN1_LENGTH_MISMATCH_), "asn1 length mismatch"},
    {ERR_REASON(ERR_R_MISSING_ASN1_EOS_), "missing asn1 eos"},
    {ERR_REASON(ERR_R_CHECK_RAM_FAILURE), "check RAM failure"},
    {ERR_REASON(ERR_R_SELF_TESTING_ERROR), "self-testing error"},
    {ERR_REASON(ERR_R_INTERNAL), "internal error"},
    {ERR_REASON(ERR_R_MALLOC), "memory alloc failure"},
    {ERR_REASON(ERR_R_SHOULD_NOT_CALL), "called a function you should not call"},
    {ERR_REASON(ERR_R_NULL_PARAMETER), "passed a null parameter"},
    {ERR_REASON(ERR_LIB_CADB), "CADB lib"},
    {ERR_REASON(ERR_LIB_PSE), "PSE lib"},
    {ERR_REASON(ERR_LIB_RAND_), "RAND lib"},
    {ERR_REASON(ERR_LIB_GOSTE), "GOSTE lib"},
    {ERR_REASON(ERR_LIB_GOSTH), "GOSTH lib"},
    {ERR_REASON(ERR_LIB_ECGOST), "ECGOST lib"},
    {ERR_REASON(ERR_LIB_SHAMIR), "SHAMIR lib"},
    {ERR_REASON(ERR_LIB_GOSTS), "GOSTS lib"},
    {ERR_REASON(ERR_LIB_R3410), "R3410 lib"},
    {ERR_REASON(ERR_LIB_ETOKEN), "ETOKEN lib"},
    {ERR_REASON(ERR_LIB_GNIVC), "GNIVC lib"},
    {ERR_REASON(ERR_LIB_OPENSSL), "OpenSSL lib"},
};

ERR_LOAD_FLAG g_err_loaded;

}  // namespace

void ERR_load_ERR_strings() {
    ERR_load_strings_once(g_err_loaded, {{0, kLibraries}, {0, kStockReasons}, {0, kReasons}});
}

}  // namespace cadb
