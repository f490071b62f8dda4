// A media buffer over its own bytes, for the plug-in's test and benchmark.
#pragma once

#include <windows.h>

#include <mediaobj.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/com/ComPtr.h"

// COM interfaces have no virtual destructor; Release deletes through the
// class itself.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace plugintest {

using com::ComPtr;

class MemoryMediaBuffer : public IMediaBuffer {
public:
    explicit MemoryMediaBuffer(DWORD capacity) : data_(capacity) {}
    static ComPtr<IMediaBuffer> Make(DWORD capacity) {
        ComPtr<IMediaBuffer> p;
        p.Attach(new MemoryMediaBuffer(capacity));
        return p;
    }
    static ComPtr<IMediaBuffer> Holding(const BYTE* bytes, DWORD size) {
        auto* b = new MemoryMediaBuffer(size);
        if (size) std::memcpy(b->data_.data(), bytes, size);
        b->length_ = size;
        ComPtr<IMediaBuffer> p;
        p.Attach(b);
        return p;
    }
    BYTE* Data() { return data_.data(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaBuffer)) {
            *ppv = static_cast<IMediaBuffer*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    STDMETHODIMP SetLength(DWORD length) override {
        if (length > data_.size()) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* max) override {
        if (!max) return E_POINTER;
        *max = static_cast<DWORD>(data_.size());
        return S_OK;
    }
    STDMETHODIMP GetBufferAndLength(BYTE** buffer, DWORD* length) override {
        if (buffer) *buffer = data_.data();
        if (length) *length = length_;
        return S_OK;
    }

private:
    virtual ~MemoryMediaBuffer() = default;
    std::vector<BYTE> data_;
    DWORD length_ = 0;
    std::atomic<ULONG> refs_{1};
};

}  // namespace plugintest

#pragma GCC diagnostic pop
