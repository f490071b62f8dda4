#include "platform/dshow/FileIo.h"

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT WriteAllBytes(HANDLE file, const void* data, DWORD size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, p, size, &written, NULL)) return LastErrorResult();
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        p += written;
        size -= written;
    }
    return S_OK;
}
