// Writers of the ISO/IEC 13818-1 PES header, transport packet header with its
// adaptation field, and the PAT and PMT sections. They hold their field
// values in the scanning library's header classes and add the writing.
#pragma once

#include "codec/scanning/Bitstream.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/TSHeaders.h"

#include <cstdint>
#include <vector>

namespace NS_PES {

class CPESPacketHdr : public SPL_PS::PSPesPacket {
public:
    // subOrExtension: sub-stream id for 0xBD (0 = none), stream_id_extension for 0xFD.
    CPESPacketHdr(uint8_t streamId, int32_t fixedPacketSize, uint8_t subOrExtension);

    void Reset();              // per-packet fields back to their defaults
    void SetPts(int64_t pts);  // 100 ns
    void SetPtsDts(int64_t pts, int64_t dts);
    void SetPstd(int32_t bufferBytes);  // scale follows the stream id
    void SetDataAlignment(bool on) { alignment_ = on; }
    void SetStuffing(int32_t n) { stuffing_ = n; }
    void SetExtraData(const uint8_t* p, int32_t n) {
        extra_ = p;
        extraLen_ = n;
    }
    // PES_packet_length stays 0 (unbounded video in a transport stream).
    void SetUnbounded() { payload_ = -1; }
    // Clamps to the largest payload the header allows and returns it.
    int32_t SetPayloadLength(int32_t n);

    bool HasPts() const { return ptsFlags_ >= 2; }
    int32_t HeaderDataLength() const;  // PES_header_data_length
    int32_t HeaderSize() const;        // every byte before the payload
    int32_t MaxPayload() const;
    int32_t FixedPacketSize() const { return fixedSize_; }
    uint8_t StreamId() const { return stream_id; }
    uint8_t SubStreamId() const { return sub_; }
    static bool HasNoOptionalHeader(uint8_t id);

    // Writes the header (and extra data); returns the bytes written.
    int32_t Write(SPL::BitstreamWriter& w, int64_t base = 0) const;

private:
    int32_t OptionalBytes() const;  // optional fields without stuffing

    int32_t fixedSize_;
    uint8_t sub_;
    bool alignment_ = false;
    unsigned ptsFlags_ = 0;
    int64_t pts_ = 0;
    int64_t dts_ = 0;
    bool pstd_ = false;
    unsigned pstdScale_ = 0;
    unsigned pstdSize_ = 0;
    bool ext2_ = false;
    int32_t stuffing_ = 0;
    int32_t payload_ = 0;  // 0 = not set, -1 = unbounded
    const uint8_t* extra_ = nullptr;
    int32_t extraLen_ = 0;
};

// 100 ns to a 33-bit 90 kHz value.
uint64_t To90k(int64_t t, int64_t base = 0);

}  // namespace NS_PES

namespace NS_TS {

class CTSAdaptation : public SPL_TS::TSAdaptationField {
public:
    // Flag bits in wire order.
    enum {
        DISCONTINUITY = 0x80,
        RANDOM_ACCESS = 0x40,
        ES_PRIORITY = 0x20,
        PCR = 0x10,
        OPCR = 0x08,
        SPLICING = 0x04,
        PRIVATE_DATA = 0x02,
        EXTENSION = 0x01
    };
    void Reset();
    bool Present() const { return present_; }
    int32_t Size() const { return present_ ? adaptation_field_length + 1 : 0; }
    // Writes the field into at most room bytes; returns the bytes written.
    int32_t Put(uint8_t* out, int32_t room) const;

    bool present_ = false;
    uint64_t pcrValue = 0;  // 27 MHz
    int32_t stuffing = 0;
};

class CTSPacketHdr : public SPL_TS::TSPacketHdr {
public:
    explicit CTSPacketHdr(uint16_t pid = 0);

    void SetPid(uint16_t pid);
    uint16_t Pid() const { return PID(); }
    void SetPayloadUnitStart(bool on);
    void AddPcr(uint64_t pcr);
    void AddFlag(uint8_t flag);  // adds an adaptation field when needed
    int32_t Room() const { return room_; }
    int32_t Reserve(int32_t n);  // -1 when larger than the room left
    // Puts the room left into the adaptation field (stuffing).
    void StuffRest();
    static constexpr int32_t kPacketBytes = 188;
    // Writes the 4-byte header and the adaptation field; returns the bytes
    // written. The counter advances only on packets that carry payload.
    int32_t Write(SPL::BitstreamWriter& w);
    // The same straight into a packet's kPacketBytes bytes.
    int32_t Put(uint8_t* out);
    uint8_t LastCounter() const { return cc_; }
    void SetCounter(uint8_t lastWritten) { cc_ = lastWritten & 15; }
    const CTSAdaptation& AdaptationField() const { return af_; }

private:
    void ResetPacket();
    CTSAdaptation af_;
    int32_t room_ = 184;
    uint8_t cc_ = 15;  // the first packet with payload writes 0
};

class CPSITransport {
public:
    explicit CPSITransport(uint16_t pid) : hdr(pid) {}
    // The section split into 188-byte packets.
    std::vector<uint8_t> Packetize();

    std::vector<uint8_t> section;  // pointer_field first
    CTSPacketHdr hdr;
};

class CPAT : public SPL_TS::TSTablePAT, public CPSITransport {
public:
    CPAT() : CPSITransport(0) {}
    void Build(uint16_t transportStreamId);  // empties the entry list
};

class CPMT : public SPL_TS::TSTablePMT, public CPSITransport {
public:
    CPMT() : CPSITransport(0) {}
    void Build();  // empties the entry list
    std::vector<uint8_t> programInfo;
};

}  // namespace NS_TS
