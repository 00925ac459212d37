#include "crypto/bio/media_pin.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>

namespace cadb {
namespace {

struct Answer {
    std::uint64_t id = 0;
    std::string driver;
    std::string identity;
    std::array<char, kMediaPinRoom> pin{};
    int n = 0;  // what the callback returned
    bool refused = false;

    ~Answer() { OPENSSL_cleanse(pin.data(), pin.size()); }
};

thread_local std::vector<std::unique_ptr<Answer>> t_answers;
thread_local std::uint64_t t_next_id = 0;

Answer* find(const char* driver, std::string_view identity) {
    if (driver == nullptr) return nullptr;
    for (const std::unique_ptr<Answer>& a : t_answers)
        if (a->driver == driver && a->identity == identity) return a.get();
    return nullptr;
}

}  // namespace

void MediaPinAnswers::ask(const char* driver, std::string_view identity, pem_password_cb* cb,
                          const char* path) {
    if (driver == nullptr || cb == nullptr || find(driver, identity) != nullptr) return;
    auto a = std::make_unique<Answer>();
    a->id = ++t_next_id;
    a->driver = driver;
    a->identity = identity;
    std::string arg = path != nullptr ? path : "";
    a->n = cb(a->pin.data(), static_cast<int>(a->pin.size()), 0, arg.data());
    asked_.push_back(a->id);
    t_answers.push_back(std::move(a));
}

void MediaPinAnswers::forget() {
    if (asked_.empty()) return;
    std::erase_if(t_answers, [this](const std::unique_ptr<Answer>& a) {
        return std::find(asked_.begin(), asked_.end(), a->id) != asked_.end();
    });
    asked_.clear();
}

bool media_pins_in_hand() { return !t_answers.empty(); }

bool media_pin_in_hand(const char* driver, std::string_view identity) {
    return find(driver, identity) != nullptr;
}

int media_pin(const char* driver, std::string_view identity, pem_password_cb* cb, char* buf,
              int size, int rwflag, void* arg) {
    const Answer* a = find(driver, identity);
    if (a == nullptr) return cb != nullptr ? cb(buf, size, rwflag, arg) : 0;
    if (a->refused || buf == nullptr || size <= 0) return 0;
    // An answer longer than the room asked into is refused as a closed
    // dialog: the caller trusts the length returned.
    if (a->n < 0 || a->n > std::min(size, kMediaPinRoom)) return 0;
    std::copy_n(a->pin.data(), a->n, buf);
    return a->n;
}

void media_pin_refused(const char* driver, std::string_view identity) {
    if (Answer* a = find(driver, identity)) a->refused = true;
}

}  // namespace cadb
