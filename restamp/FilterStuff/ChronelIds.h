// Class and interface identifiers of the time marker.
#pragma once

#include <windows.h>
#include <unknwn.h>

extern "C" const CLSID CLSID_KorvellChronel;
extern "C" const CLSID CLSID_KorvellChronelPage;
extern "C" const IID IID_IVexoParserSettings;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// The parser's settings interface. Only the format name is meaningful; the
// other slots are kept for the interface's layout.
struct IVexoParserSettings : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    // *name: the detected format's display name in a CoTaskMemAlloc block of
    // 512 bytes that the caller frees; context is required and unused.
    virtual HRESULT STDMETHODCALLTYPE GetFormatName(LPWSTR* name, void* context) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5(void* arg) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6(void* arg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSettingsWord(DWORD word) = 0;
};
#pragma GCC diagnostic pop
