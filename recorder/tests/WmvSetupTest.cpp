// The Windows Media set-up the control program and the engine share, with
// the stand-in runtime and ASF writer of this prefix: the profile file, its
// load (and the messages of a failed one), and the ASF writer's set-up.
#include <windows.h>

#include <dshow.h>
#include <wmsdkidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorder/shared/WmvSetup.h"

namespace {

std::vector<std::string> g_messages;

void Collect(const std::string& text) {
    g_messages.push_back(text);
}

std::string TempFolder() {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "wmvsetup-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

bool WriteBytes(const std::string& path, const void* data, DWORD size) {
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(f, data, size, &written, nullptr) && written == size;
    return ::CloseHandle(f) && ok;
}

std::vector<char> ReadBytes(const std::string& path) {
    std::vector<char> bytes(FileBytes(path));
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    if (f != INVALID_HANDLE_VALUE) {
        if (!::ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
        ::CloseHandle(f);
    }
    bytes.resize(read);
    return bytes;
}

DWORD HeldStreams() {
    DWORD count = 0;
    IWMProfile* profile = capture::HeldProfile();
    if (!profile || FAILED(profile->GetStreamCount(&count))) return 0;
    return count;
}

std::vector<std::string> InputPins(IBaseFilter* filter) {
    std::vector<std::string> names;
    IEnumPins* pins = nullptr;
    if (!filter || FAILED(filter->EnumPins(&pins))) return names;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info{};
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            if (info.pFilter) info.pFilter->Release();
            char text[128] = {};
            ::WideCharToMultiByte(CP_ACP, 0, info.achName, -1, text, sizeof text, nullptr, nullptr);
            if (info.dir == PINDIR_INPUT) names.push_back(text);
        }
        pin->Release();
    }
    pins->Release();
    return names;
}

class WmvSetup : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        capture::SetWmvMessageSink(Collect);
        g_messages.clear();
        profile_ = capture::GetProfilePath(folder_);
        ::DeleteFileA(profile_.c_str());
    }
    void TearDown() override {
        capture::ReleaseWmWriter();
        capture::ReleaseHeldProfile();
        capture::SetWmvMessageSink(nullptr);
        ::DeleteFileA(profile_.c_str());
        ::CoUninitialize();
    }
    std::string folder_ = TempFolder();
    std::string profile_;
};

TEST_F(WmvSetup, GeneratedProfilesLoadWithTheirStreams) {
    const struct {
        const char* what;
        int written;
        DWORD streams;
    } cases[] = {
        {"video", capture::WriteVideoProfile(folder_, 640, 480, 1000, 15, 0), 1},
        {"audio", capture::WriteAudioProfile(folder_, 64), 1},
        {"audio and video", capture::WriteAvProfile(folder_, 320, 240, 1000, 128, 15, 0), 2},
    };
    // Each case rewrote the file; only the last one is there to load.
    for (const auto& c : cases) EXPECT_EQ(1, c.written) << c.what;
    EXPECT_EQ(20000u, FileBytes(profile_));
    EXPECT_EQ(S_OK, capture::LoadProfileFile(profile_.c_str()));
    EXPECT_EQ(2u, HeldStreams());
    ASSERT_EQ(1, capture::WriteVideoProfile(folder_, 640, 480, 1000, 15, 3));
    EXPECT_EQ(S_OK, capture::LoadProfileFile(profile_.c_str()));
    EXPECT_EQ(1u, HeldStreams());
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(WmvSetup, ValuesAProfileCannotCarryWriteNoFile) {
    EXPECT_EQ(0, capture::WriteVideoProfile(folder_, 640, 480, 31, 15, 0));
    EXPECT_EQ(0, capture::WriteAvProfile(folder_, 640, 480, 1000, 64, 31, 0));
    EXPECT_EQ(0, capture::WriteAudioProfile(folder_, 100));
    EXPECT_FALSE(Exists(profile_));
    EXPECT_TRUE(g_messages.empty());
    // A folder that does not exist: the file cannot be created.
    EXPECT_EQ(0, capture::WriteAudioProfile(folder_ + "\\missing", 64));
    EXPECT_EQ(std::vector<std::string>{"Cannot create profile  file"}, g_messages);
}

TEST_F(WmvSetup, FailedLoadsSayWhatFailedAndHoldNoProfile) {
    ASSERT_EQ(1, capture::WriteAvProfile(folder_, 320, 240, 1000, 128, 15, 0));
    const std::vector<char> good = ReadBytes(profile_);
    ASSERT_EQ(20000u, good.size());
    const std::string truncated = folder_ + "\\truncated.prx";
    ASSERT_TRUE(WriteBytes(truncated, good.data(), 600));
    const std::string pipeName = "\\\\.\\pipe\\wmvsetup-" + std::to_string(::GetCurrentProcessId());
    HANDLE pipe = ::CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);

    const struct {
        const char* what;
        const char* path;
        HRESULT result;
        std::vector<std::string> messages;
    } cases[] = {
        {"no path", nullptr, E_POINTER, {"Profile File is NULL"}},
        {"missing file",
         "C:\\no\\such\\ParvProf.prx",
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
         {"Cannot create profile file", "FAILED 1"}},
        {"a pipe", pipeName.c_str(), static_cast<HRESULT>(0xC00D001C), {"FAILED 3", "FAILED 1"}},
        {"truncated", truncated.c_str(), static_cast<HRESULT>(0xC00D002F), {"FAILED 1"}},
    };
    for (const auto& c : cases) {
        // A good profile first: a failed load must not leave it in place.
        ASSERT_EQ(S_OK, capture::LoadProfileFile(profile_.c_str()));
        g_messages.clear();
        EXPECT_EQ(c.result, capture::LoadProfileFile(c.path)) << c.what;
        EXPECT_EQ(c.messages, g_messages) << c.what;
        EXPECT_EQ(nullptr, capture::HeldProfile()) << c.what;
    }
    ::CloseHandle(pipe);
    ::DeleteFileA(truncated.c_str());
}

