// Small Win32 file helpers shared by the file-writing and file-reading filters.
#pragma once

#include <windows.h>

// The calling thread's last Win32 error as a failure code: never a success,
// even when the system set none.
HRESULT LastErrorResult();

// Writes all of `size` bytes at the file's position; a write that makes no
// progress counts as a full disk.
HRESULT WriteAllBytes(HANDLE file, const void* data, DWORD size);
