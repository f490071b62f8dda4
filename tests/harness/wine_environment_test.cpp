// Checks the ground every Windows-side test stands on: the prefix reports
// Windows 6.0 (the engine route depends on it), the posix thread model of
// the toolchain gives working std::thread and std::mutex under Wine, and the
// filters registered in this prefix are of this program's word size.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

TEST(WineEnvironment, ReportsWindowsVista) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(6u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
}

TEST(WineEnvironment, ThreadsAndMutexesWork) {
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

TEST(WineEnvironment, DisplayIsAvailable) {
    // The harness gives every test a display (Xvfb when none is set).
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
}

namespace {

// The machine field of a PE file's header, or 0 when it cannot be read.
WORD PeMachine(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    IMAGE_DOS_HEADER dos{};
    if (!file.read(reinterpret_cast<char*>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return 0;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (!file.seekg(dos.e_lfanew) || !file.read(reinterpret_cast<char*>(&signature), sizeof signature) ||
        signature != IMAGE_NT_SIGNATURE || !file.read(reinterpret_cast<char*>(&header), sizeof header))
        return 0;
    return header.Machine;
}

}  // namespace

TEST(WineEnvironment, RegisteredFiltersMatchTheWordSize) {
    // Each word size has a prefix of its own, so a host program never finds
    // a filter it cannot load. The multiplexer and the file writer stand for
    // every registered DLL.
    const WORD expected = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    const wchar_t* const kServers[] = {L"CLSID\\{CFD28198-115C-4606-BD64-27A7E0051D2A}\\InprocServer32",
                                       L"CLSID\\{20D356CF-03FB-403A-A215-7A5EF796BB9A}\\InprocServer32"};
    for (const wchar_t* key : kServers) {
        wchar_t path[MAX_PATH] = {};
        LONG size = sizeof path;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueW(HKEY_CLASSES_ROOT, key, path, &size)) << "not registered";
        EXPECT_EQ(expected, PeMachine(path)) << "registered server of another word size";
    }
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64) << "the prefix's word size is this build's";
}
