// Mexora.dll under Wine: the twelve exports resolve by name and by ordinal
// to the same address, the settings layout holds, and the messages of the
// settings check and the Add functions reach the host's err_printf.
#include "mxf/mux/mexora.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_messages;

int __cdecl Collect(const char* format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    g_messages.push_back(text);
    return 0;
}

void* __cdecl Lookup(const char* name) {
    return std::string(name) == "err_printf" ? reinterpret_cast<void*>(&Collect) : nullptr;
}

class MexoraDll : public ::testing::Test {
protected:
    void SetUp() override {
        dll = LoadLibraryA(MEXORA_DLL);
        ASSERT_NE(dll, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (dll) FreeLibrary(dll);
    }
    template <typename Fn>
    Fn Get(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
    HMODULE dll = nullptr;
};

TEST_F(MexoraDll, ExportsResolveByNameAndOrdinalToTheSameAddress) {
    const char* names[] = {"mxfMuxDefaults",
                           "mxfMuxNew",
                           "mxfMux",
                           "mxfMuxDone",
                           "mxfMuxFree",
                           "mxfMuxChkSettings",
                           "mxfMuxAddInputStream",
                           "mxfMuxAddOutputStream",
                           "mxfMuxAddInputFile",
                           "mxfMuxAddInputFileBS",
                           "mxfMuxAddOutputFile",
                           "mxfMuxAddOutputFileBS"};
    for (int i = 0; i < 12; i++) {
        FARPROC byName = GetProcAddress(dll, names[i]);
        FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(i + 1));
        EXPECT_NE(byName, nullptr) << names[i];
        EXPECT_EQ(byName, byOrdinal) << names[i];
    }
}

TEST(MexoraLayout, SettingsFieldsSitWhereTheHostPutsThem) {
    EXPECT_EQ(offsetof(mxf_m_settings, profile), 0u);
    EXPECT_EQ(offsetof(mxf_m_settings, mplex_type), 44u);
    EXPECT_EQ(offsetof(mxf_m_settings, flags), 76u);
    EXPECT_EQ(offsetof(mxf_m_settings, start_timecode), 80u);
    EXPECT_EQ(offsetof(mxf_m_settings, track_values), 84u);
    EXPECT_EQ(offsetof(mxf_m_settings, block), 96u);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(offsetof(mxf_m_settings, clip_name), 100u);
        EXPECT_EQ(offsetof(mxf_m_settings, file_number), 104u);
        EXPECT_EQ(sizeof(mxf_m_settings), 108u);
    }
}

TEST_F(MexoraDll, CheckAndAddMessagesReachErrPrintf) {
    auto defaults = Get<decltype(&mxfMuxDefaults)>("mxfMuxDefaults");
    auto check = Get<decltype(&mxfMuxChkSettings)>("mxfMuxChkSettings");
    auto create = Get<decltype(&mxfMuxNew)>("mxfMuxNew");
    auto run = Get<decltype(&mxfMux)>("mxfMux");
    auto done = Get<decltype(&mxfMuxDone)>("mxfMuxDone");
    auto release = Get<decltype(&mxfMuxFree)>("mxfMuxFree");
    auto addInputFile = Get<decltype(&mxfMuxAddInputFile)>("mxfMuxAddInputFile");
    auto addOutputFileBS = Get<decltype(&mxfMuxAddOutputFileBS)>("mxfMuxAddOutputFileBS");
    auto addInputStream = Get<decltype(&mxfMuxAddInputStream)>("mxfMuxAddInputStream");
    ASSERT_TRUE(defaults && check && create && run && done && release && addInputFile && addOutputFileBS &&
                addInputStream);

    mxf_m_settings s;
    std::memset(&s, 0xAB, sizeof s);
    EXPECT_STREQ(defaults(&s, 0x11000), "Panasonic P2 DVCPRO, MXF Muxer");
    EXPECT_EQ(s.profile, 3);
    EXPECT_EQ(s.mplex_type, 100);
    EXPECT_EQ(s.flags, 0u);
    s.mplex_type = 32;
    g_messages.clear();
    EXPECT_EQ(check(Lookup, &s), 1);
    EXPECT_EQ(create(Lookup, &s), nullptr);

    EXPECT_STREQ(defaults(&s, 0x10116), "Sony XDCAM HD, MXF Muxer");
    mxf_mux_instance* inst = create(Lookup, &s);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(addInputFile(inst, 0, ""), 1);
    EXPECT_EQ(addInputFile(inst, 0, "Z:\\no\\such\\file.m2v"), 1);
    EXPECT_EQ(addOutputFileBS(inst, 0, nullptr), 1);
    EXPECT_EQ(addInputStream(inst, 0, nullptr), 1);
    EXPECT_EQ(run(inst), 1);
    EXPECT_EQ(done(inst, 0), 0);
    release(inst);
    const std::vector<std::string> expected = {
        "M426:Invalid combination of profile (3) and mplex_type 32",
        "M426:Invalid combination of profile (3) and mplex_type 32",
        "M405:Invalid input filename parameter",
        "M425:Unable to open input file",
        "M406:Invalid output bufstream parameter",
        "M413:Invalid input stream parameter",
        "M410:No input streams were specified",
    };
    EXPECT_EQ(g_messages, expected);
}

