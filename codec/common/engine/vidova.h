/* Vidova: MPEG-1/MPEG-2 video encoding engine, C interface.
 * The settings record is a plain array of 220 32-bit words; positions that
 * hosts read or write are named below (word index or byte offset). */
#ifndef CODEC_COMMON_ENGINE_VIDOVA_H
#define CODEC_COMMON_ENGINE_VIDOVA_H

#include "codec/common/bufstream.h"

#include <stdint.h>
#include <string.h>

#if defined(_WIN32)
#define VIDOVA_CALL __cdecl
#else
#define VIDOVA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VIDOVA_SETTINGS_WORDS 220

typedef struct VidovaSettings {
    uint32_t w[VIDOVA_SETTINGS_WORDS];
} VidovaSettings;

/* Word positions. */
enum {
    VIDOVA_W_VIDEO_TYPE = 0,
    VIDOVA_W_PULLDOWN = 1,
    VIDOVA_W_CONSTRAINED = 2,
    VIDOVA_W_GOP_LENGTH = 3,
    VIDOVA_W_REF_DISTANCE = 4, /* B-frames count + 1; only 1 is supported */
    VIDOVA_W_DROP_FRAME = 5,
    VIDOVA_W_TIMECODE_START = 6, /* frames */
    VIDOVA_W_CLOSED_GOP = 7,
    VIDOVA_W_DEINTERLACE = 8,
    VIDOVA_W_FLAGS = 10,
    VIDOVA_W_HDDVD = 11,
    VIDOVA_W_ASPECT = 12,
    VIDOVA_W_FRAME_RATE_CODE = 13,
    VIDOVA_W_VBV_SIZE = 21,   /* units of 16 kbit; 0 = the level's largest */
    VIDOVA_W_RC_MODE = 22,    /* 0 VBR, 1 CBR, 2 CQ adaptive, 3 CQ strict */
    VIDOVA_W_QUANTISERS = 23, /* (I + P * 256 + B * 65536) * 256 */
    VIDOVA_W_SEQ_HEADER_EVERY_GOP = 24,
    VIDOVA_W_END_CODE = 25,
    VIDOVA_W_PROFILE = 26, /* 1 High, 4 Main, 5 Simple, 7 4:2:2 */
    VIDOVA_W_LEVEL = 27,   /* 4 High, 6 High-1440, 8 Main, 10 Low, 15 unspecified */
    VIDOVA_W_PROGRESSIVE_SEQ = 28,
    VIDOVA_W_CHROMA_FORMAT = 29, /* 1 4:2:0, 2 4:2:2 */
    VIDOVA_W_SEARCH_RANGE = 30,  /* motion search range in pels (engine's own) */
    VIDOVA_W_ONLINE_LEVEL = 31,
    VIDOVA_W_OFFLINE_LEVEL = 32,
    VIDOVA_W_VIDEO_FORMAT = 98, /* 1 PAL, 2 NTSC, 3 SECAM, 4 MAC, 5 unspecified */
    VIDOVA_W_COLOUR_PRIMARIES = 99,
    VIDOVA_W_TRANSFER = 100,
    VIDOVA_W_MATRIX = 101,
    VIDOVA_W_DISPLAY_WIDTH = 102,
    VIDOVA_W_DISPLAY_HEIGHT = 103,
    VIDOVA_W_DISPLAY_EXT = 104,
    VIDOVA_W_PREFILTER = 105,
    VIDOVA_W_INTRA_MATRIX = 107,
    VIDOVA_W_INTER_MATRIX = 108,
    VIDOVA_W_INTRA_DC_PRECISION = 109,
    VIDOVA_W_TOP_FIELD_FIRST = 110,
    VIDOVA_W_PROGRESSIVE_FRAME_I = 111, /* 112 P, 113 B */
    VIDOVA_W_QSCALE_TYPE_DEFAULT = 117,
    VIDOVA_W_INTRA_VLC_DEFAULT = 120,
    VIDOVA_W_SCAN_DEFAULT = 123,
    VIDOVA_W_REPEAT_FIRST_FIELD = 126,
    VIDOVA_W_PROGRESSIVE_FRAME = 127,
    VIDOVA_W_VBR_FLAG = 136,
    VIDOVA_W_VBV_INITIAL_PERCENT = 137,
    VIDOVA_W_PADDING_PERCENT = 138,
    VIDOVA_W_QSCALE_TYPE_I = 139, /* 140 P, 141 B */
    VIDOVA_W_INTRA_VLC_I = 142,   /* 143 P, 144 B */
    VIDOVA_W_ALT_SCAN_I = 145     /* 146 P, 147 B */
};

/* Byte offsets of fields that are not whole aligned words. */
enum {
    VIDOVA_B_FPS = 56,              /* double */
    VIDOVA_B_BITRATE = 64,          /* double */
    VIDOVA_B_MAX_BITRATE = 72,      /* double */
    VIDOVA_B_SEARCH = 812,          /* byte: bit 0 half-pel, bits 1-7 quality */
    VIDOVA_B_SVCD_OFFSETS = 817,    /* int32 */
    VIDOVA_B_RC_BITRATE = 821,      /* double */
    VIDOVA_B_MIN_BITRATE = 829,     /* double */
    VIDOVA_B_CALC_PSNR = 837,       /* int32 */
    VIDOVA_B_PIC_DISPLAY_EXT = 857, /* int32 */
    VIDOVA_B_WIDTH = 869,           /* int32 */
    VIDOVA_B_HEIGHT = 873           /* int32 */
};

