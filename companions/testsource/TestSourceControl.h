// Test-only file source "Korvell Test File Source": plays a file as
// MEDIATYPE_Stream samples of a fixed size and ends the stream at its end.
// Its extra interface paces the delivery so a graph can be stopped mid-run.
#pragma once

#include <dshow.h>
#include <windows.h>

// {0BBD6B58-6918-47D8-9AB4-4546DA92F51A}
DEFINE_GUID(CLSID_KorvellTestFileSource, 0x0bbd6b58, 0x6918, 0x47d8, 0x9a, 0xb4, 0x45, 0x46, 0xda, 0x92, 0xf5, 0x1a);

// {AA90F6D1-0813-40AE-BB4A-B7698F6D2C98}
DEFINE_GUID(IID_ITestSourceControl, 0xaa90f6d1, 0x0813, 0x40ae, 0xbb, 0x4a, 0xb7, 0x69, 0x8f, 0x6d, 0x2c, 0x98);

constexpr ULONG kTestSourceDefaultSampleBytes = 65536;

// A COM interface: released, never deleted through this type.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct ITestSourceControl : public IUnknown {
    // Sample size in bytes (0: the default), only before the output pin
    // connects; delay after each delivered sample in milliseconds, any time.
    virtual HRESULT STDMETHODCALLTYPE SetPacing(ULONG sampleBytes, ULONG delayMs) = 0;
    // Samples delivered since the last start.
    virtual HRESULT STDMETHODCALLTYPE GetDelivered(ULONG* samples) = 0;
};
#pragma GCC diagnostic pop
