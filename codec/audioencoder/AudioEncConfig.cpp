#include "codec/audioencoder/AudioEncConfig.h"

#include "codec/audioencoder/AudioEncIds.h"
#include "codec/audioencoder/BitrateTables.h"
#include "codec/audioencoder/HostKey.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cstddef>
#include <mutex>
#include <vector>

using ModuleConfig::NamedValue;
using ModuleConfig::ParamKind;
using ModuleConfig::ParamSpec;
using namespace audioenc;

namespace {

std::mutex g_messageLock;
char g_message[1024];

int __cdecl FormatEngineMessage(const char* format, ...) {
    std::lock_guard<std::mutex> guard(g_messageLock);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(g_message, sizeof g_message - 2, format ? format : "", args);
    va_end(args);
    size_t len = std::strlen(g_message);
    g_message[len] = '\n';
    g_message[len + 1] = '\0';
    return n;
}

const NamedValue kModes[] = {{"standard stereo", 0}, {"joint stereo", 1}, {"dual channel", 2}, {"mono", 3}};
const NamedValue kLayer1Rates[] = {{"96", 3},  {"128", 4},  {"160", 5},  {"192", 6},  {"224", 7},  {"256", 8},
                                   {"288", 9}, {"320", 10}, {"352", 11}, {"384", 12}, {"416", 13}, {"448", 14}};
const NamedValue kLayer2Rates[] = {{"32 ", 1},  {"48", 2},   {"56", 3},   {"64", 4},  {"80", 5},
                                   {"96", 6},   {"112", 7},  {"128", 8},  {"160", 9}, {"192", 10},
                                   {"224", 11}, {"256", 12}, {"320", 13}, {"384", 14}};
const NamedValue kOnOff[] = {{"off", 0}, {"on", 1}};
const NamedValue kLayers[] = {{"layer 1", 1}, {"layer 2", 2}};
const NamedValue kPsyModels[] = {{"psychoacoustic model 1", 1}, {"psychoacoustic model 2", 2}};
const NamedValue kEmphases[] = {{"no emphasis", 0}, {"50/15 microsec emphasis", 1}, {"CCITT J.17", 3}};
const NamedValue kPrivateBit[] = {{"private bit not set ", 0}, {"private bit set", 1}};

template <size_t N>
ParamSpec Row(const GUID& id, const char* name, ParamKind kind, bool readOnly, bool visible, size_t offset,
              long long def, const NamedValue (&values)[N]) {
    return ParamSpec{&id, name, kind, readOnly, visible, offset, def, 0.0, nullptr, false, 0, 0, 0, values, N};
}

ParamSpec Ranged(const GUID& id, const char* name, ParamKind kind, bool readOnly, size_t offset, long long def,
                 long long min, long long max) {
    return ParamSpec{&id, name, kind, readOnly, true, offset, def, 0.0, nullptr, true, min, max, 1, nullptr, 0};
}

std::vector<ParamSpec> Table() {
    const ParamKind I = ParamKind::Int;
    return {
        Row(kAudioMode, "Audio mode", I, false, true, offsetof(AudovaSettings, audio_mode), 0, kModes),
        Ranged(kBitRate, "Bit rate", I, false, offsetof(AudovaSettings, bitrate_index), 8, 1, 14),
        Row(kBitRateLayer1, "bit rate (layer-1)", I, false, false, offsetof(AudovaSettings, bitrate_index_l1), 8,
            kLayer1Rates),
        Row(kBitRateLayer2, "bit rate (layer-2)", I, false, false, offsetof(AudovaSettings, bitrate_index_l2), 8,
            kLayer2Rates),
        Row(kCopyright, "copyright", I, false, true, offsetof(AudovaSettings, copyright), 0, kOnOff),
        Row(kOriginal, "original", I, false, true, offsetof(AudovaSettings, original), 0, kOnOff),
        Row(kCrc, "CRC protection", I, false, true, offsetof(AudovaSettings, crc), 0, kOnOff),
        Row(kLayer, "Audio layer", I, false, true, offsetof(AudovaSettings, layer), 2, kLayers),
        Row(kPsyModel, "Psychoacoustic model", I, false, true, offsetof(AudovaSettings, psy_model), 2, kPsyModels),
        Row(kEmphasis, "Emphasis", I, false, true, offsetof(AudovaSettings, emphasis), 0, kEmphases),
        Row(kExtensionBit, "Extension bit", I, false, true, offsetof(AudovaSettings, private_bit), 0, kPrivateBit),
        Ranged(kOutSampleSize, "Out sample size", I, false, offsetof(AudovaSettings, buffer_size), 40960, 1024,
               16777215),
        ParamSpec{&kInputSampleRate, "input sample rate", ParamKind::I4, true, true,
                  offsetof(AudovaSettings, sample_rate), 0, 0.0, nullptr, false, 0, 0, 0, nullptr, 0},
        Ranged(kInputChannels, "number of input channels", I, true, offsetof(AudovaSettings, input_channels), 0, 1, 2),
        Ranged(kOutputChannels, "number of output channels", I, true, offsetof(AudovaSettings, output_channels), 0, 1,
               2),
    };
}

int PendingInt(ModuleConfig::CBaseParam* p, HRESULT* hr) {
    VARIANT v;
    *hr = p->GetValue(&v, FALSE);
    if (FAILED(*hr)) return 0;
    VARIANT i;
    VariantInit(&i);
    *hr = VariantChangeType(&i, &v, 0, VT_I4);
    VariantClear(&v);
    return SUCCEEDED(*hr) ? i.lVal : 0;
}

}  // namespace

