/* Audova: MPEG-1 / MPEG-2 LSF Layer I and Layer II audio encoding engine.
 * Plain C interface, bound by ordinal by the audio encoder filter (see
 * Audova.def). All calls use the C calling convention.
 *
 * What the engine makes of the settings:
 * - Rates 32000, 44100, 48000 Hz code MPEG-1, 16000, 22050, 24000 Hz MPEG-2
 *   LSF. The bit-rate index (word 12) must be one the filter offers for the
 *   rate class, layer and output channels (word 52); words 36, 40 and 48 are
 *   not read.
 * - One output channel codes mono whatever the mode says. With two, the mode
 *   in effect (word 0) is used, or the requested mode (word 60) when word 0
 *   says mono or is out of range.
 * - Joint stereo is decided frame by frame: frames whose noise stays masked
 *   are coded as plain stereo (header mode 0), the others with intensity
 *   stereo from subband 16, 12, 8 or 4 on (header mode 1).
 * - Psychoacoustic model 2 (and any value but 1) analyses a 1024-point
 *   spectrum per Layer II frame, model 1 a 512-point one; Layer I always
 *   uses 512 points.
 * - The output buffer (word 56) must hold the largest frame of the settings.
 * - Messages go to the "err_printf" function of the lookup given to
 *   AudovaCheckSettings or AudovaCreate, else to stderr; they carry no
 *   line break. */
#ifndef CODEC_COMMON_ENGINE_AUDOVA_H
#define CODEC_COMMON_ENGINE_AUDOVA_H

#include <stddef.h>
#include <stdint.h>

#include "codec/common/bufstream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Audio modes (words 0 and 60). */
enum { AUDOVA_STEREO = 0, AUDOVA_JOINT_STEREO = 1, AUDOVA_DUAL_CHANNEL = 2, AUDOVA_MONO = 3 };

/* The 72-byte settings record, handed over as is. */
typedef struct AudovaSettings {
    int32_t audio_mode;       /*  0: mode in effect */
    int32_t layer;            /*  4: 1 or 2 */
    int32_t psy_model;        /*  8: 1 or 2 */
    int32_t bitrate_index;    /* 12: 1..14 of the rate class and layer */
    int32_t emphasis;         /* 16: 0 none, 1 50/15 us, 3 CCITT J.17 */
    int32_t private_bit;      /* 20 */
    int32_t crc;              /* 24: nonzero adds the CRC-16 word */
    int32_t copyright;        /* 28 */
    int32_t original;         /* 32 */
    int32_t bitrate_index_l1; /* 36 */
    int32_t bitrate_index_l2; /* 40 */
    int32_t sample_rate;      /* 44: Hz */
    int32_t input_channels;   /* 48 */
    int32_t output_channels;  /* 52: channels of the PCM given to AudovaEncode */
    int32_t buffer_size;      /* 56: output buffer size in bytes */
    int32_t requested_mode;   /* 60 */
    int32_t reserved[2];      /* 64, 68 */
} AudovaSettings;

typedef void* AudovaHandle;

/* 0 when the settings are valid for the sample rate; otherwise non-zero and a
 * reason went to the "err_printf" function of get_callback (when it has one). */
int AudovaCheckSettings(get_callback_t get_callback, const AudovaSettings* settings, void* reserved,
                        int32_t sample_rate, int32_t reserved2, int32_t reserved3);
/* Copies the settings; cheap. 0 on failure. sample_rate 0 takes word 44. */
AudovaHandle AudovaCreate(get_callback_t get_callback, const AudovaSettings* settings, void* reserved, uint32_t options,
                          int32_t sample_rate);
/* Starts a stream into the output record. 0 when started. */
int AudovaStart(AudovaHandle handle, bufstream* output);
/* Interleaved signed 16-bit little-endian PCM with the output channel count;
 * any byte count. Every complete frame is coded at once. 0 when accepted. */
int AudovaEncode(AudovaHandle handle, const void* pcm, uint32_t bytes);
/* Ends the stream: abort 0 pads and codes the buffered rest, non-zero drops it.
 * Nothing is coded when no sample came since the start. */
int AudovaDone(AudovaHandle handle, uint8_t abort_flag);
void AudovaFree(AudovaHandle handle);

#ifdef __cplusplus
}
static_assert(sizeof(AudovaSettings) == 72, "AudovaSettings is 72 bytes");
static_assert(offsetof(AudovaSettings, layer) == 4, "layer at 4");
static_assert(offsetof(AudovaSettings, bitrate_index) == 12, "bit-rate index at 12");
static_assert(offsetof(AudovaSettings, crc) == 24, "CRC at 24");
static_assert(offsetof(AudovaSettings, bitrate_index_l2) == 40, "Layer II index at 40");
static_assert(offsetof(AudovaSettings, sample_rate) == 44, "sample rate at 44");
static_assert(offsetof(AudovaSettings, output_channels) == 52, "output channels at 52");
static_assert(offsetof(AudovaSettings, buffer_size) == 56, "buffer size at 56");
static_assert(offsetof(AudovaSettings, requested_mode) == 60, "requested mode at 60");
#endif

#endif
