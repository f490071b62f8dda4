// The exported C interface: argument checks, message routing, and no
// exception across the boundary.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "codec/common/engine/Audova.h"
#include "companions/audova/Encoder.h"

namespace {

struct Instance {
    get_callback_t getCallback = nullptr;
    AudovaSettings settings{};
    int32_t sampleRate = 0;
    std::unique_ptr<audova::Encoder> encoder;
};

void Report(get_callback_t getCallback, const std::string& text) {
    bufstream_printf_t print = nullptr;
    if (getCallback) print = reinterpret_cast<bufstream_printf_t>(getCallback("err_printf"));
    if (print)
        print("%s", text.c_str());
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

extern "C" {

int AudovaCheckSettings(get_callback_t getCallback, const AudovaSettings* settings, void*, int32_t sampleRate, int32_t,
                        int32_t) {
    try {
        if (!settings) {
            Report(getCallback, "Audova: no settings");
            return 1;
        }
        audova::StreamConfig config;
        std::string why;
        if (!audova::ResolveSettings(*settings, sampleRate, &config, &why)) {
            Report(getCallback, why);
            return 1;
        }
        return 0;
    } catch (...) {
        return 1;
    }
}

AudovaHandle AudovaCreate(get_callback_t getCallback, const AudovaSettings* settings, void*, uint32_t,
                          int32_t sampleRate) {
    if (!settings) return nullptr;
    Instance* instance = new (std::nothrow) Instance;
    if (!instance) return nullptr;
    instance->getCallback = getCallback;
    instance->settings = *settings;
    instance->sampleRate = sampleRate ? sampleRate : settings->sample_rate;
    return instance;
}

int AudovaStart(AudovaHandle handle, bufstream* output) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance || !output) return 1;
    try {
        audova::StreamConfig config;
        std::string why;
        if (!audova::ResolveSettings(instance->settings, instance->sampleRate, &config, &why)) {
            Report(instance->getCallback, why);
            return 1;
        }
        instance->encoder = std::make_unique<audova::Encoder>(config);
        instance->encoder->Start(output);
        return 0;
    } catch (...) {
        instance->encoder.reset();
        return 1;
    }
}

int AudovaEncode(AudovaHandle handle, const void* pcm, uint32_t bytes) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance || !instance->encoder || (bytes && !pcm)) return 1;
    try {
        return instance->encoder->Encode(static_cast<const uint8_t*>(pcm), bytes) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

int AudovaDone(AudovaHandle handle, uint8_t abortFlag) {
    auto* instance = static_cast<Instance*>(handle);
    if (!instance) return 1;
    if (!instance->encoder) return 0;
    int result = 0;
    try {
        result = instance->encoder->Done(abortFlag != 0) ? 0 : 1;
    } catch (...) {
        result = 1;
    }
    instance->encoder.reset();
    return result;
}

void AudovaFree(AudovaHandle handle) {
    delete static_cast<Instance*>(handle);
}

}  // extern "C"
