// A scriptable random source for the layer's tests: a deterministic stream
// that passes the statistical tests, with switches that make it short, biased
// or unready, and counters of every call the layer makes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rand/rand.h"
#include "tests/rand/splitmix.h"

namespace cadb::fake {

enum class Output { Good, Zeros, Short };

struct SourceState {
    Output output = Output::Good;
    // The first bad_blocks calls return zeros whatever output says.
    int bad_blocks = 0;
    std::uint64_t stream = 0x0123456789ABCDEFULL;
    int ready = 1;
    int cleanup_result = 1;
    int draws = 0;
    int seeds = 0;
    int inits = 0;
    int cleanups = 0;
    std::atomic<int> in_flight{0};
    bool reentered = false;
    // Every byte the source ever produced, in order.
    std::vector<unsigned char> produced;
};

inline SourceState& state() {
    static SourceState s;
    return s;
}

inline void reset() {
    auto& s = state();
    s.output = Output::Good;
    s.bad_blocks = 0;
    s.stream = 0x0123456789ABCDEFULL;
    s.ready = 1;
    s.cleanup_result = 1;
    s.draws = s.seeds = s.inits = s.cleanups = 0;
    s.reentered = false;
    s.produced.clear();
}

inline int bytes(void* buf, int n) {
    auto& s = state();
    if (s.in_flight.fetch_add(1) != 0) s.reentered = true;
    ++s.draws;
    auto* out = static_cast<unsigned char*>(buf);
    int produced = n;
    if (s.bad_blocks > 0 || s.output == Output::Zeros) {
        if (s.bad_blocks > 0) --s.bad_blocks;
        std::fill(out, out + n, 0);
    } else {
        fill_good(s.stream, out, n);
        if (s.output == Output::Short) produced = n - 1;
    }
    s.produced.insert(s.produced.end(), out, out + produced);
    s.in_flight.fetch_sub(1);
    return produced;
}

inline int seed(void*, int) { return ++state().seeds, 1; }
inline int init(void*, void*) { return ++state().inits, 1; }
inline int cleanup() { return ++state().cleanups, state().cleanup_result; }
inline int status() { return state().ready; }

// Two records over the same source: the layer tells methods apart by record.
inline const RAND_METHOD kMethod{seed, bytes, cleanup, init, nullptr, status, 0};
inline const RAND_METHOD kOther{seed, bytes, cleanup, init, nullptr, status, 0};
// Only bytes: no seed, init, cleanup or status.
inline const RAND_METHOD kBare{nullptr, bytes, nullptr, nullptr, nullptr, nullptr, 0};
inline const RAND_METHOD kUnusable{seed, bytes, cleanup, init, nullptr, status, RAND_FLAG_UNUSABLE};

// Tests share the process's current method: each starts from the fake
// source in a known state and leaves no method current and check mode off.
class LayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RAND_set_rand_method(nullptr);
        RAND_set_operational_check(0);
        reset();
        ERR_clear_error();
        ERR_set_last_error(ERR_CLASS_NONE);
    }
    void TearDown() override {
        RAND_set_rand_method(nullptr);
        RAND_set_operational_check(0);
        ERR_clear_error();
    }
};

}  // namespace cadb::fake
