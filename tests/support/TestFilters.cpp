#include "tests/support/TestFilters.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace testfilters {
namespace {
// {5C1A3E80-9D0B-4E1F-A7C2-3B6D8E9F0A14}
const CLSID kRecorderClsid = {0x5C1A3E80, 0x9D0B, 0x4E1F, {0xA7, 0xC2, 0x3B, 0x6D, 0x8E, 0x9F, 0x0A, 0x14}};
// {5C1A3E81-9D0B-4E1F-A7C2-3B6D8E9F0A14}
const CLSID kPcmSourceClsid = {0x5C1A3E81, 0x9D0B, 0x4E1F, {0xA7, 0xC2, 0x3B, 0x6D, 0x8E, 0x9F, 0x0A, 0x14}};
}  // namespace

RecorderPin::RecorderPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("recorder pin", filter, lock, phr, L"In") {}

STDMETHODIMP RecorderPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    SeenSample s{};
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    long n = sample->GetActualDataLength();
    if (p && n > 0) s.bytes.assign(p, p + n);
    s.timed = sample->GetTime(&s.start, &s.stop) == S_OK;
    s.sync = sample->IsSyncPoint() == S_OK;
    s.discontinuity = sample->IsDiscontinuity() == S_OK;
    CAutoLock lock(&seenLock_);
    seen_.push_back(std::move(s));
    return S_OK;
}

STDMETHODIMP RecorderPin::EndOfStream() {
    ended_.Set();
    return S_OK;
}

std::vector<SeenSample> RecorderPin::Seen() {
    CAutoLock lock(&seenLock_);
    return seen_;
}

void RecorderPin::Clear() {
    CAutoLock lock(&seenLock_);
    seen_.clear();
    ended_.Reset();
}

RecorderFilter::RecorderFilter() : CBaseFilter("recorder", nullptr, &lock_, kRecorderClsid), pin_(this, &lock_, &hr_) {}

PcmStream::PcmStream(PcmSourceFilter* filter, HRESULT* phr, const PcmFormat& format)
    : CSourceStream("pcm stream", phr, filter, L"Output"), format_(format) {}

HRESULT PcmStream::GetMediaType(CMediaType* mt) {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = format_.channels;
    wfx.nSamplesPerSec = format_.rate;
    wfx.wBitsPerSample = format_.bits;
    wfx.nBlockAlign = static_cast<WORD>(format_.channels * format_.bits / 8);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * format_.rate;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    mt->SetSampleSize(wfx.nBlockAlign);
    return mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof wfx) ? S_OK : E_OUTOFMEMORY;
}

HRESULT PcmStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    props->cBuffers = 4;
    props->cbBuffer = static_cast<long>(format_.rate * format_.channels * 2 * format_.blockMs / 1000 + 64);
    props->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    return alloc->SetProperties(props, &actual);
}

HRESULT PcmStream::OnThreadStartPlay() {
    framesSent_ = 0;
    return S_OK;
}

HRESULT PcmStream::FillBuffer(IMediaSample* sample) {
    const unsigned long long total = static_cast<unsigned long long>(format_.seconds * format_.rate);
    if (framesSent_ >= total) return S_FALSE;
    unsigned long long frames = static_cast<unsigned long long>(format_.rate) * format_.blockMs / 1000;
    if (frames > total - framesSent_) frames = total - framesSent_;
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    auto* pcm = reinterpret_cast<int16_t*>(p);
    for (unsigned long long i = 0; i < frames; ++i) {
        double t = static_cast<double>(framesSent_ + i) / format_.rate;
        pcm[i * format_.channels] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 1000 * t));
        if (format_.channels == 2)
            pcm[i * 2 + 1] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 440 * t));
    }
    sample->SetActualDataLength(static_cast<long>(frames * format_.channels * 2));
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(framesSent_ * 10000000ULL / format_.rate);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>((framesSent_ + frames) * 10000000ULL / format_.rate);
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    framesSent_ += frames;
    return S_OK;
}

PcmSourceFilter::PcmSourceFilter(const PcmFormat& format) : CSource("pcm source", nullptr, kPcmSourceClsid) {
    stream_ = new PcmStream(this, &hr_, format);
}

}  // namespace testfilters
