#include "tests/support/VideoSource.h"

#include <cstring>

namespace testfilters {
namespace {

// {5C1A3E82-9D0B-4E1F-A7C2-3B6D8E9F0A15}
const CLSID kVideoSourceClsid = {0x5C1A3E82, 0x9D0B, 0x4E1F, {0xA7, 0xC2, 0x3B, 0x6D, 0x8E, 0x9F, 0x0A, 0x15}};
// {30323449-0000-0010-8000-00AA00389B71}
const GUID kI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {36315659-0000-0010-8000-00AA00389B71}
const GUID kYV16 = {0x36315659, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

bool Planar(VideoColour c) {
    return c == VideoColour::I420 || c == VideoColour::YV12 || c == VideoColour::YV16;
}

int RgbBytes(VideoColour c) {
    return c == VideoColour::RGB32 ? 4 : 3;
}

// A gradient with a bar that moves one step a frame: motion for the coder.
void Pixel(int x, int y, int frame, int* r, int* g, int* b) {
    const bool bar = ((x + frame * 4) / 16) % 8 == 0;
    *r = bar ? 235 : (x * 255 / 640) & 255;
    *g = bar ? 235 : (y * 255 / 480) & 255;
    *b = bar ? 16 : 128;
}

}  // namespace

VideoStream::VideoStream(VideoSourceFilter* filter, HRESULT* phr, const VideoFormat& format)
    : CSourceStream("video stream", phr, filter, L"Output"), format_(format) {}

long VideoStream::FrameBytes() const {
    const long w = format_.width, h = format_.height;
    switch (format_.colour) {
        case VideoColour::RGB32:
            return w * h * 4;
        case VideoColour::RGB24:
            return ((w * 3 + 3) & ~3) * h;
        case VideoColour::YUY2:
            return w * h * 2;
        case VideoColour::I420:
        case VideoColour::YV12:
            return w * h * 3 / 2;
        case VideoColour::YV16:
        case VideoColour::UYVY:
            return w * h * 2;
    }
    return 0;
}

HRESULT VideoStream::GetMediaType(CMediaType* mt) {
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = format_.announceRate ? static_cast<REFERENCE_TIME>(10000000.0 / format_.fps) : 0;
    BITMAPINFOHEADER& bih = vih.bmiHeader;
    bih.biSize = sizeof bih;
    bih.biWidth = format_.width;
    bih.biHeight = format_.topDown ? -format_.height : format_.height;
    bih.biPlanes = 1;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetFormatType(&FORMAT_VideoInfo);
    switch (format_.colour) {
        case VideoColour::RGB32:
            bih.biBitCount = 32;
            bih.biCompression = BI_RGB;
            mt->SetSubtype(&MEDIASUBTYPE_RGB32);
            break;
        case VideoColour::RGB24:
            bih.biBitCount = 24;
            bih.biCompression = BI_RGB;
            mt->SetSubtype(&MEDIASUBTYPE_RGB24);
            break;
        case VideoColour::YUY2:
            bih.biBitCount = 16;
            bih.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
            mt->SetSubtype(&MEDIASUBTYPE_YUY2);
            break;
        case VideoColour::I420:
            bih.biBitCount = 12;
            bih.biCompression = MAKEFOURCC('I', '4', '2', '0');
            mt->SetSubtype(&kI420);
            break;
        case VideoColour::YV12:
            bih.biBitCount = 12;
            bih.biCompression = MAKEFOURCC('Y', 'V', '1', '2');
            mt->SetSubtype(&MEDIASUBTYPE_YV12);
            break;
        case VideoColour::YV16:
            bih.biBitCount = 16;
            bih.biCompression = MAKEFOURCC('Y', 'V', '1', '6');
            mt->SetSubtype(&kYV16);
            break;
        case VideoColour::UYVY:
            bih.biBitCount = 16;
            bih.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
            mt->SetSubtype(&MEDIASUBTYPE_UYVY);
            break;
    }
    // RGB sizes are left 0, as capture sources often do: the stride follows
    // from width and depth.
    bih.biSizeImage = format_.colour == VideoColour::RGB32 || format_.colour == VideoColour::RGB24
                          ? 0
                          : static_cast<DWORD>(FrameBytes());
    mt->SetSampleSize(static_cast<ULONG>(FrameBytes()));
    return mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih) ? S_OK : E_OUTOFMEMORY;
}

HRESULT VideoStream::CheckMediaType(const CMediaType* mt) {
    CMediaType mine;
    GetMediaType(&mine);
    return IsEqualGUID(*mt->Subtype(), *mine.Subtype()) ? S_OK : E_FAIL;
}

HRESULT VideoStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    props->cBuffers = 3;
    props->cbBuffer = FrameBytes();
    props->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    return alloc->SetProperties(props, &actual);
}

