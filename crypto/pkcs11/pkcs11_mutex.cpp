#include "crypto/pkcs11/pkcs11_mutex.h"

#include <mutex>
#include <new>

namespace cadb {

struct PKCS11_MUTEX {
    std::recursive_mutex mutex;
};

int PKCS11_mutex_new(PKCS11_MUTEX** out) {
    if (out == nullptr) return 0;
    *out = new (std::nothrow) PKCS11_MUTEX;
    return *out != nullptr ? 1 : 0;
}

int PKCS11_mutex_lock(PKCS11_MUTEX* m) {
    if (m == nullptr) return 0;
    m->mutex.lock();
    return 1;
}

int PKCS11_mutex_unlock(PKCS11_MUTEX* m) {
    if (m == nullptr) return 0;
    m->mutex.unlock();
    return 1;
}

int PKCS11_mutex_free(PKCS11_MUTEX* m) {
    if (m == nullptr) return 0;
    delete m;
    return 1;
}

}  // namespace cadb
