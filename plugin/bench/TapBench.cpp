// The tap's cost per buffer: ten minutes (by default) of 48 kHz stereo
// 16-bit PCM through the plug-in in 100 ms buffers, once with the tap off
// and once with it on and a reader taking every record, timed on the
// player's thread and counted as CPU time of the whole process.
//   plugin-bench PLUGIN.dll [SECONDS]
#include <windows.h>

#include <mmreg.h>
#include <uuids.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/include/DmoRuntime.h"
#include "platform/include/PlayerPlugin.h"
#include "plugin/PluginIds.h"
#include "plugin/core/SharedAudioBlock.h"
#include "plugin/tests/MemoryMediaBuffer.h"

#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using com::ComPtr;

constexpr DWORD kRate = 48000;
constexpr DWORD kBytesPerSecond = kRate * 4;
constexpr DWORD kBufferBytes = kBytesPerSecond / 10;

// The outside reader: takes every record and answers at once.
class Reader {
public:
    Reader() {
        section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(plugin::kBlockSize), plugin::kSectionName);
        view_ = section_ ? static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
        mutex_ = CreateMutexA(NULL, FALSE, plugin::kMutexName);
        ready_ = CreateEventA(NULL, FALSE, FALSE, plugin::kDataReadyName);
        consumed_ = CreateEventA(NULL, FALSE, FALSE, plugin::kConsumedName);
        window_ = CreateWindowExA(0, "STATIC", "AudioSonifer", 0, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
        if (view_ && window_) {
            auto handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_));
            std::memcpy(view_ + plugin::kWindowOffset, &handle, sizeof handle);
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                if (WaitForSingleObject(ready_, 20) != WAIT_OBJECT_0) continue;
                auto r = plugin::ReadRecord(view_, plugin::kBlockSize);
                if (r) bytes += r->audio.size();
                SetEvent(consumed_);
            }
        });
    }
    ~Reader() {
        stop_ = true;
        thread_.join();
        if (window_) DestroyWindow(window_);
        if (view_) UnmapViewOfFile(view_);
        for (HANDLE h : {section_, mutex_, ready_, consumed_})
            if (h) CloseHandle(h);
    }
    bool Ok() const { return view_ && mutex_ && ready_ && consumed_ && window_; }
    std::atomic<uint64_t> bytes{0};

private:
    HANDLE section_ = NULL, mutex_ = NULL, ready_ = NULL, consumed_ = NULL;
    uint8_t* view_ = nullptr;
    HWND window_ = NULL;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double ProcessCpuSeconds() {
    FILETIME create, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &create, &exit, &kernel, &user)) return 0;
    auto add = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<double>(add(kernel) + add(user)) / 1e7;
}

struct Figures {
    double wall;
    double cpu;
    uint64_t bytes;
};

// Plays `seconds` of audio through a new plug-in object; false on a failed call.
bool Play(IClassFactory* factory, bool tap, double seconds, Figures* out) {
    ComPtr<IMediaObject> dmo;
    if (FAILED(factory->CreateInstance(NULL, IID_IMediaObject, dmo.PutVoid()))) return false;
    ComPtr<IWMPPluginEnable> enable;
    if (FAILED(enable.QueryFrom(dmo.Get(), IID_IWMPPluginEnable)) || FAILED(enable->SetEnable(tap))) return false;
    DMO_MEDIA_TYPE mt = {};
    if (FAILED(MoInitMediaType(&mt, sizeof(WAVEFORMATEX)))) return false;
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wf = {WAVE_FORMAT_PCM, 2, kRate, kBytesPerSecond, 4, 16, 0};
    std::memcpy(mt.pbFormat, &wf, sizeof wf);
    bool typed = SUCCEEDED(dmo->SetInputType(0, &mt, 0)) && SUCCEEDED(dmo->SetOutputType(0, &mt, 0));
    MoFreeMediaType(&mt);
    if (!typed) return false;

    auto* in = new plugintest::MemoryMediaBuffer(kBufferBytes);
    auto* outBuf = new plugintest::MemoryMediaBuffer(kBufferBytes);
    ComPtr<IMediaBuffer> inRef, outRef;
    inRef.Attach(in);
    outRef.Attach(outBuf);
    for (DWORD i = 0; i < kBufferBytes; ++i) in->Data()[i] = static_cast<BYTE>(i * 31);
    if (FAILED(in->SetLength(kBufferBytes))) return false;

    auto buffers = static_cast<uint64_t>(seconds * 10);
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double cpu0 = ProcessCpuSeconds();
    QueryPerformanceCounter(&t0);
    for (uint64_t b = 0; b < buffers; ++b) {
        if (FAILED(dmo->ProcessInput(0, in, DMO_INPUT_DATA_BUFFERF_TIME, static_cast<REFERENCE_TIME>(b) * 1000000, 0)))
            return false;
        DMO_OUTPUT_DATA_BUFFER ob = {};
        ob.pBuffer = outBuf;
        DWORD status = 0;
        if (dmo->ProcessOutput(0, 1, &ob, &status) != S_OK) return false;
    }
    QueryPerformanceCounter(&t1);
    out->wall = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
    out->cpu = ProcessCpuSeconds() - cpu0;
    out->bytes = buffers * kBufferBytes;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: plugin-bench PLUGIN.dll [SECONDS]\n");
        return 2;
    }
    double seconds = argc > 2 ? std::atof(argv[2]) : 600.0;
    if (!(seconds > 0)) seconds = 600.0;
    if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        std::fprintf(stderr, "cannot load %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(CLSID_AnveloAudioPlugin, IID_IClassFactory, factory.PutVoid()))) {
        std::fprintf(stderr, "no class factory\n");
        return 1;
    }
    int rc = 0;
    {
        Figures off{}, on{};
        Reader reader;
        if (!reader.Ok()) {
            std::fprintf(stderr, "reader objects could not be made\n");
            rc = 1;
        } else if (!Play(factory.Get(), false, seconds, &off) || !Play(factory.Get(), true, seconds, &on)) {
            std::fprintf(stderr, "a media object call failed\n");
            rc = 1;
        } else {
            std::printf("audio: %.0f s of 48 kHz stereo 16-bit in 100 ms buffers\n", seconds);
            std::printf("tap off: %.3f s wall (%.0f x real time), %.3f s CPU\n", off.wall, seconds / off.wall, off.cpu);
            std::printf("tap on:  %.3f s wall (%.0f x real time), %.3f s CPU, reader got %llu of %llu bytes\n", on.wall,
                        seconds / on.wall, on.cpu, static_cast<unsigned long long>(reader.bytes.load()),
                        static_cast<unsigned long long>(on.bytes));
            double share = (on.cpu - off.cpu) / seconds * 100.0;
            std::printf("tap cost: %.4f%% of one core (goal: under 1%%)\n", share);
            if (reader.bytes.load() != on.bytes) rc = 1;
        }
    }
    factory.Reset();
    CoUninitialize();
    return rc;
}
