// The PIN of a token medium's device is asked before the device's lock is
// taken (crypto/store/media_lock.h), never while it is held: another process
// that waits for the device must not wait for a person. The answer is kept on
// the thread that asked, for as long as its hold of the device lasts, and a
// driver that would ask for the device's PIN inside the hold is handed that
// answer instead. A device is named as its driver names it to its lock: the
// driver's name and the identity its driver record gives (media_driver.h).
#pragma once

#include <openssl/pem.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace cadb {

// The room a PIN is asked into, as the token drivers ask it.
inline constexpr int kMediaPinRoom = 256;

// The answers one holder asked on its thread; they are wiped when it
// forgets them or goes.
class MediaPinAnswers {
  public:
    MediaPinAnswers() = default;
    MediaPinAnswers(const MediaPinAnswers&) = delete;
    MediaPinAnswers& operator=(const MediaPinAnswers&) = delete;
    ~MediaPinAnswers() { forget(); }

    // Asks through cb, as a driver asks (kMediaPinRoom bytes of room,
    // read/write flag 0, the path as argument), the PIN of the device the
    // driver named driver calls identity, unless this thread holds an answer
    // for that device already. Whatever cb answers is kept, a closed dialog
    // or a failure too: the driver judges it as it judges cb's own answer.
    void ask(const char* driver, std::string_view identity, pem_password_cb* cb,
             const char* path);
    void forget();

  private:
    std::vector<std::uint64_t> asked_;
};

// Whether this thread holds any answer: a driver need not find out which
// device it is on otherwise.
bool media_pins_in_hand();
// Whether this thread holds an answer for the device.
bool media_pin_in_hand(const char* driver, std::string_view identity);
// The PIN of the device, where its driver would ask it through cb(buf, size,
// rwflag, arg): the answer this thread holds for the device when there is
// one (a PIN the device refused answers as a closed dialog, 0), else cb's
// own answer (0 without cb).
int media_pin(const char* driver, std::string_view identity, pem_password_cb* cb, char* buf,
              int size, int rwflag, void* arg);
// The device refused the PIN this thread holds for it: it is not handed to
// the device again, so that one answer spends at most one of the device's
// tries.
void media_pin_refused(const char* driver, std::string_view identity);

}  // namespace cadb
