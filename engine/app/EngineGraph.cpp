#include "engine/app/EngineGraph.h"

#include <dshow.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/app/EngineState.h"
#include "platform/com/ComPtr.h"
#include "recorder/core/PanelLogic.h"
#include "recorder/shared/DeviceLookup.h"
#include "recorder/shared/ModuleConfigCalls.h"
#include "recorder/shared/SourceRegion.h"
#include "recorder/shared/TextCodePage.h"
#include "recorder/shared/WmvSetup.h"
// Last: defines the class ids it names.
#include <initguid.h>

#include "companions/httpsource/HttpSourceIds.h"

namespace zelbov {

namespace {

const wchar_t kAudioUrl[] = L"http://127.0.0.1:7777";

enum Code {
    kBuildFailed = 1000,
    kConnectFailed = 1001,
    kRunFailed = 1002,
    kNoControl = 1003,
    kAudioProfileFailed = 1004,
    kVideoProfileFailed = 1005,
    kAvProfileFailed = 1006,
    kWmvRunFailed = 1007
};

// WMV codec index of the profile: MP4S for format 3, WMV3 otherwise.
const int kWmvCodecWmv3 = 0;
const int kWmvCodecMp4s = 1;
const int kFormatWmvMpeg4 = 3;

struct Graph {
    com::ComPtr<IGraphBuilder> graph;
    com::ComPtr<ICaptureGraphBuilder2> builder;
    com::ComPtr<IMediaControl> control;
    com::ComPtr<IBaseFilter> screen, videoEncoder, mux, writer, audioEncoder, source, parser, asf;
    bool running = false;
};

Graph& TheGraph() {
    static Graph graph;
    return graph;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(hr));
    return text;
}

// Found by friendly name in `category` and added under that name; a failed
// add is only traced and the filter is still used.
com::ComPtr<IBaseFilter> AddByName(REFCLSID category, const char* name) {
    const std::wstring wide = Widen(name);
    com::ComPtr<IBaseFilter> filter = capture::FindFilterByFriendlyName(category, wide);
    if (!filter) {
        Trace(std::string("\r\nFailed to find ") + name + " filter");
        return filter;
    }
    const HRESULT hr = TheGraph().graph->AddFilter(filter.Get(), wide.c_str());
    if (FAILED(hr)) Trace(std::string("\r\nFailed to add ") + name + " filter to graph!  hr=" + Hex(hr));
    return filter;
}

HRESULT AddHttpSource(com::ComPtr<IBaseFilter>& source) {
    source = nullptr;
    HRESULT hr =
        ::CoCreateInstance(CLSID_KorvellHttpSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid());
    if (FAILED(hr)) return hr;
    hr = TheGraph().graph->AddFilter(source.Get(), L"Source");
    com::ComPtr<IFileSourceFilter> file;
    if (SUCCEEDED(hr)) hr = file.QueryFrom(source.Get(), IID_IFileSourceFilter);
    if (SUCCEEDED(hr)) hr = file->Load(kAudioUrl, nullptr);
    if (FAILED(hr)) {
        TheGraph().graph->RemoveFilter(source.Get());
        source = nullptr;
    }
    return hr;
}

void ReleaseGraph() {
    Graph& g = TheGraph();
    if (g.graph) {
        for (IBaseFilter* f : {g.screen.Get(), g.videoEncoder.Get(), g.mux.Get(), g.writer.Get(), g.audioEncoder.Get(),
                               g.source.Get(), g.parser.Get(), g.asf.Get()})
            if (f) g.graph->RemoveFilter(f);
    }
    g.screen = g.videoEncoder = g.mux = g.writer = g.audioEncoder = g.source = g.parser = g.asf = nullptr;
    capture::ReleaseWmWriter();
    capture::ReleaseHeldProfile();
    g.control = nullptr;
    g.builder = nullptr;
    g.graph = nullptr;
}

[[noreturn]] void EndProcess() {
    ::ExitProcess(0);
}

bool SetupEngineGraph(recorder::Region& region) {
    ReleaseGraph();
    Graph& g = TheGraph();
    if (FAILED(
            ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.graph.PutVoid())))
        return false;
    if (FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                  g.builder.PutVoid())) ||
        FAILED(g.builder->SetFiltergraph(g.graph.Get())))
        return false;
    if (FAILED(g.control.QueryFrom(g.graph.Get(), IID_IMediaControl))) g.control = nullptr;

    if (capture::ReadSourceRegion(region)) return true;
    const std::string script = Engine().programFolder + "\\screencap.bat";
    ::ShellExecuteA(nullptr, "open", script.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (!capture::EnsureSourceRegistryKey()) {
        ShowEngineMessage("Cannot setup the registry for screen capture. Cannot continue");
        EndProcess();
    }
    if (!capture::ReadSourceRegion(region)) {
        ShowEngineMessage("Cannot read screen coordinates in the registry. Cannot continue");
        EndProcess();
    }
    return true;
}

