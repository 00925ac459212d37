#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ecgost_mod_q.h"
#include "crypto/rand/rand.h"

namespace cadb {

int BN_rand_bytes(BIGNUM* r, int n) {
    if (!r || n < 0) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_RAND_BYTES, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (n == 0) {
        BN_zero(r);
        return 1;
    }
    std::vector<unsigned char> buf(static_cast<std::size_t>(n));
    const bool drawn = RAND_bytes(buf.data(), n) == n;
    const bool ok = drawn && BN_bin2bn(buf.data(), n, r) != nullptr;
    OPENSSL_cleanse(buf.data(), buf.size());
    if (!ok) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_RAND_BYTES, drawn ? int{ERR_R_MALLOC} : int{ERR_LIB_RAND_});
        return 0;
    }
    return 1;
}

int BN_rand_below(BIGNUM* r, const BIGNUM* q) {
    if (!r || !q || BN_is_negative(q) || BN_cmp(q, BN_value_one()) <= 0) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_RAND_BELOW, ERR_R_NULL_PARAMETER);
        return 0;
    }
    // Reducing a number of exactly q's length would favour the residues
    // below 2^bits mod q by up to twice; with 64 extra bits no residue is
    // measurably more likely than another. The draw is reduced in the
    // fixed-width arithmetic of signing, by its length rather than its
    // value.
    constexpr int kExtraBytes = 8;
    const int n = BN_num_bytes(q) + kExtraBytes;
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr wide = bn_new();
    if (!ctx || !wide) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_RAND_BELOW, ERR_R_MALLOC);
        return 0;
    }
    BN_set_flags(wide.get(), BN_FLG_CONSTTIME);
    BN_set_flags(r, BN_FLG_CONSTTIME);
    // Zero is drawn again; that happens about once in q draws.
    do {
        if (!BN_rand_bytes(wide.get(), n)) return 0;
        if (!ecgost::reduce_wide_secret(r, wide.get(), n, q, ctx.get())) {
            CADB_ERR(ERR_LIB_BN_, BN_F_BN_RAND_BELOW, ERR_R_MALLOC);
            return 0;
        }
    } while (BN_is_zero(r));
    return 1;
}

}  // namespace cadb
