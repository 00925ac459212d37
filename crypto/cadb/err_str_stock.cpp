// The system's own functions and reasons inside libcrypto's libraries: key
// decoders (ASN1), big-number additions (BN), the generic key layer (EVP) and
// SubjectPublicKeyInfo decoding (X509).
#include <openssl/bnerr.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/cadb/err_str.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/core/err_str.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/shsec/shamir.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kAsn1Functions[] = {
    {ERR_FUNC(ASN1_F_D2I_SHAMIR_SHARED_SECRET_PARAMS), "d2i_SHAMIR_SHARED_SECRET_params"},
    {ERR_FUNC(ASN1_F_D2I_SHAMIR_SHARED_SECRET_POINT), "d2i_SHAMIR_SHARED_SECRET_point"},
    {ERR_FUNC(ASN1_F_D2I_ECGOSTPARAMS), "D2I_ECGOSTPARAMS"},
    {ERR_FUNC(ASN1_F_D2I_ECGOSTPRIVATEKEY), "D2I_ECGOSTPRIVATEKEY"},
    {ERR_FUNC(ASN1_F_D2I_ECGOSTPUBLICKEY), "D2I_ECGOSTPUBLICKEY"},
};

constexpr ERR_STRING_DATA kBnFunctions[] = {
    {ERR_FUNC(BN_F_BN_SQRT), "BN_sqrt"},
    {ERR_FUNC(BN_F_BN_MOD_BINARY_INVERSE), "BN_mod_binary_inverse"},
    {ERR_FUNC(BN_F_BN_RAND_BYTES), "BN_rand_bytes"},
    {ERR_FUNC(BN_F_BN_RAND_BELOW), "BN_rand_below"},
};
// The additions report these two of libcrypto's own big-number reasons.
constexpr ERR_STRING_DATA kBnReasons[] = {
    {ERR_REASON(BN_R_NO_INVERSE), "no inverse"},
    {ERR_REASON(BN_R_NOT_A_SQUARE), "not a square"},
};

constexpr ERR_STRING_DATA kEvpFunctions[] = {
    {ERR_FUNC(GOST_F_EVP_PKCS82PKEY), "EVP_PKCS82PKEY"},
    {ERR_FUNC(GOST_F_EVP_PKEY2PKCS8), "EVP_PKEY2PKCS8"},
    {ERR_FUNC(EVP_PKEY_F_ENCRYPT_OPAQUE), "EVP_PKEY_encrypt_opaque"},
    {ERR_FUNC(EVP_PKEY_F_DECRYPT_OPAQUE), "EVP_PKEY_decrypt_opaque"},
    {ERR_FUNC(EVP_PKEY_F_GENERATE_PUBKEY), "EVP_PKEY_generate_pubkey"},
    {ERR_FUNC(EVP_PKEY_F_LOAD_PRIVATE), "EVP_PKEY_load_private"},
    {ERR_FUNC(EVP_PKEY_F_CHECK_PUBKEY), "EVP_PKEY_check_pubkey"},
};

constexpr ERR_STRING_DATA kX509Functions[] = {
    {ERR_FUNC(GOST_F_X509_PUBKEY_GET), "X509_PUBKEY_get"},
    {ERR_FUNC(X509_F_ASN1_TIME_TO_TM), "ASN1_TIME_to_tm"},
    {ERR_FUNC(X509_F_TIME_TO_GENERALIZED), "TIME_to_generalized"},
    {ERR_FUNC(X509_F_ASN1_TIME_PARSE), "ASN1_TIME_parse"},
};

ERR_LOAD_FLAG g_asn1_loaded;
ERR_LOAD_FLAG g_bn_loaded;
ERR_LOAD_FLAG g_evp_loaded;
ERR_LOAD_FLAG g_x509_loaded;

}  // namespace

void ERR_load_ASN1_strings() {
    ERR_load_strings_once(g_asn1_loaded, {{ERR_LIB_ASN1_, kAsn1Functions}});
}

void ERR_load_BN_strings() {
    ERR_load_strings_once(g_bn_loaded, {{ERR_LIB_BN_, kBnFunctions}, {ERR_LIB_BN_, kBnReasons}});
}

void ERR_load_EVP_strings() {
    ERR_load_strings_once(g_evp_loaded, {{ERR_LIB_EVP_, kEvpFunctions}});
}

void ERR_load_X509_strings() {
    ERR_load_strings_once(g_x509_loaded, {{ERR_LIB_X509_, kX509Functions}});
}

}  // namespace cadb