// A P2 sound clip through the exports: an "AES3" stream made here goes into
// one OP-Atom file with its header partition first, its random index pack
// last and the PCM whole in between.
TEST_F(MexoraDll, WritesAP2SoundClip) {
    auto defaults = Get<decltype(&mxfMuxDefaults)>("mxfMuxDefaults");
    auto create = Get<decltype(&mxfMuxNew)>("mxfMuxNew");
    auto run = Get<decltype(&mxfMux)>("mxfMux");
    auto done = Get<decltype(&mxfMuxDone)>("mxfMuxDone");
    auto release = Get<decltype(&mxfMuxFree)>("mxfMuxFree");
    auto addInputFile = Get<decltype(&mxfMuxAddInputFile)>("mxfMuxAddInputFile");
    auto addOutputFile = Get<decltype(&mxfMuxAddOutputFile)>("mxfMuxAddOutputFile");
    ASSERT_TRUE(defaults && create && run && done && release && addInputFile && addOutputFile);

    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
    const std::string in = std::string(dir) + "mexora-p2.aes", out = std::string(dir) + "mexora-p2.mxf";
    std::vector<uint8_t> stream = {'A', 'E', 'S', '3', 12, (2 << 5) | (2 << 3), 0, 0};  // 25 Hz frames, 24 bits, mono
    for (int i = 0; i < 48000 * 3; i++) stream.push_back(static_cast<uint8_t>(i * 13));
    FILE* f = std::fopen(in.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(stream.data(), 1, stream.size(), f), stream.size());
    ASSERT_EQ(std::fclose(f), 0);

    mxf_m_settings s;
    ASSERT_NE(defaults(&s, 0x11000), nullptr);
    g_messages.clear();
    mxf_mux_instance* inst = create(Lookup, &s);
    ASSERT_NE(inst, nullptr);
    ASSERT_EQ(addOutputFile(inst, 0, out.c_str()), 0);
    ASSERT_EQ(addInputFile(inst, 0, in.c_str()), 0);
    EXPECT_EQ(run(inst), 0);
    EXPECT_EQ(done(inst, 0), 0);
    release(inst);
    EXPECT_TRUE(g_messages.empty()) << g_messages.front();

    f = std::fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> file(64 * 1024 * 1024);
    file.resize(std::fread(file.data(), 1, file.size(), f));
    std::fclose(f);
    // Header partition first, the random index pack last (its length in the last 4 bytes).
    const uint8_t header[13] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
    ASSERT_GT(file.size(), stream.size());
    EXPECT_EQ(std::memcmp(file.data(), header, sizeof header), 0);
    EXPECT_EQ(file[13], 0x02);
    const size_t n = file.size();
    const uint32_t ripLength =
        static_cast<uint32_t>(file[n - 4]) << 24 | file[n - 3] << 16 | file[n - 2] << 8 | file[n - 1];
    ASSERT_LT(ripLength, n);
    EXPECT_EQ(file[n - ripLength + 13], 0x11);  // 06 0E 2B 34 02 05 01 01 0D 01 02 01 01 11 01 00
    // The PCM lies in the file whole.
    const std::vector<uint8_t> pcm(stream.begin() + 8, stream.end());
    EXPECT_NE(std::search(file.begin(), file.end(), pcm.begin(), pcm.end()), file.end());
}

}  // namespace
