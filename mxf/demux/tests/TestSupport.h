// Shared pieces of the reader's tests: fixtures made by ffmpeg, a small
// hand-built file, consumers that collect what they get, and an instance
// whose error messages are kept.
#ifndef MXF_DEMUX_TESTS_TESTSUPPORT_H
#define MXF_DEMUX_TESTS_TESTSUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "mxf/demux/MxfDemux.h"

namespace mxftest {

using Bytes = std::vector<uint8_t>;

bool HaveFfmpeg();
#define REQUIRE_FFMPEG() \
    if (!mxftest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed"
// Runs ffmpeg with `args` (quiet, overwriting); true on success.
bool Ffmpeg(const std::string& args);
// The fixture folder, and a named fixture made once per run (empty on failure):
// "a2" / "a12": -f mxf with mpeg2video and pcm_s16le at 2 s and 12 s, beside
// NAME.m2v and NAME.raw; "d10": -f mxf_d10 beside d10.raw; "opatom".
std::string Dir();
std::string Fixture(const std::string& name);

Bytes ReadAll(const std::string& path);
void WriteAll(const std::string& path, const Bytes& data);

// A small generic file built by hand: header partition, timecode, AES3
// descriptor, one body partition of `frames` content packages (system pack,
// picture element, sound element), footer with an index table segment, RIP.
struct SynthOptions {
    int frames = 6;
    int elementBer = 4;         // BER bytes after 0x8N of the essence elements
    uint32_t entryLength = 11;  // index entry length
    int descriptors = 1;        // AES3 descriptors of `channels` each
    uint32_t channels = 2;
    bool sampleRateFirst = true;  // 0x3001 = 25/1 before 0x3D03 = 48000/1
    bool d10 = false;             // D-10 label and item types 0x05 / 0x06
};
struct Synth {
    Bytes file;
    Bytes picture;  // every picture payload, in order
    Bytes sound;
    std::vector<int64_t> systemPacks;  // key positions
    std::vector<int64_t> pictureKeys;
    // Positions of fields the bad-input table mutates.
    size_t batchItemLength = 0;
    size_t rateDenominator = 0;
    size_t ripBer = 0;  // the RIP's BER length byte
    size_t ripOverall = 0;
    size_t indexCount = 0;   // NumberOfIndexEntries
    size_t entryLength = 0;  // the entry length word
};
Synth MakeSynth(const SynthOptions& o = {});

// Collects what a parser hands over.
struct Sink {
    bufstream bs{};
    uint32_t bufferSize = 0;
    Bytes data;
    std::vector<mxfdemux::ElementRecord> records;
    explicit Sink(uint32_t size);
    // Pulls until the end record; false on a failure answer.
    bool PullAll();
};

// An instance whose error messages land in `errors`.
struct Host {
    std::vector<std::string> errors;
    mxfdemux::Instance* in = nullptr;
    explicit Host(const mxfdemux::Settings& s = {});
    ~Host();
    bool Saw(const std::string& message) const;
};

// Opens `path`, binds every stream of one new parser to push sinks of
// `bufferSize` bytes and pushes to the end; sinks[k] is stream k.
struct PushResult {
    int openResult = 1;
    mxfdemux::FileInfo info{};
    std::vector<mxfdemux::StreamInfo> streams;
    std::vector<Bytes> data;
    std::vector<std::vector<mxfdemux::ElementRecord>> records;
};
PushResult PushFile(const std::string& path, uint32_t bufferSize = 65536);

}  // namespace mxftest

#endif  // MXF_DEMUX_TESTS_TESTSUPPORT_H
