// The names of the message engine's functions and the texts of its reasons.
#include "crypto/pkcs7/p7_err.h"

#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(P7_F_PKCS7_DATAINIT), "PKCS7_dataInit"},
    {ERR_FUNC(P7_F_PKCS7_DATASIGN), "PKCS7_DATASIGN"},
    {ERR_FUNC(P7_F_PKCS7_DATADECODE), "PKCS7_dataDecode"},
    {ERR_FUNC(P7_F_PKCS7_SIGNATUREVERIFY), "PKCS7_signatureVerify"},
    {ERR_FUNC(P7_F_X942_KEK_GENERATE), "X942_KEK_GENERATE"},
    {ERR_FUNC(P7_F_CMS_3DES_WRAP), "CMS_3des_wrap"},
    {ERR_FUNC(P7_F_CMS_3DES_UNWRAP), "CMS_3des_unwrap"},
    {ERR_FUNC(P7_F_CMS_GOST_WRAP), "CMS_gost_wrap"},
    {ERR_FUNC(P7_F_CMS_GOST_UNWRAP), "CMS_gost_unwrap"},
    {ERR_FUNC(P7_F_CMS_DUMMY_WRAP), "CMS_dummy_wrap"},
    {ERR_FUNC(P7_F_CMS_DUMMY_UNWRAP), "CMS_dummy_unwrap"},
    {ERR_FUNC(P7_F_PKCS7_CEK_ENCRYPT), "PKCS7_CEK_ENCRYPT"},
    {ERR_FUNC(P7_F_PKCS7_CEK_DECRYPT), "PKCS7_CEK_DECRYPT"},
    {ERR_FUNC(P7_F_PKCS7_CEK_ENCRYPT_GOST), "PKCS7_CEK_ENCRYPT_gost"},
    {ERR_FUNC(P7_F_PKCS7_CEK_DECRYPT_GOST), "PKCS7_CEK_DECRYPT_gost"},
    {ERR_FUNC(P7_F_PKCS7_GET_INNER_TYPE), "PKCS7_get_inner_type"},
    {ERR_FUNC(P7_F_X509_GET_DIGEST), "X509_get_digest"},
    {ERR_FUNC(P7_F_PKCS7_ADD_SIGNING_CERT), "PKCS7_add_signing_cert"},
    {ERR_FUNC(P7_F_PKCS7_GET_COUNTER_SIGNATURES), "PKCS7_get_counter_signatures"},
    {ERR_FUNC(P7_F_PKCS7_GET_SIGNATURE_VALUE), "PKCS7_get_signature_value"},
    {ERR_FUNC(P7_F_PKCS7_GET_SIGNATURE_COMMENT), "PKCS7_get_signature_comment"},
    {ERR_FUNC(P7_F_X509_ATTRIBUTES_ADD_VALUE), "X509_ATTRIBUTES_add_value"},
    {ERR_FUNC(P7_F_I2D_PKCS7), "i2d_PKCS7"},
    {ERR_FUNC(P7_F_D2I_PKCS7), "d2i_PKCS7"},
    {ERR_FUNC(P7_F_PKCS7_RECIP_INFO_NEW), "PKCS7_RECIP_INFO_new"},
    {ERR_FUNC(P7_F_D2I_PKCS7_RECIP_INFO), "d2i_PKCS7_RECIP_INFO"},
    {ERR_FUNC(P7_F_PKCS7_SET_CONTENT), "PKCS7_set_content"},
    {ERR_FUNC(P7_F_PKCS7_ADD_SIGNATURE), "PKCS7_add_signature"},
    {ERR_FUNC(P7_F_PKCS7_ADD_RECIPIENT), "PKCS7_add_recipient"},
    {ERR_FUNC(P7_F_PKCS7_SET_CIPHER), "PKCS7_set_cipher"},
    {ERR_FUNC(P7_F_PKCS7_SET_TYPE), "PKCS7_set_type"},
    {ERR_FUNC(P7_F_PKCS5_PBKDF2_HMAC_MD), "PKCS5_PBKDF2_HMAC_md"},
    {ERR_FUNC(P7_F_CMS_NEW), "CMS_new"},
    {ERR_FUNC(P7_F_CMS_SET_TYPE), "CMS_set_type"},
    {ERR_FUNC(P7_F_CMS_UPDATE), "CMS_update"},
    {ERR_FUNC(P7_F_CMS_FINAL), "CMS_final"},
    {ERR_FUNC(P7_F_CMS_SIGNATURE_NEW), "CMS_signature_new"},
    {ERR_FUNC(P7_F_CMS_RECIPIENT_NEW), "CMS_recipient_new"},
    {ERR_FUNC(P7_F_CMS_GET_TYPE), "CMS_get_type"},
    {ERR_FUNC(P7_F_CMS_SAVE_CONTENT), "CMS_save_content"},
    {ERR_FUNC(P7_F_CMS_VERIFY), "CMS_verify"},
    {ERR_FUNC(P7_F_CMS_DECRYPT), "CMS_decrypt"},
    {ERR_FUNC(P7_F_CMS_GET), "CMS_get"},
    {ERR_FUNC(P7_F_CMS_GET_CONTENT), "CMS_get_content"},
    {ERR_FUNC(P7_F_CMS_ADD_SIGNATURE), "CMS_add_signature"},
    {ERR_FUNC(P7_F_CMS_SET_CIPHER), "CMS_set_cipher"},
    {ERR_FUNC(P7_F_CMS_ENCRYPTED_SET_PASSWORD), "CMS_encrypted_set_password"},
    {ERR_FUNC(P7_F_CMS_PASSWD2KEY), "CMS_passwd2key"},
    {ERR_FUNC(P7_F_CMS_DIGESTED_SET_MD), "CMS_digested_set_md"},
    {ERR_FUNC(P7_F_CMS_UNCOMPRESS), "CMS_uncompress"},
};

