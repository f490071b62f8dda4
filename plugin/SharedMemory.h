// The shared audio block's kernel objects in the player's process, and the
// process-wide sender the tap hands its buffers to.
#pragma once

#include <windows.h>

#include <memory>

#include "plugin/core/SharedAudioBlock.h"

// The section, its view, the mutex and the two events, opened when the
// reader made them first, else created (and then never written).
class CSharedMemory : public plugin::BlockChannel {
public:
    CSharedMemory();
    ~CSharedMemory() override;
    CSharedMemory(const CSharedMemory&) = delete;
    CSharedMemory& operator=(const CSharedMemory&) = delete;

    bool Creator() const override { return creator_; }
    uint8_t* View() override { return view_; }
    size_t ViewSize() const override { return viewSize_; }
    plugin::WaitOutcome WaitMutex(uint32_t ms) override;
    void ReleaseMutex() override;
    bool IsReaderWindow(uint32_t handle) override;
    bool SignalDataReady() override;
    void WaitConsumed(uint32_t ms) override;

private:
    HANDLE section_ = NULL;
    uint8_t* view_ = nullptr;
    size_t viewSize_ = 0;
    HANDLE mutex_ = NULL;
    HANDLE dataReady_ = NULL;
    HANDLE consumed_ = NULL;
    bool creator_ = false;
};

// Sends the tap's buffers as records of this process.
class CAudioSonifer {
public:
    CAudioSonifer();
    void Send(const BYTE* data, DWORD size, const BYTE* format, DWORD formatSize);

private:
    CSharedMemory memory_;
    plugin::RecordFields fields_;
};

// The process-wide sender: each new plug-in object makes a new one that
// replaces the last; a tap holds a reference while it sends.
std::shared_ptr<CAudioSonifer> MakeAudioSonifer();
std::shared_ptr<CAudioSonifer> CurrentAudioSonifer();
// Drops the process-wide sender when it is still this one.
void DropAudioSonifer(const std::shared_ptr<CAudioSonifer>& sonifer);
