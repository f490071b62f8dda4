// The audio encoder's parameter set: fifteen parameters bound to the words
// of the engine's settings record, checked by the engine on commit.
#pragma once

#include "codec/audioencoder/AudovaBinding.h"
#include "codec/paramkit/ModuleConfig.h"

#include <string>

// What the configuration asks of its filter.
class AudioEncHost {
public:
    virtual bool IsStreaming() const = 0;
    // Committed settings take effect (reconnecting the output when asked).
    virtual void OnSettingsApplied(bool reconnect) = 0;

protected:
    ~AudioEncHost() = default;
};

class ConfigAudioEncImpl : public ModuleConfig::CModuleConfigPart<AudovaSettings> {
public:
    ConfigAudioEncImpl(CUnknown* owner, AudioEncHost* host, AudovaSettings* settings);

    HRESULT CheckVersion() override { return SettingsVersion() == 1 ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    // Offers the bit rates that fit the output channels, layer and rate.
    void RebuildBitrateList(int outputChannels, int layer, int sampleRate);
    // Key of this host program's settings, or empty when it has no name.
    static std::wstring RegistryKeyPath();

private:
    AudioEncHost* host_;
};

// The settings as the engine gets them: the mode in effect for the input.
AudovaSettings EngineSettings(const AudovaSettings& s);
// The last message the engine formatted through "err_printf".
const char* LastEngineMessage();
// The lookup handed to the engine's settings check.
void* __cdecl AudioEncGetCallback(const char* name);
