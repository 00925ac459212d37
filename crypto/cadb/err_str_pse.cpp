// Error strings of the key store's library (PSE), the random layer (RAND) and
// secret sharing (SHAMIR).
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/boards.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/shsec/shamir.h"

namespace cadb {
namespace {

// The software generator and the boards report under this library with
// codes of their own, most of which the key store's functions use too: those
// print the key store's name. The few codes only they use carry their names.
constexpr ERR_STRING_DATA kPseFunctions[] = {
    {ERR_FUNC(PSE_F_PSE_NEW), "PSE_new"},
    {ERR_FUNC(PSE_F_PSE_DECRYPT32), "PSE_decrypt32"},
    {ERR_FUNC(PSE_F_PSE_ENCRYPT32), "PSE_encrypt32"},
    {ERR_FUNC(PSE_F_PSE_KEY32_GENERATE), "PSE_key32_generate"},
    {ERR_FUNC(PSE_F_PSE_READ_OPAQUE), "PSE_read_opaque"},
    {ERR_FUNC(PSE_F_PSE_WRITE_OPAQUE), "PSE_write_opaque"},
    {ERR_FUNC(GRAND_F_GRAND_GAMMA_RAND_SEED), "GRAND_gamma_rand_seed"},
    {ERR_FUNC(PSE_F_PSE_LOAD_MKEY), "PSE_load_mkey"},
    {ERR_FUNC(PSE_F_PSE_GENERATE_KEK), "PSE_generate_kek"},
    {ERR_FUNC(PSE_F_PSE_LOAD_KEK), "PSE_load_kek"},
    {ERR_FUNC(PSE_F_PSE_RAND_INIT), "PSE_rand_init"},
    {ERR_FUNC(PSE_F_PSE_RAND_SAVE_STATE), "PSE_rand_save_state"},
    {ERR_FUNC(PSE_F_PSE_RAND_DEVICE), "PSE_rand_device"},
    {ERR_FUNC(GRAND_F_ACCORD_RAND_INFO), "ACCORD_rand_info"},
    {ERR_FUNC(PSE_F_PSE_SAVE_MKEY), "PSE_save_mkey"},
    {ERR_FUNC(PSE_F_PSE_FINGER_PRINT), "PSE_finger_print"},
    {ERR_FUNC(GRAND_F_SABLE_RAND_INFO), "SABLE_rand_info"},
};
constexpr ERR_STRING_DATA kPseReasons[] = {
    {ERR_REASON(PSE_R_INVALID_MAC), "invalid MAC"},
};

constexpr ERR_STRING_DATA kRandFunctions[] = {
    {ERR_FUNC(RAND_F_RAND_CLEANUP), "RAND_cleanup"},
    {ERR_FUNC(RAND_F_RAND_BYTES_), "RAND_bytes"},
    {ERR_FUNC(RAND_F_RAND_SEED), "RAND_seed"},
    {ERR_FUNC(RAND_F_RAND_INIT), "RAND_init"},
    {ERR_FUNC(RAND_F_RAND_OPERATIONAL_CHECK), "RAND_operational_check"},
    {ERR_FUNC(RAND_F_OS_RAND_BYTES), "OS_rand_bytes"},
    {ERR_FUNC(RAND_F_OS_RAND_INIT), "OS_rand_init"},
};
constexpr ERR_STRING_DATA kRandReasons[] = {
    {ERR_REASON(RAND_R_METHOD_NOT_SET), "method not set"},
    {ERR_REASON(RAND_R_FIFO_REQUIRED), "FIFO required"},
    {ERR_REASON(RAND_R_OPERATIONAL_CHECK_FAILED), "operational check failed"},
};

constexpr ERR_STRING_DATA kShamirFunctions[] = {
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_NEW), "SHAMIR_SHARED_SECRET_new"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_ADD_POINT), "SHAMIR_SHARED_SECRET_add_point"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT), "SHAMIR_SHARED_SECRET_get_point"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET), "SHAMIR_SHARED_SECRET_get_secret"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_INIT), "SHAMIR_SHARED_SECRET_init"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_POINT_TO_ASN1), "SHAMIR_SHARED_SECRET_POINT_to_asn1"},
    {ERR_FUNC(SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1), "SHAMIR_SHARED_SECRET_PARAMS_to_asn1"},
};

ERR_LOAD_FLAG g_pse_loaded;
ERR_LOAD_FLAG g_rand_loaded;
ERR_LOAD_FLAG g_shamir_loaded;

}  // namespace

void ERR_load_PSE_strings() {
    ERR_load_strings_once(g_pse_loaded, {{ERR_LIB_PSE, kPseFunctions}, {ERR_LIB_PSE, kPseReasons}});
}

void ERR_load_RAND_strings() {
    ERR_load_strings_once(g_rand_loaded,
                          {{ERR_LIB_RAND_, kRandFunctions}, {ERR_LIB_RAND_, kRandReasons}});
}

void ERR_load_SHAMIR_strings() {
    ERR_load_strings_once(g_shamir_loaded, {{ERR_LIB_SHAMIR, kShamirFunctions}});
}

}  // namespace cadb
