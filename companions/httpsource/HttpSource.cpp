#include "companions/httpsource/HttpSource.h"

#include <ws2tcpip.h>

#include <new>

namespace {

// The parser reads in order; ten seconds of CD-rate sound and more.
constexpr std::size_t kKeptBytes = 16 * 1024 * 1024;
// A stream without a length reports this much.
constexpr LONGLONG kEndlessLength = 0x7FFFFFFFFFFFLL;
constexpr unsigned kPumpSliceMs = 20;
constexpr int kReceiveChunk = 16384;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

void PumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

const AMOVIESETUP_MEDIATYPE kHttpOutputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kHttpPins[] = {
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kHttpOutputTypes}};
EXTERN_C const AMOVIESETUP_FILTER kHttpSourceSetup = {&CLSID_KorvellHttpSource, L"Korvell HTTP Source", MERIT_UNLIKELY,
                                                      1, kHttpPins};

// ---------------------------------------------------------------------------
// Output pin

CHttpOutputPin::CHttpOutputPin(CHttpSource* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin(NAME("Korvell HTTP Source output"), filter, lock, phr, L"Output", PINDIR_OUTPUT), source_(filter) {
    queued_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!queued_ && phr) *phr = E_OUTOFMEMORY;
}

STDMETHODIMP CHttpOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CHttpOutputPin::CheckMediaType(const CMediaType* pmt) {
    return *pmt->Type() == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

HRESULT CHttpOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_WAVE);
    pmt->SetFormatType(&FORMAT_None);
    pmt->SetTemporalCompression(FALSE);
    pmt->SetSampleSize(1);
    return S_OK;
}

STDMETHODIMP CHttpOutputPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                              IMemAllocator** actual) {
    CheckPointer(props, E_POINTER);
    CheckPointer(actual, E_POINTER);
    *actual = nullptr;
    IMemAllocator* allocator = preferred;
    if (allocator) {
        allocator->AddRef();
    } else {
        HRESULT hr = S_OK;
        CMemAllocator* own = new (std::nothrow) CMemAllocator(NAME("Korvell HTTP Source allocator"), nullptr, &hr);
        if (!own) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete own;
            return hr;
        }
        hr = own->QueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&allocator));
        if (FAILED(hr)) {
            delete own;
            return hr;
        }
    }
    ALLOCATOR_PROPERTIES granted;
    ALLOCATOR_PROPERTIES wanted = *props;
    if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
    const HRESULT hr = allocator->SetProperties(&wanted, &granted);
    if (FAILED(hr)) {
        allocator->Release();
        return hr;
    }
    *actual = allocator;
    return S_OK;
}

HRESULT CHttpOutputPin::Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got) {
    got = 0;
    if (position < 0 || length < 0) return E_INVALIDARG;
    const bool pump = GetCurrentThreadId() == source_->loadingThread_;
    for (;;) {
        std::size_t read = 0;
        const httpsource::BodyBuffer::Read result =
            source_->body_.ReadAt(static_cast<std::uint64_t>(position), buffer, static_cast<std::size_t>(length), read,
                                  pump ? kPumpSliceMs : httpsource::BodyBuffer::kForever);
        got = static_cast<LONG>(read);
        switch (result) {
            case httpsource::BodyBuffer::Read::Ok:
                return S_OK;
            case httpsource::BodyBuffer::Read::Ended:
                return S_FALSE;
            case httpsource::BodyBuffer::Read::Aborted:
                return VFW_E_WRONG_STATE;
            case httpsource::BodyBuffer::Read::Gone:
                return E_FAIL;
            case httpsource::BodyBuffer::Read::Pending:
                // The thread that built the graph may serve the request
                // itself (a window's socket notifications): keep it alive.
                PumpPending();
                break;
        }
    }
}

HRESULT CHttpOutputPin::ReadSample(IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    // Sample times carry byte positions times 10,000,000.
    const LONGLONG position = start / UNITS;
    const LONG length = static_cast<LONG>((stop - start) / UNITS);
    LONG got = 0;
    hr = Read(position, length, data, got);
    if (FAILED(hr)) return hr;
    sample->SetActualDataLength(got);
    return hr;
}

STDMETHODIMP CHttpOutputPin::Request(IMediaSample* sample, DWORD_PTR user) {
    CheckPointer(sample, E_POINTER);
    CAutoLock hold(&queueLock_);
    if (flushing_) return VFW_E_WRONG_STATE;
    sample->AddRef();
    requests_.push_back({sample, user});
    SetEvent(queued_);
    return S_OK;
}

STDMETHODIMP CHttpOutputPin::WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) {
    CheckPointer(sample, E_POINTER);
    CheckPointer(user, E_POINTER);
    *sample = nullptr;
    *user = 0;
    for (;;) {
        {
            CAutoLock hold(&queueLock_);
            if (!requests_.empty()) {
                const Pending next = requests_.front();
                requests_.pop_front();
                *sample = next.sample;
                *user = next.user;
                if (flushing_) return VFW_E_WRONG_STATE;
                break;
            }
            if (flushing_) return VFW_E_WRONG_STATE;
        }
        if (WaitForSingleObject(queued_, timeout) == WAIT_TIMEOUT) return VFW_E_TIMEOUT;
    }
    return ReadSample(*sample);
}

