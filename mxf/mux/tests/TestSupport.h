// Helpers of the Mexora tests: scratch files, ffmpeg fixtures and a
// recording double of the MXF writer.
#pragma once

#include "mxf/mux/MxfWriter.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace mexora_test {

// A fresh folder under the system's temporary folder, removed at exit.
std::string TempDir();
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);
// Runs ffmpeg quietly with the given arguments; true on success.
bool Ffmpeg(const std::string& args);

// A 0.3 s 48 kHz WAV of `channels` distinct tones at `bits`, written by
// ffmpeg with its default header (LIST chunk; EXTENSIBLE for 24 bits).
std::string MakeWav(const std::string& dir, const std::string& name, int channels, int bits, double seconds = 0.3,
                    int rate = 48000);
// The same audio as raw little-endian samples.
std::vector<uint8_t> RawPcm(const std::string& wav, int bits);
// An MPEG-2 video elementary stream at the given frame rate ("30000/1001").
std::string MakeM2v(const std::string& dir, const std::string& name, const std::string& rate, int frames = 6);
// A canonical 44-byte-header WAV of raw PCM.
std::vector<uint8_t> CanonicalWav(const std::vector<uint8_t>& pcm, int channels, int bits, int rate);

// What the engine handed to the writer.
struct Recording {
    std::map<int32_t, int32_t> streams;  // id -> output
    std::vector<int32_t> order;          // ids in registration order
    std::map<int32_t, std::vector<uint8_t>> bytes;
    std::set<int32_t> ended;
    int starts = 0;
};

// The writer double: each sample goes out as an appended piece to its
// stream's output; once every stream ended, a 4-byte positioned rewrite
// "MXF!" lands at the start of every output and the writer is finished.
// With finishes = false it never finishes (an input it cannot place).
struct DoubleOptions {
    bool finishes = true;
    bool echoSamples = true;
};
mexora::WriterFactory RecordingWriter(Recording* rec, DoubleOptions options = DoubleOptions());

// Collects err_printf texts.
std::vector<std::string>& Messages();
void* GetCallback(const char* name);
// A lookup whose yield answers 1 after `calls` calls.
void SetYieldStop(int calls);

}  // namespace mexora_test