bool AddAudioBranch();

bool Missing(const com::ComPtr<IBaseFilter>& filter, const char* name) {
    if (filter) return false;
    ShowEngineMessage(std::string("Cannot install ") + name + " filter");
    return true;
}

bool BuildEngineMpegGraph() {
    Graph& g = TheGraph();
    g.videoEncoder = AddByName(CLSID_LegacyAmFilterCategory, "Korvell MPEG-2 Video Encoder");
    if (Missing(g.videoEncoder, "MPEG Encoder")) return false;
    g.mux = AddByName(CLSID_LegacyAmFilterCategory, "Korvell MPEG Muxteron");
    if (Missing(g.mux, "Mux")) return false;
    if (!capture::SetAndCommit(g.mux.Get(), capture::kMuxOutput, 1))
        ShowEngineMessage("MPEG Multiplexer cannot be configured");
    g.writer = AddByName(CLSID_LegacyAmFilterCategory, "Korvell Sink Filter");
    if (Missing(g.writer, "File Writer")) return false;
    com::ComPtr<IFileSinkFilter> sink;
    if (FAILED(sink.QueryFrom(g.writer.Get(), IID_IFileSinkFilter))) {
        ShowEngineMessage("Cannot query File Sink filter");
        return false;
    }
    Trace("\r\nFile Name = " + Engine().settings.file);
    if (FAILED(sink->SetFileName(Engine().target.c_str(), nullptr))) {
        ShowEngineMessage("Cannot create file " + Engine().settings.file);
        return false;
    }
    if (!capture::SetAndCommit(g.writer.Get(), capture::kSinkWriteMode, 2))
        ShowEngineMessage("Cannot configure MPEG writer");
    g.audioEncoder = AddByName(CLSID_LegacyAmFilterCategory, "Korvell Layer II Audio Encoder");
    if (Missing(g.audioEncoder, "MPEG Audio Encoder")) return false;
    Trace("\r\n\r\nENTER INSTALL MPEG\r\n");
    if (!AddAudioBranch()) return false;
    g.screen = AddByName(CLSID_VideoInputDeviceCategory, "UScreenCapture");
    return !Missing(g.screen, "Screen Capture");
}

// The URL source of the audio server and the wave parser behind it.
bool AddAudioBranch() {
    Graph& g = TheGraph();
    HRESULT hr = g.graph->AddSourceFilter(kAudioUrl, L"Source", g.source.Put());
    if (FAILED(hr) || !g.source) {
        // A platform that treats the URL as a file name: our own source of
        // the http protocol instead.
        Trace("\r\nAddSourceFilter hr=" + Hex(hr) + ", using Korvell HTTP Source");
        hr = AddHttpSource(g.source);
    }
    if (FAILED(hr) || !g.source) {
        Trace("\r\nSource hr=" + Hex(hr));
        ShowEngineMessage("Cannot install Source filter");
        return false;
    }
    if (Flags().closing) return false;
    g.parser = AddByName(CLSID_LegacyAmFilterCategory, "Wave Parser");
    if (Missing(g.parser, "Wave Parser")) return false;
    CLSID parser{};
    if (SUCCEEDED(g.parser->GetClassID(&parser))) {
        wchar_t text[64] = {};
        ::StringFromGUID2(parser, text, 64);
        Trace("\r\nWave Parser " + capture::Narrow(text));
    }
    return true;
}

