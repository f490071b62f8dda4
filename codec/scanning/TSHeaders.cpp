#include "codec/scanning/TSHeaders.h"

#include "codec/common/Crc32Mpeg.h"
#include "codec/scanning/Bitstream.h"

#include <cstring>
#include <new>

namespace SPL_TS {

// ---------------------------------------------------------------- adaptation

bool TSAdaptationField::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!bytes || length < 1) return false;
    adaptation_field_length = bytes[0];
    flags = length > 1 ? bytes[1] : 0;
    if (adaptation_field_length == 0) {
        flags = static_cast<uint8_t>(flags & ~(PCR_FLAG | OPCR_FLAG));
        valid_ = 1;
        return true;
    }
    if (adaptation_field_length > 183) return false;
    // Only the field's own bytes are read.
    const uint32_t avail = length - 1 < adaptation_field_length ? length - 1 : adaptation_field_length;
    SPL::BitstreamReader r;
    r.Attach(bytes + 1, static_cast<int32_t>(avail));
    r.SkipBits(8);  // flags
    if (flags & PCR_FLAG) {
        r.SkipBits(1);
        const uint64_t base = r.ReadBits(32);
        r.SkipBits(6);
        const uint32_t ext = r.ReadBits(9);
        pcr = base * 300 + ext;
    }
    if (flags & OPCR_FLAG) {
        r.SkipBits(1);
        opcrBase = r.ReadBits(32);
        r.SkipBits(6 + 9);
    }
    if (r.Overrun()) return Truncated();
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- packet header

void TSPacketHdr::Clear() {
    ReleaseAdaptation();
    SPL::BaseHeaderSimple::Clear();
}

void TSPacketHdr::ReleaseAdaptation() {
    adaptation_.reset();
}

