// The key store's random generator: started from a random board, from the
// store's saved state (a 36-byte block under the store's key-encryption key),
// or from user events; its next state saved after each use, so that a saved
// state starts the generator only once.
//
// Every function holds the random layer's lock across its method changes.
#pragma once

#include "crypto/pse/pse.h"
#include "crypto/rand/grand.h"

namespace cadb {

// Function codes of the key store's table, library 74 (PSE).
enum PseRandFunc : int {
    PSE_F_PSE_RAND_INIT = 114,
    PSE_F_PSE_RAND_SAVE_STATE = 115,
    PSE_F_PSE_RAND_DEVICE = 116,
};

// Size of a saved generator state: 32 bytes, encrypted and MACed.
constexpr int PSE_RAND_STATE_SIZE = 36;

// 1 when a random method is current and ready; else 0 with error class 4.
int PSE_rand_is_ready();

// Fills out with len bytes from the first board of list (ended by 0; null:
// RAND_default_board_list) that starts and draws, and leaves that board
// current, remembering its code. When a method is already ready, out is
// filled from it. Boards that fail leave no error behind; with none the
// method is unset and 0 returned.
int PSE_rand_device(const int* list, unsigned char* out, int len);

// Seeds the software generator with 32 bytes from a board of list and makes
// it current. 1 at once when a method is already ready; 0 with no method
// current when no board serves.
int PSE_rand_init_device(const int* list);

// Starts the software generator when no method is ready: from state36 when
// it decrypts under pse's key-encryption key, else through the seeding
// routine with seed_cb. With pse, state36 and out_len given, state36 is
// replaced by the generator's next state and *out_len set to 36 (0 when
// nothing was written). On failure no method is current.
int PSE_rand_init(PSE* pse, unsigned char* state36, int* out_len, GRAND_CHAR_CB seed_cb,
                  void* seed_arg);

// Writes a fresh state, encrypted under pse's key-encryption key, to out36.
int PSE_rand_save_state(PSE* pse, unsigned char* out36);

// Releases the current method, leaves none current and forgets the board.
void PSE_rand_cleanup();

// Code of the board that last served PSE_rand_device, 0 when none.
int PSE_rand_board();

}  // namespace cadb