HRESULT VideoStream::OnThreadStartPlay() {
    sent_ = 0;
    return S_OK;
}

HRESULT VideoStream::FillBuffer(IMediaSample* sample) {
    if (sent_ >= format_.frames) return S_FALSE;
    BYTE* p = nullptr;
    sample->GetPointer(&p);
    const int w = format_.width, h = format_.height, f = sent_;
    int r, g, b;
    switch (format_.colour) {
        case VideoColour::RGB32:
        case VideoColour::RGB24: {
            const int bpp = RgbBytes(format_.colour);
            const int stride = (w * bpp + 3) & ~3;
            for (int y = 0; y < h; ++y) {
                // Bottom-up rows unless top-down: the picture is upright either way.
                BYTE* row = p + static_cast<size_t>(format_.topDown ? y : h - 1 - y) * stride;
                for (int x = 0; x < w; ++x) {
                    Pixel(x, y, f, &r, &g, &b);
                    row[x * bpp] = static_cast<BYTE>(b);
                    row[x * bpp + 1] = static_cast<BYTE>(g);
                    row[x * bpp + 2] = static_cast<BYTE>(r);
                    if (bpp == 4) row[x * bpp + 3] = 255;
                }
            }
            break;
        }
        case VideoColour::YUY2:
        case VideoColour::UYVY:
        case VideoColour::I420:
        case VideoColour::YV12:
        case VideoColour::YV16: {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    Pixel(x, y, f, &r, &g, &b);
                    const int luma = (66 * r + 129 * g + 25 * b + 128) / 256 + 16;
                    const int u = (-38 * r - 74 * g + 112 * b + 128) / 256 + 128;
                    const int v = (112 * r - 94 * g - 18 * b + 128) / 256 + 128;
                    if (format_.colour == VideoColour::YUY2) {
                        BYTE* q = p + static_cast<size_t>(y) * w * 2 + x * 2;
                        q[0] = static_cast<BYTE>(luma);
                        q[1] = static_cast<BYTE>(x % 2 == 0 ? u : v);
                    } else if (format_.colour == VideoColour::UYVY) {
                        BYTE* q = p + static_cast<size_t>(y) * w * 2 + x * 2;
                        q[0] = static_cast<BYTE>(x % 2 == 0 ? u : v);
                        q[1] = static_cast<BYTE>(luma);
                    } else if (Planar(format_.colour) && format_.colour != VideoColour::I420) {
                        // YV12 and YV16: V plane before U; YV16 keeps every line.
                        const int ch = format_.colour == VideoColour::YV16 ? h : h / 2;
                        const int cy = format_.colour == VideoColour::YV16 ? y : y / 2;
                        p[static_cast<size_t>(y) * w + x] = static_cast<BYTE>(luma);
                        if (x % 2 == 0 && (format_.colour == VideoColour::YV16 || y % 2 == 0)) {
                            BYTE* planeV = p + static_cast<size_t>(w) * h;
                            BYTE* planeU = planeV + static_cast<size_t>(w / 2) * ch;
                            planeV[cy * (w / 2) + x / 2] = static_cast<BYTE>(v);
                            planeU[cy * (w / 2) + x / 2] = static_cast<BYTE>(u);
                        }
                    } else {
                        p[static_cast<size_t>(y) * w + x] = static_cast<BYTE>(luma);
                        if (y % 2 == 0 && x % 2 == 0) {
                            BYTE* planeU = p + static_cast<size_t>(w) * h;
                            BYTE* planeV = planeU + static_cast<size_t>(w / 2) * (h / 2);
                            planeU[(y / 2) * (w / 2) + x / 2] = static_cast<BYTE>(u);
                            planeV[(y / 2) * (w / 2) + x / 2] = static_cast<BYTE>(v);
                        }
                    }
                }
            break;
        }
    }
    sample->SetActualDataLength(FrameBytes());
    if (format_.paceMs > 0) Sleep(format_.paceMs);
    const double period = 10000000.0 / format_.fps;
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(sent_ * period);
    if (format_.gapAt > 0 && sent_ >= format_.gapAt) start += format_.gap;
    if (format_.jitter > 0) start += (sent_ * 7919) % (2 * format_.jitter + 1) - format_.jitter;
    if (start < 0) start = 0;
    REFERENCE_TIME stop = start + static_cast<REFERENCE_TIME>(period);
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    ++sent_;
    return S_OK;
}

VideoSourceFilter::VideoSourceFilter(const VideoFormat& format) : CSource("video source", nullptr, kVideoSourceClsid) {
    stream_ = new VideoStream(this, &hr_, format);
}

}  // namespace testfilters