// Reasons 6, 12, 13, 32, 33 and 69 print the common texts every library
// shares.
constexpr ERR_STRING_DATA kReasons[] = {
    {ERR_REASON(P7_R_DECRYPTED_KEY_IS_WRONG_LENGTH), "decrypted key is wrong length"},
    {ERR_REASON(P7_R_DIGEST_FAILURE), "digest failure"},
    {ERR_REASON(P7_R_INTERNAL_ERROR), "internal error"},
    {ERR_REASON(P7_R_SIGNATURE_FAILURE), "signature failure"},
    {ERR_REASON(P7_R_UNABLE_TO_FIND_MEM_BIO), "unable to find mem bio"},
    {ERR_REASON(P7_R_UNABLE_TO_FIND_MESSAGE_DIGEST), "unable to find message digest"},
    {ERR_REASON(P7_R_UNKNOWN_DIGEST_TYPE), "unknown digest type"},
    {ERR_REASON(P7_R_UNSUPPORTED_CIPHER_TYPE), "unsupported cipher type"},
    {ERR_REASON(P7_R_UNSUPPORTED_CONTENT_TYPE), "unsupported content type"},
    {ERR_REASON(P7_R_WRONG_PKCS7_TYPE), "wrong pkcs7 type"},
    {ERR_REASON(P7_R_NO_RECIPIENT_MATCHES_CERTIFICATE), "no recipient matches certificate"},
    {ERR_REASON(P7_R_RECIPIENT_LIST_IS_EMPTY), "recipient list is empty"},
    {ERR_REASON(P7_R_PRIVATE_KEY_NOT_FOUND), "private key was not found"},
    {ERR_REASON(P7_R_CIPHER_NOT_INITIALIZED), "cipher not initialized"},
    {ERR_REASON(P7_R_INTEGRITY_CHECK_FAILURE), "integrity check value failure"},
};

ERR_LOAD_FLAG g_loaded;

}  // namespace

void ERR_load_PKCS7_strings() {
    ERR_load_strings_once(g_loaded, {{ERR_LIB_PKCS7_, kFunctions}, {ERR_LIB_PKCS7_, kReasons}});
}

}  // namespace cadb
