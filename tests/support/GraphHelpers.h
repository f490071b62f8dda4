// Small DirectShow helpers for the graph tests: filters by friendly name,
// pins by name, event waits and file access from the Windows side.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

namespace graphtest {

// COM pointer that releases on scope exit; enough for tests.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (p_) {
            p_->Release();
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

// Category {083863F1-70DE-11D0-BD40-00A0C911CE86}, the DirectShow filters.
extern const CLSID kLegacyFilterCategory;

// Every "FriendlyName" listed in a device category (empty when none).
std::vector<std::wstring> ListFriendlyNames(REFCLSID category);

// The first filter of the category whose friendly name matches exactly.
HRESULT FindFilterByFriendlyName(REFCLSID category, const wchar_t* name, IBaseFilter** filter);

// The first pin of the given direction whose name matches exactly.
HRESULT FindPinByName(IBaseFilter* filter, PIN_DIRECTION dir, const wchar_t* name, IPin** pin);

// Waits for one of the wanted events (others are freed and skipped). Returns
// the event code seen, or 0 on timeout; param1 receives that event's first
// parameter.
long WaitForEvent(IMediaEvent* events, std::initializer_list<long> wanted, DWORD timeoutMs, LONG_PTR* param1 = nullptr);

// A fresh folder under the Windows temporary folder, removed by the caller.
std::wstring MakeTempFolder();
void RemoveTree(const std::wstring& folder);

bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
bool ReadFileBytes(const std::wstring& path, std::vector<unsigned char>* bytes);

// Deterministic pseudo-random content (so a misplaced block shows).
std::vector<unsigned char> PatternBytes(size_t size, unsigned seed);

}  // namespace graphtest
