// Demexa.dll under Wine: its exports by name and ordinal, the packed records
// and a file opened by a non-ASCII wide name, pushed and pulled.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "mxf/demux/Demexa.h"
#include "mxf/demux/tests/TestSupport.h"

namespace {

const char* const kExports[] = {"mxfDemuxNew",
                                "mxfDemuxFree",
                                "mxfDemuxOpen",
                                "mxfDemuxOpenW",
                                "mxfDemuxClose",
                                "mxfDemuxGetFileInfo",
                                nullptr,
                                "mxfDemuxGetStreamInfo",
                                "mxfDemuxNewParser",
                                "mxfDemuxFreeParser",
                                "mxfDemuxAddStream",
                                "mxfDemuxRemoveStream",
                                "mxfDemuxSeek",
                                "mxfDemuxPush",
                                "mxfDemuxWakeParser",
                                "mxfDemuxSleepParser",
                                "mxfDemuxUpdateFilesize",
                                "mxfDemuxSetFirstSplitRead"};

struct Dll {
    HMODULE module = LoadLibraryW(L"" DEMEXA_DLL);
    ~Dll() {
        if (module) FreeLibrary(module);
    }
    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
};

// Collects packed records and bytes.
struct Consumer {
    bufstream bs{};
    uint32_t size = 0;
    mxftest::Bytes data;
    int records = 0;
    int firstPieces = 0;
    uint32_t recordSize = 0;
};
Consumer* Of(bufstream* bs) {
    return static_cast<Consumer*>(bs->state);
}
uint32_t BUFSTREAM_CALL Size(bufstream* bs) {
    return Of(bs)->size;
}
uint32_t BUFSTREAM_CALL Copy(bufstream* bs, uint8_t* p, uint32_t n) {
    Of(bs)->data.insert(Of(bs)->data.end(), p, p + n);
    return n;
}
int32_t BUFSTREAM_CALL Info(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    Consumer* c = Of(bs);
    if (id != MXF_ELEMENT_INFO_ID) return 0;
    c->recordSize = size;
    ++c->records;
    if (static_cast<const MxfElementRecord*>(data)->flags & MXF_ELEMENT_FIRST_PIECE) ++c->firstPieces;
    return 0;
}

void Init(Consumer& c, uint32_t size) {
    c.size = size;
    c.bs.buffer_size = Size;
    c.bs.copy_bytes = Copy;
    c.bs.info = Info;
    c.bs.state = &c;
}

}  // namespace

TEST(DemexaDll, ExportsByNameAndOrdinal) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    for (int ord = 1; ord <= 18; ++ord) {
        SCOPED_TRACE(ord);
        FARPROC byOrdinal = GetProcAddress(dll.module, MAKEINTRESOURCEA(ord));
        const char* name = kExports[ord - 1];
        if (!name) {
            EXPECT_EQ(byOrdinal, nullptr);
            continue;
        }
        FARPROC byName = GetProcAddress(dll.module, name);
        ASSERT_NE(byName, nullptr);
        EXPECT_EQ(byName, byOrdinal);
    }
    EXPECT_EQ(GetProcAddress(dll.module, MAKEINTRESOURCEA(19)), nullptr);
}

TEST(DemexaDll, WideNonAsciiNamePushAndPull) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    auto New = dll.Get<decltype(&mxfDemuxNew)>("mxfDemuxNew");
    auto Free = dll.Get<decltype(&mxfDemuxFree)>("mxfDemuxFree");
    auto OpenW = dll.Get<decltype(&mxfDemuxOpenW)>("mxfDemuxOpenW");
    auto FileInfo = dll.Get<decltype(&mxfDemuxGetFileInfo)>("mxfDemuxGetFileInfo");
    auto StreamInfo = dll.Get<decltype(&mxfDemuxGetStreamInfo)>("mxfDemuxGetStreamInfo");
    auto NewParser = dll.Get<decltype(&mxfDemuxNewParser)>("mxfDemuxNewParser");
    auto AddStream = dll.Get<decltype(&mxfDemuxAddStream)>("mxfDemuxAddStream");
    auto Push = dll.Get<decltype(&mxfDemuxPush)>("mxfDemuxPush");
    ASSERT_TRUE(New && Free && OpenW && FileInfo && StreamInfo && NewParser && AddStream && Push);

    const mxftest::Synth s = mxftest::MakeSynth();
    wchar_t dir[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
    const std::wstring path = std::wstring(dir) + L"d\u00e9mexa-\u65e5\u672c.mxf";
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(s.file.data(), 1, s.file.size(), f), s.file.size());
    ASSERT_EQ(fclose(f), 0);

    MxfDemuxSettings settings = {};
    MxfDemuxInstance* in = New(nullptr, nullptr, &settings);
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(OpenW(in, nullptr, path.c_str()), 0);
    file_info_struct fi;
    ASSERT_EQ(FileInfo(in, &fi), 0);
    EXPECT_EQ(fi.stream_count, 2);
    EXPECT_EQ(fi.file_kind, 5);
    EXPECT_EQ(fi.duration, 6);
    EXPECT_EQ(fi.file_size, static_cast<int64_t>(s.file.size()));
    EXPECT_EQ(fi.index_count, 6);
    stream_info_struct si;
    ASSERT_EQ(StreamInfo(in, &si, 1), 0);
    EXPECT_EQ(si.kind, 3);
    EXPECT_EQ(si.channels, 2);
    EXPECT_EQ(si.sample_rate, 48000);

    // Push the picture in 64-byte pieces, pull the sound.
    mxfdmux_parser_settings ps = {};
    const int p = NewParser(in, &ps);
    ASSERT_GT(p, 0);
    Consumer v, a;
    Init(v, 64);
    Init(a, 0);
    mxfdmux_stream_settings sv = {0, &v.bs}, sa = {1, &a.bs};
    ASSERT_EQ(AddStream(in, p, &sv), 0);
    ASSERT_EQ(AddStream(in, p, &sa), 0);
    ASSERT_NE(a.bs.info, &Info);
    for (;;) {
        MxfElementRecord r;
        ASSERT_EQ(a.bs.info(&a.bs, 0, MXF_ELEMENT_INFO_ID, &r, sizeof r), 0);
        if (r.end_of_data) break;
        a.data.insert(a.data.end(), r.data, r.data + r.length);
        if (r.flags & MXF_ELEMENT_FIRST_PIECE) {
            EXPECT_EQ(r.flags, MXF_ELEMENT_FIRST_PIECE | MXF_ELEMENT_GENERIC_SOUND);
            EXPECT_EQ(r.params[0], 16);
            EXPECT_EQ(r.params[1], 2);
            EXPECT_EQ(r.unused, -1);
        }
    }
    EXPECT_EQ(a.data, s.sound);
    // The pulls above also pushed the picture pieces they passed.
    EXPECT_EQ(v.data, s.picture);
    EXPECT_EQ(v.recordSize, sizeof(MxfElementRecord));
    EXPECT_EQ(v.firstPieces, 6);
    EXPECT_GT(v.records, 6);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(v.recordSize, 78u);
    }
    EXPECT_EQ(Push(in, p), 2);
    Free(in);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}
