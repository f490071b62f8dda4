/* The byte-stream implementations of the MXF multiplexer: a buffered file
 * reader, a buffered file writer that can continue in numbered files, a
 * seekable layer that keeps positioned writes until the end, and an
 * in-memory pipe with a writing and a reading face. The record itself is
 * codec/common/bufstream.h. */
#ifndef MXF_MUX_BYTESTREAMS_H
#define MXF_MUX_BYTESTREAMS_H

#include "codec/common/bufstream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receives one message text when a creator fails. */
typedef void (*bs_error_fn)(const char* text);

/* Information ids answered or sent by these implementations. */
enum {
    BS_INFO_UNIT = 0xF0001,             /* uint32 count: plain data committed as a unit */
    BS_INFO_AES3_UNIT = 0xF0002,        /* uint32 count: AES3-tagged data (8 = the stream header) */
    BS_INFO_POSITION = 0xF0010,         /* int64: bytes consumed or written to the current file */
    BS_INFO_FLUSH = 0xF0020,            /* writer: flush to the file */
    BS_INFO_SPLIT = 0xF0040,            /* writer: split now */
    BS_INFO_SPLIT_COUNT = 0xF00001,     /* int32: splits made */
    BS_INFO_FILE_NAME = 0xF00002,       /* char buffer: the current file name */
    BS_INFO_SWAP_BYTES = 0xF00004,      /* reader: exchange the bytes of every 16-bit word */
    BS_INFO_FILE_SIZE = 0xF00008,       /* int64: reader's file size */
    BS_INFO_POSITIONED_WRITE = 0xC0011, /* bs_positioned_write: write at a file position */
    BS_INFO_RELOCATION = 0xC0020        /* relocation block for the end of the file */
};

/* The data of BS_INFO_POSITIONED_WRITE (16 bytes on 32-bit). */
typedef struct bs_positioned_write {
    int64_t position;
    const uint8_t* data;
    int32_t length;
} bs_positioned_write;

/* Runs done(bs, 0) while the state is set, then releases the record. */
void BUFSTREAM_CALL bufstream_free(bufstream* bs);

bufstream* bs_file_reader_open(const char* name, uint32_t buffer_size, bs_error_fn err);
int32_t bs_file_reader_init(bufstream* bs, const char* name, uint32_t buffer_size, bs_error_fn err);
bufstream* bs_file_writer_open(const char* name, uint32_t buffer_size, bs_error_fn err);
int32_t bs_file_writer_init(bufstream* bs, const char* name, uint32_t buffer_size, bs_error_fn err);

/* The seekable layer over a main record that names its file. Its done
 * flushes the main record, then applies the positioned writes through a
 * handle of its own; -1 when any of that fails. */
bufstream* bseek_open_file_buf(bufstream* main_bs, bs_error_fn err);
int32_t bseek_init_file_buf(bufstream* bs, bufstream* main_bs, bs_error_fn err);

typedef struct bs_pipe_ring bs_pipe_ring;
typedef struct bs_pipe {
    bufstream writer;
    bufstream reader;
    bs_pipe_ring* ring;
} bs_pipe;

/* A ring of `size` bytes that answers requests of up to reserve - 1 bytes
 * contiguously; null when size < reserve or reserve is 0. */
bs_pipe* bs_pipe_open(uint32_t size, uint32_t reserve);
void bs_pipe_close(bs_pipe* pipe);

#ifdef __cplusplus
}
#endif

#endif /* MXF_MUX_BYTESTREAMS_H */
