// The plug-in as a media player and the outside reader meet it: registered
// with regsvr32 (the player's registrar is a stand-in that logs its calls),
// made through CoCreateInstance, fed PCM through IMediaObject, and read
// through the shared block by a reader that follows the hand-over protocol.
#include <gtest/gtest.h>

#include <windows.h>

#include <initguid.h>

#include <mmreg.h>

#include "tests/support/PageHost.h"
#include "platform/include/DmoRuntime.h"
#include "platform/include/PlayerPlugin.h"
#include "plugin/PluginIds.h"

#include <ocidl.h>
#include <olectl.h>
#include <uuids.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "plugin/core/SharedAudioBlock.h"
#include "plugin/tests/MemoryMediaBuffer.h"

// COM objects die through Release, never through an interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using com::ComPtr;
using plugintest::MemoryMediaBuffer;

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::string WindowsPath(std::string p) {
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

const std::string kPluginDll = WindowsPath(PLUGIN_DLL);
const std::string kStandInDll = WindowsPath(STANDIN_DLL);
const std::string kTestDir = WindowsPath(PLUGIN_TEST_DIR);
const std::string kLog = kTestDir + "\\registrar.log";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\regsvr32.exe";
const std::string kTapClsid = "{2F903E7C-BE52-4546-97B4-63B79F6156CF}";
const std::string kPageClsid = "{5985C5C4-3254-471F-B65D-F89C38D07E22}";

// Runs regsvr32 silently, as Windows of `version` ("" for the prefix's own).
DWORD RunRegsvr32(const std::string& args, const std::string& version = "") {
    if (!version.empty()) {
        HKEY key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL),
                  ERROR_SUCCESS);
        std::wstring v = Widen(version);
        EXPECT_EQ(RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                                 static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::wstring cmd = L"regsvr32.exe /s " + Widen(args);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        ADD_FAILURE() << "regsvr32 did not start: " << GetLastError();
    }
    if (!version.empty()) RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    return code;
}

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::ifstream in(kLog);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A value under HKEY_CLASSES_ROOT\CLSID\{clsid}, or "<none>".
std::string ClassValue(const std::string& clsid, const std::string& sub, const char* name) {
    std::string path = "CLSID\\" + clsid + (sub.empty() ? "" : "\\" + sub);
    char value[MAX_PATH * 2] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, NULL, value, &size) != ERROR_SUCCESS)
        return "<none>";
    return value;
}

// Registers the stand-in and the plug-in once for the whole program.
class Registered : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(RunRegsvr32("\"" + kStandInDll + "\""), 0u);
        ASSERT_EQ(RunRegsvr32("\"" + kPluginDll + "\""), 0u);
    }
    void TearDown() override {
        EXPECT_EQ(RunRegsvr32("/u \"" + kPluginDll + "\""), 0u);
        EXPECT_EQ(RunRegsvr32("/u \"" + kStandInDll + "\""), 0u);
        CoUninitialize();
    }
};
const auto* const g_registered = ::testing::AddGlobalTestEnvironment(new Registered);

