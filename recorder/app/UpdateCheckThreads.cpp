#include "recorder/app/UpdateCheckThreads.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "recorder/app/Program.h"
#include "recorder/core/UpdateCheck.h"

namespace zelbo {

namespace {

// Test harnesses point the check at this machine (no name is looked up then);
// the update test gives its own program a port and a time limit of its own,
// so that no other program run meets its server.
const char kHostOverride[] = "ZELBO_UPDATE_HOST";
const char kLimitOverride[] = "ZELBO_UPDATE_LIMIT_MS";
const char kPortOverride[] = "ZELBO_UPDATE_PORT";
const DWORD kReceivePauseMs = 10;

std::atomic<bool> g_askedByUser{false};

std::string UpdateHost() {
    const char* host = std::getenv(kHostOverride);
    return host && *host ? host : recorder::kUpdateHostName;
}

// A number from the environment within [1, limit), else the fallback.
long EnvNumber(const char* name, long limit, long fallback) {
    const char* text = std::getenv(name);
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 && value < limit ? value : fallback;
}

std::uint32_t TimeLimitMs() {
    const long limit = static_cast<long>(recorder::kUpdateTimeLimitMs);
    return static_cast<std::uint32_t>(EnvNumber(kLimitOverride, limit, limit));
}

int UpdatePort() {
    const long kPortCount = 65536;
    return static_cast<int>(EnvNumber(kPortOverride, kPortCount, recorder::kUpdatePort));
}

class SocketConnection : public recorder::UpdateConnection {
public:
    explicit SocketConnection(SOCKET s) : socket_(s) {}
    int Receive(char* buffer, int capacity) override { return ::recv(socket_, buffer, capacity, 0); }
    std::uint32_t NowMs() override { return ::GetTickCount(); }
    void Pause() override { ::Sleep(kReceivePauseMs); }

private:
    SOCKET socket_;
};

struct Check {
    std::string host;
    std::string address;  // dotted
};

void Tell(const recorder::UpdateAnswer& answer) {
    switch (answer.verdict) {
        case recorder::UpdateVerdict::NewVersion:
            // What a Yes should open is not settled; the question is all.
            ShowMessage(recorder::NewVersionQuestion(answer.serverVersion), MB_YESNO);
            return;
        case recorder::UpdateVerdict::NoUpdates:
            ShowMessage(recorder::NoUpdatesText(answer.serverVersion));
            return;
        case recorder::UpdateVerdict::Quiet:
            return;
    }
}

DWORD WINAPI VersionCheckThread(void* context) {
    Check* check = static_cast<Check*>(context);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        ShowMessage("Error creating socket");
        delete check;
        return 0;
    }
    // A server that takes the connection and stays silent must not hold the
    // thread past the time limit.
    const DWORD limit = TimeLimitMs();
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = ::htons(static_cast<u_short>(UpdatePort()));
    server.sin_addr.s_addr = ::inet_addr(check->address.c_str());
    if (::connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        const std::string request = recorder::VersionRequest(check->host);
        const int sent = ::send(s, request.data(), static_cast<int>(request.size()), 0);
        if (sent == static_cast<int>(request.size())) {
            SocketConnection connection(s);
            Tell(recorder::RunVersionExchange(connection, ::GetTickCount(), g_askedByUser.load(), limit));
        }
    }
    ::closesocket(s);
    delete check;
    return 0;
}

DWORD WINAPI ResolveUpdateHost(void* context) {
    Check* check = static_cast<Check*>(context);
    const hostent* found = ::gethostbyname(check->host.c_str());
    if (!found || found->h_addrtype != AF_INET || !found->h_addr_list || !found->h_addr_list[0]) {
        delete check;
        return 0;
    }
    const unsigned char* a = reinterpret_cast<const unsigned char*>(found->h_addr_list[0]);
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    check->address = dotted;
    HANDLE thread = ::CreateThread(nullptr, 0, VersionCheckThread, check, 0, nullptr);
    if (!thread) {
        delete check;
        return 0;
    }
    ::CloseHandle(thread);
    return 0;
}

}  // namespace

void StartWinSock() {
    WSADATA data;
    // Without sockets the check simply finds no server.
    ::WSAStartup(MAKEWORD(1, 1), &data);
}

void StartUpdateCheck(bool askedByUser) {
    if (askedByUser) g_askedByUser = true;
    Check* check = new Check{UpdateHost(), std::string()};
    HANDLE thread = ::CreateThread(nullptr, 0, ResolveUpdateHost, check, 0, nullptr);
    if (!thread) {
        delete check;
        return;
    }
    ::CloseHandle(thread);
}

}  // namespace zelbo
