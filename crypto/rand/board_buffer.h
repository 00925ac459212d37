// The output buffer every board keeps: bytes are handed out in order and the
// buffer is refilled from the device when empty.
#pragma once

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace cadb {

// A refill that fails this many times in a row fails the draw.
constexpr int kBoardRefillTries = 5;

template <std::size_t N>
struct BoardBuffer {
    std::array<unsigned char, N> data{};
    std::size_t pos = 0;
    std::size_t unread = 0;

    void wipe() {
        OPENSSL_cleanse(data.data(), data.size());
        pos = 0;
        unread = 0;
    }

    // Copies n bytes to out, refilling with refill(data, N) -> bool. Returns
    // the number of bytes copied: n, or fewer when a refill failed
    // kBoardRefillTries times in a row.
    template <class Refill>
    std::size_t draw(unsigned char* out, std::size_t n, Refill&& refill) {
        std::size_t done = 0;
        while (done < n) {
            if (unread == 0) {
                int tries = 0;
                while (tries < kBoardRefillTries && !refill(data.data(), N)) ++tries;
                if (tries == kBoardRefillTries) {
                    wipe();
                    break;
                }
                pos = 0;
                unread = N;
            }
            const std::size_t take = std::min(unread, n - done);
            std::memcpy(out + done, data.data() + pos, take);
            // Bytes handed out do not stay behind.
            OPENSSL_cleanse(data.data() + pos, take);
            pos += take;
            unread -= take;
            done += take;
        }
        return done;
    }
};

}  // namespace cadb
