/* Byte-stream record shared by the codec engines, the encoder filters and the
 * MXF libraries. The layout is a binary interface between separately built
 * modules: nine operation slots, then five state words (56 bytes on 32-bit
 * Windows). Every operation uses the C calling convention and takes the
 * record itself first; a slot an implementation does not offer is null. */
#ifndef CODEC_COMMON_BUFSTREAM_H
#define CODEC_COMMON_BUFSTREAM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define BUFSTREAM_CALL __cdecl
#else
#define BUFSTREAM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct bufstream bufstream;

struct bufstream {
    /* 0: bytes that can be read now (reader) or written without a flush (writer). */
    uint32_t(BUFSTREAM_CALL* bytes_available)(bufstream* bs);
    /* 1: n contiguous bytes to read or to fill, or null; consumes nothing. */
    uint8_t*(BUFSTREAM_CALL* request)(bufstream* bs, uint32_t n);
    /* 2: n bytes of the last request were consumed or filled; returns the count. */
    uint32_t(BUFSTREAM_CALL* commit)(bufstream* bs, uint32_t n);
    /* 3: copy n bytes out of (reader) or into (writer) the stream. */
    uint32_t(BUFSTREAM_CALL* copy_bytes)(bufstream* bs, uint8_t* p, uint32_t n);
    /* 4: size of the implementation's buffer, 0 when it has none. */
    uint32_t(BUFSTREAM_CALL* buffer_size)(bufstream* bs);
    /* 5: notification or query by id; 0 handled or ignored, -1 refused. */
    int32_t(BUFSTREAM_CALL* info)(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size);
    /* 6: continue in a new part. */
    int32_t(BUFSTREAM_CALL* split)(bufstream* bs);
    /* 7: finish the stream (flush unless aborting); frees the private state. */
    int32_t(BUFSTREAM_CALL* done)(bufstream* bs, int32_t abort_flag);
    /* 8: release the record; runs done(bs, 0) first while state is set. */
    void(BUFSTREAM_CALL* free)(bufstream* bs);
    /* 9: context of whoever replaced the info slot. */
    void* owner;
    /* 10-12: zero at creation. */
    uint32_t reserved[3];
    /* 13: the implementation's private state; null once done has run. */
    void* state;
};

/* get_callback: hands an engine its allocation and message functions by name
 * ("malloc", "free", "err_printf", "wrn_printf", "inf_printf", "prg_printf",
 * "yield", "dbg_printf"); null means the engine's own default. */
typedef void*(BUFSTREAM_CALL* get_callback_t)(const char* name);
/* Signature of the message functions a lookup hands out. */
typedef int(BUFSTREAM_CALL* bufstream_printf_t)(const char* format, ...);

#if defined(__cplusplus)
static_assert(offsetof(bufstream, owner) == 9 * sizeof(void*), "owner is word 9");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(bufstream) == 56, "bufstream is 56 bytes on 32-bit");
static_assert(offsetof(bufstream, state) == 52, "state is word 13");
#endif
#elif UINTPTR_MAX == 0xFFFFFFFFu
typedef char bufstream_size_is_56[(sizeof(bufstream) == 56) ? 1 : -1];
#endif

/* done(*p, abort), then free(*p), then *p := null. Either slot may be null. */
static inline uint32_t BufstreamClose(bufstream** p, int abort_flag) {
    bufstream* bs;
    if (!p || !*p) return 0;
    bs = *p;
    if (bs->done) bs->done(bs, abort_flag);
    if (bs->free) bs->free(bs);
    *p = NULL;
    return 0;
}

#ifdef __cplusplus
}
#endif

#endif /* CODEC_COMMON_BUFSTREAM_H */
