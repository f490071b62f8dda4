// Integer parameters of the codec filters through IModuleConfig, and the
// video encoder's bitrate rule, shared by the control program and the engine.
#pragma once

#include <dshow.h>
#include <windows.h>

#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"

namespace capture {

// {486F726E-4D43-49B9-8A0C-C22A2B0524E8}
extern const IID kIidModuleConfig;
// The file writer's write mode; 2 continues an existing target.
extern const GUID kSinkWriteMode;
// Multiplexer "Output": 1 program stream.
extern const GUID kMuxOutput;
extern const GUID kBitrate;
extern const GUID kMinimumBitrate;
extern const GUID kMaximumBitrate;

com::ComPtr<IModuleConfig> ConfigOf(IBaseFilter* filter);
bool GetInt(IModuleConfig* config, const GUID& id, int& value);
HRESULT SetInt(IModuleConfig* config, const GUID& id, int value);
bool Commit(IModuleConfig* config);
// Get, set and commit one integer parameter.
bool SetAndCommit(IBaseFilter* filter, const GUID& id, int value);
// "Bitrate" in bit/s, with the VBR limits moved around it; the encoder
// commits only while its input is connected.
bool ConfigureVideoEncoderBitrate(IBaseFilter* encoder, int bitsPerSecond);

}  // namespace capture
