// The platform-free core behind Mexora's twelve exports. The exports convert
// the host's mxf_m_settings into Settings and call these.
#pragma once

#include "codec/common/bufstream.h"
#include "mxf/mux/MuxEngine.h"

#include <cstdint>

namespace mexora {

constexpr int kMaxInputs = 32;
constexpr int kMaxOutputs = 32;

struct Settings {
    int32_t profile = 0;
    int32_t mplexType = 0;
    uint32_t flags = 0;
    int32_t startTimecode = 0;
    int32_t trackValues[3] = {};
    const uint8_t* block = nullptr;  // 32 bytes, or null
    const char* clipName = nullptr;  // first 6 characters used
    int16_t fileNumber = 0;
};

// What the library is built with; tests inject their writer, GUIDs, time
// and lock.
struct MuxServices {
    WriterFactory makeWriter;  // empty: no writer, streams are refused
    WriterServices writer;
    std::function<std::unique_ptr<MuxLock>()> makeLock;
};

struct Instance;

const char* Defaults(Settings* settings, int32_t preset);
int32_t CheckSettings(get_callback_t getCallback, const Settings* settings);
Instance* New(get_callback_t getCallback, const Settings* settings, const MuxServices& services = MuxServices());
int32_t Mux(Instance* instance);
int32_t Done(Instance* instance, int32_t abortFlag);
void Free(Instance* instance);
int32_t AddInputStream(Instance* instance, int32_t reserved, bufstream* bs);
int32_t AddOutputStream(Instance* instance, int32_t reserved, bufstream* bs);
int32_t AddInputFile(Instance* instance, int32_t reserved, const char* name);
int32_t AddInputFileBS(Instance* instance, int32_t reserved, bufstream* bs);
int32_t AddOutputFile(Instance* instance, int32_t reserved, const char* name);
int32_t AddOutputFileBS(Instance* instance, int32_t reserved, bufstream* bs);

// The engine of an instance (tests read its state).
MuxEngine* EngineOf(Instance* instance);

}  // namespace mexora
