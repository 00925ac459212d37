// Process-wide state built on first use and never destroyed. A static that
// holds a loaded module must not unload it from its destructor: a host may
// close the library that holds the static while the library's per-thread
// state still keeps it mapped, and the loader then unloads that library at
// exit inside the first dlclose that drops a module's last use, taking away
// the code that called dlclose. Such state is released by the library's
// clean-up, or else by the ending process.
#pragma once

#include <new>
#include <utility>

namespace cadb {

template <class T>
class NoDestructor {
  public:
    template <class... Args>
    explicit NoDestructor(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *get(); }
    T* operator->() { return get(); }
    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace cadb
