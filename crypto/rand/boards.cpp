#include "crypto/rand/boards.h"

namespace cadb {

const RAND_METHOD* RAND_get_board_method(int code) {
    switch (code) {
        case RAND_BOARD_CRYPTON:
            return CRYPTON_get_rand_method();
        case RAND_BOARD_ACCORD:
            return ACCORD_get_rand_method();
        case RAND_BOARD_SABLE:
            return SABLE_get_rand_method();
        case RAND_BOARD_OS:
            return OS_get_rand_method();
        default:
            return nullptr;
    }
}

}  // namespace cadb
