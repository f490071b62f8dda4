// "CC Input": the video encoder's closed-caption pin. Line-21 samples wait in
// its queue until the frames they belong to ask for them as user data.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "codec/videoencoder/CaptionQueue.h"

#include <functional>

class Mpeg2EncCCPin : public CBaseInputPin {
public:
    // `mode` reads the filter's committed "ClosedCaption".
    Mpeg2EncCCPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, std::function<int()> mode);

    // Line-21 data: GOP packets in passthrough mode, byte pairs otherwise.
    HRESULT CheckMediaType(const CMediaType* mt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The frame's caption user data in the given form; none when the pin is
    // stopped or nothing is due.
    std::optional<std::vector<std::uint8_t>> BuildCcUserData(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                             videoenc::CaptionForm form);

private:
    videoenc::CaptionQueue queue_;
    std::function<int()> mode_;
};
