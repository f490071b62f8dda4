// The update check: the request for the version file, the search for the
// version text in what the server sends, and what the user is told. The
// exchange runs over a small connection interface, so that it is tested
// against a script here and a local server under Wine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace recorder {

extern const char kOwnVersion[];      // "3.0 - 08.07.08"
extern const char kUpdateHostName[];  // the project's update server
constexpr int kUpdatePort = 80;
constexpr std::uint32_t kUpdateTimeLimitMs = 60000;

std::string VersionRequest(const std::string& host);

// The version text after "Zelbo Version: " in the bytes received so far:
// none while the text may still grow (no "\r\n" yet and fewer than 200
// bytes after the marker), unless the connection has ended.
std::optional<std::string> FindVersionText(const std::string& received, bool ended);

// The digits of the text before its first blank, with every '.' removed:
// "3.0 - 08.07.08" gives 30.
long VersionNumber(const std::string& text);

enum class UpdateVerdict { Quiet, NoUpdates, NewVersion };
UpdateVerdict CompareVersion(const std::string& server, const std::string& own, bool askedByUser);

std::string NoUpdatesText(const std::string& server);
std::string NewVersionQuestion(const std::string& server);

// One connected exchange, the request already sent.
class UpdateConnection {
public:
    virtual ~UpdateConnection() = default;
    // Up to `capacity` bytes; 0 when the server closed, below 0 on an error
    // or when the receive time-out passed.
    virtual int Receive(char* buffer, int capacity) = 0;
    virtual std::uint32_t NowMs() = 0;
    virtual void Pause() {}  // between receives
};

struct UpdateAnswer {
    UpdateVerdict verdict = UpdateVerdict::Quiet;
    std::string serverVersion;  // empty when no marker came
};

// Reads until the version text is found, the server ends, the 4,500 bytes of
// the answer buffer are full, or `limitMs` passed since `requestMs`.
UpdateAnswer RunVersionExchange(UpdateConnection& connection, std::uint32_t requestMs, bool askedByUser,
                                std::uint32_t limitMs = kUpdateTimeLimitMs);

}  // namespace recorder
