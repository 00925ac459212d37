// The generator's pseudo-random function: each 32-byte piece of output is the
// hash of the input followed by a fresh time hash, so that equal inputs at
// different moments give different outputs.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/rand/grand.h"
#include "crypto/rus/gosth.h"

namespace cadb {
namespace {

bool hash_piece(const unsigned char* in, std::size_t in_len, const unsigned char* stamp,
                unsigned char* out32) {
    GOSTH h;
    if (!GOSTH_init(&h, nullptr, nullptr)) return false;
    for (std::size_t done = 0; done < in_len;) {
        const std::size_t piece = std::min<std::size_t>(in_len - done, 1UL << 30);
        if (GOSTH_update(&h, in + done, static_cast<long>(piece)) != static_cast<long>(piece))
            return false;
        done += piece;
    }
    return GOSTH_update(&h, stamp, GOSTH_DIGEST_LENGTH) == GOSTH_DIGEST_LENGTH &&
           GOSTH_final(&h, out32) == GOSTH_DIGEST_LENGTH;
}

}  // namespace

int GRAND_prf(const unsigned char* in, std::size_t in_len, unsigned char* out,
              std::size_t out_len) {
    if (out == nullptr || (in == nullptr && in_len > 0)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_PSE, GRAND_F_GRAND_PRF, ERR_LIB_RAND_);
        return 0;
    }
    unsigned char stamp[GOSTH_DIGEST_LENGTH];
    unsigned char piece[GOSTH_DIGEST_LENGTH];
    bool ok = true;
    for (std::size_t done = 0; ok && done < out_len; done += GOSTH_DIGEST_LENGTH) {
        ok = GRAND_time_hash(stamp, GRAND_cycles(), nullptr, 0) != nullptr &&
             hash_piece(in, in_len, stamp, piece);
        if (ok) std::memcpy(out + done, piece, std::min<std::size_t>(out_len - done, sizeof piece));
    }
    OPENSSL_cleanse(stamp, sizeof stamp);
    OPENSSL_cleanse(piece, sizeof piece);
    if (!ok) {
        OPENSSL_cleanse(out, out_len);
        ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
        CADB_ERR(ERR_LIB_PSE, GRAND_F_GRAND_PRF, ERR_LIB_RAND_);
        return 0;
    }
    return 1;
}

}  // namespace cadb
