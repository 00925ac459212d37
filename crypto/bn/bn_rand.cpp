#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <vector>

#include "crypto/bn/bn_ext.h"
#include "crypto/core/err.h"
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

}  // namespace cadb
