// Loading an outside engine DLL that lives beside our own module and
// binding its exports by ordinal.
#pragma once

#include <windows.h>

// The DLL from the folder of the module that holds this code, else from the
// usual search; null when it cannot be loaded.
HMODULE LoadLibraryBesideModule(const wchar_t* fileName);

// *slot := the export with that ordinal (null when missing).
template <class F>
void BindOrdinal(HMODULE module, int ordinal, F* slot) {
    *slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}
