#include "companions/sinkfilter/SinkConfig.h"

const GUID kSinkWriteMode = {0x4CA841F8, 0x9677, 0x4D23, {0xB0, 0xBC, 0xD0, 0x33, 0xBB, 0x96, 0xD8, 0xA4}};

SinkConfig::SinkConfig(CUnknown* owner, const CLSID* classId)
    : CModuleConfigPart<SinkSettings>(owner, classId, 1, &settings_) {
    AddNamed(&kSinkWriteMode, "Write Mode", &SinkSettings::writeMode, static_cast<long>(kSinkReplace),
             {{"Replace", static_cast<long>(kSinkReplace)}, {"Append", static_cast<long>(kSinkAppend)}});
}