class Graph {
public:
    Graph() {
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                           reinterpret_cast<void**>(&graph_)));
    }
    ~Graph() {
        if (graph_) graph_->Release();
    }
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    IGraphBuilder* Get() const { return graph_; }

private:
    IGraphBuilder* graph_ = nullptr;
};

TEST_F(WmvSetup, AsfWriterGetsThePinsOfTheProfileAndTheFileGoes) {
    ASSERT_EQ(1, capture::WriteAvProfile(folder_, 320, 240, 1000, 128, 15, 0));
    Graph graph;
    com::ComPtr<IBaseFilter> writer;
    ASSERT_EQ(S_OK, capture::AddAsfWriter(folder_, folder_ + "\\clip.wmv", graph.Get(), writer));
    ASSERT_TRUE(writer);
    EXPECT_EQ((std::vector<std::string>{"Audio Input 01", "Video Input 01"}), InputPins(writer.Get()));
    IBaseFilter* named = nullptr;
    EXPECT_EQ(S_OK, graph.Get()->FindFilterByName(L"Mux", &named));
    if (named) named->Release();
    EXPECT_FALSE(Exists(profile_));
    EXPECT_TRUE(capture::HoldsWmWriter());
    EXPECT_TRUE(g_messages.empty());
    graph.Get()->RemoveFilter(writer.Get());
}

TEST_F(WmvSetup, AFailedLoadDoesNotApplyTheProfileBeforeIt) {
    ASSERT_EQ(1, capture::WriteAudioProfile(folder_, 64));
    Graph first;
    com::ComPtr<IBaseFilter> writer;
    ASSERT_EQ(S_OK, capture::AddAsfWriter(folder_, folder_ + "\\one.wmv", first.Get(), writer));
    first.Get()->RemoveFilter(writer.Get());
    // No profile file now: the next set-up has nothing to load.
    Graph second;
    g_messages.clear();
    EXPECT_TRUE(FAILED(capture::AddAsfWriter(folder_, folder_ + "\\two.wmv", second.Get(), writer)));
    EXPECT_FALSE(writer);
    EXPECT_EQ((std::vector<std::string>{"Cannot create profile file", "FAILED 1"}), g_messages);
}

TEST_F(WmvSetup, ProfileTheWriterRefusesStaysOnDisk) {
    // Seventeen audio streams: a profile the runtime reads and the ASF
    // writer cannot take (it has sixteen inputs at most).
    std::string xml = "<profile version=\"589824\" storageformat=\"1\" name=\"n\" description=\"d\">";
    for (int i = 1; i <= 17; ++i)
        xml += "<streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" streamnumber=\"" +
               std::to_string(i) +
               "\" streamname=\"a\" inputname=\"b\" bitrate=\"64040\" bufferwindow=\"-1\">"
               "<wmmediatype subtype=\"{00000161-0000-0010-8000-00AA00389B71}\">"
               "<waveformatex wFormatTag=\"353\" nChannels=\"2\" nSamplesPerSec=\"44100\" nAvgBytesPerSec=\"8005\" "
               "nBlockAlign=\"1487\" wBitsPerSample=\"16\"/></wmmediatype></streamconfig>";
    xml += "</profile>";
    std::vector<char> image(20000, 0);
    ASSERT_LT(xml.size() * 2, image.size());
    for (std::size_t i = 0; i < xml.size(); ++i) image[2 * i] = xml[i];
    ASSERT_TRUE(WriteBytes(profile_, image.data(), static_cast<DWORD>(image.size())));
    Graph graph;
    com::ComPtr<IBaseFilter> writer;
    EXPECT_EQ(E_INVALIDARG, capture::AddAsfWriter(folder_, folder_ + "\\clip.wmv", graph.Get(), writer));
    EXPECT_TRUE(Exists(profile_));
    if (writer) graph.Get()->RemoveFilter(writer.Get());
}

}  // namespace
