// The base of the shared objects of the object layer: a signed count that
// deletes the object through its virtual destructor when it falls to 0 or
// below, and an owning handle that takes one reference and gives it back.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace cadb {

class TRefCounted {
  public:
    TRefCounted() = default;
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

    void addRef() { count_.fetch_add(1); }
    void release() {
        if (count_.fetch_sub(1) - 1 <= 0) delete this;
    }
    std::int32_t refCount() const { return count_.load(); }

  protected:
    virtual ~TRefCounted() = default;

  private:
    std::atomic<std::int32_t> count_{0};
};

// One counted reference to a TRefCounted object.
template <class T>
class TRef {
  public:
    TRef() = default;
    explicit TRef(T* p) : p_(p) {
        if (p_ != nullptr) p_->addRef();
    }
    TRef(const TRef& o) : TRef(o.p_) {}
    TRef(TRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    TRef& operator=(TRef o) {
        std::swap(p_, o.p_);
        return *this;
    }
    ~TRef() {
        if (p_ != nullptr) p_->release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { TRef().swap(*this); }
    void swap(TRef& o) noexcept { std::swap(p_, o.p_); }

  private:
    T* p_ = nullptr;
};

template <class T, class... Args>
TRef<T> make_ref(Args&&... args) {
    return TRef<T>(new T(std::forward<Args>(args)...));
}

}  // namespace cadb