TEST(PluginRegistration, PlayerCallsAndClassesByWindowsVersion) {
    const std::string dsp = "{6434BAEA-4954-498D-ABD5-2B07123E1F04}";
    const std::string outOfProc = "{EF29B174-C347-44CC-9A4F-2399118FF38C}";
    const std::string registration =
        "register|Anvelo Audio Recorder Plugin|Audio Recorder helper for various Anvelo products|-|1|";
    const std::string tail =
        "|" + kTapClsid + "|1|{73647561-0000-0010-8000-00AA00389B71}/" + "{00000001-0000-0010-8000-00AA00389B71}";
    struct Case {
        const char* version;
        std::vector<std::string> types;
    };
    const Case cases[] = {{"winxp", {dsp}}, {"win7", {dsp, outOfProc}}};
    SetEnvironmentVariableA("KORVELL_REGISTRAR_LOG", kLog.c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        DeleteFileA(kLog.c_str());
        ASSERT_EQ(RunRegsvr32("\"" + kPluginDll + "\"", c.version), 0u);
        std::vector<std::string> lines = LogLines();
        ASSERT_EQ(lines.size(), c.types.size());
        for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], registration + c.types[i] + tail);
        EXPECT_EQ(ClassValue(kTapClsid, "", NULL), "Anvelo_Audio_Plugin Class");
        EXPECT_EQ(ClassValue(kTapClsid, "InprocServer32", "ThreadingModel"), "Both");
        EXPECT_EQ(ClassValue(kPageClsid, "", NULL), "Anvelo_Audio_Plugin PropertyPage Class");
        EXPECT_EQ(ClassValue(kPageClsid, "InprocServer32", "ThreadingModel"), "Apartment");
        std::string server = ClassValue(kTapClsid, "InprocServer32", NULL);
        EXPECT_NE(server.find("Anvelo_Audio_Plugin.dll"), std::string::npos) << server;

        DeleteFileA(kLog.c_str());
        ASSERT_EQ(RunRegsvr32("/u \"" + kPluginDll + "\"", c.version), 0u);
        lines = LogLines();
        ASSERT_EQ(lines.size(), c.types.size());
        for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "unregister|" + c.types[i] + "|" + kTapClsid);
        EXPECT_EQ(ClassValue(kTapClsid, "", NULL), "<none>");
        EXPECT_EQ(ClassValue(kPageClsid, "", NULL), "<none>");
    }
    SetEnvironmentVariableA("KORVELL_REGISTRAR_LOG", NULL);
    ASSERT_EQ(RunRegsvr32("\"" + kPluginDll + "\""), 0u);
}

BYTE* Bytes(IMediaBuffer* b, DWORD* length) {
    BYTE* p = nullptr;
    EXPECT_EQ(b->GetBufferAndLength(&p, length), S_OK);
    return p;
}

// A PCM type owned by the test (freed with the msdmo helper).
class PcmType {
public:
    PcmType(WORD channels, DWORD rate, WORD bits) {
        EXPECT_EQ(MoInitMediaType(&mt_, sizeof(WAVEFORMATEX)), S_OK);
        mt_.majortype = MEDIATYPE_Audio;
        mt_.subtype = MEDIASUBTYPE_PCM;
        mt_.formattype = FORMAT_WaveFormatEx;
        mt_.bFixedSizeSamples = TRUE;
        auto* f = reinterpret_cast<WAVEFORMATEX*>(mt_.pbFormat);
        f->wFormatTag = WAVE_FORMAT_PCM;
        f->nChannels = channels;
        f->nSamplesPerSec = rate;
        f->wBitsPerSample = bits;
        f->nBlockAlign = static_cast<WORD>(channels * bits / 8);
        f->nAvgBytesPerSec = rate * f->nBlockAlign;
        f->cbSize = 0;
        mt_.lSampleSize = f->nBlockAlign;
    }
    ~PcmType() { MoFreeMediaType(&mt_); }
    const DMO_MEDIA_TYPE* operator&() const { return &mt_; }

private:
    DMO_MEDIA_TYPE mt_ = {};
};

