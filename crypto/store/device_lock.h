// What several processes of the user can reach at once and that has no lock
// of its own (a PKCS#11 token, a token medium) is changed by one writer at
// a time through a lock file named by the device's identity, in the user's
// private lock folder. The lock is advisory and honoured by every process of
// the user; each open of the file is a lock of its own, so two threads of one
// process exclude each other as two processes do. A thread that already
// holds a device's lock takes it again at once, so that a caller can hold
// the lock across a check and the writes it decides on while the writes
// lock the device themselves.
#pragma once

#include <string>
#include <string_view>

namespace cadb {

class DeviceLock {
  public:
    DeviceLock() = default;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock() { release(); }

    // Takes the lock of the device named name (see device_lock_name),
    // waiting as long as a key store's writers wait for each other
    // (pse_lock_wait). On failure the last entry on the queue is (66, func,
    // reason): CADB_R_KEY_STORE_BUSY when another writer keeps the lock,
    // CADB_R_NO_LOCK_FOLDER when there is no place for the lock file,
    // CADB_R_LOCK_FILE_UNUSABLE when the lock file cannot be opened or
    // locked; the error class is that of a key store's input and output.
    bool acquire(const std::string& name, int func);
    bool held() const { return !path_.empty(); }
    void release();

  private:
    std::string path_;
};

// Adds a field of a device's identity to a lock's name: trimmed of its
// padding, cut at 64 characters and made a file name's part in ASCII
// whatever the locale, so that every process names one device alike. Two
// devices whose names collide only share a lock.
void device_lock_name_add(std::string& name, std::string_view field);

}  // namespace cadb
