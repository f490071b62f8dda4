// Checks the ground every Windows-side test stands on: the prefix reports
// Windows 6.0 (the engine route depends on it) and the posix thread model of
// the toolchain gives working std::thread and std::mutex under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

TEST(WineEnvironment, ReportsWindowsVista)
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(6u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
}

TEST(WineEnvironment, ThreadsAndMutexesWork)
{
    std::mutex lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                std::lock_guard<std::mutex> guard(lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(40000, counter);
}

TEST(WineEnvironment, DisplayIsAvailable)
{
    // The harness gives every test a display (Xvfb when none is set).
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
}
