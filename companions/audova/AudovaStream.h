/* The output record type. The shared header is used once it is in the tree;
 * until then an identical declaration stands in. */
#ifndef COMPANIONS_AUDOVA_AUDOVASTREAM_H
#define COMPANIONS_AUDOVA_AUDOVASTREAM_H

#if __has_include("codec/common/bufstream.h")
#include "codec/common/bufstream.h"
#else
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
  uint32_t(BUFSTREAM_CALL* bytes_available)(bufstream* bs);
  uint8_t*(BUFSTREAM_CALL* request)(bufstream* bs, uint32_t n);
  uint32_t(BUFSTREAM_CALL* commit)(bufstream* bs, uint32_t n);
  uint32_t(BUFSTREAM_CALL* copy_bytes)(bufstream* bs, uint8_t* p, uint32_t n);
  uint32_t(BUFSTREAM_CALL* buffer_size)(bufstream* bs);
  int32_t(BUFSTREAM_CALL* info)(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size);
  int32_t(BUFSTREAM_CALL* split)(bufstream* bs);
  int32_t(BUFSTREAM_CALL* done)(bufstream* bs, int32_t abort_flag);
  void(BUFSTREAM_CALL* free)(bufstream* bs);
  void* owner;
  uint32_t reserved[3];
  void* state;
};
typedef void*(BUFSTREAM_CALL* get_callback_t)(const char* name);
typedef int(BUFSTREAM_CALL* bufstream_printf_t)(const char* format, ...);
#ifdef __cplusplus
}
#endif
#endif

#endif
