#include "companions/screencap/ScreenSource.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "companions/screencap/RegionFit.h"

extern "C" const CLSID CLSID_UScreenCapture = {
    0x4E7B8C21, 0x7F4A, 0x4C51, {0x9B, 0x1E, 0x2D, 0x3A, 0x6F, 0x8E, 0x5C, 0x90}};

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Unreal\\Live\\UScreenCapture";
const ScreenRegion kDefaults = {200, 200, 600, 600, 30};
const long kBuffers = 6;
// How far behind its due time a frame may be grabbed and still be taken, the
// frames after it catching up: a busy machine holds up a grab for a few
// frame times now and then (the display server must answer every band).
const LONGLONG kMaxLagFrames = kBuffers;
const LONG kBandBytes = 256 * 1024;

DWORD ReadOrCreate(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value)
        return value;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&fallback), sizeof fallback);
    return fallback;
}

// A side of the rectangle outside the sizes a frame may have is clamped to the
// screen, and the debug output says so.
void FitSide(const wchar_t* side, LONG* lo, LONG* hi, LONG screenLo, LONG screenHi) {
    bool fitted = false;
    const screencap::Span got = screencap::FitSpan({*lo, *hi}, {screenLo, screenHi}, &fitted);
    if (!fitted) return;
    wchar_t text[200];
    std::swprintf(text, sizeof text / sizeof text[0],
                  L"UScreenCapture: capture %ls %ld (%ld..%ld) is outside %ld..%ld; clamped to the screen: %ld..%ld\n",
                  side, static_cast<long>(*hi - *lo), static_cast<long>(*lo), static_cast<long>(*hi),
                  screencap::kMinExtent, screencap::kMaxExtent, got.lo, got.hi);
    OutputDebugStringW(text);
    *lo = static_cast<LONG>(got.lo);
    *hi = static_cast<LONG>(got.hi);
}

}  // namespace

ScreenRegion ReadScreenRegion() {
    ScreenRegion r = kDefaults;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        r.left = static_cast<LONG>(ReadOrCreate(key, L"Left", static_cast<DWORD>(kDefaults.left)));
        r.right = static_cast<LONG>(ReadOrCreate(key, L"Right", static_cast<DWORD>(kDefaults.right)));
        r.top = static_cast<LONG>(ReadOrCreate(key, L"Top", static_cast<DWORD>(kDefaults.top)));
        r.bottom = static_cast<LONG>(ReadOrCreate(key, L"Bottom", static_cast<DWORD>(kDefaults.bottom)));
        r.frameRate = ReadOrCreate(key, L"FrameRate", kDefaults.frameRate);
        RegCloseKey(key);
    }
    const LONG screenX = GetSystemMetrics(SM_XVIRTUALSCREEN), screenY = GetSystemMetrics(SM_YVIRTUALSCREEN);
    FitSide(L"width", &r.left, &r.right, screenX, screenX + GetSystemMetrics(SM_CXVIRTUALSCREEN));
    FitSide(L"height", &r.top, &r.bottom, screenY, screenY + GetSystemMetrics(SM_CYVIRTUALSCREEN));
    if (r.frameRate < 1 || r.frameRate > 120) r.frameRate = kDefaults.frameRate;
    return r;
}

// ---- filter ----

CUnknown* WINAPI ScreenSource::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* source = new (std::nothrow) ScreenSource(pUnk, &hr);
    if (!source)
        hr = E_OUTOFMEMORY;
    else if (FAILED(hr)) {
        delete source;
        source = nullptr;
    }
    if (phr) *phr = hr;
    return source;
}

ScreenSource::ScreenSource(LPUNKNOWN pUnk, HRESULT* phr) : CSource("UScreenCapture", pUnk, CLSID_UScreenCapture, phr) {
    m_stream = new (std::nothrow) ScreenStream(this, phr);
    if (!m_stream && phr) *phr = E_OUTOFMEMORY;
}

// ---- stream ----

ScreenStream::ScreenStream(ScreenSource* filter, HRESULT* phr)
    : CLiveSourceStream("UScreenCapture stream", phr, filter, L"Capture"), m_source(filter) {
    m_region = ReadScreenRegion();
    QueryPerformanceFrequency(&m_frequency);
}

