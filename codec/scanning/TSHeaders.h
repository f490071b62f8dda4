// MPEG-2 transport layer (ISO/IEC 13818-1 2.4.3.2, 2.4.3.4, 2.4.4): packet
// header, adaptation field, long-form PSI section header with assembly over
// packets, and the PAT and PMT.
#pragma once

#include "codec/scanning/ParserFramework.h"

#include <memory>
#include <vector>

namespace SPL_TS {

class TSAdaptationField : public SPL::BaseHeaderSimple {
public:
    enum { PCR_FLAG = 0x10, OPCR_FLAG = 0x08 };
    // bytes start at adaptation_field_length.
    bool Parse(const uint8_t* bytes, uint32_t length);

    uint8_t adaptation_field_length = 0;
    uint8_t flags = 0;
    uint32_t opcrBase = 0;  // low 32 bits of the OPCR base
    uint64_t pcr = 0;       // low 32 bits of the base x 300 + extension (27 MHz)
};

class TSPacketHdr : public SPL::BaseHeaderSimple {
public:
    TSPacketHdr() = default;
    TSPacketHdr(const TSPacketHdr&) = delete;
    TSPacketHdr& operator=(const TSPacketHdr&) = delete;

    void Clear() override;
    void ReleaseAdaptation();
    bool Parse(const uint8_t* packet, uint32_t length);

    unsigned TransportError() const { return (word12 >> 15) & 1; }
    unsigned PayloadUnitStart() const { return (word12 >> 14) & 1; }
    unsigned TransportPriority() const { return (word12 >> 13) & 1; }
    unsigned PID() const { return word12 & 0x1FFF; }
    unsigned ScramblingControl() const { return (byte3 >> 6) & 3; }
    unsigned AdaptationFieldControl() const { return (byte3 >> 4) & 3; }
    unsigned ContinuityCounter() const { return byte3 & 0x0F; }
    const TSAdaptationField* Adaptation() const { return adaptation_.get(); }

    uint16_t word12 = 0;  // bytes 1 and 2
    uint8_t byte3 = 0;
    uint32_t packetSize = 188;

protected:
    std::unique_ptr<TSAdaptationField> adaptation_;
};

class TSTable : public SPL::BaseHeaderSimple {
public:
    TSTable() = default;
    TSTable(const TSTable&) = delete;
    TSTable& operator=(const TSTable&) = delete;

    // Section assembly over packets. bytes start at table_id (the caller
    // skips the pointer_field) when unitStart is set; n is in: bytes given,
    // out: bytes taken.
    virtual bool Assemble(const uint8_t* bytes, uint32_t& n, bool unitStart);
    // Reads the section header fields; needs 8 bytes.
    virtual bool Parse(const uint8_t* section, uint32_t length);
    bool ReserveBuffer(uint32_t n);

    bool IsComplete() const { return total_ > 0 && filled_ == total_; }
    const uint8_t* Section() const { return buffer_.empty() ? nullptr : buffer_.data(); }
    uint32_t SectionSize() const { return total_; }
    uint32_t Filled() const { return filled_; }

    uint8_t table_id = 0;
    uint8_t section_syntax_indicator = 0;
    uint8_t private_indicator = 0;
    uint16_t section_length = 0;
    uint16_t table_id_extension = 0;
    uint8_t version_number = 0;
    uint8_t current_next_indicator = 0;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;

protected:
    bool ParseHeader(const uint8_t* section, uint32_t length);

    std::vector<uint8_t> buffer_;
    uint32_t filled_ = 0;
    uint32_t total_ = 0;
};

struct PATEntry {
    uint16_t program_number = 0;
    uint16_t PID = 0;
};

class TSTablePAT : public TSTable {
public:
    void Clear() override;
    // The whole section from table_id; refused without entries or when its
    // CRC does not check.
    bool Parse(const uint8_t* section, uint32_t length) override;

    std::vector<PATEntry> PATEntries;
};

struct PMTStreamEntry {
    uint16_t stream_type = 0;
    uint16_t elementary_PID = 0;
    uint16_t ES_info_length = 0;
    std::vector<uint8_t> info;
    void Reset() {
        ES_info_length = 0;
        std::vector<uint8_t>().swap(info);
    }
};

class TSTablePMT : public TSTable {
public:
    static constexpr uint32_t kInfoCapacity = 4096;
    void Clear() override;
    // The whole section from table_id. The CRC is not checked.
    bool Parse(const uint8_t* section, uint32_t length) override;

    uint16_t program_number = 0;
    uint16_t PCR_PID = 0;
    uint16_t program_info_length = 0;
    uint8_t program_info[kInfoCapacity] = {};
    std::vector<PMTStreamEntry> streams;
};

}  // namespace SPL_TS
