#include "engine/app/AudioServerWin.h"

#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include "companions/loopback/LoopbackCapture.h"
#include "engine/app/EngineState.h"
#include "engine/core/AudioHeaders.h"
#include "engine/core/AudioServer.h"
#include "engine/core/StreamLoop.h"

namespace zelbov {

namespace {

constexpr u_short kPort = 7777;
constexpr int kBacklog = 5;
constexpr int kSendBufferStart = 50000;
constexpr int kSendBufferFloor = 1450;
// Sonifer mode streams silence at this rate: the parser needs its header.
constexpr std::uint32_t kSilentRate = 44100;
constexpr std::uint64_t kSilentBufferMs = 5000;
constexpr int kCodeGaveUp = 100;
constexpr int kCodeAudioFailed = 200;
constexpr int kCodeClosed = 102;
constexpr DWORD kSelfStopWaitMs = 2000;
constexpr DWORD kSelfStopEndMs = 1000;

engine::AudioServer g_server;
SOCKET g_listen = INVALID_SOCKET;

class WinClock : public engine::Clock {
public:
    std::uint64_t NowMs() override { return ::GetTickCount64(); }
    void SleepMs(unsigned ms) override { ::Sleep(ms); }
};

class WinConnection : public engine::Connection, public engine::StreamSocket {
public:
    explicit WinConnection(SOCKET s) : socket_(s) {}
    int Receive(char* buffer, int capacity) override {
        const int got = ::recv(socket_, buffer, capacity, 0);
        return got == SOCKET_ERROR ? -1 : got;
    }
    bool SendAll(const char* data, std::size_t size) override {
        std::size_t sent = 0;
        WinClock clock;
        while (sent < size) {
            const int n = ::send(socket_, data + sent, static_cast<int>(size - sent), 0);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
                clock.SleepMs(engine::kPassMs);
            } else {
                return false;
            }
        }
        return true;
    }
    Status Send(const std::uint8_t* data, std::size_t size, std::size_t& sent) override {
        const int n = ::send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
        if (n > 0) {
            sent = static_cast<std::size_t>(n);
            return Status::Sent;
        }
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return Status::WouldBlock;
        return Status::Failed;
    }

private:
    SOCKET socket_;
};

// Sound for sonifer mode: never a packet, so the loop sends silence.
class SilentCapture : public engine::CaptureClient {
public:
    long NextPacketSize(std::uint32_t& frames) override {
        frames = 0;
        return 0;
    }
    long GetBuffer(const std::uint8_t*&, std::uint32_t&, bool&) override { return E_UNEXPECTED; }
    long ReleaseBuffer(std::uint32_t) override { return E_UNEXPECTED; }
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

int SetSendBufferSize(SOCKET s) {
    for (int size = kSendBufferStart; size > kSendBufferFloor; size /= 2) {
        if (::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size) == 0) {
            int actual = 0;
            int length = sizeof actual;
            if (::getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&actual), &length) != 0) return 0;
            return actual;
        }
        const int error = ::WSAGetLastError();
        if (error == WSAENOPROTOOPT || error == WSAEINVAL) return 0;
    }
    return 0;
}

DWORD WINAPI SelfStopThread(void*) {
    ::PostMessageA(Engine().window, Engine().messages.screenCapture, engine::kStopCode, 0);
    ::Sleep(kSelfStopWaitMs);
    PostCode(kCodeClosed);
    ::Sleep(kSelfStopEndMs);
    ::ExitProcess(0);
}

