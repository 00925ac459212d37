// The token media (eToken, eToken R2, ruToken, touch memory, iKey) have no
// lock of their own across processes: each device is changed under a device
// lock (device_lock.h) named by the medium and by the identity its driver
// gives the device (a serial number, a reader or a port), so that every
// process of the user that reaches one device by any path meets at one lock.
// Both eToken drivers take one lock for the whole eToken family: one of them
// cannot tell which eToken a path reaches.
// Disk and PKCS#11 paths are left to their own locks.
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "crypto/bio/media_pin.h"
#include "crypto/store/device_lock.h"

namespace cadb {

class MediaLock {
  public:
    // Takes the lock of every device that serves one of paths, each device
    // once and in one order for every process, so that two holders of
    // several devices never wait for each other. Nothing runs unlocked on a
    // medium these locks cover: a path whose device does not answer fails
    // with CADB_R_NO_MEDIUM (none is there, or one busy in another process
    // does not answer now), one whose form the answering device cannot hold
    // with CADB_R_NAME_NOT_HELD, and one whose device does not say which it
    // is with CADB_R_KEY_STORE_BUSY. On failure nothing is held and the
    // error is on the queue (66, func, reason).
    //
    // The PIN of a device whose driver asks one is asked first, through the
    // driver's process-wide callback, and handed to the driver for as long
    // as this thread holds the lock (media_pin.h): no one waits for the
    // device while a person is asked.
    bool acquire(std::initializer_list<const char*> paths, int func);
    void release() {
        locks_.clear();
        pins_.forget();
    }

  private:
    std::vector<std::unique_ptr<DeviceLock>> locks_;
    MediaPinAnswers pins_;
};

}  // namespace cadb