const char* LastEngineMessage() {
    return g_message;
}

// The record keeps the requested mode (it is what gets saved); the engine
// codes a mono input as mono whatever was requested.
AudovaSettings EngineSettings(const AudovaSettings& s) {
    AudovaSettings e = s;
    e.requested_mode = s.audio_mode;
    if (s.input_channels == 1) e.audio_mode = AUDOVA_MONO;
    return e;
}

void* __cdecl AudioEncGetCallback(const char* name) {
    if (name && std::strcmp(name, "err_printf") == 0) return reinterpret_cast<void*>(&FormatEngineMessage);
    return nullptr;
}

ConfigAudioEncImpl::ConfigAudioEncImpl(CUnknown* owner, AudioEncHost* host, AudovaSettings* settings)
    : CModuleConfigPart<AudovaSettings>(owner, &CLSID_KorvellAudioEncoder, 1, settings), host_(host) {
    std::vector<ParamSpec> rows = Table();
    BuildTable(rows.data(), rows.size());
}

void ConfigAudioEncImpl::RebuildBitrateList(int outputChannels, int layer, int sampleRate) {
    ModuleConfig::CBaseParam* p = FindParam(&kBitRate);
    if (!p) return;
    std::vector<NamedIndex> names = OfferedNames(sampleRate, layer, outputChannels);
    if (names.empty()) return;
    std::vector<VARIANT> values(names.size());
    std::vector<const wchar_t*> texts(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        VariantInit(&values[i]);
        values[i].vt = VT_INT;
        values[i].intVal = names[i].index;
        texts[i] = names[i].name.c_str();
    }
    p->SetValidValues(static_cast<long>(names.size()), values.data(), texts.data());
    VARIANT pending;
    if (FAILED(p->GetValue(&pending, FALSE))) return;
    BSTR name = nullptr;
    if (p->ValueToName(&pending, &name) == S_OK) {
        SysFreeString(name);
        return;
    }
    VARIANT highest;
    VariantInit(&highest);
    highest.vt = VT_INT;
    highest.intVal = names.back().index;
    p->SetValue(&highest, FALSE);
}

HRESULT ConfigAudioEncImpl::ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) {
    // Parameters change only while the filter does not stream.
    if (host_->IsStreaming()) return E_FAIL;
    AudovaSettings work = Values();
    bool reconnect = false;
    HRESULT hr = S_OK;
    for (long i = 0; i < count && SUCCEEDED(hr); ++i) {
        const GUID& id = ids[i];
        ModuleConfig::CBaseParam* p = FindParam(&id);
        if (!p || p->IsReadOnly()) continue;
        int v = PendingInt(p, &hr);
        if (FAILED(hr)) break;
        if (id == kAudioMode) {
            int out = v == AUDOVA_MONO ? 1 : (work.input_channels > 0 ? work.input_channels : 2);
            if (out != work.output_channels) reconnect = true;
            work.output_channels = out;
            work.audio_mode = work.requested_mode = v;
        } else if (id == kBitRate) {
            if (v != work.bitrate_index) reconnect = true;
            work.bitrate_index = work.bitrate_index_l1 = work.bitrate_index_l2 = v;
        } else if (id == kBitRateLayer1 || id == kBitRateLayer2) {
            int layer = id == kBitRateLayer1 ? 1 : 2;
            (layer == 1 ? work.bitrate_index_l1 : work.bitrate_index_l2) = v;
            if (work.layer == layer) {
                if (v != work.bitrate_index) reconnect = true;
                work.bitrate_index = v;
            }
        } else if (id == kLayer) {
            if (v != work.layer) reconnect = true;
            work.layer = v;
            work.bitrate_index = v == 1 ? work.bitrate_index_l1 : work.bitrate_index_l2;
        } else if (id == kCopyright) {
            work.copyright = v;
        } else if (id == kOriginal) {
            work.original = v;
        } else if (id == kCrc) {
            work.crc = v;
        } else if (id == kPsyModel) {
            work.psy_model = v;
        } else if (id == kEmphasis) {
            work.emphasis = v;
        } else if (id == kExtensionBit) {
            work.private_bit = v;
        } else if (id == kOutSampleSize) {
            work.buffer_size = v;
        }
    }
    const AudovaBinding& engine = Audova();
    int refused = 1;
    if (SUCCEEDED(hr) && engine.Loaded()) {
        g_message[0] = '\0';
        AudovaSettings effective = EngineSettings(work);
        refused = engine.CheckSettings(reinterpret_cast<get_callback_t>(&AudioEncGetCallback), &effective, nullptr,
                                       work.sample_rate, 0, 0);
    } else if (SUCCEEDED(hr)) {
        FormatEngineMessage("The audio encoding engine Audova.dll is missing.");
    }
    if (FAILED(hr) || refused) {
        if (errorInfo) {
            VariantInit(errorInfo);
            std::wstring text = ModuleConfig::AnsiToWide(g_message);
            errorInfo->bstrVal = SysAllocString(text.c_str());
            if (errorInfo->bstrVal) errorInfo->vt = VT_BSTR;
        }
        return E_FAIL;
    }
    RebuildBitrateList(work.output_channels, work.layer, work.sample_rate);
    Values() = work;
    host_->OnSettingsApplied(reconnect);
    return S_OK;
}

std::wstring ConfigAudioEncImpl::RegistryKeyPath() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    const std::wstring name = audioenc::HostProgramName(std::wstring(path, n));
    if (name.empty()) return std::wstring();
    return L"Software\\Korvell\\Korvell Layer II Audio Encoder\\" + name;
}