ScreenStream::~ScreenStream() {
    OnThreadDestroy();
}

HRESULT ScreenStream::GetMediaType(int iPosition, CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 1) return VFW_S_NO_MORE_ITEMS;
    // The region is read again for every new connection.
    m_region = ReadScreenRegion();
    WORD bits = iPosition == 0 ? 32 : 24;
    VIDEOINFOHEADER vih = {};
    vih.AvgTimePerFrame = 10000000 / m_region.frameRate;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = m_region.Width();
    vih.bmiHeader.biHeight = m_region.Height();
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = bits;
    vih.bmiHeader.biCompression = BI_RGB;
    DWORD stride = ((static_cast<DWORD>(m_region.Width()) * bits / 8) + 3) & ~3u;
    vih.bmiHeader.biSizeImage = stride * static_cast<DWORD>(m_region.Height());
    vih.dwBitRate =
        static_cast<DWORD>(static_cast<unsigned long long>(vih.bmiHeader.biSizeImage) * 8 * m_region.frameRate);
    SetRect(&vih.rcSource, 0, 0, m_region.Width(), m_region.Height());
    vih.rcTarget = vih.rcSource;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Video);
    pmt->SetSubtype(bits == 32 ? &MEDIASUBTYPE_RGB32 : &MEDIASUBTYPE_RGB24);
    pmt->SetFormatType(&FORMAT_VideoInfo);
    pmt->SetTemporalCompression(FALSE);
    pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
    return pmt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ScreenStream::CheckMediaType(const CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (!IsEqualGUID(*pmt->Type(), MEDIATYPE_Video) || !IsEqualGUID(*pmt->FormatType(), FORMAT_VideoInfo) ||
        pmt->FormatLength() < sizeof(VIDEOINFOHEADER))
        return E_INVALIDARG;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
    bool rgb32 = IsEqualGUID(*pmt->Subtype(), MEDIASUBTYPE_RGB32) && vih->bmiHeader.biBitCount == 32;
    bool rgb24 = IsEqualGUID(*pmt->Subtype(), MEDIASUBTYPE_RGB24) && vih->bmiHeader.biBitCount == 24;
    if (!rgb32 && !rgb24) return E_INVALIDARG;
    if (vih->bmiHeader.biWidth != m_region.Width() || vih->bmiHeader.biHeight != m_region.Height()) return E_INVALIDARG;
    return S_OK;
}

HRESULT ScreenStream::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CSourceStream::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
    m_bits = vih->bmiHeader.biBitCount;
    m_frameTime = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 10000000 / m_region.frameRate;
    return S_OK;
}

HRESULT ScreenStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
    CheckPointer(alloc, E_POINTER);
    CheckPointer(props, E_POINTER);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (!vih) return E_UNEXPECTED;
    // Enough frames in hand for the encoder to catch up after a slow frame.
    props->cBuffers = props->cBuffers > kBuffers ? props->cBuffers : kBuffers;
    props->cbBuffer = static_cast<long>(vih->bmiHeader.biSizeImage);
    props->cbAlign = props->cbAlign > 0 ? props->cbAlign : 1;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

HRESULT ScreenStream::OnThreadCreate() {
    m_screenDC = GetDC(nullptr);
    if (!m_screenDC) return E_FAIL;
    m_memDC = CreateCompatibleDC(m_screenDC);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = m_region.Width();
    bmi.bmiHeader.biHeight = m_region.Height();  // bottom-up, as the media type says
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = m_bits;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = CreateDIBSection(m_screenDC, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_memDC || !m_bitmap || !bits) {
        OnThreadDestroy();
        return E_OUTOFMEMORY;
    }
    m_bits32 = static_cast<BYTE*>(bits);
    m_oldBitmap = SelectObject(m_memDC, m_bitmap);
    // The first grab takes several frame times (the transfer buffers are made
    // then): done here, before the stream runs, it delays no frame.
    GrabScreen();
    return S_OK;
}

