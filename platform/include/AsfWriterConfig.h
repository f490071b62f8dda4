// IConfigAsfWriter of the WM ASF Writer filter, which mingw-w64 does not
// declare. IWMProfile is only named here, so this header does not pull in
// wmsdkidl.h (which does not mix with strmif.h in one translation unit).
#pragma once

#include <objbase.h>

struct IWMProfile;

// {45086030-F7E4-486A-B504-826BB5792A3B}
const GUID IID_IConfigAsfWriter = {0x45086030, 0xf7e4, 0x486a, {0xb5, 0x04, 0x82, 0x6b, 0xb5, 0x79, 0x2a, 0x3b}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IConfigAsfWriter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileId(DWORD dwProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileId(DWORD* pdwProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileGuid(REFGUID guidProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileGuid(GUID* pProfileGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfile(IWMProfile* pProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfile(IWMProfile** ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIndexMode(BOOL bIndexFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIndexMode(BOOL* pbIndexFile) = 0;

protected:
    ~IConfigAsfWriter() = default;
};
#pragma GCC diagnostic pop
