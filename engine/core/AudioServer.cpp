#include "engine/core/AudioServer.h"

#include <cstring>

#include "engine/core/AudioHeaders.h"

namespace engine {

AudioServer::Outcome AudioServer::Serve(Connection& connection, Clock& clock, const StopFlags& flags,
                                        std::string& request) {
    if (served_) return Outcome::Refused;
    char buffer[kReceiveBufferSize];
    for (int attempt = 0; attempt < kReceiveAttempts; ++attempt) {
        std::memset(buffer, 0, sizeof buffer);
        // One byte stays for the end mark, so the text tests stop inside.
        const int got = connection.Receive(buffer, static_cast<int>(sizeof buffer) - 1);
        if (got == 0) return Outcome::Closed;
        if (got > 0) {
            buffer[got] = '\0';
            request.assign(buffer, static_cast<std::size_t>(got));
            const bool get = std::strstr(buffer, "GET") != nullptr;
            if (get && served_.exchange(true)) return Outcome::Refused;
            if (!get && served_) return Outcome::Refused;
            if (!connection.SendAll(kReplyHeader, kReplyHeaderSize)) return Outcome::Closed;
            return get ? Outcome::StartStream : Outcome::HeaderOnly;
        }
        if (served_ || flags.stop || flags.closing) return Outcome::Closed;
        clock.SleepMs(kPassMs);
    }
    // A silent connection beside a served one ends nothing.
    return served_ ? Outcome::Closed : Outcome::GaveUp;
}

}  // namespace engine
