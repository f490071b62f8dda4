#include "tests/support/EsSource.h"

#include <mmreg.h>

#include <algorithm>

namespace testfilters {

namespace {

// {E06D8026-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kMpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
// {00000050-0000-0010-8000-00AA00389B71}
const GUID kMpegAudioSubtype = {0x00000050, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {5C0E1A2B-7D3F-4E61-9A8B-2F4C6D8E0A13}
const CLSID kEsSourceClsid = {0x5C0E1A2B, 0x7D3F, 0x4E61, {0x9A, 0x8B, 0x2F, 0x4C, 0x6D, 0x8E, 0x0A, 0x13}};

}  // namespace

std::vector<EsUnit> SplitMpegVideo(const std::vector<BYTE>& es, REFERENCE_TIME frameDuration) {
    std::vector<size_t> cuts;
    long long headerStart = -1;
    bool sawPicture = false;
    for (size_t i = 0; i + 3 < es.size(); ++i) {
        if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
        const BYTE code = es[i + 3];
        if (code == 0xB3 || code == 0xB8 || code == 0x00) {
            if (headerStart < 0) headerStart = static_cast<long long>(i);
            if (code == 0x00) {
                if (sawPicture) cuts.push_back(static_cast<size_t>(headerStart));
                sawPicture = true;
                headerStart = -1;
            }
        } else if (code >= 0x01 && code <= 0xAF) {
            headerStart = -1;
        }
        i += 3;
    }
    std::vector<EsUnit> units;
    size_t from = 0;
    cuts.push_back(es.size());
    for (size_t cut : cuts) {
        if (cut <= from) continue;
        EsUnit u;
        u.bytes.assign(es.begin() + static_cast<long>(from), es.begin() + static_cast<long>(cut));
        u.start = static_cast<REFERENCE_TIME>(units.size()) * frameDuration;
        units.push_back(std::move(u));
        from = cut;
    }
    return units;
}

std::vector<EsUnit> SplitMpegAudio(const std::vector<BYTE>& es) {
    static const int kBitrates[2][3][15] = {// MPEG-1: layers I, II, III
                                            {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                             {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                             {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                            // MPEG-2 low rates
                                            {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    std::vector<EsUnit> units;
    long long samples = 0;
    size_t i = 0;
    while (i + 4 <= es.size()) {
        if (es[i] != 0xFF || (es[i + 1] & 0xE0) != 0xE0) {
            ++i;
            continue;
        }
        const int version = (es[i + 1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2
        const int layer = 4 - ((es[i + 1] >> 1) & 3);
        const int bri = es[i + 2] >> 4;
        const int sri = (es[i + 2] >> 2) & 3;
        const int pad = (es[i + 2] >> 1) & 1;
        if (version == 1 || layer == 4 || bri == 0 || bri == 15 || sri == 3) {
            ++i;
            continue;
        }
        const int lsf = version == 3 ? 0 : 1;
        const int rate = kRates[sri] >> lsf;
        const int kbps = kBitrates[lsf][layer - 1][bri];
        size_t length;
        int perFrame;
        if (layer == 1) {
            length = static_cast<size_t>((12 * kbps * 1000 / rate + pad) * 4);
            perFrame = 384;
        } else {
            const int k = (layer == 3 && lsf) ? 72 : 144;
            length = static_cast<size_t>(k * kbps * 1000 / rate + pad);
            perFrame = (layer == 3 && lsf) ? 576 : 1152;
        }
        length = std::min(length, es.size() - i);
        EsUnit u;
        u.bytes.assign(es.begin() + static_cast<long>(i), es.begin() + static_cast<long>(i + length));
        u.start = samples * 10000000 / rate;
        units.push_back(std::move(u));
        samples += perFrame;
        i += length;
    }
    return units;
}

CMediaType MpegVideoType(LONG width, LONG height, REFERENCE_TIME frameDuration, DWORD bitrate) {
    VIDEOINFOHEADER vih = {};
    vih.rcSource = {0, 0, width, height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = bitrate;
    vih.AvgTimePerFrame = frameDuration;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    CMediaType mt;
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&kMpeg2VideoSubtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih);
    return mt;
}

CMediaType MpegAudioType(DWORD rate, WORD channels, DWORD bitrate) {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = 0x50;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.nAvgBytesPerSec = bitrate / 8;
    wfx.nBlockAlign = 1;
    CMediaType mt;
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&kMpegAudioSubtype);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof wfx);
    return mt;
}

EsStream::EsStream(EsSourceFilter* filter, HRESULT* phr, const CMediaType& type, std::vector<EsUnit> units)
    : CSourceStream("es stream", phr, filter, L"Output"), type_(type), units_(std::move(units)) {}

HRESULT EsStream::GetMediaType(CMediaType* mt) {
    *mt = type_;
    return S_OK;
}

HRESULT EsStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    size_t largest = 1;
    for (const EsUnit& u : units_) largest = std::max(largest, u.bytes.size());
    props->cBuffers = 4;
    props->cbBuffer = static_cast<long>(largest);
    props->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    return alloc->SetProperties(props, &actual);
}

HRESULT EsStream::OnThreadStartPlay() {
    next_ = 0;
    return S_OK;
}

HRESULT EsStream::FillBuffer(IMediaSample* sample) {
    if (next_ >= units_.size()) return S_FALSE;
    const EsUnit& u = units_[next_++];
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    const size_t n = std::min(u.bytes.size(), static_cast<size_t>(sample->GetSize()));
    std::copy(u.bytes.begin(), u.bytes.begin() + static_cast<long>(n), p);
    sample->SetActualDataLength(static_cast<long>(n));
    if (u.start >= 0) {
        REFERENCE_TIME start = u.start, stop = u.start + 1;
        sample->SetTime(&start, &stop);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

EsSourceFilter::EsSourceFilter(const CMediaType& type, std::vector<EsUnit> units)
    : CSource("es source", nullptr, kEsSourceClsid) {
    stream_ = new EsStream(this, &hr_, type, std::move(units));
}

}  // namespace testfilters
