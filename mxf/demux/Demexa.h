/* Demexa.dll: the MXF reader's C interface. The records are a binary
 * interface for 32-bit hosts: i686 mingw aligns int64 to 8 bytes, so they are
 * packed explicitly and their 32-bit offsets are checked below. */
#ifndef MXF_DEMUX_DEMEXA_H
#define MXF_DEMUX_DEMEXA_H

#include <stddef.h>
#include <stdint.h>

#include "codec/common/bufstream.h"

#if defined(_WIN32)
#define DEMEXA_CALL __cdecl
#else
#define DEMEXA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* (user, name) -> function or null: "malloc_ex", "free_ex", "err_printf_ex",
 * "wrn_printf_ex", "inf_printf_ex"; each takes user first. */
typedef void*(DEMEXA_CALL* get_callback_ex)(void* user, const char* name);

typedef struct MxfDemuxInstance MxfDemuxInstance;

#pragma pack(push, 4)

typedef struct MxfDemuxSettings {
    uint32_t reserved0;
    /* Caller-fed source: the caller supplies the bytes instead of a file. */
    uint32_t caller_fed;
    int(DEMEXA_CALL* fed_seek)(void* user, uint32_t pos_lo, uint32_t pos_hi); /* nonzero: failure */
    int(DEMEXA_CALL* fed_read)(void* user, void* buffer, uint32_t count);     /* bytes read */
    void* fed_user;
    /* File access through callbacks instead of the C runtime. */
    uint32_t file_callbacks;
    int(DEMEXA_CALL* file_open)(void* user, const void* name); /* handle, -1 on failure */
    int(DEMEXA_CALL* file_seek)(void* user, int handle, uint32_t pos_lo, uint32_t pos_hi);
    int(DEMEXA_CALL* file_read)(void* user, int handle, void* buffer, uint32_t count);
    void(DEMEXA_CALL* file_close)(void* user, int handle);
    void* file_user;
    int64_t file_size; /* with caller_fed or file_callbacks */
    uint32_t reserved[16];
} MxfDemuxSettings;

typedef struct file_info_struct {
    int32_t stream_count;
    uint32_t edit_unit_byte_count; /* D-10 files */
    int64_t duration;              /* edit units */
    int32_t file_kind;             /* 5 generic container, 6 D-10 */
    int64_t file_size;
    int32_t index_count;
    int32_t index_entry_length;
    const uint8_t* index; /* rebased to absolute positions; valid until close */
    uint32_t reserved[18];
} file_info_struct;

typedef struct stream_info_struct {
    int32_t kind;      /* 1 picture, 2 D-10 sound, 3 generic sound */
    int32_t item_type; /* essence element key byte 12 */
    int32_t bits_per_sample;
    int32_t sample_rate;
    int32_t channels;
    uint32_t reserved[18];
} stream_info_struct;

typedef struct mxfdmux_parser_settings {
    uint32_t buffer_size; /* 0: 1 MiB */
    uint32_t reserved[16];
} mxfdmux_parser_settings;

typedef struct mxfdmux_stream_settings {
    int32_t stream;
    bufstream* bs;
} mxfdmux_stream_settings;

#pragma pack(pop)

/* Information id 0xD1000: one piece of an essence element. */
#define MXF_ELEMENT_INFO_ID 0xD1000u
#define MXF_ELEMENT_FIRST_PIECE 0x1u
#define MXF_ELEMENT_D10_SOUND 0x80000u
#define MXF_ELEMENT_GENERIC_SOUND 0x100000u