static inline double vidova_get_double(const VidovaSettings* s, int byte) {
    double v;
    memcpy(&v, (const uint8_t*)s + byte, sizeof v);
    return v;
}
static inline void vidova_set_double(VidovaSettings* s, int byte, double v) {
    memcpy((uint8_t*)s + byte, &v, sizeof v);
}
static inline int32_t vidova_get_int(const VidovaSettings* s, int byte) {
    int32_t v;
    memcpy(&v, (const uint8_t*)s + byte, sizeof v);
    return v;
}
static inline void vidova_set_int(VidovaSettings* s, int byte, int32_t v) {
    memcpy((uint8_t*)s + byte, &v, sizeof v);
}

/* Information ids sent through the output record's info slot. */
#define VIDOVA_INFO_TIMES 0xF000000u  /* int32[4]: int64 start, int64 stop (100 ns; start < 0 = none) */
#define VIDOVA_INFO_UNIT_END 0xF0001u /* the bytes of one picture are complete */
#define VIDOVA_INFO_STATS 0xF000001u  /* VidovaStats */

typedef struct VidovaStats {
    double overallPsnr; /* luma, dB; 0 unless PSNR calculation is on */
    double realBitrate; /* bit/s over the pictures coded so far */
    uint32_t frames;
    uint32_t lastFrameBytes;
} VidovaStats;

/* PutFrame flags. */
#define VIDOVA_FRAME_REPEAT 0x100u
#define VIDOVA_FRAME_PREVIEW 0x2000u
#define VIDOVA_FRAME_CAPTION 0x10000u
#define VIDOVA_FRAME_TIMES 0x10000000u
#define VIDOVA_FRAME_RATES 0x20000000u

/* Start flags. A two-pass run gives the statistics store (a bufstream whose
 * info slot works on files) as the first start option: the analysis pass
 * records every picture's complexity in its file 0 when it is done, the
 * encoding pass reads them at its start and shares the clip's bits out by
 * them (variable rate only). An encoding pass without usable statistics codes
 * as a single pass would, after a warning through "wrn_printf". */
#define VIDOVA_START_ANALYSIS 0x900u
#define VIDOVA_START_ENCODE_PASS 0xF00u

/* Statistics store requests: info(stats, file index, id, data, size). */
#define VIDOVA_STATS_OPEN_WRITE 0x100001u
#define VIDOVA_STATS_OPEN_READ 0x100002u
#define VIDOVA_STATS_CLOSE 0x100003u
#define VIDOVA_STATS_WRITE 0x100004u
#define VIDOVA_STATS_READ 0x100005u
#define VIDOVA_STATS_SIZE 0x100009u

/* Option records of PutFrame, in the order preview, caption, times, rates. */
typedef struct VidovaPreviewSlot {
    uint8_t* data; /* width * height * 2 bytes of UYVY */
    int32_t width;
    int32_t height;
    uint32_t fourcc;
    int32_t done; /* set by the engine once the picture is written */
} VidovaPreviewSlot;

typedef struct VidovaCaption {
    int32_t reserved;
    void(VIDOVA_CALL* release)(struct VidovaCaption* self);
    int32_t count;
    uint8_t* bytes; /* picture user data without its start code */
} VidovaCaption;

typedef struct VidovaTimes {
    int64_t start, stop, skipped;
} VidovaTimes;

typedef struct VidovaRates {
    int32_t maxBitrate, bitrate, minBitrate;
} VidovaRates;

#define VIDOVA_FOURCC(a, b, c, d)                                                              \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) | \
     ((uint32_t)(uint8_t)(d) << 24))

typedef struct VidovaEncoder* vidova_handle;

void VIDOVA_CALL VidovaFree(vidova_handle h);                                                               /* @1 */
int32_t VIDOVA_CALL VidovaDefaults(VidovaSettings* s, int32_t videoType, int32_t pal);                      /* @2 */
int32_t VIDOVA_CALL VidovaSetPerformance(VidovaSettings* s, int32_t kind, int32_t level, int32_t reserved); /* @3 */
vidova_handle VIDOVA_CALL VidovaCreate(get_callback_t gc, const VidovaSettings* s, int32_t reserved1, int32_t cpu,
                                       int32_t reserved2, int32_t reserved3);                     /* @4 */
int32_t VIDOVA_CALL VidovaStart(vidova_handle h, bufstream* out, uint32_t flags, void** options); /* @5 */
int32_t VIDOVA_CALL VidovaDone(vidova_handle h, int32_t abort_flag);                              /* @6 */
int32_t VIDOVA_CALL VidovaPutFrame(vidova_handle h, const uint8_t* picture, int32_t stride, int32_t width,
                                   int32_t height, uint32_t fourcc, uint32_t flags, void** options); /* @7 */
int32_t VIDOVA_CALL VidovaCheckSettings(get_callback_t gc, const VidovaSettings* s, int32_t reserved1,
                                        int32_t reserved2); /* @17 */

#ifdef __cplusplus
}
static_assert(sizeof(VidovaSettings) == 880, "engine part is words 0 to 219");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(VidovaCaption) == 16, "caption record is 16 bytes");
#endif
static_assert(sizeof(VidovaTimes) == 24 && sizeof(VidovaRates) == 12, "option records");
#endif

#endif
