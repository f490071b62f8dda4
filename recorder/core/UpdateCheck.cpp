#include "recorder/core/UpdateCheck.h"

#include <cstdlib>

namespace recorder {

const char kOwnVersion[] = "3.0 - 08.07.08";
const char kUpdateHostName[] = "update.korvell.example";

namespace {

const char kMarker[] = "Zelbo Version:";
const std::size_t kTextOffset = sizeof kMarker;  // the marker and one blank
const std::size_t kMaxVersionText = 200;
const std::size_t kAnswerBuffer = 4500;
const int kReceiveBlock = 200;

}  // namespace

std::string VersionRequest(const std::string& host) {
    return "GET /VersionZelbo.txt HTTP/1.1\r\nAccept: */*\r\nUser-Agent: Pexmor\r\nHost: " + host +
           "\r\nConnection: Close\r\n\r\n";
}

std::optional<std::string> FindVersionText(const std::string& received, bool ended) {
    const std::size_t marker = received.find(kMarker);
    if (marker == std::string::npos) return std::nullopt;
    const std::size_t start = marker + kTextOffset;
    if (start > received.size()) return ended ? std::optional<std::string>("") : std::nullopt;
    const std::string rest = received.substr(start, kMaxVersionText);
    const std::size_t end = rest.find("\r\n");
    if (end != std::string::npos) return rest.substr(0, end);
    if (rest.size() < kMaxVersionText && !ended) return std::nullopt;
    return rest;
}

long VersionNumber(const std::string& text) {
    std::string digits;
    for (char c : text.substr(0, text.find(' ')))
        if (c != '.') digits += c;
    return std::strtol(digits.c_str(), nullptr, 10);
}

UpdateVerdict CompareVersion(const std::string& server, const std::string& own, bool askedByUser) {
    const UpdateVerdict none = askedByUser ? UpdateVerdict::NoUpdates : UpdateVerdict::Quiet;
    if (server == own) return none;
    return VersionNumber(server) > VersionNumber(own) ? UpdateVerdict::NewVersion : none;
}

std::string NoUpdatesText(const std::string& server) {
    return " No updates are currently posted. Current version is " + server;
}

std::string NewVersionQuestion(const std::string& server) {
    return "New version available " + server + ".\n\nWould you like to download the new version now?";
}

UpdateAnswer RunVersionExchange(UpdateConnection& connection, std::uint32_t requestMs, bool askedByUser,
                                std::uint32_t limitMs) {
    UpdateAnswer answer;
    // The answer is gathered whole: a marker may come split over receives.
    std::string received;
    for (;;) {
        const std::size_t room = kAnswerBuffer - received.size();
        char block[kReceiveBlock];
        const int wanted = static_cast<int>(room < sizeof block ? room : sizeof block);
        const int got = wanted > 0 ? connection.Receive(block, wanted) : 0;
        if (got > 0) received.append(block, static_cast<std::size_t>(got > wanted ? wanted : got));
        const bool ended = got <= 0 || received.size() >= kAnswerBuffer;
        if (const std::optional<std::string> text = FindVersionText(received, ended)) {
            answer.serverVersion = *text;
            answer.verdict = CompareVersion(*text, kOwnVersion, askedByUser);
            return answer;
        }
        if (ended || connection.NowMs() - requestMs > limitMs) return answer;
        connection.Pause();
    }
}

}  // namespace recorder
