// The Windows Media set-up of a WMV recording, shared by the control
// program and the engine: the profile file written into the program folder,
// loaded through the Windows Media runtime and applied to the WM ASF Writer.
// The runtime is found at run time: without it the load fails with a
// message, not the program's start.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>

#include "platform/com/ComPtr.h"

struct IWMProfile;

namespace capture {

// Where the set-up's messages go; a message box unless a program says
// otherwise.
using WmvMessageSink = void (*)(const std::string& text);
void SetWmvMessageSink(WmvMessageSink sink);

// {7C23220E-55BB-11D3-8B16-00C04FB6BD3D}
extern const CLSID kWmAsfWriter;

// The profile file "<folder>\ParvProf.prx": 1 when written, 0 for values a
// profile cannot carry (no file, no message) or a file that cannot be
// created or written (with its message).
int WriteVideoProfile(const std::string& folder, int width, int height, int kbps, int fps, int codec);
int WriteAudioProfile(const std::string& folder, int kbps);
int WriteAvProfile(const std::string& folder, int width, int height, int videoKbps, int audioKbps, int fps, int codec);
std::string GetProfilePath(const std::string& folder);

// Loads the profile file through the runtime's profile manager and holds
// the profile program-wide (the one held before is dropped first).
HRESULT LoadProfileFile(const char* path);
// The profile held, or null.
IWMProfile* HeldProfile();
void ReleaseHeldProfile();

com::ComPtr<IBaseFilter> CreateFilterByClsid(REFCLSID clsid, HRESULT* result = nullptr);
// A Windows Media writer given the profile and the target; held until
// ReleaseWmWriter.
HRESULT CreateWmWriter(const std::wstring& target, IWMProfile* profile);
bool HoldsWmWriter();
void ReleaseWmWriter();
HRESULT ConfigureWriterProfile(IBaseFilter* asfWriter, IWMProfile* profile);

// Loads the profile of "<folder>", creates the WM ASF Writer on `target`,
// adds it to `graph` as "Mux" (handed back in `writer` once added, even when
// a later step fails) and applies the profile; the profile file is deleted
// on success. The first failing result otherwise.
HRESULT AddAsfWriter(const std::string& folder, const std::string& target, IGraphBuilder* graph,
                     com::ComPtr<IBaseFilter>& writer);

}  // namespace capture
