// Stand-in for the platform's "ACM Wrapper" in the Windows Media graph,
// where the wrapper only hands the capture's PCM on to the ASF writer
// (which does its own encoding). Wine's wrapper neither takes PCM nor has
// the pins "Input" and "Output" the graph connects by name. Registered
// under its own class id, which lists before Wine's in the category.
#pragma once

#include "platform/dshow/BaseClasses.h"

// {0B6A8E52-2C4F-4D19-B7E3-5A9C1D2E3F40}
extern const CLSID CLSID_KorvellPcmWrapper;

class CPcmWrapper : public CTransformFilter {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN unk, HRESULT* phr);

    CBasePin* GetPin(int n) override;
    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

private:
    explicit CPcmWrapper(LPUNKNOWN unk);
};
