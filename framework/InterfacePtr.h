#pragma once
/// \file
/// Holder of one resolved interface reference.

#include <type_traits>
#include <utility>

#include "ScoInterfaces.h"

/// The `ISCO_Unknown` part of an interface pointer. Objects reached as `RtsObject` hold two
/// `ISCO_Unknown` bases; the one behind `ISCO_RtsObject` is the object's own.
template <class I>
ISCO_Unknown* UnknownOf(I* p) {
    if constexpr (std::is_base_of_v<ISCO_RtsObject, I>)
        return static_cast<ISCO_Unknown*>(static_cast<ISCO_RtsObject*>(p));
    else
        return static_cast<ISCO_Unknown*>(p);
}

/// Owns one reference of interface I (identifier `kInterfaceId<I>`), released on destruction.
template <class I>
class CInterfacePtr {
public:
    CInterfacePtr() = default;
    /// Resolves `handle`; stays empty when the handle is null or the object refuses.
    explicit CInterfacePtr(Handle handle) {
        void* p = nullptr;
        if (handle.GetInterface(kInterfaceId<I>, &p)) ptr_ = static_cast<I*>(p);
    }
    CInterfacePtr(const CInterfacePtr& other) { *this = other; }
    CInterfacePtr(CInterfacePtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~CInterfacePtr() { Release(); }

    /// A reference of its own to an interface pointer held without one: asks `p` for I again
    /// (`QueryInterface`, which raises its count). Empty when `p` is null or refuses.
    static CInterfacePtr Acquire(I* p) {
        CInterfacePtr held;
        void* part = nullptr;
        if (p && UnknownOf(p)->QueryInterface(kInterfaceId<I>, &part)) held.ptr_ = static_cast<I*>(part);
        return held;
    }

    /// Takes over a reference already handed out for `p`: nothing is asked, and the destructor
    /// releases it.
    static CInterfacePtr Adopt(I* p) {
        CInterfacePtr held;
        held.ptr_ = p;
        return held;
    }

    /// Releases the held interface, then asks the other holder's interface for I.
    template <class J>
    CInterfacePtr& operator=(const CInterfacePtr<J>& other) {
        if (static_cast<const void*>(&other) == static_cast<const void*>(this)) return *this;
        Release();
        if (other.get()) {
            void* p = nullptr;
            if (UnknownOf(other.get())->QueryInterface(kInterfaceId<I>, &p)) ptr_ = static_cast<I*>(p);
        }
        return *this;
    }
    CInterfacePtr& operator=(const CInterfacePtr& other) { return operator=<I>(other); }
    CInterfacePtr& operator=(CInterfacePtr&& other) noexcept {
        if (this != &other) {
            Release();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    /// Hands the reference back (`ReleaseInterface`) and becomes empty.
    void Release() {
        if (ptr_) UnknownOf(std::exchange(ptr_, nullptr))->ReleaseInterface();
    }

    I* get() const { return ptr_; }
    I* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    I* ptr_ = nullptr;
};
