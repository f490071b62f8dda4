#include "recorder/core/UpdateCheck.h"

#include <gtest/gtest.h>

#include <deque>

namespace recorder {
namespace {

TEST(UpdateCheck, RequestBytes) {
    EXPECT_EQ(
        "GET /VersionZelbo.txt HTTP/1.1\r\nAccept: */*\r\nUser-Agent: Pexmor\r\nHost: 127.0.0.1\r\n"
        "Connection: Close\r\n\r\n",
        VersionRequest("127.0.0.1"));
}

TEST(UpdateCheck, VersionCompare) {
    struct Case {
        const char* server;
        bool asked;
        UpdateVerdict verdict;
    };
    const Case cases[] = {
        {"3.1 - 01.01.09", false, UpdateVerdict::NewVersion}, {"3.1 - 01.01.09", true, UpdateVerdict::NewVersion},
        {"3.0 - 09.09.09", false, UpdateVerdict::Quiet},      {"3.0 - 09.09.09", true, UpdateVerdict::NoUpdates},
        {"3.0 - 08.07.08", false, UpdateVerdict::Quiet},      {"3.0 - 08.07.08", true, UpdateVerdict::NoUpdates},
        {"2.9 - 01.01.07", true, UpdateVerdict::NoUpdates},   {"", true, UpdateVerdict::NoUpdates},
    };
    for (const Case& c : cases) EXPECT_EQ(c.verdict, CompareVersion(c.server, kOwnVersion, c.asked)) << c.server;
    EXPECT_EQ(30, VersionNumber(kOwnVersion));
    EXPECT_EQ(" No updates are currently posted. Current version is 3.0 - 09.09.09", NoUpdatesText("3.0 - 09.09.09"));
    EXPECT_EQ("New version available 3.1 - 01.01.09.\n\nWould you like to download the new version now?",
              NewVersionQuestion("3.1 - 01.01.09"));
}

// A scripted server: each entry one receive (an empty one ends the stream,
// a missing one stands for the time-out).
class ScriptedConnection : public UpdateConnection {
public:
    std::deque<std::string> blocks;
    std::uint32_t now = 1000;
    std::uint32_t step = 10;
    int receives = 0;
    int Receive(char* buffer, int capacity) override {
        ++receives;
        now += step;
        if (blocks.empty()) return -1;
        std::string b = blocks.front();
        blocks.pop_front();
        if (static_cast<int>(b.size()) > capacity) {
            blocks.push_front(b.substr(static_cast<std::size_t>(capacity)));
            b.resize(static_cast<std::size_t>(capacity));
        }
        b.copy(buffer, b.size());
        return static_cast<int>(b.size());
    }
    std::uint32_t NowMs() override { return now; }
};

TEST(UpdateCheck, MarkerSplitOverReceives) {
    ScriptedConnection c;
    c.blocks = {"HTTP/1.1 200 OK\r\n\r\nZelbo Ver", "sion: 3.1 - 0", "1.01.09\r\nmore\r\n", ""};
    const UpdateAnswer a = RunVersionExchange(c, 1000, false);
    EXPECT_EQ("3.1 - 01.01.09", a.serverVersion);
    EXPECT_EQ(UpdateVerdict::NewVersion, a.verdict);
    // A text still open at the server's end is taken as it stands.
    ScriptedConnection open;
    open.blocks = {"Zelbo Version: 3.0 - 08.07.08", ""};
    EXPECT_EQ("3.0 - 08.07.08", RunVersionExchange(open, 1000, true).serverVersion);
}

TEST(UpdateCheck, EndsWithoutAMarker) {
    // Silent server: the receive time-out ends it.
    ScriptedConnection silent;
    EXPECT_EQ(UpdateVerdict::Quiet, RunVersionExchange(silent, 1000, true).verdict);
    EXPECT_EQ(1, silent.receives);
    // A server that never stops talking is given up after the time limit.
    ScriptedConnection chatty;
    chatty.step = 1000;
    for (int i = 0; i < 30; ++i) chatty.blocks.push_back("x");
    EXPECT_EQ(UpdateVerdict::Quiet, RunVersionExchange(chatty, 1000, true, 5000).verdict);
    EXPECT_LE(chatty.receives, 7);
    // The answer buffer is bounded: a long answer without the marker ends
    // once 4,500 bytes came.
    ScriptedConnection flood;
    flood.blocks.assign(100, std::string(200, 'y'));
    const UpdateAnswer a = RunVersionExchange(flood, 1000, true);
    EXPECT_TRUE(a.serverVersion.empty());
    EXPECT_EQ(23, flood.receives);
}

}  // namespace
}  // namespace recorder
