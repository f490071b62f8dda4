// "UScreenCapture": a live source of the screen region and frame rate kept
// in its registry values, on the output pin "Capture".
#pragma once

#include "companions/screencap/CursorBlend.h"
#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/LiveStreamControl.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/Source.h"

// {4E7B8C21-7F4A-4C51-9B1E-2D3A6F8E5C90}
extern "C" const CLSID CLSID_UScreenCapture;

struct ScreenRegion {
    LONG left, top, right, bottom;
    DWORD frameRate;
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
};

// The region from HKLM "SOFTWARE\Unreal\Live\UScreenCapture", the key made
// with its defaults when it is missing. A width or height outside 8..8192 (an
// empty or inverted side too) is clamped to the screen, and the debug output
// says so; a rate outside 1..120 falls back to the default.
ScreenRegion ReadScreenRegion();

class ScreenSource;

// The pin also takes IAMStreamControl::StopAt, so a recorder can end the
// stream (end of stream downstream) before it stops the graph.
class ScreenStream : public CLiveSourceStream {
public:
    ScreenStream(ScreenSource* filter, HRESULT* phr);
    ~ScreenStream() override;

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    HRESULT DoBufferProcessingLoop() override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    // Frames go downstream from a thread of their own, so grabbing the next
    // frame overlaps with encoding the last one.
    HRESULT Deliver(IMediaSample* sample) override;
    HRESULT DeliverEndOfStream() override;

private:
    // True when the next frame is due; sleeps a little otherwise.
    bool NextFrameDue();
    bool StreamNow(REFERENCE_TIME* now);
    // Copies the region of the screen into the bitmap; false when it fails.
    bool GrabScreen();
    // Draws the mouse cursor into the grabbed frame where it is on screen.
    void DrawCursor();
    // Copies a cursor's image into m_cursorImage and deletes the icon's
    // bitmaps; false when it cannot be read.
    bool LoadCursorImage(const ICONINFO& icon);

    ScreenSource* m_source;
    ScreenRegion m_region{};
    WORD m_bits = 32;
    REFERENCE_TIME m_frameTime = 333333;
    LONGLONG m_frame = 0;  // index of the next frame to send
    LARGE_INTEGER m_runStart{}, m_frequency{};
    bool m_haveRunStart = false;

    HDC m_screenDC = nullptr;
    HDC m_memDC = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
    BYTE* m_bits32 = nullptr;

    // The cursor last drawn and its image, read when the cursor changes; one
    // whose image cannot be read is drawn by the system at its hotspot.
    HCURSOR m_cursor = nullptr;
    POINT m_hotspot{};
    bool m_cursorCopied = false;
    screencap::CursorImage m_cursorImage;

    COutputQueue* m_queue = nullptr;  // while active
};

class ScreenSource : public CSource {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    bool IsRunning() { return m_State == State_Running; }
    IReferenceClock* Clock() { return m_pClock; }
    REFERENCE_TIME StartTime() const { return m_tStart; }

private:
    ScreenSource(LPUNKNOWN pUnk, HRESULT* phr);
    ScreenStream* m_stream = nullptr;
};
