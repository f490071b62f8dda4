// Mexora.dll: the twelve exports over the platform-free core.
#include "mxf/mux/mexora.h"
#include "mxf/mux/MuxInterface.h"
#include "mxf/mux/Services.h"

#include <cstring>

namespace {

mexora::Settings FromHost(const mxf_m_settings& h) {
    mexora::Settings s;
    s.profile = h.profile;
    s.mplexType = h.mplex_type;
    s.flags = h.flags;
    s.startTimecode = h.start_timecode;
    std::memcpy(s.trackValues, h.track_values, sizeof s.trackValues);
    s.block = h.block;
    s.clipName = h.clip_name;
    s.fileNumber = h.file_number;
    return s;
}

mexora::Instance* Core(mxf_mux_instance* instance) {
    return reinterpret_cast<mexora::Instance*>(instance);
}

}  // namespace

extern "C" {

const char* BUFSTREAM_CALL mxfMuxDefaults(mxf_m_settings* settings, int32_t preset) {
    if (!settings) return nullptr;
    mexora::Settings s;
    const char* name = mexora::Defaults(&s, preset);
    std::memset(settings, 0, sizeof *settings);
    settings->profile = s.profile;
    settings->mplex_type = s.mplexType;
    return name;
}

mxf_mux_instance* BUFSTREAM_CALL mxfMuxNew(get_callback_t get_callback, const mxf_m_settings* settings) {
    if (!settings) return nullptr;
    const mexora::Settings s = FromHost(*settings);
    return reinterpret_cast<mxf_mux_instance*>(mexora::New(get_callback, &s, mexora::ProductionServices()));
}

int32_t BUFSTREAM_CALL mxfMux(mxf_mux_instance* instance) {
    return mexora::Mux(Core(instance));
}

int32_t BUFSTREAM_CALL mxfMuxDone(mxf_mux_instance* instance, int32_t abort_flag) {
    return mexora::Done(Core(instance), abort_flag);
}

void BUFSTREAM_CALL mxfMuxFree(mxf_mux_instance* instance) {
    mexora::Free(Core(instance));
}

int32_t BUFSTREAM_CALL mxfMuxChkSettings(get_callback_t get_callback, const mxf_m_settings* settings) {
    if (!settings) return mexora::CheckSettings(get_callback, nullptr);
    const mexora::Settings s = FromHost(*settings);
    return mexora::CheckSettings(get_callback, &s);
}

int32_t BUFSTREAM_CALL mxfMuxAddInputStream(mxf_mux_instance* instance, int32_t reserved, bufstream* bs) {
    return mexora::AddInputStream(Core(instance), reserved, bs);
}

int32_t BUFSTREAM_CALL mxfMuxAddOutputStream(mxf_mux_instance* instance, int32_t reserved, bufstream* bs) {
    return mexora::AddOutputStream(Core(instance), reserved, bs);
}

int32_t BUFSTREAM_CALL mxfMuxAddInputFile(mxf_mux_instance* instance, int32_t reserved, const char* name) {
    return mexora::AddInputFile(Core(instance), reserved, name);
}

int32_t BUFSTREAM_CALL mxfMuxAddInputFileBS(mxf_mux_instance* instance, int32_t reserved, bufstream* bs) {
    return mexora::AddInputFileBS(Core(instance), reserved, bs);
}

int32_t BUFSTREAM_CALL mxfMuxAddOutputFile(mxf_mux_instance* instance, int32_t reserved, const char* name) {
    return mexora::AddOutputFile(Core(instance), reserved, name);
}

int32_t BUFSTREAM_CALL mxfMuxAddOutputFileBS(mxf_mux_instance* instance, int32_t reserved, bufstream* bs) {
    return mexora::AddOutputFileBS(Core(instance), reserved, bs);
}

}  // extern "C"