bool ConnectPins(IBaseFilter* from, const wchar_t* out, IBaseFilter* to, const wchar_t* in, const char* failure) {
    const com::ComPtr<IPin> output = capture::FindPinByName(from, PINDIR_OUTPUT, out);
    const com::ComPtr<IPin> input = capture::FindPinByName(to, PINDIR_INPUT, in);
    HRESULT hr = E_FAIL;
    if (output && input) hr = TheGraph().graph->ConnectDirect(output.Get(), input.Get(), nullptr);
    if (SUCCEEDED(hr)) return true;
    Trace(std::string("\r\n") + failure + " hr=" + Hex(hr));
    ShowEngineMessage(failure);
    return false;
}

bool ConnectEngineMpegPins() {
    Graph& g = TheGraph();
    if (!ConnectPins(g.source.Get(), L"Output", g.parser.Get(), L"input pin", "Cannot connect Audio to Wave Parser"))
        return false;
    if (!ConnectPins(g.parser.Get(), L"output", g.audioEncoder.Get(), L"XForm In", "Cannot connect Audio to Encoder"))
        return false;
    if (!ConnectPins(g.screen.Get(), L"Capture", g.videoEncoder.Get(), L"Input",
                     "Cannot connect Screen Capture to Encoder"))
        return false;
    // The encoder commits its bitrate only once its input is connected.
    if (!capture::ConfigureVideoEncoderBitrate(g.videoEncoder.Get(), Engine().settings.videoKbps * 1000))
        ShowEngineMessage("Cannot configure video encoder");
    if (!ConnectPins(g.videoEncoder.Get(), L"Output", g.mux.Get(), L"Input0", "Cannot connect Encoder to Mux"))
        return false;
    if (!ConnectPins(g.mux.Get(), L"Out", g.writer.Get(), L"Input", "Cannot connect Mux to File Writer")) return false;
    return ConnectPins(g.audioEncoder.Get(), L"XForm Out", g.mux.Get(), L"Input1",
                       "Cannot connect Audio Encoder to Mux");
}

bool BuildEngineWmvGraph() {
    Graph& g = TheGraph();
    const engine::EngineSettings& s = Engine().settings;
    if (!s.audioOnly) {
        g.screen = AddByName(CLSID_VideoInputDeviceCategory, "UScreenCapture");
        if (Missing(g.screen, "Screen Capture")) return false;
    }
    const HRESULT hr = capture::AddAsfWriter(Engine().programFolder, s.file, g.graph.Get(), g.asf);
    char pointer[32];
    std::snprintf(pointer, sizeof pointer, "0x%p", static_cast<void*>(g.asf.Get()));
    Trace(std::string("\r\npASFWriter=") + pointer);
    if (FAILED(hr)) {
        Trace("\r\nAddAsfWriter hr=" + Hex(hr));
        ShowEngineMessage("Cannot install ASF Writer");
        return false;
    }
    return AddAudioBranch();
}

bool ConnectEngineWmvPins() {
    Graph& g = TheGraph();
    if (!ConnectPins(g.source.Get(), L"Output", g.parser.Get(), L"input pin", "Cannot connect Audio to Wave Parser"))
        return false;
    if (!ConnectPins(g.parser.Get(), L"output", g.asf.Get(), L"Audio Input 01", "Cannot connect Audio to Encoder"))
        return false;
    if (Engine().settings.audioOnly) return true;
    const com::ComPtr<IPin> output = capture::FindPinByName(g.screen.Get(), PINDIR_OUTPUT, L"Capture");
    const com::ComPtr<IPin> input = capture::FindPinByName(g.asf.Get(), PINDIR_INPUT, L"Video Input 01");
    HRESULT hr = E_FAIL;
    if (output && input) hr = g.graph->ConnectDirect(output.Get(), input.Get(), nullptr);
    if (SUCCEEDED(hr)) return true;
    Trace("\r\nCannot connect Screen Capture to the ASF writer hr=" + Hex(hr));
    // The Windows Media MPEG-4 route fails here without a message.
    if (Engine().settings.format != kFormatWmvMpeg4) ShowEngineMessage("Cannot find Windows Media 9 codec");
    return false;
}