std::vector<BYTE> Tone() {
    std::ifstream in(kTestDir + "\\tone.raw", std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

ComPtr<IMediaObject> MakeTap() {
    ComPtr<IMediaObject> dmo;
    EXPECT_EQ(CoCreateInstance(CLSID_AnveloAudioPlugin, NULL, CLSCTX_INPROC_SERVER, IID_IMediaObject, dmo.PutVoid()),
              S_OK);
    return dmo;
}

ComPtr<IMediaObject> MakeStereoTap() {
    ComPtr<IMediaObject> dmo = MakeTap();
    if (!dmo) return dmo;
    PcmType type(2, 44100, 16);
    EXPECT_EQ(dmo->SetInputType(0, &type, 0), S_OK);
    EXPECT_EQ(dmo->SetOutputType(0, &type, 0), S_OK);
    return dmo;
}

struct OutputPiece {
    std::vector<BYTE> bytes;
    DWORD status;
    REFERENCE_TIME time;
};

// Drains the held input into output buffers of `capacity` bytes.
std::vector<OutputPiece> Drain(IMediaObject* dmo, DWORD capacity) {
    std::vector<OutputPiece> pieces;
    for (;;) {
        ComPtr<IMediaBuffer> out = MemoryMediaBuffer::Make(capacity);
        DMO_OUTPUT_DATA_BUFFER ob = {};
        ob.pBuffer = out.Get();
        DWORD status = 0;
        HRESULT hr = dmo->ProcessOutput(0, 1, &ob, &status);
        if (hr == S_FALSE) break;
        EXPECT_EQ(hr, S_OK);
        if (hr != S_OK) break;
        DWORD n = 0;
        BYTE* p = Bytes(out.Get(), &n);
        pieces.push_back({std::vector<BYTE>(p, p + n), ob.dwStatus, ob.rtTimestamp});
        if (!(ob.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
    }
    return pieces;
}

// Passes `pcm` through in input buffers of `chunk` bytes; returns what came out.
std::vector<BYTE> PassThrough(IMediaObject* dmo, const std::vector<BYTE>& pcm, DWORD chunk, DWORD capacity) {
    std::vector<BYTE> out;
    for (size_t at = 0; at < pcm.size(); at += chunk) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(chunk, pcm.size() - at));
        ComPtr<IMediaBuffer> in = MemoryMediaBuffer::Holding(pcm.data() + at, n);
        EXPECT_EQ(dmo->ProcessInput(0, in.Get(), 0, 0, 0), S_OK);
        for (const OutputPiece& p : Drain(dmo, capacity)) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }
    return out;
}

TEST(PluginMediaObject, TypesAndStreams) {
    ComPtr<IMediaObject> dmo = MakeTap();
    ASSERT_TRUE(dmo);
    DWORD ins = 0, outs = 0;
    EXPECT_EQ(dmo->GetStreamCount(&ins, &outs), S_OK);
    EXPECT_EQ(ins + outs, 2u);
    DMO_MEDIA_TYPE offered = {};
    EXPECT_EQ(dmo->GetInputType(0, 1, &offered), DMO_E_NO_MORE_ITEMS);
    EXPECT_EQ(dmo->GetInputType(1, 0, &offered), DMO_E_INVALIDSTREAMINDEX);
    EXPECT_EQ(dmo->GetInputCurrentType(0, &offered), DMO_E_TYPE_NOT_SET);
    ASSERT_EQ(dmo->GetInputType(0, 0, &offered), S_OK);
    EXPECT_TRUE(IsEqualGUID(offered.majortype, MEDIATYPE_Audio));
    EXPECT_TRUE(IsEqualGUID(offered.subtype, MEDIASUBTYPE_PCM));
    MoFreeMediaType(&offered);

    PcmType deep(2, 44100, 24), stereo(2, 44100, 16), mono(1, 44100, 16);
    EXPECT_EQ(dmo->SetInputType(0, &deep, DMO_SET_TYPEF_TEST_ONLY), S_FALSE);
    EXPECT_EQ(dmo->SetInputType(0, &deep, 0), DMO_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(dmo->SetInputType(0, &stereo, DMO_SET_TYPEF_TEST_ONLY), S_OK);
    EXPECT_EQ(dmo->GetInputCurrentType(0, &offered), DMO_E_TYPE_NOT_SET) << "a test stores nothing";
    EXPECT_EQ(dmo->SetInputType(0, &stereo, 0), S_OK);
    EXPECT_EQ(dmo->SetOutputType(0, &mono, 0), DMO_E_TYPE_NOT_ACCEPTED);
    ASSERT_EQ(dmo->GetOutputType(0, 0, &offered), S_OK);
    EXPECT_EQ(offered.cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_EQ(dmo->SetOutputType(0, &offered, 0), S_OK);
    MoFreeMediaType(&offered);
    DWORD size = 0, lookahead = 9, align = 0;
    EXPECT_EQ(dmo->GetInputSizeInfo(0, &size, &lookahead, &align), S_OK);
    EXPECT_EQ(align, 4u);
    EXPECT_EQ(lookahead, 0u);
    EXPECT_EQ(dmo->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR), S_OK);
    EXPECT_EQ(dmo->GetInputSizeInfo(0, &size, &lookahead, &align), DMO_E_TYPE_NOT_SET);

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(pages.QueryFrom(dmo.Get(), IID_ISpecifyPropertyPages), S_OK);
    CAUUID ids = {};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    EXPECT_TRUE(IsEqualGUID(ids.pElems[0], CLSID_AnveloAudioPluginPropPage));
    CoTaskMemFree(ids.pElems);
}

TEST(PluginMediaObject, SplitsHeldInputWithTimes) {
    ComPtr<IMediaObject> dmo = MakeStereoTap();
    ASSERT_TRUE(dmo);
    ComPtr<IMediaBuffer> none = MemoryMediaBuffer::Holding(reinterpret_cast<const BYTE*>("abcde"), 5);
    DMO_OUTPUT_DATA_BUFFER ob = {};
    ob.pBuffer = none.Get();
    EXPECT_EQ(dmo->ProcessOutput(0, 1, &ob, nullptr), S_FALSE);
    DWORD n = 1;
    Bytes(none.Get(), &n);
    EXPECT_EQ(n, 0u) << "no input held: an empty output buffer";

    std::vector<BYTE> pcm = Tone();
    ASSERT_GE(pcm.size(), 10000u);
    const REFERENCE_TIME t = 20000000;
    ComPtr<IMediaBuffer> in = MemoryMediaBuffer::Holding(pcm.data(), 10000);
    ASSERT_EQ(dmo->ProcessInput(0, in.Get(), DMO_INPUT_DATA_BUFFERF_TIME, t, 0), S_OK);
    DWORD status = 0;
    EXPECT_EQ(dmo->GetInputStatus(0, &status), S_OK);
    EXPECT_EQ(status, 0u);

    std::vector<OutputPiece> pieces = Drain(dmo.Get(), 4096);
    ASSERT_EQ(pieces.size(), 3u);
    const size_t sizes[] = {4096, 4096, 1808};
    const REFERENCE_TIME times[] = {t, t + 232200, t + 464400};
    const DWORD timed = DMO_OUTPUT_DATA_BUFFERF_TIME | DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
    std::vector<BYTE> joined;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pieces[i].bytes.size(), sizes[i]);
        EXPECT_EQ(pieces[i].time, times[i]);
        EXPECT_EQ(pieces[i].status, i < 2 ? timed | DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE : timed);
        joined.insert(joined.end(), pieces[i].bytes.begin(), pieces[i].bytes.end());
    }
    EXPECT_EQ(joined, std::vector<BYTE>(pcm.begin(), pcm.begin() + 10000));
    EXPECT_EQ(dmo->GetInputStatus(0, &status), S_OK);
    EXPECT_EQ(status, static_cast<DWORD>(DMO_INPUT_STATUSF_ACCEPT_DATA));
}

TEST(PluginMediaObject, RefusesNewInputWhileHeldDataRemains) {
    ComPtr<IMediaObject> dmo = MakeStereoTap();
    ASSERT_TRUE(dmo);
    std::vector<BYTE> pcm = Tone();
    ASSERT_GE(pcm.size(), 20000u);
    ComPtr<IMediaBuffer> first = MemoryMediaBuffer::Holding(pcm.data(), 10000);
    ComPtr<IMediaBuffer> second = MemoryMediaBuffer::Holding(pcm.data() + 10000, 10000);
    ASSERT_EQ(dmo->ProcessInput(0, first.Get(), 0, 0, 0), S_OK);
    ComPtr<IMediaBuffer> out = MemoryMediaBuffer::Make(4096);
    DMO_OUTPUT_DATA_BUFFER ob = {};
    ob.pBuffer = out.Get();
    ASSERT_EQ(dmo->ProcessOutput(0, 1, &ob, nullptr), S_OK);
    // 5,904 bytes of the first buffer are still unread.
    EXPECT_EQ(dmo->ProcessInput(0, second.Get(), 0, 0, 0), static_cast<HRESULT>(DMO_E_NOTACCEPTING));
    std::vector<BYTE> rest;
    for (const OutputPiece& p : Drain(dmo.Get(), 4096)) rest.insert(rest.end(), p.bytes.begin(), p.bytes.end());
    EXPECT_EQ(rest, std::vector<BYTE>(pcm.begin() + 4096, pcm.begin() + 10000));
    EXPECT_EQ(dmo->ProcessInput(0, second.Get(), 0, 0, 0), S_OK);
}

// The outside reader: makes (or opens) the four objects, publishes a window
// and takes each record while the plug-in holds the mutex.
class Reader {
public:
    enum Mode { Consume, Silent, NoWindow };
    explicit Reader(Mode mode) : mode_(mode) {
        section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(plugin::kBlockSize), plugin::kSectionName);
        EXPECT_NE(section_, nullptr);
        view_ = static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        EXPECT_NE(view_, nullptr);
        mutex_ = CreateMutexA(NULL, FALSE, plugin::kMutexName);
        dataReady_ = CreateEventA(NULL, FALSE, FALSE, plugin::kDataReadyName);
        consumed_ = CreateEventA(NULL, FALSE, FALSE, plugin::kConsumedName);
        EXPECT_TRUE(mutex_ && dataReady_ && consumed_);
        window_ = CreateWindowExA(0, "STATIC", "AudioSonifer", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        EXPECT_NE(window_, nullptr);
        uint32_t handle = mode == NoWindow ? 0 : static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_));
        if (view_) std::memcpy(view_ + plugin::kWindowOffset, &handle, sizeof handle);
        thread_ = std::thread([this] { Run(); });
    }
    ~Reader() {
        stop_ = true;
        thread_.join();
        DestroyWindow(window_);
        UnmapViewOfFile(view_);
        for (HANDLE h : {section_, mutex_, dataReady_, consumed_}) CloseHandle(h);
    }
    HANDLE Mutex() const { return mutex_; }
    // Read only after the plug-in's last ProcessOutput returned.
    std::vector<plugin::Record> records;
    std::vector<uint8_t> audio;

