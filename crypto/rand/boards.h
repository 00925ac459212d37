// The hardware random boards as random methods: Crypton, Accord and Sable over
// their vendor libraries (loaded by name on first use, usually absent), and
// the kernel's random source as one more board tried after them.
#pragma once

#include <cstdint>

#include "crypto/rand/rand.h"

namespace cadb {

// Function codes the boards report under library 74 (PSE), reason 12.
enum BoardFunc : int {
    GRAND_F_CRYPTON_RAND_BYTES = 112,
    GRAND_F_CRYPTON_RAND_INIT = 113,
    GRAND_F_CRYPTON_RAND_INFO = 114,
    GRAND_F_ACCORD_RAND_BYTES = 115,
    GRAND_F_ACCORD_RAND_INIT = 116,
    GRAND_F_ACCORD_RAND_INFO = 117,
    GRAND_F_SABLE_RAND_BYTES = 118,
    GRAND_F_SABLE_RAND_INIT = 119,
    GRAND_F_SABLE_RAND_INFO = 120,
};

// Board codes of the board list.
enum RandBoard : int {
    RAND_BOARD_CRYPTON = 1,
    RAND_BOARD_ACCORD = 3,
    RAND_BOARD_SABLE = 4,
    RAND_BOARD_OS = 5,
};

// The list start-up walks, ended by 0: the three boards, then the kernel.
inline constexpr int RAND_default_board_list[] = {RAND_BOARD_CRYPTON, RAND_BOARD_ACCORD,
                                                  RAND_BOARD_SABLE, RAND_BOARD_OS, 0};

// Setting this environment variable (to anything but "" or "0") keeps the
// kernel's source from starting, so that key stores are seeded from user
// events as on a machine without a board.
inline constexpr const char* kNoOsRandomEnv = "CADB_NO_OS_RANDOM";

// Crypton's init argument: the second word holds the flags.
struct CRYPTON_INIT_ARG {
    std::uint32_t reserved;
    std::uint32_t flags;
};
enum CryptonFlag : std::uint32_t {
    CRYPTON_HARDWARE_SERVICE = 0x1,
    CRYPTON_LIGHT_SERVICE = 0x2,
    CRYPTON_SERVICE = 0x4,
    CRYPTON_CONTROLLED_RANDOM = 0x8,
};
// The flags the board list starts Crypton with.
constexpr std::uint32_t CRYPTON_DEFAULT_FLAGS =
    CRYPTON_HARDWARE_SERVICE | CRYPTON_CONTROLLED_RANDOM;

// What a board's info slot fills in.
struct RAND_BOARD_INFO {
    std::uint32_t board;    // RandBoard code
    std::uint32_t type;     // driver or device type, 0 when the board has none
    std::uint32_t version;  // driver version, 0 when the board has none
};

const RAND_METHOD* CRYPTON_get_rand_method();
const RAND_METHOD* ACCORD_get_rand_method();
const RAND_METHOD* SABLE_get_rand_method();
const RAND_METHOD* OS_get_rand_method();

// The method of a board code, or null for a code that names no board.
const RAND_METHOD* RAND_get_board_method(int code);

}  // namespace cadb
