// The sink's one parameter: whether a run replaces the target or appends
// to it (the recorder appends, so a resumed recording continues its file).
#pragma once

#include "codec/paramkit/ModuleConfig.h"

// {4CA841F8-9677-4D23-B0BC-D033BB96D8A4}
extern const GUID kSinkWriteMode;

enum SinkWriteMode : long { kSinkReplace = 1, kSinkAppend = 2 };

struct SinkSettings {
    long writeMode;
};

class SinkConfig : public ModuleConfig::CModuleConfigPart<SinkSettings> {
public:
    SinkConfig(CUnknown* owner, const CLSID* classId);

    HRESULT CheckVersion() override { return SettingsVersion() == 1 ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT*) override {
        StorePendingValues(count, ids);
        return S_OK;
    }
    long WriteMode() { return Snapshot().writeMode; }

private:
    SinkSettings settings_{};
};
