// Time stamps: the clocks the generator mixes into every hash it takes, and
// the hash of one stamp.
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "crypto/rand/grand.h"
#include "crypto/rand/grand_local.h"
#include "crypto/rus/gosth.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace cadb {
namespace {

std::atomic<std::uint32_t> g_stamp_counter{0};

void system_stamp(GRAND_TIME_STAMP* out) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    out->seconds = static_cast<std::uint32_t>(std::time(nullptr));
    out->fine_seconds = static_cast<std::uint32_t>(now.tv_sec);
    out->milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
    out->timezone_minutes = static_cast<std::int16_t>(-local.tm_gmtoff / 60);
    out->dst_flag = static_cast<std::int16_t>(local.tm_isdst > 0 ? 1 : 0);
    out->clock_ticks = static_cast<std::uint32_t>(std::clock());
    out->counter = g_stamp_counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t system_cycles() {
#if defined(__x86_64__) || defined(__i386__)
    return static_cast<std::uint32_t>(__rdtsc());
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000000000LL + now.tv_nsec);
#endif
}

std::atomic<const GRAND_TIME_SOURCE*> g_source{nullptr};

void put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

// The record as the system laid it out: seconds; the fine time record
// (seconds, milliseconds, time zone, daylight flag, two bytes of padding);
// processor ticks; counter; the caller's value. Little-endian.
void encode_record(const GRAND_TIME_STAMP& s, std::uint32_t value,
                   unsigned char (&out)[GRAND_TIME_RECORD_SIZE]) {
    put32(out, s.seconds);
    put32(out + 4, s.fine_seconds);
    put16(out + 8, s.milliseconds);
    put16(out + 10, static_cast<std::uint16_t>(s.timezone_minutes));
    put16(out + 12, static_cast<std::uint16_t>(s.dst_flag));
    put16(out + 14, 0);
    put32(out + 16, s.clock_ticks);
    put32(out + 20, s.counter);
    put32(out + 24, value);
}

}  // namespace

void GRAND_set_time_source(const GRAND_TIME_SOURCE* src) { g_source.store(src); }

std::uint32_t GRAND_cycles() {
    const GRAND_TIME_SOURCE* src = g_source.load();
    return src != nullptr && src->cycles != nullptr ? src->cycles() : system_cycles();
}

// The keyboard routine's pause between prompts.
void grand_sleep_ms(unsigned ms) {
    const GRAND_TIME_SOURCE* src = g_source.load();
    if (src != nullptr && src->sleep_ms != nullptr) {
        src->sleep_ms(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

unsigned char* GRAND_time_hash(unsigned char* out32, std::uint32_t value,
                               const unsigned char* extra, std::size_t extra_len) {
    thread_local unsigned char own[GOSTH_DIGEST_LENGTH];
    unsigned char* out = out32 != nullptr ? out32 : own;

    GRAND_TIME_STAMP stamp{};
    const GRAND_TIME_SOURCE* src = g_source.load();
    if (src != nullptr && src->stamp != nullptr)
        src->stamp(&stamp);
    else
        system_stamp(&stamp);
    unsigned char record[GRAND_TIME_RECORD_SIZE];
    encode_record(stamp, value, record);

    GOSTH h;
    bool ok = GOSTH_init(&h, nullptr, nullptr) &&
              GOSTH_update(&h, record, sizeof record) == static_cast<long>(sizeof record);
    // The hash takes long counts: feed a huge extra in pieces.
    for (std::size_t done = 0; ok && extra != nullptr && done < extra_len;) {
        const std::size_t piece = std::min<std::size_t>(extra_len - done, 1UL << 30);
        ok = GOSTH_update(&h, extra + done, static_cast<long>(piece)) == static_cast<long>(piece);
        done += piece;
    }
    ok = ok && GOSTH_final(&h, out) == GOSTH_DIGEST_LENGTH;
    OPENSSL_cleanse(record, sizeof record);
    if (!ok) {
        OPENSSL_cleanse(out, GOSTH_DIGEST_LENGTH);
        return nullptr;
    }
    return out;
}

}  // namespace cadb
