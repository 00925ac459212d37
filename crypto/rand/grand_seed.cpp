// Seeding from user events: the seed record, the entropy estimate of the
// event timings, the replaceable seeding routine and the software method's
// init slot that runs it.
//
// Nothing here takes the random layer's lock: a seeding routine may run a
// dialog whose events arrive while the thread that asked for seeding holds it.
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/rand/grand.h"

namespace cadb {
namespace {

std::atomic<GRAND_SEED_ROUTINE> g_routine{GRAND_keyboard_seed};

// Bits s..s+7 of every kept event, for s = 0..3; the best estimate counts.
int timing_quality(const GRAND_SEED& rec) {
    const auto m = static_cast<std::size_t>(rec.event_count);
    unsigned char bytes[GRAND_MAX_EVENTS];
    int best = 0;
    for (int shift = 0; shift < 4; ++shift) {
        for (std::size_t j = 0; j < m; ++j)
            bytes[j] = static_cast<unsigned char>(rec.events[j] >> shift);
        best = std::max(best, GRAND_entropy_estimate(bytes, m));
    }
    OPENSSL_cleanse(bytes, m);
    return best;
}

int init_fail(int error_class) {
    if (error_class != ERR_CLASS_NONE) ERR_set_last_error(error_class);
    CADB_ERR(ERR_LIB_PSE, GRAND_F_GRAND_GAMMA_RAND_INIT, ERR_LIB_RAND_);
    return 0;
}

}  // namespace

GRAND_SEED::~GRAND_SEED() {
    OPENSSL_cleanse(accumulator, sizeof accumulator);
    OPENSSL_cleanse(events.data(), sizeof events);
}

int GRAND_entropy_estimate(const unsigned char* bytes, std::size_t n) {
    if (bytes == nullptr || n == 0) return 0;
    std::size_t count[8] = {};
    for (std::size_t j = 0; j < n; ++j)
        for (int k = 0; k < 8; ++k) count[k] += (bytes[j] >> k) & 1;
    const auto [lo, hi] = std::minmax_element(std::begin(count), std::end(count));
    const double nd = static_cast<double>(n);
    double p = std::min(static_cast<double>(*lo) / nd, 1.0 - static_cast<double>(*hi) / nd);
    // Lower end of a 95% confidence interval on the bit's balance.
    p -= 1.96 / (4.0 * std::sqrt(2.0 * nd));
    if (p <= 0.0) return 0;
    const double h = -p * std::log2(p) - (1.0 - p) * std::log2(1.0 - p);
    return static_cast<int>(h * 8.0 * nd);
}

int GRAND_add_event(GRAND_SEED* record) {
    if (record == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    const std::uint32_t v = GRAND_cycles();
    // Events beyond the record's room still feed the accumulator.
    if (record->event_count < GRAND_MAX_EVENTS) record->events[record->event_count++] = v;
    unsigned char h[32];
    if (GRAND_time_hash(h, v, nullptr, 0) != nullptr) {
        const int n = std::clamp(record->size, 0, GRAND_SEED_SIZE);
        for (int i = 0; i < n; ++i) record->accumulator[i] ^= h[i];
    }
    OPENSSL_cleanse(h, sizeof h);
    if (!record->quality && timing_quality(*record) >= GRAND_QUALITY_BITS) record->quality = 1;
    return record->quality;
}

void GRAND_set_seed_routine(GRAND_SEED_ROUTINE routine) { g_routine.store(routine); }

GRAND_SEED_ROUTINE GRAND_get_seed_routine() { return g_routine.load(); }

int GRAND_call_seed_routine(GRAND_SEED* record, int events_needed, GRAND_CHAR_CB char_cb, void* arg,
                            GRAND_EVENT_CB event_cb) {
    const GRAND_SEED_ROUTINE routine = g_routine.load();
    if (routine == nullptr) return 0;
    return routine(record, events_needed, char_cb, arg, event_cb);
}

int GRAND_gamma_rand_init(void* out, void* arg) {
    auto* out32 = static_cast<unsigned char*>(out);
    // An initialised generator asks the user nothing.
    if (GRAND_status()) {
        if (out32 == nullptr || GRAND_rand_bytes(out32, GRAND_SEED_SIZE) == GRAND_SEED_SIZE)
            return 1;
        return init_fail(ERR_CLASS_RANDOM_GENERATOR);
    }
    if (GRAND_get_seed_routine() == nullptr) return init_fail(ERR_CLASS_RANDOM_GENERATOR);
    const auto* source = static_cast<const GRAND_SEED_SOURCE*>(arg);
    GRAND_SEED record;
    // A routine that fails sets its own class; one that returns 0 without
    // one was cancelled, by its contract.
    const int before = ERR_get_last_error();
    ERR_set_last_error(ERR_CLASS_NONE);
    const int finished =
        GRAND_call_seed_routine(&record, GRAND_EVENTS_NEEDED, source ? source->char_cb : nullptr,
                                source ? source->arg : nullptr, GRAND_add_event);
    if (!finished) {
        const int cls = ERR_get_last_error();
        return init_fail(cls == ERR_CLASS_NONE ? ERR_CLASS_SEEDING_CANCELLED : cls);
    }
    ERR_set_last_error(before);
    if (!record.quality) return init_fail(ERR_CLASS_RANDOM_GENERATOR);
    if (!GRAND_gamma_rand_seed(record.accumulator, GRAND_SEED_SIZE))
        return init_fail(ERR_CLASS_NONE);
    if (out32 != nullptr) std::memcpy(out32, record.accumulator, GRAND_SEED_SIZE);
    return 1;
}

}  // namespace cadb
