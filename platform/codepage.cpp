#include "platform/codepage.h"

#include <iconv.h>
#include <openssl/crypto.h>

#include <array>
#include <cstring>

namespace cadb {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opening a converter looks iconv's modules up, which costs far more than
// converting one short value: a name of thousands of values would pay it
// for each. So each thread keeps the converters it has opened, a few pairs
// of encodings (callers name a handful); a converter holds its conversion
// state, so threads cannot share one.
class Converters {
  public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        for (std::size_t i = 0; i < used_; ++i) iconv_close(kept_[i].cd);
    }
    // The converter from `from` to `to`, in its initial state, or -1. *kept
    // false: the table is full and the caller closes it after use.
    iconv_t open(const char* from, const char* to, bool* kept) {
        for (std::size_t i = 0; i < used_; ++i) {
            if (std::strcmp(kept_[i].from, from) == 0 && std::strcmp(kept_[i].to, to) == 0) {
                *kept = true;
                return kept_[i].cd;
            }
        }
        iconv_t cd = iconv_open(to, from);
        *kept = cd != kNoConverter && used_ < kept_.size() &&
                std::strlen(from) < sizeof(Kept::from) && std::strlen(to) < sizeof(Kept::to);
        if (*kept) {
            Kept& k = kept_[used_++];
            std::strcpy(k.from, from);
            std::strcpy(k.to, to);
            k.cd = cd;
        }
        return cd;
    }

  private:
    struct Kept {
        char from[32];
        char to[32];
        iconv_t cd;
    };
    std::array<Kept, 8> kept_{};
    std::size_t used_ = 0;
};

thread_local Converters converters;

}  // namespace

long codepage_convert(const char* from, const char* to, std::span<const unsigned char> in,
                      std::span<unsigned char> out) {
    bool kept = false;
    iconv_t cd = converters.open(from, to, &kept);
    if (cd == kNoConverter) return -1;
    // iconv's interface is not const-correct; it never writes the input.
    char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
    std::size_t src_left = in.size();
    char* dst = reinterpret_cast<char*>(out.data());
    std::size_t dst_left = out.size();
    std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    // Flush any shift state into the output as well.
    if (r != static_cast<std::size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dst_left);
    // A kept converter goes back to its initial state for the next text,
    // whatever this one left in it.
    if (kept) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else {
        iconv_close(cd);
    }
    if (r == static_cast<std::size_t>(-1) || src_left != 0) return -1;
    return static_cast<long>(out.size() - dst_left);
}

unsigned char* codepage_convert_new(const char* from, const char* to,
                                    std::span<const unsigned char> in, int zeros,
                                    std::size_t* out_len) {
    if (zeros < 0 || zeros > 4 || in.size() > (1u << 28)) return nullptr;
    // Every encoding used here spends at most four bytes on a character,
    // and no input byte makes more than one character.
    const std::size_t room = 4 * in.size() + 4;
    auto* work = static_cast<unsigned char*>(OPENSSL_zalloc(room));
    if (work == nullptr) return nullptr;
    const long n = in.empty() ? 0 : codepage_convert(from, to, in, {work, room});
    unsigned char* out = nullptr;
    if (n >= 0) {
        out = static_cast<unsigned char*>(
            OPENSSL_zalloc(static_cast<std::size_t>(n) + static_cast<std::size_t>(zeros) + 1));
        if (out != nullptr) {
            std::memcpy(out, work, static_cast<std::size_t>(n));
            if (out_len != nullptr) *out_len = static_cast<std::size_t>(n);
        }
    }
    OPENSSL_clear_free(work, room);
    return out;
}

}  // namespace cadb