// Grabbed in bands: each band's transfer buffer is small enough to be reused
// from one grab to the next instead of mapped afresh.
bool ScreenStream::GrabScreen() {
    const LONG width = m_region.Width(), height = m_region.Height();
    const LONG band = std::max<LONG>(1, kBandBytes / (width * 4));
    for (LONG y = 0; y < height; y += band) {
        const LONG rows = std::min(band, height - y);
        if (!BitBlt(m_memDC, 0, y, width, rows, m_screenDC, m_region.left, m_region.top + y, SRCCOPY | CAPTUREBLT))
            return false;
    }
    return true;
}

HRESULT ScreenStream::OnThreadDestroy() {
    if (m_memDC && m_oldBitmap) SelectObject(m_memDC, m_oldBitmap);
    if (m_bitmap) DeleteObject(m_bitmap);
    if (m_memDC) DeleteDC(m_memDC);
    if (m_screenDC) ReleaseDC(nullptr, m_screenDC);
    m_oldBitmap = nullptr;
    m_bitmap = nullptr;
    m_memDC = nullptr;
    m_screenDC = nullptr;
    m_bits32 = nullptr;
    return S_OK;
}

HRESULT ScreenStream::OnThreadStartPlay() {
    m_frame = 0;
    m_haveRunStart = false;
    ResetStreamEnd();
    return S_OK;
}

HRESULT ScreenStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (IsConnected() && !m_pFilter->IsActive() && !m_queue) {
        HRESULT hr = S_OK;
        m_queue = new (std::nothrow) COutputQueue(GetConnected(), &hr, FALSE, TRUE);
        if (!m_queue) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete m_queue;
            m_queue = nullptr;
            return hr;
        }
    }
    HRESULT hr = CSourceStream::Active();
    if (FAILED(hr)) {
        delete m_queue;
        m_queue = nullptr;
    }
    return hr;
}

HRESULT ScreenStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    // The capture thread ends first; then the queue hands back its frames.
    HRESULT hr = CSourceStream::Inactive();
    delete m_queue;
    m_queue = nullptr;
    return hr;
}

HRESULT ScreenStream::Deliver(IMediaSample* sample) {
    if (!m_queue) return CSourceStream::Deliver(sample);
    sample->AddRef();  // the queue takes over a reference
    return m_queue->Receive(sample);
}

HRESULT ScreenStream::DeliverEndOfStream() {
    if (!m_queue) return CSourceStream::DeliverEndOfStream();
    m_queue->EOS();
    return S_OK;
}

// Stream time: from the graph's clock when there is one, else our own.
bool ScreenStream::StreamNow(REFERENCE_TIME* now) {
    if (IReferenceClock* clock = m_source->Clock()) {
        REFERENCE_TIME t = 0;
        if (SUCCEEDED(clock->GetTime(&t))) {
            *now = t - m_source->StartTime();
            return true;
        }
    }
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    if (!m_haveRunStart) {
        m_runStart = c;
        m_haveRunStart = true;
    }
    *now = static_cast<REFERENCE_TIME>((c.QuadPart - m_runStart.QuadPart) * 10000000.0 / m_frequency.QuadPart);
    return true;
}

bool ScreenStream::NextFrameDue() {
    if (!m_source->IsRunning()) {
        Sleep(5);
        return false;
    }
    REFERENCE_TIME now = 0;
    StreamNow(&now);
    REFERENCE_TIME due = m_frame * m_frameTime;
    if (now < due) {
        REFERENCE_TIME wait = (due - now) / 10000;
        Sleep(static_cast<DWORD>(wait > 10 ? 10 : (wait < 1 ? 1 : wait)));
        return false;
    }
    // A little late (a slow grab, a busy moment): take the frame now and catch
    // up, as the grab is faster than the frame rate. Further behind: skip to
    // the frame of now, so times stay true.
    LONGLONG current = now / m_frameTime;
    if (current - m_frame > kMaxLagFrames) m_frame = current;
    return true;
}

