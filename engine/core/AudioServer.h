// The local audio server's side of one accepted connection: read the
// request, answer it, and decide whether the stream starts. Only the first
// GET is served; any later connection gets nothing and changes nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "engine/core/Lifecycle.h"
#include "engine/core/StreamLoop.h"

namespace engine {

constexpr std::size_t kReceiveBufferSize = 4500;
constexpr int kReceiveAttempts = 50;

class Connection {
public:
    virtual ~Connection() = default;
    // Bytes received (> 0), 0 when the peer closed, negative on an error
    // (nothing there yet included).
    virtual int Receive(char* buffer, int capacity) = 0;
    virtual bool SendAll(const char* data, std::size_t size) = 0;
};

class AudioServer {
public:
    enum class Outcome {
        Refused,      // another connection is served already: close this one
        Closed,       // the peer closed, or the engine is stopping
        HeaderOnly,   // answered; no stream (a request without GET)
        StartStream,  // answered a GET: stream on this connection
        GaveUp,       // no request in 50 tries and nothing served: the engine ends
    };

    // Runs on the connection's own thread.
    Outcome Serve(Connection& connection, Clock& clock, const StopFlags& flags, std::string& request);

    bool Served() const { return served_; }

private:
    std::atomic<bool> served_{false};
};

}  // namespace engine