private:
    void Run() {
        while (!stop_) {
            if (WaitForSingleObject(dataReady_, 20) != WAIT_OBJECT_0) continue;
            auto r = plugin::ReadRecord(view_, plugin::kBlockSize);
            EXPECT_TRUE(r.has_value());
            if (r) {
                audio.insert(audio.end(), r->audio.begin(), r->audio.end());
                records.push_back(std::move(*r));
            }
            if (mode_ == Consume) SetEvent(consumed_);
        }
    }

    Mode mode_;
    HANDLE section_ = NULL, mutex_ = NULL, dataReady_ = NULL, consumed_ = NULL;
    uint8_t* view_ = nullptr;
    HWND window_ = NULL;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(PluginSharedBlock, EnabledTapHandsEveryByteToTheReader) {
    std::vector<BYTE> pcm = Tone();
    ASSERT_EQ(pcm.size(), 176400u);
    Reader reader(Reader::Consume);
    ComPtr<IMediaObject> dmo = MakeStereoTap();
    ASSERT_TRUE(dmo);
    ComPtr<IWMPPluginEnable> enable;
    ASSERT_EQ(enable.QueryFrom(dmo.Get(), IID_IWMPPluginEnable), S_OK);
    BOOL on = FALSE;
    EXPECT_EQ(enable->GetEnable(&on), S_OK);
    EXPECT_TRUE(on);

    EXPECT_EQ(PassThrough(dmo.Get(), pcm, 10000, 4096), pcm) << "pass-through is byte-identical";
    EXPECT_EQ(reader.audio, pcm);
    ASSERT_FALSE(reader.records.empty());
    const plugin::Record& r = reader.records.front();
    EXPECT_EQ(r.processId, GetCurrentProcessId());
    EXPECT_EQ(r.version, plugin::kRecordVersion);
    EXPECT_EQ(r.format.size(), 18u);
    EXPECT_FALSE(r.path.empty());
    size_t records = reader.records.size();

    ASSERT_EQ(enable->SetEnable(FALSE), S_OK);
    EXPECT_EQ(PassThrough(dmo.Get(), pcm, 10000, 4096), pcm);
    EXPECT_EQ(reader.records.size(), records) << "a disabled tap sends nothing";
}

