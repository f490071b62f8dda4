#include "engine/core/AudioServer.h"

#include <gtest/gtest.h>

#include <deque>

#include "engine/core/AudioHeaders.h"
#include "engine/tests/StreamFakes.h"

namespace engine {
namespace {

// Gives its scripted receives in order, then "nothing there yet".
class FakeConnection : public Connection {
public:
    explicit FakeConnection(std::deque<std::string> requests = {}) : requests_(std::move(requests)) {}
    int Receive(char* buffer, int capacity) override {
        ++receives;
        largestCapacity = std::max(largestCapacity, capacity);
        if (requests_.empty()) return -1;
        std::string next = requests_.front();
        requests_.pop_front();
        if (next == "<closed>") return 0;
        if (next == "<later>") return -1;
        const int size = std::min(capacity, static_cast<int>(next.size()));
        std::memcpy(buffer, next.data(), static_cast<std::size_t>(size));
        return size;
    }
    bool SendAll(const char* data, std::size_t size) override {
        sent.append(data, size);
        return true;
    }
    std::string sent;
    int receives = 0;
    int largestCapacity = 0;

private:
    std::deque<std::string> requests_;
};

struct ServerRun {
    StopFlags flags;
    FakeClock clock{flags, 1000000};
    AudioServer server;
    std::string request;
    AudioServer::Outcome Serve(FakeConnection& c) { return server.Serve(c, clock, flags, request); }
};

const std::string kReply(kReplyHeader, kReplyHeaderSize);

TEST(EngineAudioServer, OnlyTheFirstGetIsServed) {
    ServerRun run;
    FakeConnection first({"<later>", "GET / HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(AudioServer::Outcome::StartStream, run.Serve(first));
    EXPECT_EQ(kReply, first.sent);

    FakeConnection second({"GET / HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(AudioServer::Outcome::Refused, run.Serve(second));
    EXPECT_EQ("", second.sent);
    EXPECT_EQ(0, second.receives);
    // A silent client beside the served one ends nothing.
    FakeConnection silent;
    EXPECT_NE(AudioServer::Outcome::GaveUp, run.Serve(silent));
}

TEST(EngineAudioServer, RequestsWithoutGetAndClosedPeers) {
    ServerRun run;
    FakeConnection head({"HEAD / HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(AudioServer::Outcome::HeaderOnly, run.Serve(head));
    EXPECT_EQ(kReply, head.sent);
    FakeConnection closed({"<closed>"});
    EXPECT_EQ(AudioServer::Outcome::Closed, run.Serve(closed));
    EXPECT_EQ("", closed.sent);
    FakeConnection get({"GET /"});
    EXPECT_EQ(AudioServer::Outcome::StartStream, run.Serve(get));  // still the first GET
}

TEST(EngineAudioServer, NoRequestInFiftyTriesGivesUp) {
    ServerRun run;
    FakeConnection silent;
    EXPECT_EQ(AudioServer::Outcome::GaveUp, run.Serve(silent));
    EXPECT_EQ(kReceiveAttempts, silent.receives);
    EXPECT_EQ(5000u, run.clock.now_);
}

TEST(EngineAudioServer, LongRequestIsCutAndTerminated) {
    ServerRun run;
    FakeConnection big({std::string(6000, 'x') + "GET"});
    EXPECT_EQ(AudioServer::Outcome::HeaderOnly, run.Serve(big));  // the GET lies past the buffer
    EXPECT_EQ(static_cast<int>(kReceiveBufferSize) - 1, big.largestCapacity);
    EXPECT_EQ(kReceiveBufferSize - 1, run.request.size());
}

}  // namespace
}  // namespace engine
