// The software generator as a random method.
#include "crypto/rand/grand.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

const RAND_METHOD kGrand{GRAND_gamma_rand_seed,
                         GRAND_rand_bytes,
                         GRAND_cleanup,
                         GRAND_gamma_rand_init,
                         GRAND_info,
                         GRAND_status,
                         0};

}  // namespace

const RAND_METHOD* GRAND_get_method() { return &kGrand; }

}  // namespace cadb