STDMETHODIMP CHttpOutputPin::SyncReadAligned(IMediaSample* sample) {
    CheckPointer(sample, E_POINTER);
    return ReadSample(sample);
}

STDMETHODIMP CHttpOutputPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    CheckPointer(buffer, E_POINTER);
    LONG got = 0;
    return Read(position, length, buffer, got);
}

STDMETHODIMP CHttpOutputPin::Length(LONGLONG* total, LONGLONG* available) {
    CheckPointer(total, E_POINTER);
    CheckPointer(available, E_POINTER);
    *total = kEndlessLength;
    *available = static_cast<LONGLONG>(source_->body_.Received());
    return S_OK;
}

STDMETHODIMP CHttpOutputPin::BeginFlush() {
    CAutoLock hold(&queueLock_);
    flushing_ = true;
    source_->body_.Abort(true);
    SetEvent(queued_);
    return S_OK;
}

STDMETHODIMP CHttpOutputPin::EndFlush() {
    CAutoLock hold(&queueLock_);
    flushing_ = false;
    source_->body_.Abort(false);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Filter

CUnknown* WINAPI CHttpSource::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    CHttpSource* source = new (std::nothrow) CHttpSource(outer, phr);
    if (!source && phr) *phr = E_OUTOFMEMORY;
    return source;
}

CHttpSource::CHttpSource(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("Korvell HTTP Source"), outer, &lock_, CLSID_KorvellHttpSource),
      pin_(this, &lock_, phr),
      body_(kKeptBytes) {}

CHttpSource::~CHttpSource() {
    body_.Abort(true);
    if (socket_ != INVALID_SOCKET) {
        shutdown(socket_, SD_BOTH);
        closesocket(socket_);
    }
    if (reader_.joinable()) reader_.join();
    for (const auto& pending : pin_.requests_) pending.sample->Release();
    if (pin_.queued_) CloseHandle(pin_.queued_);
    WSACleanup();
}

STDMETHODIMP CHttpSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    if (riid == IID_IAsyncReader) return pin_.NonDelegatingQueryInterface(riid, ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CHttpSource::Load(LPCOLESTR url, const AM_MEDIA_TYPE*) {
    CheckPointer(url, E_POINTER);
    CAutoLock hold(&lock_);
    if (socket_ != INVALID_SOCKET) return E_UNEXPECTED;
    std::string host;
    std::string path;
    unsigned short port = 0;
    if (!httpsource::ParseUrl(Narrow(url), host, port, path)) return E_INVALIDARG;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return E_FAIL;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND);
    socket_ = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    HRESULT hr = S_OK;
    if (socket_ == INVALID_SOCKET || connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0)
        hr = HRESULT_FROM_WIN32(WSAGetLastError());
    freeaddrinfo(found);
    const std::string request = httpsource::BuildRequest(host, path);
    if (SUCCEEDED(hr) &&
        send(socket_, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        hr = HRESULT_FROM_WIN32(WSAGetLastError());
    if (FAILED(hr)) {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        socket_ = INVALID_SOCKET;
        return hr;
    }
    url_ = url;
    loadingThread_ = GetCurrentThreadId();
    reader_ = std::thread([this] { ReadReply(); });
    return S_OK;
}

void CHttpSource::ReadReply() {
    std::string head;
    bool inBody = false;
    char chunk[kReceiveChunk];
    for (;;) {
        const int got = recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        if (inBody) {
            body_.Append(reinterpret_cast<const std::uint8_t*>(chunk), static_cast<std::size_t>(got));
            continue;
        }
        head.append(chunk, static_cast<std::size_t>(got));
        std::size_t bodyStart = 0;
        const httpsource::HeadState state = httpsource::ParseReplyHead(head, bodyStart);
        if (state == httpsource::HeadState::Refused) break;
        if (state == httpsource::HeadState::Ok) {
            inBody = true;
            body_.Append(reinterpret_cast<const std::uint8_t*>(head.data()) + bodyStart, head.size() - bodyStart);
            head.clear();
        }
    }
    body_.End();
}

STDMETHODIMP CHttpSource::GetCurFile(LPOLESTR* url, AM_MEDIA_TYPE* pmt) {
    CheckPointer(url, E_POINTER);
    *url = nullptr;
    if (url_.empty()) return E_FAIL;
    const std::size_t bytes = (url_.size() + 1) * sizeof(wchar_t);
    *url = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*url) return E_OUTOFMEMORY;
    CopyMemory(*url, url_.c_str(), bytes);
    if (pmt) {
        ZeroMemory(pmt, sizeof *pmt);
        pmt->majortype = MEDIATYPE_Stream;
        pmt->subtype = MEDIASUBTYPE_WAVE;
    }
    return S_OK;
}
