// Known-answer self tests. Each GOST service runs its test lazily, when a
// context of its kind is initialised (the MAC and the hash again when a
// result is produced), at most once a second per test.
//
// Every test stamps the context it works on with its marker, and returns at
// once for a context that carries it, so that the init the test itself goes
// through does not re-enter the test.
#pragma once

#include <cstdint>

namespace cadb {

struct GOSTE;
struct GOSTH;

// Markers stamped on the contexts the tests create.
constexpr std::uint32_t GOST_MARKER_SS = 0x84CD758A;
constexpr std::uint32_t GOST_MARKER_GAMMA = 0x3778BD50;
constexpr std::uint32_t GOST_MARKER_GAMMA_FB = 0x350A2401;
constexpr std::uint32_t GOST_MARKER_MAC = 0x58BE994C;
constexpr std::uint32_t GOST_MARKER_HASH = 0x0B97AFC4;
constexpr std::uint32_t GOST_MARKER_R3410_DH = 0x91998AAC;
constexpr std::uint32_t GOST_MARKER_ECGOST_DH = 0x682796E2;

// Function code of the start-up check's failure report.
constexpr int GOSTE_F_GOST_STARTUP_CHECK = 104;

// The symmetric tests: 1 when passed, skipped (run within this second, or
// ctx carries the test's marker) or, for ECB, when ctx has option flag 2.
// 0 with error class 12 on failure. ctx may be null.
int GOSTE_ss_check(const GOSTE* ctx);
int GOSTE_gamma_check(const GOSTE* ctx);
int GOSTE_gamma_fb_check(const GOSTE* ctx);
int GOSTE_mac_check(const GOSTE* ctx);
int GOSTH_check(const GOSTH* ctx);

// The table digests, then the tables of the elliptic curves and of
// GOST R 34.10-94: the checks run once when the library starts.
int GOST_startup_check();

// Which of the paced tests a caller asks about.
enum GostSelfTest : int {
    GOST_TEST_SS,
    GOST_TEST_GAMMA,
    GOST_TEST_GAMMA_FB,
    GOST_TEST_MAC,
    GOST_TEST_HASH,
    GOST_TEST_COUNT
};
// How many times the test has really run in this process (skips not
// counted), and a way to forget the last-run times so that the next call of
// each test runs again. For diagnostics and tests.
long GOST_self_test_runs(GostSelfTest test);
void GOST_self_test_reset_times();

}  // namespace cadb
