#include "companions/audova/driver/WavFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace audova {

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

WavReader::~WavReader() {
    if (file_) std::fclose(static_cast<FILE*>(file_));
}

bool WavReader::Open(const std::string& path, std::string* why) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *why = "cannot open " + path;
        return false;
    }
    file_ = f;
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, f) != 12 || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4)) {
        *why = path + " is not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, f) != 8) {
            *why = path + " has no data chunk";
            return false;
        }
        const uint32_t size = Le32(chunk + 4);
        if (!std::memcmp(chunk, "fmt ", 4)) {
            if (size < 16 || size > 1024) {
                *why = path + ": bad format chunk";
                return false;
            }
            uint8_t fmt[1026];
            if (std::fread(fmt, 1, size + (size & 1), f) < size) {
                *why = path + ": short format chunk";
                return false;
            }
            const uint16_t tag = Le16(fmt), channels = Le16(fmt + 2), bits = Le16(fmt + 14);
            if ((tag != 1 && tag != 0xFFFE) || bits != 16 || channels < 1 || channels > 2) {
                *why = path + ": only 16-bit PCM with one or two channels is read";
                return false;
            }
            channels_ = channels;
            rate_ = static_cast<int>(Le32(fmt + 4));
            haveFormat = true;
        } else if (!std::memcmp(chunk, "data", 4)) {
            if (!haveFormat) {
                *why = path + ": data before format";
                return false;
            }
            // Streamed files may carry a size that is too large: read to the end.
            left_ = size;
            return true;
        } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            *why = path + ": truncated chunk";
            return false;
        }
    }
}

size_t WavReader::Read(uint8_t* bytes, size_t maxFrames) {
    if (!file_) return 0;
    const size_t frameBytes = 2u * channels_;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(left_, maxFrames * frameBytes)) / frameBytes * frameBytes;
    const size_t got = std::fread(bytes, 1, want, static_cast<FILE*>(file_)) / frameBytes * frameBytes;
    left_ -= got;
    return got / frameBytes;
}

bool ReadWav(const std::string& path, WavData* out, std::string* why) {
    WavReader reader;
    if (!reader.Open(path, why)) return false;
    out->rate = reader.rate();
    out->channels = reader.channels();
    out->samples.clear();
    std::vector<uint8_t> block(65536 * 4);
    size_t n;
    while ((n = reader.Read(block.data(), 65536)) > 0) {
        const size_t at = out->samples.size();
        out->samples.resize(at + n * out->channels);
        for (size_t i = 0; i < n * out->channels; ++i) out->samples[at + i] = static_cast<int16_t>(Le16(&block[2 * i]));
    }
    return true;
}

bool WriteWav(const std::string& path, const WavData& wav) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(wav.samples.size() * 2);
    uint8_t h[44];
    auto put32 = [&h](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&h](int at, uint32_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::memcpy(h, "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, static_cast<uint32_t>(wav.channels));
    put32(24, static_cast<uint32_t>(wav.rate));
    put32(28, static_cast<uint32_t>(wav.rate * wav.channels * 2));
    put16(32, static_cast<uint32_t>(wav.channels * 2));
    put16(34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(40, dataBytes);
    if (std::fwrite(h, 1, 44, f.get()) != 44) return false;
    std::vector<uint8_t> bytes(dataBytes);
    for (size_t i = 0; i < wav.samples.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(wav.samples[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(wav.samples[i]) >> 8);
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

}  // namespace audova
