// A counted COM reference: one AddRef/Release pair per owner, released when the
// owner goes. Attach takes over a reference the caller already holds; Detach
// hands it back without releasing it.
#pragma once

#include <objbase.h>

#include <utility>

namespace com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference of its own.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // The slot for a function that hands out a new reference; releases what
    // was held first.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Takes over a reference the caller holds (no AddRef).
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    // Gives the reference to the caller (no Release).
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // Hands a new reference to an out-parameter, as COM methods do.
    HRESULT CopyTo(T** out) const {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }
    void Reset() {
        T* p = p_;
        p_ = nullptr;
        if (p) p->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // Asks the held object for another interface.
    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), out->PutVoid());
    }
    HRESULT QueryFrom(IUnknown* from, REFIID iid) {
        if (!from) return E_POINTER;
        return from->QueryInterface(iid, PutVoid());
    }

private:
    T* p_ = nullptr;
};

}  // namespace com
