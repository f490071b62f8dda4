#include "plugin/ScaleFactorStore.h"

#include <windows.h>

#include "plugin/PluginIds.h"
#include "plugin/core/ScaleFactor.h"

namespace plugin {

bool ReadStoredScaleFactor(double* factor) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kScaleFactorKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD value = 0, type = 0, size = sizeof value;
    LONG r = RegQueryValueExW(key, kScaleFactorValue, NULL, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return false;
    *factor = ScaleFromRegistry(value);
    return true;
}

void StoreScaleFactor(double factor) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kScaleFactorKey, 0, NULL, 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    DWORD value = ScaleToRegistry(factor);
    (void)RegSetValueExW(key, kScaleFactorValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

}  // namespace plugin
