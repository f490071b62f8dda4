#include "plugin/SharedMemory.h"

#include <cstring>
#include <mutex>
#include <new>

namespace {

HANDLE OpenOrCreateEvent(const char* name) {
    HANDLE h = OpenEventA(EVENT_ALL_ACCESS, TRUE, name);
    if (h == NULL) h = CreateEventA(NULL, FALSE, FALSE, name);
    return h;
}

void CloseIfOpen(HANDLE h) {
    if (h != NULL) CloseHandle(h);
}

}  // namespace

CSharedMemory::CSharedMemory() {
    section_ = OpenFileMappingA(FILE_MAP_WRITE, FALSE, plugin::kSectionName);
    if (section_ == NULL) {
        SetLastError(ERROR_SUCCESS);
        section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(plugin::kBlockSize), plugin::kSectionName);
        // A reader that made it between our two calls keeps it its own.
        creator_ = section_ != NULL && GetLastError() != ERROR_ALREADY_EXISTS;
    }
    if (section_ != NULL) {
        view_ = static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (view_ != nullptr) {
            // A reader's section may be smaller than ours: never look past it.
            MEMORY_BASIC_INFORMATION info;
            if (VirtualQuery(view_, &info, sizeof info) == sizeof info)
                viewSize_ = info.RegionSize < plugin::kBlockSize ? info.RegionSize : plugin::kBlockSize;
            if (creator_) std::memset(view_, 0, viewSize_);
        }
    }
    mutex_ = OpenMutexA(MUTEX_ALL_ACCESS, TRUE, plugin::kMutexName);
    if (mutex_ == NULL) mutex_ = CreateMutexA(NULL, FALSE, plugin::kMutexName);
    dataReady_ = OpenOrCreateEvent(plugin::kDataReadyName);
    consumed_ = OpenOrCreateEvent(plugin::kConsumedName);
}

CSharedMemory::~CSharedMemory() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    CloseIfOpen(section_);
    CloseIfOpen(mutex_);
    CloseIfOpen(dataReady_);
    CloseIfOpen(consumed_);
}

plugin::WaitOutcome CSharedMemory::WaitMutex(uint32_t ms) {
    if (mutex_ == NULL) return plugin::WaitOutcome::Failed;
    switch (WaitForSingleObject(mutex_, ms)) {
        case WAIT_OBJECT_0:
            return plugin::WaitOutcome::Obtained;
        case WAIT_ABANDONED:
            return plugin::WaitOutcome::Abandoned;
        case WAIT_TIMEOUT:
            return plugin::WaitOutcome::TimedOut;
        default:
            return plugin::WaitOutcome::Failed;
    }
}

void CSharedMemory::ReleaseMutex() {
    if (mutex_ != NULL) ::ReleaseMutex(mutex_);
}

bool CSharedMemory::IsReaderWindow(uint32_t handle) {
    // Window handles are 32-bit values, sign-extended in a 64-bit process.
    return IsWindow(reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(handle)))) != FALSE;
}

bool CSharedMemory::SignalDataReady() {
    return dataReady_ != NULL && consumed_ != NULL && SetEvent(dataReady_) != FALSE;
}

void CSharedMemory::WaitConsumed(uint32_t ms) {
    // A reader that does not answer only costs the wait.
    (void)WaitForSingleObject(consumed_, ms);
}

CAudioSonifer::CAudioSonifer() {
    DWORD pid = GetCurrentProcessId();
    fields_.processId = pid;
    fields_.instanceId = pid + GetTickCount();
    // The player's path does not change while it runs: found once here.
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) path[0] = 0;
    char shortPath[MAX_PATH] = "";
    DWORD s = GetShortPathNameA(path, shortPath, MAX_PATH);
    const char* chosen = (s != 0 && s < MAX_PATH) ? shortPath : path;
    wchar_t wide[plugin::kPathMaxChars] = L"";
    int w = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, chosen, -1, wide, static_cast<int>(plugin::kPathMaxChars));
    if (w <= 0) wide[0] = 0;
    wide[plugin::kPathMaxChars - 1] = 0;
    for (const wchar_t* p = wide; *p; ++p) fields_.path.push_back(static_cast<char16_t>(*p));
}

void CAudioSonifer::Send(const BYTE* data, DWORD size, const BYTE* format, DWORD formatSize) {
    plugin::SendBuffer(memory_, fields_, format, formatSize, data, size);
}

namespace {
std::mutex g_soniferLock;
std::shared_ptr<CAudioSonifer> g_sonifer;
}  // namespace

std::shared_ptr<CAudioSonifer> MakeAudioSonifer() {
    std::shared_ptr<CAudioSonifer> made;
    try {
        made = std::make_shared<CAudioSonifer>();
    } catch (const std::bad_alloc&) {
        made = nullptr;  // no sender: the tap sends nothing
    }
    std::lock_guard<std::mutex> lock(g_soniferLock);
    g_sonifer = made;
    return made;
}

std::shared_ptr<CAudioSonifer> CurrentAudioSonifer() {
    std::lock_guard<std::mutex> lock(g_soniferLock);
    return g_sonifer;
}

void DropAudioSonifer(const std::shared_ptr<CAudioSonifer>& sonifer) {
    std::lock_guard<std::mutex> lock(g_soniferLock);
    if (g_sonifer == sonifer) g_sonifer.reset();
}