// The stream on the served connection, on the accept thread.
void Stream(WinConnection& connection) {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Flags().streamingStopped = false;
    WinClock clock;
    const engine::TraceSink trace = [](const std::string& line) { Trace(line); };
    engine::StreamResult result;
    if (Engine().settings.vista) {
        loopback::LoopbackCapture capture;
        int step = 0;
        const HRESULT hr = capture.Open(trace, step);
        if (FAILED(hr)) {
            result = {engine::StreamResult::End::Failed, step, static_cast<long>(hr)};
        } else {
            Trace("\r\n\r\nSEND HEADER");
            engine::StreamLoop loop(capture, connection, clock, Flags(), capture.SampleRate(), capture.BufferMs(),
                                    trace);
            result = loop.Run();
            if (result.end == engine::StreamResult::End::Stopped && FAILED(capture.Stop()))
                result = {engine::StreamResult::End::Failed, 9, static_cast<long>(E_FAIL)};
            Trace(Printf("\r\nRECORDING STOPPED File Size=%.3f MB", loop.BytesSent() / 1048576.0));
        }
    } else {
        SilentCapture silence;
        Trace("\r\n\r\nSEND HEADER");
        engine::StreamLoop loop(silence, connection, clock, Flags(), kSilentRate, kSilentBufferMs, trace);
        result = loop.Run();
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    switch (result.end) {
        case engine::StreamResult::End::Stopped:
            return;
        case engine::StreamResult::End::GaveUp:
            ::CloseHandle(::CreateThread(nullptr, 0, SelfStopThread, nullptr, 0, nullptr));
            return;
        case engine::StreamResult::End::Failed:
            break;
    }
    const unsigned long code = static_cast<unsigned long>(result.result);
    Trace(Printf("\r\n\r\nEXIT ERROR %d hr=0x%08lx %s", result.step, code,
                 code == 0x88890008UL ? "AUDCLNT_E_UNSUPPORTED_FORMAT" : ""));
    // The file ends whole: the normal stop closes it, then the engine ends.
    PostCode(kCodeAudioFailed);
    ::PostMessageA(Engine().window, Engine().messages.screenCapture, engine::kStopCode, 0);
}

DWORD WINAPI AcceptThread(void*) {
    sockaddr_in peer{};
    int length = sizeof peer;
    const SOCKET s = ::accept(Engine().lastEventSocket, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) return 0;
    Trace(Printf("\r\n\r\n%d->%d ACCEPT on Port [%d] from: IP=%s Port=%d", static_cast<int>(Engine().lastEventSocket),
                 static_cast<int>(s), kPort, ::inet_ntoa(peer.sin_addr), ntohs(peer.sin_port)));
    Trace(Printf("\r\n\r\nBUFF SEND = %d bites\r\n", SetSendBufferSize(s)));
    WinConnection connection(s);
    WinClock clock;
    std::string request;
    const engine::AudioServer::Outcome outcome = g_server.Serve(connection, clock, Flags(), request);
    switch (outcome) {
        case engine::AudioServer::Outcome::StartStream:
            Trace("\r\n" + request);
            Trace(Printf("\r\nnumsnd=%d\r\n%s", static_cast<int>(engine::kReplyHeaderSize), engine::kReplyHeader));
            Engine().accepted = s;
            Stream(connection);
            return 0;
        case engine::AudioServer::Outcome::GaveUp:
            SendCode(kCodeGaveUp);
            ::ExitProcess(0);
        case engine::AudioServer::Outcome::HeaderOnly:
            Trace("\r\n" + request);
            break;
        case engine::AudioServer::Outcome::Refused:
        case engine::AudioServer::Outcome::Closed:
            break;
    }
    ::shutdown(s, SD_SEND);
    ::closesocket(s);
    return 0;
}

}  // namespace

void StartAudioServer() {
    g_listen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_listen == INVALID_SOCKET) {
        Trace("\r\nSONIFER_INIT Error - Cannot link to DirectShow");
        return;
    }
    if (::WSAAsyncSelect(g_listen, Engine().window, Engine().messages.wsaSelect, FD_ACCEPT) != 0)
        Trace("\r\nWSAAsyncSelect failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    if (::bind(g_listen, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Trace("\r\nSONIFER_INIT Error - Cannot link to DirectShow");
        return;
    }
    if (::listen(g_listen, kBacklog) != 0) {
        Trace("\r\nSONIFER_INIT Error - Cannot set receive state");
        return;
    }
    Trace("\r\nSONIFER_INIT_REQUEST OK");
}

void OnSocketEvent(WPARAM socket, LPARAM event) {
    if (Flags().stop || Flags().closing) return;
    const int error = WSAGETSELECTERROR(event);
    switch (WSAGETSELECTEVENT(event)) {
        case FD_ACCEPT:
            if (error) return;
            Engine().lastEventSocket = static_cast<SOCKET>(socket);
            if (HANDLE thread = ::CreateThread(nullptr, 0, AcceptThread, nullptr, 0, nullptr)) ::CloseHandle(thread);
            return;
        case FD_READ:
            Trace("\r\nEvent SONIFER_READ");
            return;
        case FD_WRITE:
            Trace("\r\nEvent SONIFER_WRITE_READY");
            return;
        case FD_CLOSE:
            Trace(error ? "\r\nEvent SONIFER_CLOSE" : "\r\nEvent SONIFER_SHUTDOWN");
            return;
        case FD_CONNECT:
            Trace(error ? "\r\nEvent SONIFER_CONNECT_CLOSE" : "\r\nEvent SONIFER_CONNECT");
            return;
        default:
            return;
    }
}

void ShutdownAudioSockets() {
    const SOCKET accepted = Engine().accepted;
    if (accepted != INVALID_SOCKET) ::shutdown(accepted, SD_SEND);
    const SOCKET last = Engine().lastEventSocket;
    if (last != INVALID_SOCKET && last != g_listen) ::shutdown(last, SD_SEND);
}

}  // namespace zelbov
