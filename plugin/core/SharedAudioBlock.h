// The shared audio block: the record the plug-in writes for the outside
// reader, and the hand-over of one record at a time. Platform-free: the
// kernel objects sit behind BlockChannel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plugin {

// Kernel object names, shared with the reader.
constexpr char kSectionName[] = "{F22F2429-009C-4B5D-959F-519B59E25170}";
constexpr char kMutexName[] = "{034DBD6D-6784-4CB3-97D8-749947D01F70}";
constexpr char kDataReadyName[] = "{6560EAD3-F709-4B66-B90B-EA2D2C85AE30}";
constexpr char kConsumedName[] = "{3EA1EB13-8045-44FC-AD59-B4F05478B400}";

constexpr size_t kBlockSize = 0xFFFE;
constexpr size_t kPidOffset = 0x0000;
constexpr size_t kPathOffset = 0x0004;
constexpr size_t kPathMaxChars = 260;  // with the NUL
constexpr size_t kInstanceOffset = 0x0414;
constexpr size_t kVersionOffset = 0x0418;
constexpr size_t kFormatOffset = 0x041C;
constexpr size_t kWindowOffset = 0xFFF6;  // written by the reader
constexpr uint32_t kRecordVersion = 0x00020001;
// Audio bytes of one record after an 18-byte format; a longer format takes
// its extra bytes from here, so a record always ends before the window handle.
constexpr uint32_t kMaxChunk = 63486;
constexpr uint32_t kWaitMs = 3000;

// Who sends: the same for every record of a buffer.
struct RecordFields {
    uint32_t processId = 0;
    std::u16string path;  // the player's executable, short form
    uint32_t instanceId = 0;
};

// A record as the reader finds it.
struct Record {
    uint32_t processId;
    std::u16string path;
    uint32_t instanceId;
    uint32_t version;
    std::vector<uint8_t> format;
    std::vector<uint8_t> audio;
};

// Audio bytes per record for a record format of `formatSize` bytes.
uint32_t ChunkSize(size_t formatSize);

// Writes one record into the view; false (nothing written) when it would
// not end before the window handle or the view is too small for that.
bool WriteRecord(uint8_t* view, size_t viewSize, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                 const uint8_t* audio, uint32_t size);

// Reads the record in a view, as the outside reader does.
std::optional<Record> ReadRecord(const uint8_t* view, size_t viewSize);

// The reader's window handle published in the view (0 without a view).
uint32_t ReaderWindow(const uint8_t* view, size_t viewSize);

enum class WaitOutcome { Obtained, Abandoned, TimedOut, Failed };

// The section, mutex and events as the plug-in opened them.
class BlockChannel {
public:
    virtual ~BlockChannel() = default;
    virtual bool Creator() const = 0;
    virtual uint8_t* View() = 0;  // null without a view
    virtual size_t ViewSize() const = 0;
    virtual WaitOutcome WaitMutex(uint32_t ms) = 0;
    virtual void ReleaseMutex() = 0;
    virtual bool IsReaderWindow(uint32_t handle) = 0;
    virtual bool SignalDataReady() = 0;  // false when the event could not be set
    virtual void WaitConsumed(uint32_t ms) = 0;
};

enum class HandOver { Sent, Creator, NoMutex, NoReader, NoRoom };

// Hands one record to the reader under the mutex.
HandOver HandOverRecord(BlockChannel& channel, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                        const uint8_t* audio, uint32_t size);

// Sends a buffer as consecutive records; returns how many reached the reader.
// Formats other than 8- or 16-bit PCM (plain or 40-byte extensible) send nothing.
size_t SendBuffer(BlockChannel& channel, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                  const uint8_t* audio, size_t size);

}  // namespace plugin