HRESULT ScreenStream::FillBuffer(IMediaSample* sample) {
    BYTE* p = nullptr;
    HRESULT hr = sample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    long size = static_cast<long>(vih->bmiHeader.biSizeImage);
    if (sample->GetSize() < size) return E_FAIL;
    if (!GrabScreen()) return E_FAIL;
    DrawCursor();
    GdiFlush();
    std::memcpy(p, m_bits32, static_cast<size_t>(size));
    sample->SetActualDataLength(size);
    REFERENCE_TIME start = m_frame * m_frameTime, stop = start + m_frameTime;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    ++m_frame;
    return S_OK;
}

// BitBlt copies the screen without the cursor (it is an overlay): a recording
// shows it only when we draw it ourselves, its hotspot at the pointer. Its
// image is copied once per cursor and drawn from memory, which is far cheaper
// per frame than the system's drawing call.
void ScreenStream::DrawCursor() {
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info) || !(info.flags & CURSOR_SHOWING) || !info.hCursor) return;
    if (info.hCursor != m_cursor) {
        ICONINFO icon = {};
        if (!GetIconInfo(info.hCursor, &icon)) return;
        m_cursor = info.hCursor;
        m_hotspot = {static_cast<LONG>(icon.xHotspot), static_cast<LONG>(icon.yHotspot)};
        m_cursorCopied = LoadCursorImage(icon);
    }
    const LONG x = info.ptScreenPos.x - m_region.left, y = info.ptScreenPos.y - m_region.top;
    if (m_cursorCopied) {
        const LONG width = m_region.Width(), height = m_region.Height();
        const std::ptrdiff_t stride = ((static_cast<std::ptrdiff_t>(width) * m_bits / 8) + 3) & ~std::ptrdiff_t(3);
        // The bitmap is bottom-up: its top row is the last in memory.
        const screencap::FrameView frame = {m_bits32 + stride * (height - 1), -stride, width, height, m_bits / 8};
        screencap::DrawCursorImage(m_cursorImage, x, y, frame);
        return;
    }
    // Failing to draw it leaves a frame without a cursor: still a good frame.
    DrawIconEx(m_memDC, x - m_hotspot.x, y - m_hotspot.y, info.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

namespace {

// The pixels of a bitmap as 32-bit words, rows top-down.
bool BitmapWords(HDC dc, HBITMAP bitmap, int* width, int* height, std::vector<uint32_t>* words) {
    BITMAP info = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return false;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = info.bmWidth;
    bmi.bmiHeader.biHeight = -info.bmHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    words->assign(static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight), 0);
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(info.bmHeight), words->data(), &bmi, DIB_RGB_COLORS) !=
        info.bmHeight)
        return false;
    *width = info.bmWidth;
    *height = info.bmHeight;
    return true;
}

}  // namespace

bool ScreenStream::LoadCursorImage(const ICONINFO& icon) {
    int width = 0, maskHeight = 0, colourWidth = 0, colourHeight = 0;
    std::vector<uint32_t> mask, colour;
    bool read = BitmapWords(m_screenDC, icon.hbmMask, &width, &maskHeight, &mask);
    if (read && icon.hbmColor)
        read = BitmapWords(m_screenDC, icon.hbmColor, &colourWidth, &colourHeight, &colour) && colourWidth == width &&
               colourHeight == maskHeight;
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
    return read && screencap::MakeCursorImage(width, maskHeight, mask, colour, static_cast<int>(icon.xHotspot),
                                              static_cast<int>(icon.yHotspot), &m_cursorImage);
}

// A live source: frames only while running, each at its due time.
HRESULT ScreenStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command com;
    do {
        while (!CheckRequest(&com)) {
            if (StreamEnded()) {
                Sleep(10);
                continue;
            }
            if (!NextFrameDue()) continue;
            if (StreamEndDue(m_frame * m_frameTime)) {
                DeliverEndOfStream();  // downstream can finish its files
                continue;
            }
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                Sleep(1);
                continue;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) hr = Deliver(sample);
            sample->Release();
            if (FAILED(hr)) {
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
            if (hr != S_OK) return S_OK;  // downstream wants no more
        }
    } while (AnswerLoopCommand(com));
    return S_FALSE;
}
