// The GOST software generator: a GOST 28147-89 counter-mode keystream whose
// key and start value come from a pseudo-random function over GOST R 34.11-94
// hashes of seed material and time stamps. It is seeded from a board's bytes,
// from a key store's saved state, or from user events collected by a seeding
// routine that the user-interface library can replace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/rand/rand.h"

namespace cadb {

// Function codes of the generator, reported under library 74 (PSE).
enum GrandFunc : int {
    GRAND_F_GRAND_RAND_INIT = 107,
    GRAND_F_GRAND_RAND_BYTES = 108,
    GRAND_F_GRAND_PRF = 109,
    GRAND_F_GRAND_GAMMA_RAND_SEED = 110,
    GRAND_F_GRAND_GAMMA_RAND_INIT = 111,
};

constexpr int GRAND_SEED_SIZE = 32;
// Size of the generator's output buffer, and so of each keystream refill.
constexpr int GRAND_BUFFER_SIZE = 8192;
// Events the generator asks a seeding routine for.
constexpr int GRAND_EVENTS_NEEDED = 40;
// The entropy estimate of the event timings must reach this many bits.
constexpr int GRAND_QUALITY_BITS = 259;
// Most events a seed record keeps for the quality estimate; a seeding routine
// may not ask for more.
constexpr int GRAND_MAX_EVENTS = 1024;
// Total the keyboard routine reports to its character callback.
constexpr int GRAND_KEYBOARD_TOTAL = 16;
// Prompts the keyboard routine makes per event asked for before it gives up on
// a callback that never answers as asked.
constexpr int GRAND_KEYBOARD_PROMPTS_PER_EVENT = 10;

// What a seeding routine fills: each accepted event's time stamp is hashed
// into the accumulator and kept for the quality estimate. Wiped on
// destruction.
struct GRAND_SEED {
    unsigned char accumulator[GRAND_SEED_SIZE]{};
    int size = GRAND_SEED_SIZE;
    std::array<std::uint32_t, GRAND_MAX_EVENTS>
        events{};  // low 32 bits of each event's cycle count
    int event_count = 0;
    int quality = 0;  // set once the estimate reached GRAND_QUALITY_BITS

    GRAND_SEED() = default;
    GRAND_SEED(const GRAND_SEED&) = delete;
    GRAND_SEED& operator=(const GRAND_SEED&) = delete;
    ~GRAND_SEED();
};

// (character, index, total, argument) -> the character the user typed, or <= 0
// when the user cancelled.
using GRAND_CHAR_CB = int (*)(int ch, int index, int total, void* arg);
// Takes one accepted event; 1 once the record's quality is reached.
using GRAND_EVENT_CB = int (*)(GRAND_SEED* record);
// A seeding routine: collects events, calling event_cb(record) once for each
// accepted one. Nonzero when it finished, 0 when the user cancelled.
using GRAND_SEED_ROUTINE = int (*)(GRAND_SEED* record, int events_needed, GRAND_CHAR_CB char_cb,
                                   void* arg, GRAND_EVENT_CB event_cb);

// The init argument of the software method: the character callback handed to
// the seeding routine, and its argument.
struct GRAND_SEED_SOURCE {
    GRAND_CHAR_CB char_cb;
    void* arg;
};

// The clocks a time stamp is made of.
struct GRAND_TIME_STAMP {
    std::uint32_t seconds;          // calendar time
    std::uint32_t fine_seconds;     // the fine time record: seconds,
    std::uint16_t milliseconds;     // milliseconds,
    std::int16_t timezone_minutes;  // minutes west of UTC,
    std::int16_t dst_flag;          // daylight saving in force
    std::uint32_t clock_ticks;      // processor time of the process
    std::uint32_t counter;          // process-wide count of stamps taken
};
// Size of the hashed time-stamp record: the stamp plus the caller's value.
constexpr std::size_t GRAND_TIME_RECORD_SIZE = 28;

// Where the generator reads its clocks and how the keyboard routine pauses.
// A null member uses the system's own.
struct GRAND_TIME_SOURCE {
    void (*stamp)(GRAND_TIME_STAMP* out);
    std::uint32_t (*cycles)();  // low 32 bits of the processor's cycle counter
    void (*sleep_ms)(unsigned ms);
};
// Installs src (null: the system's clocks). src must outlive its use.
void GRAND_set_time_source(const GRAND_TIME_SOURCE* src);
std::uint32_t GRAND_cycles();

// The software method: seeded by GRAND_gamma_rand_seed, ready once seeded.
const RAND_METHOD* GRAND_get_method();

// Method slots. Seeding an initialised generator changes nothing, but the
// seed buffer is still overwritten with generator output, so a caller that
// saves the buffer never saves the seed it came from.
int GRAND_gamma_rand_seed(void* seed, int len);
int GRAND_rand_bytes(void* buf, int n);
int GRAND_cleanup();
// arg: a GRAND_SEED_SOURCE, or null. Runs the seeding routine for
// GRAND_EVENTS_NEEDED events and seeds from the accumulator once the quality
// is reached; out, when given, receives 32 bytes of generator output. An
// initialised generator only fills out. A cancelled routine leaves error
// class 22.
int GRAND_gamma_rand_init(void* out, void* arg);
int GRAND_info(void* out);
int GRAND_status();

// Seeding routines. The built-in one is GRAND_keyboard_seed.
void GRAND_set_seed_routine(GRAND_SEED_ROUTINE routine);
GRAND_SEED_ROUTINE GRAND_get_seed_routine();
int GRAND_call_seed_routine(GRAND_SEED* record, int events_needed, GRAND_CHAR_CB char_cb, void* arg,
                            GRAND_EVENT_CB event_cb);

// Asks for random letters and digits through char_cb (with the running index
// and GRAND_KEYBOARD_TOTAL), one event per correct answer; a wrong answer
// steps back one event (not below the first). Finishes once events_needed
// events are in and event_cb reports the quality reached. Gives up with
// error class 6 after GRAND_KEYBOARD_PROMPTS_PER_EVENT prompts per event
// asked for; a cancel (answer <= 0) leaves error class 22.
int GRAND_keyboard_seed(GRAND_SEED* record, int events_needed, GRAND_CHAR_CB char_cb, void* arg,
                        GRAND_EVENT_CB event_cb);

// One accepted event: its cycle count is kept and its time hash mixed into the
// accumulator. 1 once the quality estimate reached GRAND_QUALITY_BITS.
int GRAND_add_event(GRAND_SEED* record);

// in followed by a time hash, hashed, for each 32-byte piece of out.
int GRAND_prf(const unsigned char* in, std::size_t in_len, unsigned char* out, std::size_t out_len);

// GOST R 34.11-94 (hash default set, zero start) of the time-stamp record
// with value, followed by extra. Returns out, or with null out a buffer of the
// calling thread that its next call overwrites; null when hashing fails.
unsigned char* GRAND_time_hash(unsigned char* out32, std::uint32_t value,
                               const unsigned char* extra, std::size_t extra_len);

// Bits of entropy estimated from the worst-balanced bit position of n bytes.
int GRAND_entropy_estimate(const unsigned char* bytes, std::size_t n);

}  // namespace cadb
