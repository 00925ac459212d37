#include "crypto/core/lock.h"

#include <array>
#include <condition_variable>
#include <thread>

namespace cadb {
namespace {

std::array<std::recursive_mutex, CRYPTO_NUM_LOCKS>& lock_table() {
    static std::array<std::recursive_mutex, CRYPTO_NUM_LOCKS> table;
    return table;
}

// The holds on one lock: how many, and the thread that may add to them.
struct Holds {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    int count = 0;
};

std::array<Holds, CRYPTO_NUM_LOCKS>& hold_table() {
    static std::array<Holds, CRYPTO_NUM_LOCKS> table;
    return table;
}

}  // namespace

void CRYPTO_hold_lock(int n) {
    Holds& h = hold_table().at(static_cast<std::size_t>(n));
    std::unique_lock<std::mutex> g(h.mutex);
    const std::thread::id me = std::this_thread::get_id();
    h.released.wait(g, [&] { return h.count == 0 || h.owner == me; });
    h.owner = me;
    ++h.count;
}

void CRYPTO_release_lock_hold(int n) {
    Holds& h = hold_table().at(static_cast<std::size_t>(n));
    {
        const std::lock_guard<std::mutex> g(h.mutex);
        if (h.count == 0) return;
        if (--h.count > 0) return;
        h.owner = std::thread::id();
    }
    h.released.notify_all();
}

std::recursive_mutex& CRYPTO_get_lock(int n) {
    return lock_table().at(static_cast<std::size_t>(n));
}

void CRYPTO_lock(int mode, int n, const char*, int) {
    if (n < 0 || n >= CRYPTO_NUM_LOCKS) return;
    if (mode & CRYPTO_MODE_LOCK)
        lock_table()[n].lock();
    else
        lock_table()[n].unlock();
}

}  // namespace cadb
