// Implementing objects. A class derives from ComObject<Self, Interfaces...>
// and gives `void* find_interface(const IID&)` (its interface map, IUnknown
// aside). ComObject keeps the reference count and the object's identity: its
// IUnknown is one inner object, the same for every interface, so identity
// comparisons hold. An aggregated object forwards every interface's IUnknown
// methods to its outer object and hands the outer its inner IUnknown.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/com/interfaces.h"
#include "platform/com/types.h"

namespace cadb::com {

// The live objects and server locks of one module, for DllCanUnloadNow.
class ModuleCount {
  public:
    void lock() { count_.fetch_add(1); }
    void unlock() { count_.fetch_sub(1); }
    long count() const { return count_.load(); }

  private:
    std::atomic<long> count_{0};
};

template <class Derived, class... Interfaces>
class ComObject : public Interfaces... {
  public:
    explicit ComObject(IUnknown* outer = nullptr) : inner_(this), outer_(outer) {}
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        return outer_ ? outer_->QueryInterface(iid, out) : inner_.QueryInterface(iid, out);
    }
    std::uint32_t AddRef() override { return outer_ ? outer_->AddRef() : inner_.AddRef(); }
    std::uint32_t Release() override { return outer_ ? outer_->Release() : inner_.Release(); }

    // The object's own IUnknown (the one an aggregating outer object keeps).
    IUnknown* inner_unknown() { return &inner_; }

  protected:
    virtual ~ComObject() = default;

  private:
    class Inner final : public IUnknown {
      public:
        explicit Inner(ComObject* owner) : owner_(owner) {}
        HRESULT QueryInterface(const IID& iid, void** out) override {
            if (!out) return E_POINTER;
            *out = iid == IID_IUnknown ? static_cast<IUnknown*>(this)
                                       : static_cast<Derived*>(owner_)->find_interface(iid);
            if (!*out) return E_NOINTERFACE;
            static_cast<IUnknown*>(*out)->AddRef();
            return S_OK;
        }
        std::uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
        std::uint32_t Release() override {
            std::uint32_t left = refs_.fetch_sub(1) - 1;
            if (left == 0) delete owner_;
            return left;
        }

      private:
        ComObject* owner_;
        std::atomic<std::uint32_t> refs_{0};
    };

    Inner inner_;
    IUnknown* outer_;
};

// The class object of T: CreateInstance makes a T(outer), runs its
// `HRESULT final_construct()` and hands out the asked interface. The factory
// itself and every LockServer(true) count as a lock of the module.
template <class T>
class ClassFactory final : public ComObject<ClassFactory<T>, IClassFactory> {
  public:
    explicit ClassFactory(ModuleCount& module) : module_(module) { module_.lock(); }

    void* find_interface(const IID& iid) {
        return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }

    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // An aggregating outer object must take the inner IUnknown.
        if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        T* object = new (std::nothrow) T(outer);
        if (!object) return E_OUTOFMEMORY;
        IUnknown* inner = object->inner_unknown();
        inner->AddRef();
        HRESULT hr = object->final_construct();
        if (succeeded(hr)) hr = inner->QueryInterface(iid, out);
        inner->Release();
        return hr;
    }

    HRESULT LockServer(bool lock) override {
        if (lock)
            module_.lock();
        else
            module_.unlock();
        return S_OK;
    }

  private:
    ~ClassFactory() override { module_.unlock(); }

    ModuleCount& module_;
};

// Releases the interface it holds when it goes.
template <class I>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    // For a call that fills an out parameter; what was held is released.
    I** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    I* detach() {
        I* p = p_;
        p_ = nullptr;
        return p;
    }

  private:
    I* p_ = nullptr;
};

}  // namespace cadb::com
