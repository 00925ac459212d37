#include <cstdint>
#include <string_view>

#include "crypto/check/integrity_digest.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "crypto/rus/gosth.h"

namespace cadb {
namespace {

bool hash_word(GOSTH* h, std::int32_t v) {
    const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                 static_cast<unsigned char>(v >> 16),
                                 static_cast<unsigned char>(v >> 24)};
    return GOSTH_update(h, le, 4) == 4;
}

bool hash_text(GOSTH* h, const char* text) {
    if (!text) return true;
    const std::string_view s(text);
    return s.empty() ||
           GOSTH_update(h, s.data(), static_cast<long>(s.size())) == static_cast<long>(s.size());
}

// Identifier, every hex string, then the table's header and points.
bool hash_set(GOSTH* h, const EC_PARAMS& set) {
    bool ok = hash_word(h, set.nid);
    for (const char* text : {set.p, set.a, set.b, set.base, set.q, set.h, set.extra, set.J})
        ok = ok && hash_text(h, text);
    if (set.table) {
        ok = ok && hash_word(h, set.table->bits) && hash_word(h, set.table->w) &&
             hash_word(h, set.table->n);
        for (int i = 0; ok && i < set.table->n; ++i) ok = hash_text(h, set.table->points[i]);
    }
    return ok;
}

int fail() {
    ERR_set_last_error(ERR_CLASS_INTERNAL);
    CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_CHECK_PARAMS, ERR_R_INTERNAL);
    return 0;
}

}  // namespace

int ECGOST_check_params() {
    static RememberedDigest remembered(CRYPTO_LOCK_RAND);
    const bool ok = remembered.check([](GOSTH* h) {
        for (int code = ECURVE_CODE_P256; code <= ECURVE_CODE_TEST; ++code)
            if (!hash_set(h, *ec_params_for_code(code))) return false;
        return hash_set(h, *ec_params_self_test());
    });
    return ok ? 1 : fail();
}

}  // namespace cadb
