// The built-in seeding routine: asks the user to type random letters and
// digits, one event per correct key, with a random pause before each prompt so
// that the user's timing, not a rhythm, decides the cycle counts.
#include <openssl/crypto.h>

#include <cstdint>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/grand_local.h"

namespace cadb {
namespace {

constexpr char kPromptChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr unsigned kMaxPauseMs = 500;

// The C runtime's linear congruential generator, kept local so that seeding
// neither disturbs nor depends on anyone else's use of rand().
class PromptDraw {
  public:
    explicit PromptDraw(std::uint32_t seed) : state_(seed) {}
    ~PromptDraw() { OPENSSL_cleanse(&state_, sizeof state_); }
    unsigned next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }

  private:
    std::uint32_t state_;
};

bool promptable(unsigned char c, int previous) {
    return c != 0 && c != previous && std::strchr(kPromptChars, c) != nullptr;
}

}  // namespace

int GRAND_keyboard_seed(GRAND_SEED* record, int events_needed, GRAND_CHAR_CB char_cb, void* arg,
                        GRAND_EVENT_CB event_cb) {
    if (record == nullptr || char_cb == nullptr || event_cb == nullptr || events_needed <= 0 ||
        events_needed > GRAND_MAX_EVENTS) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    const int max_prompts = events_needed * GRAND_KEYBOARD_PROMPTS_PER_EVENT;
    int count = 0;
    int index = 1;
    int previous = -1;
    bool quality = false;
    for (int prompt = 0; prompt < max_prompts; ++prompt) {
        unsigned char stamp[32];
        if (GRAND_time_hash(stamp, 0, nullptr, 0) == nullptr) {
            ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
            return 0;
        }
        std::uint32_t seed;
        std::memcpy(&seed, stamp, sizeof seed);
        OPENSSL_cleanse(stamp, sizeof stamp);
        PromptDraw draw(seed);
        OPENSSL_cleanse(&seed, sizeof seed);
        unsigned char ch;
        do ch = static_cast<unsigned char>(draw.next());
        while (!promptable(ch, previous));
        previous = ch;
        grand_sleep_ms(draw.next() % kMaxPauseMs);

        const int answer = char_cb(ch, index, GRAND_KEYBOARD_TOTAL, arg);
        if (answer <= 0) {
            ERR_set_last_error(ERR_CLASS_SEEDING_CANCELLED);
            return 0;
        }
        if (answer == ch) {
            quality = event_cb(record) != 0;
            ++count;
            ++index;
        } else if (index != 1) {
            --count;
            --index;
        }
        // Keys past the count asked for are taken until the timings carry
        // enough entropy.
        if (count >= events_needed && quality) return 1;
    }
    ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
    return 0;
}

}  // namespace cadb
