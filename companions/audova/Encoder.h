// Frame coder behind the Audova interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/common/engine/Audova.h"
#include "companions/audova/Psycho.h"

namespace audova {

// The settings resolved to what one stream is coded with.
struct StreamConfig {
    int layer = 2;
    bool lsf = false;
    int rate = 48000;
    int rateCode = 1;
    int channels = 2;
    int mode = AUDOVA_STEREO;  // header mode
    int bitrateIndex = 8;
    int kbps = 128;
    bool crc = false;
    bool privateBit = false;
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
    int psyModel = 2;
    uint32_t bufferSize = 0;
    int frameSamples = 1152;
    int maxFrameBytes = 0;
};

// Checks the settings for a sample rate; on failure *why says what is wrong.
bool ResolveSettings(const AudovaSettings& s, int32_t sampleRate, StreamConfig* out, std::string* why);

class Encoder {
public:
    explicit Encoder(const StreamConfig& config);
    ~Encoder();

    const StreamConfig& config() const { return cfg_; }
    // Restarts the stream into out (not owned).
    void Start(bufstream* out);
    // false when a frame could not be handed to the output record.
    bool Encode(const uint8_t* pcm, size_t bytes);
    bool Done(bool abort);
    uint64_t framesWritten() const { return frames_; }

private:
    static constexpr int kHistory = 1024;

    bool CodeFrame();
    int NextFrameBytes();
    void PrepareIntensity();
    // Allocates the frame's bits with intensity stereo from subband `bound` on
    // (32: none); returns the noise energy left above the masked level.
    float Allocate(int bound, int availableBits);
    int WriteFrame(uint8_t* frame, int frameBytes, int bound);

    StreamConfig cfg_;
    bufstream* out_ = nullptr;
    bool gotData_ = false;
    int fill_ = 0;
    uint8_t partial_[4] = {};
    int partialBytes_ = 0;
    uint32_t padRemainder_ = 0;
    uint64_t frames_ = 0;

    std::vector<float> pcm_[2];  // kHistory samples of history, then a frame
    std::unique_ptr<Psycho> psycho_;
    std::vector<uint8_t> frameBuf_;

    // Per frame: subband samples [ch][s][sb], scale factors, allocation.
    float sb_[2][36][32];
    int sfIndex_[2][32][3];
    int sfUsed_[2][32][3];
    int scfsi_[2][32];
    int alloc_[2][32];
    float allowed_[2][32];
    float energy_[2][32];
    // Intensity stereo: the coded mid samples, their normalising scale factors,
    // each channel's scale factors and the error the shared samples leave.
    float mid_[36][32];
    int midSf_[32][3];
    int isfUsed_[2][32][3];
    int iscfsi_[2][32];
    float ierr_[2][32];
};

}  // namespace audova