TEST(PluginSharedBlock, NoWaitWithoutAReaderWindowOrAsCreator) {
    std::vector<BYTE> pcm = Tone();
    {
        Reader reader(Reader::NoWindow);
        ComPtr<IMediaObject> dmo = MakeStereoTap();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(PassThrough(dmo.Get(), pcm, 10000, 4096), pcm);
        EXPECT_LT(SecondsSince(start), 1.0);
        EXPECT_TRUE(reader.records.empty());
    }
    {
        // The plug-in comes first and makes the block: a later reader gets nothing.
        ComPtr<IMediaObject> dmo = MakeStereoTap();
        Reader reader(Reader::Consume);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(PassThrough(dmo.Get(), pcm, 10000, 4096), pcm);
        EXPECT_LT(SecondsSince(start), 1.0);
        EXPECT_TRUE(reader.records.empty());
    }
}

TEST(PluginSharedBlock, SilentReaderCostsOneWaitPerRecord) {
    std::vector<BYTE> pcm = Tone();
    Reader reader(Reader::Silent);
    ComPtr<IMediaObject> dmo = MakeStereoTap();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PassThrough(dmo.Get(), std::vector<BYTE>(pcm.begin(), pcm.begin() + 4096), 4096, 4096),
              std::vector<BYTE>(pcm.begin(), pcm.begin() + 4096));
    double took = SecondsSince(start);
    EXPECT_GE(took, 2.9);
    EXPECT_LT(took, 4.5);
    EXPECT_EQ(reader.records.size(), 1u);
}

