// MPEG program-stream layer (ISO/IEC 13818-1 2.4.3.6, 2.5.3): pack header,
// PES packet header, system header and program stream map, their consumer,
// and the PES stream that cuts PES-packetised input into headers and
// payload pieces.
#pragma once

#include "codec/scanning/ParserFramework.h"

#include <vector>

namespace SPL_PS {

class PSProgramStreamParser : public SPL::StartCodeParser {
public:
    PSProgramStreamParser(uint32_t step, uint32_t minTail) : SPL::StartCodeParser(step, minTail) {}
};

class PSPesPacket : public SPL::BaseHeaderSimple {
public:
    // A header whose announced PTS/DTS bytes lie past length is refused.
    bool Parse(const uint8_t* bytes, uint32_t length, bool strict);

    uint32_t HeaderLength() const;  // 6 for 0xBE/0xBF, else 9 + PES_header_data_length
    uint32_t PacketSize() const;    // PES_packet_length + 6, 0 when unbounded
    unsigned PtsDtsFlags() const { return (flags2 >> 6) & 3; }
    bool HasPts() const { return PtsDtsFlags() >= 2; }
    bool HasDts() const { return PtsDtsFlags() == 3; }
    uint64_t PTS() const;  // 33-bit, 90 kHz
    uint64_t DTS() const;

    uint8_t stream_id = 0;
    uint16_t PES_packet_length = 0;
    uint8_t flags1 = 0;  // '10', scrambling, priority, alignment, copyright, original
    uint8_t flags2 = 0;  // PTS_DTS_flags and the other presence flags
    uint8_t PES_header_data_length = 0;
    uint8_t pts_bytes[5] = {};
    uint8_t dts_bytes[5] = {};
    uint8_t sub_stream_id = 0;
};

class PSPackHeader : public SPL::BaseHeaderSimple {
public:
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint64_t system_clock_reference_base = 0;
    uint32_t system_clock_reference_extension = 0;
    uint32_t program_mux_rate = 0;
};

class PSHdrSysPack : public SPL::BaseHeaderSimple {
public:
    static constexpr uint32_t kMaxStreams = 32;
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint16_t header_length = 0;
    uint32_t rate_bound = 0;
    uint32_t rate = 0;  // bit/s
    uint32_t audio_bound = 0;
    uint8_t fixed_flag = 0;
    uint8_t CSPS_flag = 0;
    uint8_t system_audio_lock_flag = 0;
    uint8_t system_video_lock_flag = 0;
    uint32_t video_bound = 0;
    uint8_t packet_rate_restriction_flag = 0;
    uint16_t stream_ids[kMaxStreams] = {};
    uint32_t stream_count = 0;
};

struct PSMapEntry {
    uint8_t stream_type = 0;
    uint8_t elementary_stream_id = 0;
    uint16_t elementary_stream_info_length = 0;
    std::vector<uint8_t> info;
};

class PSMap : public SPL::BaseHeaderSimple {
public:
    static constexpr uint32_t kInfoCapacity = 1018;
    bool Parse(const uint8_t* bytes, uint32_t length);
    void Clear() override;

    uint16_t program_stream_map_length = 0;
    uint8_t current_next_indicator = 0;
    uint8_t program_stream_map_version = 0;
    uint16_t program_stream_info_length = 0;  // as written in the map
    uint16_t info_bytes_kept = 0;             // at most kInfoCapacity
    uint8_t info[kInfoCapacity] = {};
    uint16_t elementary_stream_map_length = 0;
    std::vector<PSMapEntry> entries;
};

class PSProgramStreamParserConsumer : public SPL::BaseParserConsumer {
public:
    SPL::BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) override;

    PSPackHeader pack;
    PSPesPacket pes;
    PSHdrSysPack system;
    PSMap map;

private:
    SPL::BaseEventParser<PSPackHeader> evPack_;
    SPL::BaseEventParser<PSPesPacket> evPes_;
    SPL::BaseEventParser<PSHdrSysPack> evSystem_;
    SPL::BaseEventParser<PSMap> evMap_;
};

enum E_PESStreamState { PES_HEADER = 0, PES_PAYLOAD = 1 };

// Offset of the next PES packet start (00 00 01 with stream_id 0xBC..0xFE)
// or MPEG-2 pack start in data, looking only where at least 4 bytes remain;
// -1 when there is none.
int32_t FindPesOrPackStart(const uint8_t* data, uint32_t length);

class PSPESStream : public SPL::BaseStream, public SPL::BaseEventConsumer, public SPL::StreamState<E_PESStreamState> {
public:
    PSPESStream() = default;
    explicit PSPESStream(const SPL::StreamKey& key) : SPL::BaseStream(key) {}

    // out: the bytes of this buffer that belong to the packet; other events
    // are taken (true) with out 0, and the caller steps past them itself.
    bool OnEvent(SPL::BaseEvent* event, uint32_t* out) override;
    // Payload continuing in a later buffer. For an unbounded packet of a
    // keyed stream the count still to come stays -1.
    bool OnData(int64_t position, const uint8_t* data, uint32_t length, SPL::PayloadResult* result,
                uint8_t flag) override;
    void ResetPayload() override {
        nextPosition_ = 0;
        stillToCome_ = 0;
    }

    virtual bool OnPesPacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result);
    virtual bool MeasurePacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result);
    virtual bool EmitPacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result);

    int32_t StillToCome() const { return stillToCome_; }
    int64_t NextPosition() const { return nextPosition_; }

protected:
    int32_t stillToCome_ = 0;
    int64_t nextPosition_ = 0;
    SPL::BaseEvent payload_;
};

}  // namespace SPL_PS
