#include <openssl/bn.h>

#include <ctime>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "crypto/ecgost/ecgost.h"

namespace cadb {
namespace {

constexpr std::uint32_t kSelfTestMarker = 0x682796E2;

struct DhDeleter {
    void operator()(ECDH* dh) const { ECDH_free(dh); }
};
using DhPtr = std::unique_ptr<ECDH, DhDeleter>;

// Whether this second's run is still due; the first caller of a second
// claims it.
bool due_now() {
    static std::time_t last_run = 0;
    const std::time_t now = std::time(nullptr);
    LockGuard g(CRYPTO_LOCK_SELF_TEST);
    if (now <= last_run) return false;
    last_run = now;
    return true;
}

bool two_parties_agree() {
    EcCurvePtr c(ECURVE_new_from_params(ec_params_self_test()));
    if (!c) return false;
    DhPtr a(ECDH_new(c.get(), ECDH_COFACTOR_COMPATIBLE));
    DhPtr b(ECDH_new(c.get(), ECDH_COFACTOR_COMPATIBLE));
    if (!a || !b) return false;
    a->marker = b->marker = kSelfTestMarker;
    if (!ECDH_generate_key(a.get()) || !ECDH_generate_key(b.get()) ||
        !ECDH_compute_key(b->pub.get(), a.get()) || !ECDH_compute_key(a->pub.get(), b.get()))
        return false;
    BnPtr sa(ECDH_get_result(a.get())), sb(ECDH_get_result(b.get()));
    return sa && sb && BN_num_bytes(sa.get()) == BN_num_bytes(sb.get()) &&
           BN_cmp(sa.get(), sb.get()) == 0;
}

}  // namespace

int ECGOST_DH_check(const ECDH* dh) {
    if ((dh && dh->marker == kSelfTestMarker) || !due_now()) return 1;
    if (ECGOST_check_params() && two_parties_agree()) return 1;
    ERR_set_last_error(ERR_CLASS_INTERNAL);
    CADB_ERR(ERR_LIB_GOSTS, GOSTS_F_ECGOST_DH_CHECK, ERR_R_SELF_TESTING_ERROR);
    return 0;
}

ECDH* ECGOST_DH_init(ECURVE* c, int mode) {
    if (!ECGOST_DH_check(nullptr)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_INIT, ERR_LIB_ECGOST);
        return nullptr;
    }
    ECDH* dh = ECDH_new(c, mode);
    if (!dh) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DH_INIT, ERR_LIB_ECGOST);
    return dh;
}

}  // namespace cadb