TEST(PluginSharedBlock, AbandonedMutexStillCarriesTheRecord) {
    std::vector<BYTE> pcm = Tone();
    Reader reader(Reader::Consume);
    // An earlier reader died holding the mutex.
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(reader.Mutex(), 1000), WAIT_OBJECT_0); }).join();
    ComPtr<IMediaObject> dmo = MakeStereoTap();
    std::vector<BYTE> part(pcm.begin(), pcm.begin() + 8192);
    EXPECT_EQ(PassThrough(dmo.Get(), part, 8192, 4096), part);
    EXPECT_EQ(reader.audio, part);
    // The plug-in let go of it again.
    std::thread([&] {
        DWORD w = WaitForSingleObject(reader.Mutex(), 0);
        EXPECT_EQ(w, WAIT_OBJECT_0);
        if (w == WAIT_OBJECT_0) ReleaseMutex(reader.Mutex());
    }).join();
}

using pagehost::TestPageSite;

DWORD StoredFactor() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kScaleFactorKey, kScaleFactorValue, RRF_RT_REG_DWORD, NULL, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

std::string EditText(HWND parent) {
    HWND dialog = FindWindowExA(parent, NULL, NULL, NULL);
    char text[64] = "";
    GetWindowTextA(GetDlgItem(dialog, 201), text, sizeof text);
    return text;
}

