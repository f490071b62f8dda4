#include "recorder/shared/ModuleConfigCalls.h"

#include <oleauto.h>

#include "recorder/core/CaptureGraph.h"

namespace capture {

const IID kIidModuleConfig = {0x486f726e, 0x4d43, 0x49b9, {0x8a, 0x0c, 0xc2, 0x2a, 0x2b, 0x05, 0x24, 0xe8}};
const GUID kSinkWriteMode = {0x4ca841f8, 0x9677, 0x4d23, {0xb0, 0xbc, 0xd0, 0x33, 0xbb, 0x96, 0xd8, 0xa4}};
const GUID kMuxOutput = {0x6e7564e3, 0x05fa, 0x417a, {0xaa, 0x8e, 0x50, 0xe4, 0x74, 0x53, 0x7e, 0xc3}};
const GUID kBitrate = {0xbdd50372, 0x38e2, 0x4a26, {0xba, 0x15, 0x48, 0x2b, 0x70, 0xee, 0x13, 0x6c}};
const GUID kMinimumBitrate = {0x38a26df5, 0xd04e, 0x4931, {0xbb, 0xc2, 0x19, 0x09, 0x7f, 0x81, 0x20, 0x69}};
const GUID kMaximumBitrate = {0x51eb9a74, 0xb317, 0x4fbb, {0x83, 0x2b, 0xca, 0x5c, 0x2d, 0xaa, 0x19, 0x3f}};

com::ComPtr<IModuleConfig> ConfigOf(IBaseFilter* filter) {
    com::ComPtr<IModuleConfig> config;
    if (filter && FAILED(config.QueryFrom(filter, kIidModuleConfig))) config = nullptr;
    return config;
}

bool GetInt(IModuleConfig* config, const GUID& id, int& value) {
    VARIANT v;
    ::VariantInit(&v);
    bool ok = SUCCEEDED(config->GetValue(&id, &v)) && SUCCEEDED(::VariantChangeType(&v, &v, 0, VT_I4));
    if (ok) value = v.lVal;
    ::VariantClear(&v);
    return ok;
}

HRESULT SetInt(IModuleConfig* config, const GUID& id, int value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_INT;
    v.intVal = value;
    const HRESULT hr = config->SetValue(&id, &v);
    ::VariantClear(&v);
    return hr;
}

bool Commit(IModuleConfig* config) {
    VARIANT error;
    ::VariantInit(&error);
    const bool ok = SUCCEEDED(config->CommitChanges(&error));
    ::VariantClear(&error);
    return ok;
}

bool SetAndCommit(IBaseFilter* filter, const GUID& id, int value) {
    const com::ComPtr<IModuleConfig> config = ConfigOf(filter);
    if (!config) return false;
    int current = 0;
    GetInt(config.Get(), id, current);
    const bool ok = SUCCEEDED(SetInt(config.Get(), id, value));
    return Commit(config.Get()) && ok;
}

bool ConfigureVideoEncoderBitrate(IBaseFilter* encoder, int bits) {
    const com::ComPtr<IModuleConfig> config = ConfigOf(encoder);
    if (!config) return false;
    int minimum = 0;
    int maximum = 0;
    const bool haveMin = GetInt(config.Get(), kMinimumBitrate, minimum);
    const bool haveMax = GetInt(config.Get(), kMaximumBitrate, maximum);
    const recorder::VbrLimits limits = recorder::VbrLimitsFor(bits, minimum, maximum);
    if (haveMin && limits.setMinimum) SetInt(config.Get(), kMinimumBitrate, limits.minimum);
    if (haveMax && limits.setMaximum) SetInt(config.Get(), kMaximumBitrate, limits.maximum);
    SetInt(config.Get(), kBitrate, bits);
    Commit(config.Get());
    return true;
}

}  // namespace capture
