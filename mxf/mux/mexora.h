/* Mexora: the MXF multiplexer library's exported interface (Mexora.dll,
 * exports by name at ordinals 1-12, C calling convention). */
#ifndef MXF_MUX_MEXORA_H
#define MXF_MUX_MEXORA_H

#include "codec/common/bufstream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Filled by the host or by mxfMuxDefaults and copied whole into an instance.
 * The layout is the 32-bit binary interface (108 bytes). */
typedef struct mxf_m_settings {
    int32_t profile;         /* 0: 0 = XDCAM family, 3 = P2 family */
    uint8_t reserved1[40];   /* 4-43 */
    int32_t mplex_type;      /* 44: 28 IMX, 32 HD, 99 DV, 100 P2 DVCPRO, 101 P2 AVC-I */
    uint8_t reserved2[28];   /* 48-75 */
    uint32_t flags;          /* 76: bit 0 drop-frame time code, bit 12 second XDCAM variant */
    int32_t start_timecode;  /* 80: frames; 0 keeps the writer's running value */
    int32_t track_values[3]; /* 84, 88, 92 */
    const uint8_t* block;    /* 96: 32 bytes handed to the engine, or null */
    const char* clip_name;   /* 100: its first 6 characters, or null */
    int16_t file_number;     /* 104 */
    int16_t reserved3;       /* 106 */
} mxf_m_settings;

#if UINTPTR_MAX == 0xFFFFFFFFu
#if defined(__cplusplus)
static_assert(sizeof(mxf_m_settings) == 108, "mxf_m_settings is 108 bytes");
static_assert(offsetof(mxf_m_settings, mplex_type) == 44, "mplex_type at 44");
static_assert(offsetof(mxf_m_settings, flags) == 76, "flags at 76");
static_assert(offsetof(mxf_m_settings, start_timecode) == 80, "start time code at 80");
static_assert(offsetof(mxf_m_settings, track_values) == 84, "track values at 84");
static_assert(offsetof(mxf_m_settings, block) == 96, "block at 96");
static_assert(offsetof(mxf_m_settings, clip_name) == 100, "clip name at 100");
static_assert(offsetof(mxf_m_settings, file_number) == 104, "file number at 104");
#else
typedef char mxf_m_settings_is_108[(sizeof(mxf_m_settings) == 108) ? 1 : -1];
#endif
#endif

typedef struct mxf_mux_instance mxf_mux_instance;

const char* BUFSTREAM_CALL mxfMuxDefaults(mxf_m_settings* settings, int32_t preset);
mxf_mux_instance* BUFSTREAM_CALL mxfMuxNew(get_callback_t get_callback, const mxf_m_settings* settings);
int32_t BUFSTREAM_CALL mxfMux(mxf_mux_instance* instance);
int32_t BUFSTREAM_CALL mxfMuxDone(mxf_mux_instance* instance, int32_t abort_flag);
void BUFSTREAM_CALL mxfMuxFree(mxf_mux_instance* instance);
int32_t BUFSTREAM_CALL mxfMuxChkSettings(get_callback_t get_callback, const mxf_m_settings* settings);
int32_t BUFSTREAM_CALL mxfMuxAddInputStream(mxf_mux_instance* instance, int32_t reserved, bufstream* bs);
int32_t BUFSTREAM_CALL mxfMuxAddOutputStream(mxf_mux_instance* instance, int32_t reserved, bufstream* bs);
int32_t BUFSTREAM_CALL mxfMuxAddInputFile(mxf_mux_instance* instance, int32_t reserved, const char* name);
int32_t BUFSTREAM_CALL mxfMuxAddInputFileBS(mxf_mux_instance* instance, int32_t reserved, bufstream* bs);
int32_t BUFSTREAM_CALL mxfMuxAddOutputFile(mxf_mux_instance* instance, int32_t reserved, const char* name);
int32_t BUFSTREAM_CALL mxfMuxAddOutputFileBS(mxf_mux_instance* instance, int32_t reserved, bufstream* bs);

#ifdef __cplusplus
}
#endif

#endif /* MXF_MUX_MEXORA_H */
