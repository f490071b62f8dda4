// In-process COM server plumbing shared by the companion DLLs: class table,
// class factory, the four Dll* exports and filter registration through
// IFilterMapper2. Each DLL defines kClasses/kClassCount.
#pragma once

// COM objects are deleted through their own class, never through an
// interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#include <dshow.h>
#include <windows.h>

namespace kit {

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* name;
    // Creates the object with one reference held by *out.
    HRESULT (*create)(IUnknown** out);
    // Filter registration data; null for a plain COM class.
    const REGFILTER2* filter;
    // Filter category the filter is listed in.
    const CLSID* category;
};

extern const ClassEntry kClasses[];
extern const int kClassCount;

// Objects and server locks alive; DllCanUnloadNow answers S_OK at zero.
void ModuleAddRef();
void ModuleRelease();

}  // namespace kit