void SetEditText(HWND parent, const char* text) {
    HWND dialog = FindWindowExA(parent, NULL, NULL, NULL);
    ASSERT_TRUE(SetWindowTextA(GetDlgItem(dialog, 201), text));
}

TEST(PluginPropertyPage, AppliesAndShowsTheFactor) {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Anvelo_Audio_Plugin");
    ComPtr<IMediaObject> dmo = MakeTap();
    ComPtr<IScaleFactorSetting> setting;
    ASSERT_EQ(setting.QueryFrom(dmo.Get(), IID_IScaleFactorSetting), S_OK);
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(CLSID_AnveloAudioPluginPropPage, NULL, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               page.PutVoid()),
              S_OK);
    TestPageSite site;
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
    // The first object that carries the factor is the one kept.
    ComPtr<IMediaBuffer> stranger = MemoryMediaBuffer::Make(1);
    IUnknown* objects[] = {stranger.Get(), dmo.Get()};
    ASSERT_EQ(page->SetObjects(2, objects), S_OK);
    HWND parent = CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, NULL, NULL, NULL, NULL);
    ASSERT_NE(parent, nullptr);
    RECT rc = {0, 0, 380, 150};

    ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);
    EXPECT_EQ(EditText(parent), "1.00");
    EXPECT_EQ(page->IsPageDirty(), S_FALSE) << "showing the factor is no edit";
    HWND dialog = FindWindowExA(parent, NULL, NULL, NULL);
    SetWindowLongPtrW(dialog, GWL_EXSTYLE, 0);
    EXPECT_TRUE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

    SetEditText(parent, "0.5");
    EXPECT_EQ(site.dirty, 1);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(StoredFactor(), 32768u);
    double factor = 0;
    EXPECT_EQ(setting->GetScaleFactor(&factor), S_OK);
    EXPECT_EQ(factor, 0.5);
    ASSERT_EQ(page->Deactivate(), S_OK);
    ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);
    EXPECT_EQ(EditText(parent), "0.50");

    // A new plug-in object starts from the stored factor.
    ComPtr<IMediaObject> later = MakeTap();
    ComPtr<IScaleFactorSetting> laterSetting;
    ASSERT_EQ(laterSetting.QueryFrom(later.Get(), IID_IScaleFactorSetting), S_OK);
    EXPECT_EQ(laterSetting->GetScaleFactor(&factor), S_OK);
    EXPECT_EQ(factor, 0.5);

    // Out of range: the message, and nothing stored or passed on.
    for (const char* refused : {"1.5", "-0.1", "nan"}) {
        SCOPED_TRACE(refused);
        SetEditText(parent, refused);
        std::string shown = "<no message box>";
        std::thread answer([&shown] {
            for (int i = 0; i < 250; ++i) {
                HWND box = FindWindowA("#32770", "");
                char text[128] = "";
                if (box && GetDlgItemTextA(box, 0xFFFF, text, sizeof text) > 0) {
                    shown = text;
                    SendMessageA(box, WM_COMMAND, IDOK, 0);
                    return;
                }
                Sleep(20);
            }
        });
        EXPECT_EQ(page->Apply(), E_FAIL);
        answer.join();
        EXPECT_EQ(shown, "You must enter a scale factor between 0.0 and 1.0");
        EXPECT_EQ(StoredFactor(), 32768u);
        EXPECT_EQ(setting->GetScaleFactor(&factor), S_OK);
        EXPECT_EQ(factor, 0.5);
    }

    SetEditText(parent, "letters");
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(StoredFactor(), 65536u) << "a text that is no number counts as 1.0";

    ASSERT_EQ(page->Deactivate(), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    DestroyWindow(parent);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Anvelo_Audio_Plugin");
}

}  // namespace
