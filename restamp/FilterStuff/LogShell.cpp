#include "restamp/FilterStuff/LogShell.h"

#include "restamp/DemuxCommon/CoreLog.h"

#include <cstdio>
#include <string>

using chronel::kLogCategories;
using chronel::kLogCategoryNames;
using chronel::LogSettings;

namespace {

// The parser core's lines join the filter's debug log.
void ForwardCoreLine(uint32_t mask, int level, const char* file, int line, const char* text) {
    chronel::ELogDebugPrintf(mask, level, file, line, "%s", text);
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0);
}

bool ReadIni(const std::string& modulePath, LogSettings* s) {
    size_t dot = modulePath.rfind('.');
    if (modulePath.size() <= 4 || dot == std::string::npos) return false;
    std::string ini = modulePath.substr(0, dot) + ".ini";
    HANDLE f = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    CloseHandle(f);
    for (int i = 0; i < kLogCategories; ++i)
        s->thresholds[i] = GetPrivateProfileIntA("Debug", kLogCategoryNames[i], 0, ini.c_str());
    s->enableInRelease = GetPrivateProfileIntA("Debug", "EnableInRelease", 0, ini.c_str()) != 0;
    char file[MAX_PATH + 1] = {};
    GetPrivateProfileStringA("Debug", "LogToFile", "", file, MAX_PATH, ini.c_str());
    s->filePath = file;
    return true;
}

void ReadRegistry(const std::string& moduleName, LogSettings* s) {
    char path[600];
    std::snprintf(path, sizeof path, "%s\\%s", "SOFTWARE\\Debug", moduleName.c_str());
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < kLogCategories; ++i) {
        DWORD value = 0, size = 4, type = 0;
        if (RegQueryValueExA(key, kLogCategoryNames[i], NULL, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD) {
            s->thresholds[i] = value;
        } else {
            DWORD zero = 0;
            RegSetValueExA(key, kLogCategoryNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
        }
    }
    DWORD enable = 0, size = 4, type = 0;
    if (RegQueryValueExA(key, "EnableInRelease", NULL, &type, reinterpret_cast<BYTE*>(&enable), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        s->enableInRelease = enable != 0;
    char file[MAX_PATH + 1] = {};
    DWORD fileSize = MAX_PATH;
    if (RegQueryValueExA(key, "LogToFile", NULL, &type, reinterpret_cast<BYTE*>(file), &fileSize) == ERROR_SUCCESS &&
        type == REG_SZ) {
        file[fileSize < MAX_PATH ? fileSize : MAX_PATH] = '\0';
        s->filePath = file;
    } else {
        RegSetValueExA(key, "LogToFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    }
    RegCloseKey(key);
}

std::string VersionText(const std::string& modulePath) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(modulePath.c_str(), &handle);
    if (size == 0) return "0.0.0.0";
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* info = NULL;
    UINT len = 0;
    if (!GetFileVersionInfoA(modulePath.c_str(), 0, size, &block[0]) ||
        !VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&info), &len) || !info)
        return "0.0.0.0";
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", info->dwFileVersionMS >> 16, info->dwFileVersionMS & 0xFFFF,
                  info->dwFileVersionLS >> 16, info->dwFileVersionLS & 0xFFFF);
    return text;
}

}  // namespace

ChronelLog::ChronelLog(HMODULE module) {
    LARGE_INTEGER f;
    if (QueryPerformanceFrequency(&f)) m_frequency = f.QuadPart;
    std::string path = ModulePath(module);
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    LogSettings settings;
    if (!ReadIni(path, &settings)) ReadRegistry(name, &settings);
    m_log.reset(new chronel::ELogDebug(name, settings, this));
    if (!m_log->Enabled()) return;
    chronel::SetCoreLogSink(&ForwardCoreLine);
    if (!settings.filePath.empty() && settings.enableInRelease) {
        m_file = CreateFileA(settings.filePath.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    }
    SYSTEMTIME t;
    GetLocalTime(&t);
    OSVERSIONINFOA os = {};
    os.dwOSVersionInfoSize = sizeof os;
    GetVersionExA(&os);
    char header[1024];
    std::snprintf(
        header, sizeof header,
        "Log of %s at time %d/%d/%d %d:%d:%d version %s \n\t\tOS version: MajorVersion %lu, MinorVersion %lu, "
        "BuildNumber %lu, PlatformId %lu, CSDVersion %s",
        name.c_str(), t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, VersionText(path).c_str(),
        os.dwMajorVersion, os.dwMinorVersion, os.dwBuildNumber, os.dwPlatformId, os.szCSDVersion);
    m_log->WriteHeader(header);
}

ChronelLog::~ChronelLog() {
    m_log.reset();
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

void ChronelLog::Write(const std::string& line) {
    OutputDebugStringA(line.c_str());
    if (m_file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(m_file, 0, NULL, FILE_END);
    DWORD written = 0;
    WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, NULL);
}

void ChronelLog::LocalTime(int* hour, int* minute, int* second) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    *hour = t.wHour;
    *minute = t.wMinute;
    *second = t.wSecond;
}

double ChronelLog::SecondFraction() {
    LARGE_INTEGER now;
    if (m_frequency <= 0 || !QueryPerformanceCounter(&now)) return -1;
    return static_cast<double>(now.QuadPart % m_frequency) / static_cast<double>(m_frequency);
}