bool TSPacketHdr::Parse(const uint8_t* packet, uint32_t length) {
    Clear();
    if (!packet || length < 4 || packet[0] != 0x47) return false;
    word12 = static_cast<uint16_t>(packet[1] << 8 | packet[2]);
    byte3 = packet[3];
    const unsigned afc = AdaptationFieldControl();
    if (afc == 2 || afc == 3) {
        TSAdaptationField field;
        if (length < 5 || !field.Parse(packet + 4, length - 4)) return false;
        adaptation_.reset(new (std::nothrow) TSAdaptationField(field));
        if (!adaptation_) return false;
    }
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- sections

bool TSTable::ParseHeader(const uint8_t* section, uint32_t length) {
    if (!section || length < 8) return false;
    SPL::BitstreamReader r;
    r.Attach(section, 8);
    table_id = static_cast<uint8_t>(r.ReadBits(8));
    section_syntax_indicator = static_cast<uint8_t>(r.ReadBit());
    private_indicator = static_cast<uint8_t>(r.ReadBit());
    r.SkipBits(2);
    section_length = static_cast<uint16_t>(r.ReadBits(12));
    table_id_extension = static_cast<uint16_t>(r.ReadBits(16));
    r.SkipBits(2);
    version_number = static_cast<uint8_t>(r.ReadBits(5));
    current_next_indicator = static_cast<uint8_t>(r.ReadBit());
    section_number = static_cast<uint8_t>(r.ReadBits(8));
    last_section_number = static_cast<uint8_t>(r.ReadBits(8));
    return !r.Overrun();
}

bool TSTable::Parse(const uint8_t* section, uint32_t length) {
    Clear();
    if (!ParseHeader(section, length)) return false;
    valid_ = 1;
    return true;
}

bool TSTable::ReserveBuffer(uint32_t n) {
    if (buffer_.size() >= n && !buffer_.empty()) return true;
    try {
        std::vector<uint8_t>(n ? n : 1).swap(buffer_);
    } catch (...) {
        std::vector<uint8_t>().swap(buffer_);
        filled_ = total_ = 0;
        return false;
    }
    filled_ = 0;
    total_ = 0;
    return true;
}

bool TSTable::Assemble(const uint8_t* bytes, uint32_t& n, bool unitStart) {
    if (!bytes) return false;
    if (unitStart) {
        // A section may start so near the end of a packet that its header
        // is split: three bytes give its size, the rest of the header is
        // read once eight bytes are in.
        if (n < 3 || bytes[0] == 0xFF)  // 0xFF: stuffing, no section
            return false;
        const uint32_t length = static_cast<uint32_t>((bytes[1] & 0x0F) << 8 | bytes[2]);
        if (!ReserveBuffer(length + 7u)) return false;
        total_ = length + 3u;
        const uint32_t take = n < total_ ? n : total_;
        std::memcpy(buffer_.data(), bytes, take);
        filled_ = take;
        n = take;
        if (filled_ >= 8)
            ParseHeader(buffer_.data(), filled_);
        else
            section_length = static_cast<uint16_t>(length);
        return true;
    }
    if (buffer_.empty() || filled_ == 0 || filled_ > total_) return false;
    const uint32_t before = filled_;
    const uint32_t room = total_ - filled_;
    const uint32_t take = n < room ? n : room;
    std::memcpy(buffer_.data() + filled_, bytes, take);
    filled_ += take;
    n = take;
    if (before < 8 && filled_ >= 8) ParseHeader(buffer_.data(), filled_);
    return true;
}

// ---------------------------------------------------------------- PAT

void TSTablePAT::Clear() {
    TSTable::Clear();
    PATEntries.clear();
}

bool TSTablePAT::Parse(const uint8_t* section, uint32_t length) {
    Clear();
    if (!ParseHeader(section, length) || table_id != 0) return false;
    const uint32_t total = section_length + 3u;
    // The CRC runs only over bytes that exist.
    if (section_length < 8 || total > length) return false;
    const uint32_t count = (section_length - 8u) / 4u;
    if (count == 0) return false;
    if (MpegCommon::Crc32Mpeg2(section, total) != 0) return false;
    try {
        SPL::BitstreamReader r;
        r.Attach(section + 8, static_cast<int32_t>(total - 8));
        for (uint32_t i = 0; i < count; ++i) {
            PATEntry e;
            e.program_number = static_cast<uint16_t>(r.ReadBits(16));
            r.SkipBits(3);
            e.PID = static_cast<uint16_t>(r.ReadBits(13));
            if (r.Overrun()) {
                PATEntries.clear();
                return false;
            }
            PATEntries.push_back(e);
        }
    } catch (...) {
        PATEntries.clear();
        return false;
    }
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- PMT

void TSTablePMT::Clear() {
    TSTable::Clear();
    streams.clear();
    program_info_length = 0;
}

bool TSTablePMT::Parse(const uint8_t* section, uint32_t length) {
    Clear();
    if (!ParseHeader(section, length) || table_id != 2 || length < 12) return false;
    program_number = table_id_extension;
    PCR_PID = static_cast<uint16_t>((section[8] & 0x1F) << 8 | section[9]);
    const uint32_t infoLength = static_cast<uint32_t>((section[10] & 0x0F) << 8 | section[11]);
    // Lengths are checked before anything is copied.
    int64_t available = static_cast<int64_t>(length) - infoLength - 12;
    if (available < 0 || infoLength > kInfoCapacity) return false;
    program_info_length = static_cast<uint16_t>(infoLength);
    std::memcpy(program_info, section + 12, infoLength);

    int64_t remaining = static_cast<int64_t>(section_length) - infoLength - 12;
    uint32_t at = 12 + infoLength;
    try {
        while (remaining > 4) {
            if (available < 5) {
                streams.clear();
                return false;
            }
            PMTStreamEntry e;
            e.stream_type = section[at];
            e.elementary_PID = static_cast<uint16_t>((section[at + 1] & 0x1F) << 8 | section[at + 2]);
            e.ES_info_length = static_cast<uint16_t>((section[at + 3] & 0x0F) << 8 | section[at + 4]);
            if (e.ES_info_length > kInfoCapacity || available - 5 < e.ES_info_length) {
                streams.clear();
                return false;
            }
            e.info.assign(section + at + 5, section + at + 5 + e.ES_info_length);
            streams.push_back(std::move(e));
            available -= 5 + static_cast<int64_t>(streams.back().ES_info_length);
            remaining -= 5 + static_cast<int64_t>(streams.back().ES_info_length);
            at += 5u + streams.back().ES_info_length;
        }
    } catch (...) {
        streams.clear();
        return false;
    }
    valid_ = 1;
    return true;
}

}  // namespace SPL_TS
