// MXF reader core: opens OP1a generic-container and D-10 files, describes
// them and hands their essence elements to bound bufstream consumers, by push
// or on the consumer's pull. Platform-free; the DLL converts its packed
// 32-bit records to and from the native ones declared here.
#ifndef MXF_DEMUX_MXFDEMUX_H
#define MXF_DEMUX_MXFDEMUX_H

#include <cstddef>
#include <cstdint>

#include "codec/common/bufstream.h"

namespace mxfdemux {

constexpr int kMaxParsers = 64;
constexpr int kMaxStreams = 64;
constexpr uint32_t kDefaultBufferSize = 1048576;
constexpr uint32_t kElementInfoId = 0xD1000;
constexpr uint32_t kMaxNameLength = 32767;

enum Result : int { kOk = 0, kFail = 1, kEnd = 2 };

enum StreamKind : int32_t { kPicture = 1, kD10Sound = 2, kGenericSound = 3 };
enum FileKind : int32_t { kGenericFile = 5, kD10File = 6 };

enum ElementFlags : uint32_t {
    kFirstPiece = 0x1,
    kD10SoundElement = 0x80000,
    kGenericSoundElement = 0x100000,
};

#if defined(_WIN32)
#define MXFDEMUX_CALL __cdecl
#else
#define MXFDEMUX_CALL
#endif

// Host callbacks; each takes the instance's user value first.
typedef void*(MXFDEMUX_CALL* GetCallbackFn)(void* user, const char* name);
typedef void*(MXFDEMUX_CALL* MallocFn)(void* user, size_t size);
typedef void(MXFDEMUX_CALL* FreeFn)(void* user, void* p);
typedef int(MXFDEMUX_CALL* PrintfFn)(void* user, const char* format, ...);

// Caller-fed source: seek returns nonzero on failure, read the bytes read.
typedef int(MXFDEMUX_CALL* FedSeekFn)(void* user, uint32_t lo, uint32_t hi);
typedef int(MXFDEMUX_CALL* FedReadFn)(void* user, void* buffer, uint32_t count);
// File callbacks: open gets the stored name (char or char16_t, as opened) and
// returns a handle or -1; seek returns nonzero on failure.
typedef int(MXFDEMUX_CALL* FileOpenFn)(void* user, const void* name);
typedef int(MXFDEMUX_CALL* FileSeekFn)(void* user, int handle, uint32_t lo, uint32_t hi);
typedef int(MXFDEMUX_CALL* FileReadFn)(void* user, int handle, void* buffer, uint32_t count);
typedef void(MXFDEMUX_CALL* FileCloseFn)(void* user, int handle);

struct Settings {
    uint32_t callerFed;
    FedSeekFn fedSeek;
    FedReadFn fedRead;
    void* fedUser;
    uint32_t fileCallbacks;
    FileOpenFn fileOpen;
    FileSeekFn fileSeek;
    FileReadFn fileRead;
    FileCloseFn fileClose;
    void* fileUser;
    int64_t fileSize;  // used with callerFed or fileCallbacks
};

struct FileInfo {
    int32_t streamCount;
    uint32_t editUnitByteCount;
    int64_t duration;
    int32_t fileKind;
    int64_t fileSize;
    int32_t indexCount;
    int32_t indexEntryLength;
    const uint8_t* index;  // absolute positions of the content packages
};

struct StreamInfo {
    int32_t kind;
    int32_t itemType;
    int32_t bitsPerSample;
    int32_t sampleRate;
    int32_t channels;
};

struct ParserSettings {
    uint32_t bufferSize;  // 0: 1 MiB
};

struct StreamSettings {
    int32_t stream;
    bufstream* consumer;
};

// What a piece of an element carries (the native form of the 78-byte record).
struct ElementRecord {
    const uint8_t* data;  // pull: the piece inside the read buffer; push: null
    uint32_t length;
    uint32_t flags;
    int64_t keyPosition;
    int64_t piecePosition;
    int64_t unused;  // always -1
    uint8_t params[32];
    uint8_t headerLength;
    uint8_t endOfData;
    uint32_t elementLength;
    uint32_t elementNumber;
};

struct Instance;
struct Parser;

// How records reach consumers: push calls `push` after each piece; a pull
// consumer's info slot is replaced by `pullInfo`. The DLL swaps both for
// adapters that speak its packed record.
struct RecordAdapter {
    void (*push)(bufstream* consumer, const ElementRecord& record);
    int32_t(BUFSTREAM_CALL* pullInfo)(bufstream* consumer, uint32_t offset, uint32_t id, void* data, uint32_t size);
};

Instance* New(GetCallbackFn getCallback, void* user, const Settings* settings);
void Free(Instance* in);
void SetRecordAdapter(Instance* in, const RecordAdapter& adapter);
int Open(Instance* in, const char* name);
int OpenW(Instance* in, const char16_t* name);
void Close(Instance* in);
int GetFileInfo(Instance* in, FileInfo* out);
int GetStreamInfo(Instance* in, StreamInfo* out, int stream);
int NewParser(Instance* in, const ParserSettings* settings);
void FreeParser(Instance* in, int parser);
int AddStream(Instance* in, int parser, const StreamSettings* settings);
int RemoveStream(Instance* in, int parser, const StreamSettings* settings);
int Seek(Instance* in, int parser, int64_t position);
int Push(Instance* in, int parser);
int WakeParser(Instance* in, int parser);
int SleepParser(Instance* in, int parser);
int UpdateFilesize(Instance* in, int parser, int64_t size);
int SetFirstSplitRead(Instance* in, int parser, void* value);

// A pull: the next piece of the parser bound to `consumer` (its owner) into
// `record`; 0 delivered or end of data (endOfData set), -1 failure.
int32_t Pull(bufstream* consumer, ElementRecord* record);

}  // namespace mxfdemux

#endif  // MXF_DEMUX_MXFDEMUX_H
