#include "recorder/shared/SourceRegion.h"

namespace capture {

const char kScreenSourceKey[] = "SOFTWARE\\Unreal\\Live\\UScreenCapture";

bool WriteDword(HKEY key, const char* name, DWORD value) {
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
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

}  // namespace capture
