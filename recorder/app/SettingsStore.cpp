#include "recorder/app/SettingsStore.h"

#include <shlobj.h>

#include <cstdio>

#include "recorder/app/Program.h"
#include "recorder/shared/SourceRegion.h"

namespace zelbo {

namespace {

std::string g_settingsPath;

bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return true;
}

void DefaultRecordingFolder(recorder::Settings& settings) {
    char videos[MAX_PATH] = {};
    std::string folder;
    if (SUCCEEDED(
            ::SHGetFolderPathA(nullptr, CSIDL_MYVIDEO | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, videos))) {
        folder = std::string(videos) + "\\Zlb Recordings";
    } else {
        folder = InProgramFolder("Recordings");
    }
    ::CreateDirectoryA(folder.c_str(), nullptr);
    settings.recordingFolder = folder.substr(0, recorder::kMaxSettingText);
}

}  // namespace

void SetSettingsPath(const std::string& path) {
    g_settingsPath = path;
}
const std::string& SettingsPath() {
    return g_settingsPath;
}

int LoadSettings() {
    std::string text;
    if (!ReadWholeFile(g_settingsPath, text)) {
        ShowMessage("Cannot find or open file " + g_settingsPath + ". Cannot read settings");
        ::ExitProcess(0);
    }
    recorder::Settings& settings = TheSettings();
    recorder::ParseSettingsFile(text, settings);
    if (settings.recordingFolder.empty()) DefaultRecordingFolder(settings);
    SaveSettings();
    return 1;
}

namespace {

// The whole text into a file of its own next to the settings, then renamed
// over them: a failed write (a full disk) leaves the old file whole.
bool WriteReplacing(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    HANDLE file =
        ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
              written == text.size();
    ok = ::FlushFileBuffers(file) != 0 && ok;
    ok = ::CloseHandle(file) != 0 && ok;
    if (ok)
        ok = ::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) ::DeleteFileA(temporary.c_str());
    return ok;
}

}  // namespace

bool SaveSettings() {
    const std::string text = recorder::FormatSettingsFile(TheSettings());
    // Appending tests that the file can be written without touching it.
    FILE* probe = std::fopen(g_settingsPath.c_str(), "ab");
    if (!probe || std::fclose(probe) != 0 || !WriteReplacing(g_settingsPath, text)) {
        ShowMessage("Cannot find or open file " + g_settingsPath + ". Cannot save settings");
        return false;
    }
    return true;
}

int SetPlayerVideoAcceleration(bool disabled) {
    HKEY key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\MediaPlayer\\Preferences\\VideoSettings", 0, nullptr,
                          0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    const struct {
        const char* name;
        DWORD disabled;
        DWORD enabled;
    } values[] = {
        {"DontUseFrameInterpolation", 1, 0},
        {"DVDUsePowerMngmnt", 1, 1},
        {"DVDUseSWDecoder", 0, 1},
        {"DVDUseVMR", 0, 1},
        {"DVDUseVMRFSMS", 0, 1},
        {"DVDUseVMROverlay", 0, 1},
        {"EnableDXVA_WMV", 0, 0},
        {"IgnoreAVSync", 0, 0},
        {"PerformanceSettings", 1, 2},
        {"UseFullScrMS", 1, 0},
        {"UseRGB", 0, 1},
        {"UseUseRendererPri", 1, 1},
        {"UseVMR", 1, 1},
        {"UseVMRFullScreenCntr", 1, 1},
        {"UseVMROverlay", 0, 1},
        {"UseYUV", 1, 1},
    };
    bool last = true;
    for (const auto& v : values) last = WriteDword(key, v.name, disabled ? v.disabled : v.enabled);
    ::RegCloseKey(key);
    return last ? 1 : 0;
}

}  // namespace zelbo
