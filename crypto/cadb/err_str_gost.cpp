// Error strings of the GOST algorithm libraries: GOST 28147-89 and
// GOST R 34.11-94 (GOSTE, GOSTH), GOST R 34.10-2001 (ECGOST) and
// GOST R 34.10-94 (R3410 for parameters and key forms, GOSTS for the key
// record, signatures and agreement).
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/r3410/r3410.h"
#include "crypto/rus/goste.h"

namespace cadb {
namespace {

// 114 (counter-mode init) and 115 (the table digest) have no names.
constexpr ERR_STRING_DATA kGosteFunctions[] = {
    {ERR_FUNC(GOSTE_F_GOSTE_NEW), "GOSTE_new"},
    {ERR_FUNC(GOSTE_F_GOSTH_NEW), "GOSTH_new"},
    {ERR_FUNC(GOSTE_F_GOSTE_SS_CHECK), "GOSTE_ss_check"},
    {ERR_FUNC(GOSTE_F_GOSTE_GAMMA_CHECK), "GOSTE_gamma_check"},
    {ERR_FUNC(GOSTE_F_GOSTE_GAMMA_FB_CHECK), "GOSTE_gamma_fb_check"},
    {ERR_FUNC(GOSTE_F_GOSTE_MAC_CHECK), "GOSTE_mac_check"},
    {ERR_FUNC(GOSTE_F_GOSTH_CHECK), "GOSTH_check"},
    {ERR_FUNC(GOSTE_F_GOSTE_SS_UPDATE), "GOSTE_ss_update"},
    {ERR_FUNC(GOSTE_F_GOSTE_GAMMA_UPDATE), "GOSTE_gamma_update"},
    {ERR_FUNC(GOSTE_F_GOSTE_GAMMA_FBE_UPDATE), "GOSTE_gamma_fbe_update"},
    {ERR_FUNC(GOSTE_F_GOSTE_GAMMA_FBD_UPDATE), "GOSTE_gamma_fbd_update"},
    {ERR_FUNC(GOSTE_F_GOSTE_MAC_FINAL), "GOSTE_mac_final"},
    {ERR_FUNC(GOSTE_F_GOSTH_FINAL), "GOSTH_final"},
    {ERR_FUNC(GOSTE_F_GOSTE_MAC_UPDATE), "GOSTE_mac_update"},
};
constexpr ERR_STRING_DATA kGosteReasons[] = {
    {ERR_REASON(GOSTE_R_MAC_TOO_SHORT), "MAC is too short"},
};
// The hash self test reports under the hash's own library.
constexpr ERR_STRING_DATA kGosthFunctions[] = {
    {ERR_FUNC(GOSTE_F_GOSTH_CHECK), "GOSTH_check"},
};

constexpr ERR_STRING_DATA kEcgostFunctions[] = {
    {ERR_FUNC(ECGOST_F_ECGOST_NEW), "ECGOST_new"},
    {ERR_FUNC(ECGOST_F_ECGOST_SIG_NEW), "ECGOST_SIG_new"},
    {ERR_FUNC(ECGOST_F_D2I_ECGOST_SIG), "d2i_ECGOST_SIG"},
    {ERR_FUNC(ECGOST_F_ECURVE_SET), "ECURVE_set"},
    {ERR_FUNC(ECGOST_F_ECURVE_NEW), "ECURVE_new"},
    {ERR_FUNC(ECGOST_F_ECDH_GENERATE_KEY), "ECDH_generate_key"},
    {ERR_FUNC(ECGOST_F_ECDH_COMPUTE_KEY), "ECDH_compute_key"},
    {ERR_FUNC(ECGOST_F_ECDH_NEW), "ECDH_new"},
    {ERR_FUNC(ECGOST_F_ECGOST_KEY_PAIR_GENERATION), "ECGOST_key_pair_generation"},
    {ERR_FUNC(ECGOST_F_ECPOINT_NEW), "ECPOINT_new"},
    {ERR_FUNC(ECGOST_F_ECPOINT_DUP), "ECPOINT_dup"},
    {ERR_FUNC(ECGOST_F_ECPOINT_COPY), "ECPOINT_copy"},
    {ERR_FUNC(ECGOST_F_ECPOINT_TO_AFFINE), "ECPOINT_to_affine"},
    {ERR_FUNC(ECGOST_F_ECPOINT_GET_X), "ECPOINT_get_x"},
    {ERR_FUNC(ECGOST_F_ECPOINT_NORMALIZE), "ECPOINT_normalize"},
    {ERR_FUNC(ECGOST_F_ECPOINT_DERIVE), "ECPOINT_derive"},
    {ERR_FUNC(ECGOST_F_ECPOINT_HEX2POINT), "ECPOINT_hex2point"},
    {ERR_FUNC(ECGOST_F_ECPOINT_BI2POINT), "ECPOINT_bi2point"},
    {ERR_FUNC(ECGOST_F_ECPOINT_POINT2BIN), "ECPOINT_point2bin"},
    {ERR_FUNC(ECGOST_F_ECPOINT_SET_INFINITY), "ECPOINT_set_infinity"},
    {ERR_FUNC(ECGOST_F_ECPOINT_AFFINE_DOUBLE), "ECPOINT_affine_double"},
    {ERR_FUNC(ECGOST_F_ECPOINT_AFFINE_ADD), "ECPOINT_affine_add"},
    {ERR_FUNC(ECGOST_F_ECPOINT_PROJECTIVE_DOUBLE), "ECPOINT_projective_double"},
    {ERR_FUNC(ECGOST_F_ECPOINT_PROJECTIVE_ADD), "ECPOINT_projective_add"},
    {ERR_FUNC(ECGOST_F_ECPOINT_MUL), "ECPOINT_mul"},
    {ERR_FUNC(ECGOST_F_ECGOST_SIGN_SETUP), "ECGOST_sign_setup"},
    // The system's table has this text for ECGOST_do_sign; kept as it prints.
    {ERR_FUNC(ECGOST_F_ECGOST_DO_SIGN), "ECGOST_do_signDO_SIGN"},
    {ERR_FUNC(ECGOST_F_ECPOINT_LIES), "ECPOINT_lies"},
    {ERR_FUNC(ECGOST_F_ECGOST_IS_PUBKEY_VALID), "ECGOST_is_pubkey_valid"},
    {ERR_FUNC(ECGOST_F_ECURVE_GET_COEFFICIENTS), "ECURVE_get_coefficients"},
    {ERR_FUNC(ECGOST_F_ECGOST_DO_VERIFY), "ECGOST_do_verify"},
    {ERR_FUNC(ECGOST_F_ECGOST_DH_INIT), "ECGOST_DH_init"},
    {ERR_FUNC(ECGOST_F_ECGOST_DH_GENERATE_KEY), "ECGOST_DH_generate_key"},
    {ERR_FUNC(ECGOST_F_ECGOST_DH_COMPUTE_KEY), "ECGOST_DH_compute_key"},
    {ERR_FUNC(ECGOST_F_ECURVE_INIT), "ECURVE_init"},
    {ERR_FUNC(ECGOST_F_ECGOST_GENERATE_KEY), "ECGOST_generate_key"},
    {ERR_FUNC(ECGOST_F_I2D_ECGOST_SIG), "i2d_ECGOST_SIG"},
    {ERR_FUNC(ECGOST_F_ECGOST_GENERATE_PUBKEY), "ECGOST_generate_pubkey"},
    {ERR_FUNC(ECGOST_F_ECGOST_ENCRYPT_OPAQUE), "ECGOST_encrypt_opaque"},
    {ERR_FUNC(ECGOST_F_ECGOST_DECRYPT_OPAQUE), "ECGOST_decrypt_opaque"},
    {ERR_FUNC(ECGOST_F_ECPOINT_FBW_NEW), "ECPOINT_FBW_new"},
    {ERR_FUNC(ECGOST_F_ECGOST_CHECK_PARAMS), "ECGOST_check_params"},
};
// 107 (a given k that reduces to zero) has no text.
constexpr ERR_STRING_DATA kEcgostReasons[] = {
    {ERR_REASON(ECGOST_R_INVALID_PARAMETERS), "invalid parameters"},
    {ERR_REASON(ECGOST_R_ZERO_R), "zero r"},
    {ERR_REASON(ECGOST_R_R_TOO_BIG), "r is too big"},
    {ERR_REASON(ECGOST_R_ZERO_S), "zero s"},
    {ERR_REASON(ECGOST_R_S_TOO_BIG), "s is too big"},
    {ERR_REASON(ECGOST_R_SIGNATURE_FAILURE), "signature failure"},
    {ERR_REASON(ECGOST_R_UNSUPPORTED_FIELD_TYPE), "unsupported field type"},
};

constexpr ERR_STRING_DATA kR3410Functions[] = {
    {ERR_FUNC(R3410_F_R3410_GEN_PARAMS), "R3410_gen_params"},
    {ERR_FUNC(R3410_F_R3410_PROC_A), "R3410_proc_A"},
    {ERR_FUNC(R3410_F_R3410_PROC_B), "R3410_proc_B"},
    {ERR_FUNC(R3410_F_R3410_PROC_C), "R3410_proc_C"},
    {ERR_FUNC(R3410_F_R3410_SET_PARAMS), "R3410_set_params"},
    {ERR_FUNC(R3410_F_R3410_IS_PRIME), "R3410_is_prime"},
    {ERR_FUNC(R3410_F_R3410_TEST_PRIME), "R3410_test_prime"},
    {ERR_FUNC(R3410_F_I2D_R3410_SIG), "i2d_R3410_SIG"},
    {ERR_FUNC(R3410_F_D2I_R3410_SIG), "d2i_R3410_SIG"},
    {ERR_FUNC(R3410_F_I2D_R3410PARAMS), "I2D_R3410PARAMS"},
    {ERR_FUNC(R3410_F_D2I_R3410PARAMS), "D2I_R3410PARAMS"},
    {ERR_FUNC(R3410_F_I2D_R3410PRIVATEKEY), "I2D_R3410PRIVATEKEY"},
    {ERR_FUNC(R3410_F_D2I_R3410PRIVATEKEY), "D2I_R3410PRIVATEKEY"},
    {ERR_FUNC(R3410_F_I2D_R3410PUBLICKEY), "I2D_R3410PUBLICKEY"},
    {ERR_FUNC(R3410_F_D2I_R3410PUBLICKEY), "D2I_R3410PUBLICKEY"},
    {ERR_FUNC(R3410_F_R3410_GENERATE_PUBKEY), "R3410_generate_pubkey"},
    {ERR_FUNC(R3410_F_R3410_ENCRYPT_OPAQUE), "R3410_encrypt_opaque"},
    {ERR_FUNC(R3410_F_R3410_DECRYPT_OPAQUE), "R3410_decrypt_opaque"},
    {ERR_FUNC(R3410_F_R3410_GENERATE_KEY), "R3410_generate_key"},
    {ERR_FUNC(R3410_F_R3410_SET_PSE), "R3410_set_pse"},
};
// Shared by both GOST R 34.10-94 libraries.
constexpr ERR_STRING_DATA kR3410Reasons[] = {
    {ERR_REASON(R3410_R_INVALID_LENGTH_OF_P_AND_Q), "invalid length of 'p' and/or 'q'"},
    {ERR_REASON(R3410_R_S_IS_ZERO), "'s' is zero"},
    {ERR_REASON(R3410_R_R_IS_ZERO), "'r' is zero"},
    {ERR_REASON(R3410_R_S_TOO_BIG), "'s' is greater or equal to 'q'"},
    {ERR_REASON(R3410_R_R_TOO_BIG), "'r' is greater or equal to 'q'"},
    {ERR_REASON(R3410_R_INVALID_PRIVATE_KEY), "invalid private key"},
};

constexpr ERR_STRING_DATA kGostsFunctions[] = {
    {ERR_FUNC(GOSTS_F_GOSTS_NEW), "GOSTS_new"},
    {ERR_FUNC(GOSTS_F_GOSTS_SIGN), "GOSTS_sign"},
    {ERR_FUNC(GOSTS_F_GOSTS_VERIFY), "GOSTS_verify"},
    {ERR_FUNC(GOSTS_F_GOSTS_DO_SIGN), "GOSTS_do_sign"},
    {ERR_FUNC(GOSTS_F_GOSTS_DO_VERIFY), "GOSTS_do_verify"},
    {ERR_FUNC(GOSTS_F_GOSTS_SIGN_SETUP), "GOSTS_sign_setup"},
    {ERR_FUNC(GOSTS_F_GOSTS_GENERATE_PUBKEY), "GOSTS_generate_pubkey"},
    {ERR_FUNC(GOSTS_F_R3410_SIG_NEW), "R3410_SIG_new"},
    {ERR_FUNC(GOSTS_F_D2I_GOSTS_SIG), "d2i_GOSTS_SIG"},
    {ERR_FUNC(GOSTS_F_I2D_GOSTS_SIG), "i2d_GOSTS_SIG"},
    {ERR_FUNC(GOSTS_F_R3410_DUP_DH), "R3410_dup_DH"},
    {ERR_FUNC(GOSTS_F_R3410_DH_GENERATE_KEY), "R3410_DH_generate_key"},
    {ERR_FUNC(GOSTS_F_R3410_DH_COMPUTE_KEY), "R3410_DH_compute_key"},
    {ERR_FUNC(GOSTS_F_R3410_DH_CHECK), "R3410_DH_check"},
    {ERR_FUNC(GOSTS_F_ECGOST_DH_CHECK), "ECGOST_DH_check"},
};
constexpr ERR_STRING_DATA kGostsReasons[] = {
    {ERR_REASON(GOSTS_R_INVALID_K), "invalid k"},
    {ERR_REASON(GOSTS_R_INVALID_LENGTH_OF_P), "invalid length of p"},
    {ERR_REASON(GOSTS_R_INVALID_DOMAIN_PARAMETERS), "invalid domain parameters"},
};

ERR_LOAD_FLAG g_goste_loaded;
ERR_LOAD_FLAG g_ecgost_loaded;
ERR_LOAD_FLAG g_r3410_loaded;
ERR_LOAD_FLAG g_gosts_loaded;

}  // namespace

void ERR_load_GOSTE_strings() {
    ERR_load_strings_once(g_goste_loaded, {{ERR_LIB_GOSTE, kGosteFunctions},
                                           {ERR_LIB_GOSTE, kGosteReasons},
                                           {ERR_LIB_GOSTH, kGosthFunctions}});
}

void ERR_load_ECGOST_strings() {
    ERR_load_strings_once(g_ecgost_loaded,
                          {{ERR_LIB_ECGOST, kEcgostFunctions}, {ERR_LIB_ECGOST, kEcgostReasons}});
}

void ERR_load_R3410_strings() {
    ERR_load_strings_once(g_r3410_loaded,
                          {{ERR_LIB_R3410, kR3410Functions}, {ERR_LIB_R3410, kR3410Reasons}});
}

void ERR_load_GOSTS_strings() {
    ERR_load_strings_once(g_gosts_loaded, {{ERR_LIB_GOSTS, kGostsFunctions},
                                           {ERR_LIB_GOSTS, kR3410Reasons},
                                           {ERR_LIB_GOSTS, kGostsReasons}});
}

}  // namespace cadb