#pragma pack(push, 1)
typedef struct MxfElementRecord {
    const uint8_t* data; /* pull: the piece in the reader's buffer; push: null */
    uint32_t length;
    uint32_t flags;
    int64_t key_position;
    int64_t piece_position;
    int64_t unused;     /* -1 */
    uint8_t params[32]; /* D-10 sound: the element header; generic sound: bits, channels, 96 kHz */
    uint8_t header_length;
    uint8_t end_of_data;
    uint32_t element_length;
    uint32_t element_number;
} MxfElementRecord;
#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
#ifdef __cplusplus
#define DEMEXA_ASSERT(c, m) static_assert(c, m)
#else
#define DEMEXA_ASSERT(c, m) _Static_assert(c, m)
#endif
DEMEXA_ASSERT(sizeof(MxfDemuxSettings) == 116, "MxfDemuxSettings is 116 bytes");
DEMEXA_ASSERT(offsetof(MxfDemuxSettings, file_size) == 44, "file size at byte 44");
DEMEXA_ASSERT(sizeof(file_info_struct) == 112, "file_info_struct is 112 bytes");
DEMEXA_ASSERT(offsetof(file_info_struct, duration) == 8, "duration at byte 8");
DEMEXA_ASSERT(offsetof(file_info_struct, file_size) == 20, "file size at byte 20");
DEMEXA_ASSERT(offsetof(file_info_struct, index) == 36, "index at word 9");
DEMEXA_ASSERT(sizeof(stream_info_struct) == 92, "stream_info_struct is 92 bytes");
DEMEXA_ASSERT(sizeof(mxfdmux_parser_settings) == 68, "parser settings are 68 bytes");
DEMEXA_ASSERT(sizeof(MxfElementRecord) == 78, "MxfElementRecord is 78 bytes");
DEMEXA_ASSERT(offsetof(MxfElementRecord, key_position) == 12, "key position at byte 12");
DEMEXA_ASSERT(offsetof(MxfElementRecord, params) == 36, "parameters at byte 36");
DEMEXA_ASSERT(offsetof(MxfElementRecord, end_of_data) == 69, "end mark at byte 69");
DEMEXA_ASSERT(offsetof(MxfElementRecord, element_number) == 74, "element number at byte 74");
#endif

MxfDemuxInstance* DEMEXA_CALL mxfDemuxNew(get_callback_ex get_callback, void* user, MxfDemuxSettings* settings);
void DEMEXA_CALL mxfDemuxFree(MxfDemuxInstance* instance);
int DEMEXA_CALL mxfDemuxOpen(MxfDemuxInstance* instance, void* reserved, const char* name);
int DEMEXA_CALL mxfDemuxOpenW(MxfDemuxInstance* instance, void* reserved, const wchar_t* name);
void DEMEXA_CALL mxfDemuxClose(MxfDemuxInstance* instance);
int DEMEXA_CALL mxfDemuxGetFileInfo(MxfDemuxInstance* instance, file_info_struct* info);
int DEMEXA_CALL mxfDemuxGetStreamInfo(MxfDemuxInstance* instance, stream_info_struct* info, int stream);
int DEMEXA_CALL mxfDemuxNewParser(MxfDemuxInstance* instance, mxfdmux_parser_settings* settings);
void DEMEXA_CALL mxfDemuxFreeParser(MxfDemuxInstance* instance, int parser);
int DEMEXA_CALL mxfDemuxAddStream(MxfDemuxInstance* instance, int parser, mxfdmux_stream_settings* settings);
int DEMEXA_CALL mxfDemuxRemoveStream(MxfDemuxInstance* instance, int parser, mxfdmux_stream_settings* settings);
int DEMEXA_CALL mxfDemuxSeek(MxfDemuxInstance* instance, int parser, uint32_t pos_lo, uint32_t pos_hi);
int DEMEXA_CALL mxfDemuxPush(MxfDemuxInstance* instance, int parser);
int DEMEXA_CALL mxfDemuxWakeParser(MxfDemuxInstance* instance, int parser);
int DEMEXA_CALL mxfDemuxSleepParser(MxfDemuxInstance* instance, int parser);
int DEMEXA_CALL mxfDemuxUpdateFilesize(MxfDemuxInstance* instance, int parser, uint32_t size_lo, uint32_t size_hi);
int DEMEXA_CALL mxfDemuxSetFirstSplitRead(MxfDemuxInstance* instance, int parser, void* value);

#ifdef __cplusplus
}
#endif

#endif /* MXF_DEMUX_DEMEXA_H */
