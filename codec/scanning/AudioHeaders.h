// Audio frame headers: MPEG-1/2 audio (SPL_AES), AAC in ADTS (SPL_AAC) and
// AC-3 / E-AC-3 (SPL_AC3). Each has a sync-word parser, one header class, a
// consumer and a stream whose handler answers the frame length so a caller
// can jump from frame to frame. A parse resets only the valid flag; the
// other fields keep their values until overwritten.
#pragma once

#include "codec/scanning/ParserFramework.h"

namespace SPL_AES {

class AESParser : public SPL::BaseParserSimple {
public:
    AESParser() : SPL::BaseParserSimple(2, 6) {}
    bool IsStartCode(const uint8_t* p) const override { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0; }
};

class AESHdr : public SPL::BaseHeaderSimple {
public:
    enum { LAYER_III = 1, LAYER_II = 2, LAYER_I = 3 };
    enum { MPEG25 = 0, MPEG2 = 2, MPEG1 = 3 };
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint32_t version = 0;
    uint32_t layer = 0;
    uint8_t protection_bit = 0;
    uint32_t bitrate_index = 0;
    uint32_t sampling_frequency = 0;
    uint8_t padding_bit = 0;
    uint8_t private_bit = 0;
    uint32_t mode = 0;
    uint32_t mode_extension = 0;
    uint8_t copyright = 0;
    uint8_t original_copy = 0;
    uint32_t emphasis = 0;

    uint32_t sampleRate = 0;
    uint32_t bitRate = 0;
    uint32_t frameLength = 0;
    int64_t frameDuration = 0;
};

class AESParserConsumer : public SPL::BaseParserConsumer {
public:
    SPL::BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) override;
    AESHdr hdr;

private:
    SPL::BaseEventParser<AESHdr> ev_;
};

enum E_AESStreamState { AES_FRAME_HEADER = 0 };

class AESStream : public SPL::BaseStream, public SPL::BaseEventConsumer, public SPL::StreamState<E_AESStreamState> {
public:
    AESStream() = default;
    explicit AESStream(const SPL::StreamKey& key) : SPL::BaseStream(key) {}
    bool OnEvent(SPL::BaseEvent* event, uint32_t* out) override;
    bool OnData(int64_t, const uint8_t*, uint32_t, SPL::PayloadResult*, uint8_t) override { return true; }
    virtual bool OnFrameHeader(SPL::BaseEventParser<AESHdr>* ev, uint32_t* out);
};

}  // namespace SPL_AES

namespace SPL_AAC {

class AACParser : public SPL::BaseParserSimple {
public:
    AACParser() : SPL::BaseParserSimple(4, 10) {}
    bool IsStartCode(const uint8_t* p) const override { return p[0] == 0xFF && (p[1] & 0xF0) == 0xF0; }
};

class AACHdr : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint8_t ID = 0;
    uint32_t layer = 0;
    uint8_t protection_absent = 0;
    uint32_t profile = 0;
    uint32_t sampling_frequency_index = 0;
    uint8_t private_bit = 0;
    uint32_t channel_configuration = 0;
    uint8_t original_copy = 0;
    uint8_t home = 0;
    uint8_t copyright_identification_bit = 0;
    uint8_t copyright_identification_start = 0;
    uint32_t aac_frame_length = 0;
    uint32_t adts_buffer_fullness = 0;
    uint32_t number_of_raw_data_blocks_in_frame = 0;

    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    int64_t frameDuration = 0;
};

class AACParserConsumer : public SPL::BaseParserConsumer {
public:
    SPL::BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) override;
    AACHdr hdr;

private:
    SPL::BaseEventParser<AACHdr> ev_;
};

enum E_AACStreamState { AAC_ADTS_HEADER = 0 };

class AACStream : public SPL::BaseStream, public SPL::BaseEventConsumer, public SPL::StreamState<E_AACStreamState> {
public:
    AACStream() = default;
    explicit AACStream(const SPL::StreamKey& key) : SPL::BaseStream(key) {}
    bool OnEvent(SPL::BaseEvent* event, uint32_t* out) override;
    bool OnData(int64_t, const uint8_t*, uint32_t, SPL::PayloadResult*, uint8_t) override { return true; }
    virtual bool OnAdtsHeader(SPL::BaseEventParser<AACHdr>* ev, uint32_t* out);
};

}  // namespace SPL_AAC

namespace SPL_AC3 {

class AC3Parser : public SPL::BaseParserSimple {
public:
    AC3Parser() : SPL::BaseParserSimple(4, 10) {}
    bool IsStartCode(const uint8_t* p) const override {
        return (p[0] == 0x0B && p[1] == 0x77) || (p[0] == 0x77 && p[1] == 0x0B);
    }
};

class AC3Hdr : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length);
    bool IsEac3() const { return bsid > 10; }

    uint32_t bsid = 0;
    // AC-3
    uint32_t crc1 = 0;
    uint32_t fscod = 0;
    uint32_t frmsizecod = 0;
    uint32_t bsmod = 0;
    uint32_t acmod = 0;
    uint32_t cmixlev = 0;
    uint32_t surmixlev = 0;
    uint32_t dsurmod = 0;
    uint8_t lfeon = 0;
    uint32_t dialnorm = 0;
    uint8_t compre = 0;
    uint32_t compr = 0;
    uint8_t langcode = 0;
    uint32_t langcod = 0;
    // E-AC-3
    uint32_t strmtyp = 0;
    uint32_t substreamid = 0;
    uint32_t frmsiz = 0;
    uint32_t fscod2 = 0;
    uint32_t numblkscod = 0;
    uint32_t dialnorm2 = 0;
    uint8_t compr2e = 0;
    uint32_t compr2 = 0;
    uint8_t chanmape = 0;
    uint32_t chanmap = 0;

    uint16_t frameLength = 0;  // bytes
    uint16_t sampleRate = 0;
    uint8_t channels = 0;
    uint32_t bitRate = 0;
    int64_t frameDuration = 0;
};

class AC3ParserConsumer : public SPL::BaseParserConsumer {
public:
    SPL::BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) override;
    AC3Hdr hdr;

private:
    SPL::BaseEventParser<AC3Hdr> ev_;
};

enum E_AC3StreamState { AC3_SYNC_FRAME = 0 };

class AC3Stream : public SPL::BaseStream, public SPL::BaseEventConsumer, public SPL::StreamState<E_AC3StreamState> {
public:
    AC3Stream() = default;
    explicit AC3Stream(const SPL::StreamKey& key) : SPL::BaseStream(key) {}
    bool OnEvent(SPL::BaseEvent* event, uint32_t* out) override;
    bool OnData(int64_t, const uint8_t*, uint32_t, SPL::PayloadResult*, uint8_t) override { return true; }
    virtual bool OnSyncFrame(SPL::BaseEventParser<AC3Hdr>* ev, uint32_t* out);
};

}  // namespace SPL_AC3