bool RunEngineWmvGraph(const recorder::Region& region) {
    const engine::EngineSettings& s = Engine().settings;
    const int codec = s.format == kFormatWmvMpeg4 ? kWmvCodecMp4s : kWmvCodecWmv3;
    const std::string& folder = Engine().programFolder;
    const int width = region.right - region.left;
    const int height = region.bottom - region.top;
    capture::SetWmvMessageSink([](const std::string& text) { ShowEngineMessage(text); });
    if (s.audioOnly) {
        if (!capture::WriteAudioProfile(folder, s.audioKbps)) {
            ShowEngineMessage("Failed to setup WM profile");
            SendCode(kAudioProfileFailed);
            return false;
        }
    } else if (s.videoOnly) {
        if (!capture::WriteVideoProfile(folder, width, height, s.videoKbps, s.frameRate, codec)) {
            SendCode(kVideoProfileFailed);
            ShowEngineMessage("Failed to setup WM profile");
            return false;
        }
    } else if (!capture::WriteAvProfile(folder, width, height, s.videoKbps, s.audioKbps, s.frameRate, codec)) {
        SendCode(kAvProfileFailed);
        ShowEngineMessage("Failed to setup WM profile");
        return false;
    }
    if (!BuildEngineWmvGraph() || !ConnectEngineWmvPins()) return false;
    Graph& g = TheGraph();
    const HRESULT hr = g.control ? g.control->Run() : E_NOINTERFACE;
    if (FAILED(hr)) {
        Trace("\r\nRun hr=" + Hex(hr));
        SendCode(kWmvRunFailed);
        ShowEngineMessage("Cannot run graph");
        return false;
    }
    Trace("\r\n\r\nRUNNING WMP\r\n");
    g.running = true;
    return true;
}

bool RunEngineGraph(recorder::Region region) {
    const engine::EngineSettings& s = Engine().settings;
    region.frameRate = s.frameRate;
    capture::WriteSourceRegion(region);  // rounds the size to multiples of 8
    Graph& g = TheGraph();
    if (s.format == 0 || s.format == 2) {
        if (!BuildEngineMpegGraph()) {
            SendCode(kBuildFailed);
            return false;
        }
        if (!ConnectEngineMpegPins()) {
            SendCode(kConnectFailed);
            return false;
        }
        if (!g.control) {
            ShowEngineMessage("Cannot run graph (2)");
            SendCode(kNoControl);
            return false;
        }
        const HRESULT hr = g.control->Run();
        if (FAILED(hr)) {
            Trace("\r\nRun hr=" + Hex(hr));
            ShowEngineMessage("Cannot run graph");
            SendCode(kRunFailed);
            return false;
        }
        Trace("\r\n\r\nRUNNING MPEG\r\n");
        g.running = true;
        return true;
    }
    return RunEngineWmvGraph(region);
}

}  // namespace

void StartEngineRecording() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    recorder::Region region{Engine().settings.left, Engine().settings.top, Engine().settings.right,
                            Engine().settings.bottom, Engine().settings.frameRate};
    if (!SetupEngineGraph(region)) {
        ShowEngineMessage("Cannot find or initialize DirectX");
        ReleaseGraph();
        ::PostQuitMessage(0);
        EndProcess();
    }
    if (!RunEngineGraph(region)) {
        ShowEngineMessage("Failed to setup recording");
        ReleaseGraph();
        ::CoUninitialize();
        EndProcess();
    }
}

void CloseRecording() {
    Graph& g = TheGraph();
    if (!g.running || !g.control) return;
    const HRESULT hr = g.control->Stop();
    if (FAILED(hr)) {
        ShowEngineMessage("Error closing recording");
        EndProcess();
    }
    g.running = false;
    Engine().life->OnClosed();
    ReleaseGraph();
    ::CoUninitialize();
    Trace("\r\nRECORDING CLOSED");
}

}  // namespace zelbov
