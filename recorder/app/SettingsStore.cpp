#include "recorder/app/SettingsStore.h"

#include <shlobj.h>

#include <cstdio>

#include "recorder/app/Program.h"

namespace zelbo {

const char kScreenSourceKey[] = "SOFTWARE\\Unreal\\Live\\UScreenCapture";

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

bool WriteDword(HKEY key, const char* name, DWORD value) {
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
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

int EnsureSourceRegistryKey() {
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScreenSourceKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return 1;
    }
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScreenSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return 0;
    const struct {
        const char* name;
        DWORD value;
    } defaults[] = {{"Bottom", 600}, {"FrameRate", 30}, {"Left", 200}, {"Right", 600}, {"Top", 200}};
    for (const auto& d : defaults) {
        if (!WriteDword(key, d.name, d.value)) {
            ::RegCloseKey(key);
            return 0;
        }
    }
    ::RegCloseKey(key);
    return 1;
}

int ReadRegistryDword(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) return 0;
    if (type != REG_DWORD || size != sizeof data) return 0;
    value = data;
    return 1;
}

int ReadSourceRegion(recorder::Region& region) {
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScreenSourceKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    DWORD left, right, top, bottom, rate;
    const bool ok = ReadRegistryDword(key, "Left", left) && ReadRegistryDword(key, "Right", right) &&
                    ReadRegistryDword(key, "Top", top) && ReadRegistryDword(key, "Bottom", bottom) &&
                    ReadRegistryDword(key, "FrameRate", rate);
    ::RegCloseKey(key);
    if (!ok) return 0;
    region.left = static_cast<int>(left);
    region.right = static_cast<int>(right);
    region.top = static_cast<int>(top);
    region.bottom = static_cast<int>(bottom);
    region.frameRate = static_cast<int>(rate);
    return 1;
}

int WriteSourceRegion(recorder::Region& region) {
    region = recorder::RoundRegion(region);
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScreenSourceKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    WriteDword(key, "Left", static_cast<DWORD>(region.left));
    WriteDword(key, "Right", static_cast<DWORD>(region.right));
    WriteDword(key, "Top", static_cast<DWORD>(region.top));
    WriteDword(key, "Bottom", static_cast<DWORD>(region.bottom));
    WriteDword(key, "FrameRate", static_cast<DWORD>(region.frameRate));
    ::RegCloseKey(key);
    return 1;
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
