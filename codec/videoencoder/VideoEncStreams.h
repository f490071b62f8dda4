// The three objects the filter hands to the video engine: the bitstream
// output (a bufstream writing into the filter's output samples), the
// statistics store of a two-pass run (a bufstream whose info operation works
// on files), and the message lookup.
#pragma once

#include "codec/common/bufstream.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace vidcore {

// The filter's side of the bitstream output.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    // A fresh delivery buffer; false when none is available.
    virtual bool GetBuffer(uint8_t** data, uint32_t* size) = 0;
    // The held buffer is finished (used may be 0: then it is only released).
    virtual void Deliver(uint8_t* data, uint32_t used, const int32_t times[4]) = 0;
    virtual void Notify(uint32_t id, const void* data, uint32_t size) = 0;
};

constexpr uint32_t kInfoTimes = 0xF000000u;
constexpr uint32_t kInfoUnitEnd = 0xF0001u;
constexpr uint32_t kInfoStats = 0xF000001u;

// Null when memory runs out; `report` (may be null) hears why.
bufstream* CreateBitstreamOutput(OutputSink* sink, uint32_t bufferSize, void (*report)(const char*));
// Bytes committed since creation (0 once done has run).
uint64_t BitstreamOutputTotal(bufstream* bs);

// Statistics ids of the info operation.
enum : uint32_t {
    kStatsOpenWrite = 0x100001,
    kStatsOpenRead = 0x100002,
    kStatsClose = 0x100003,
    kStatsWrite = 0x100004,
    kStatsRead = 0x100005,
    kStatsRewind = 0x100006,
    kStatsDelete = 0x100007,
    kStatsDeleteLater = 0x100008,
    kStatsSize = 0x100009,
};
constexpr int kStatsFiles = 8;
constexpr size_t kStatsPathMax = 2048;

// Null for an empty base path or one of 2,048 characters or more.
bufstream* CreateStatsFile(const char* basePath);
// "%s.md%d" of the base path and index; empty when it does not fit.
std::string StatsFileName(const char* basePath, int index);
// Deletes the statistics file of an index for a base path (before a run).
void DeleteStatsFile(const char* basePath, int index);

// Base path of a run's statistics: folder + "\Vidrel_stat_" + number, in a
// 260-character buffer; a folder too long for it is left out.
std::string DefaultStatsBase(const char* folder, int number);

// The lookup given to the engine's settings check.
void* BUFSTREAM_CALL VideoEncGetCallback(const char* name);
// The engine's last message, formatted by "err_printf".
const char* LastEngineMessage();
void ClearEngineMessage();
int BUFSTREAM_CALL FormatEngineMessage(const char* format, ...);

}  // namespace vidcore
