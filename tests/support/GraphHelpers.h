// Small DirectShow helpers for the graph tests: filters by friendly name,
// pins by name, event waits and file access from the Windows side.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"

namespace graphtest {

// The platform's counted COM reference, under the name the tests use.
template <class T>
using ComPtr = com::ComPtr<T>;

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
