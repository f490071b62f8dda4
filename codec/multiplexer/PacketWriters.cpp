#include "codec/multiplexer/PacketWriters.h"

#include "codec/common/MpegCodes.h"

#include "codec/common/Crc32Mpeg.h"

#include <algorithm>
#include <cstring>

namespace NS_PES {

uint64_t To90k(int64_t t, int64_t base) {
    const int64_t v = (t - base) * 9 / 1000 + base * 9 / 1000;
    return static_cast<uint64_t>(v) & ((uint64_t(1) << 33) - 1);
}

bool CPESPacketHdr::HasNoOptionalHeader(uint8_t id) {
    return id == MpegCommon::kStreamIdPsm || id == MpegCommon::kStreamIdPadding ||
           id == MpegCommon::kStreamIdPrivate2 || id == 0xF0 || id == 0xF1 || id == 0xF2 || id == 0xF8 ||
           id == MpegCommon::kStreamIdDirectory;
}

CPESPacketHdr::CPESPacketHdr(uint8_t streamId, int32_t fixedPacketSize, uint8_t subOrExtension)
    : fixedSize_(fixedPacketSize), sub_(subOrExtension) {
    stream_id = streamId;
    ext2_ = streamId == MpegCommon::kStreamIdExtended;
    Reset();
}

void CPESPacketHdr::Reset() {
    alignment_ = false;
    ptsFlags_ = 0;
    pts_ = dts_ = 0;
    pstd_ = false;
    stuffing_ = 0;
    payload_ = 0;
    extra_ = nullptr;
    extraLen_ = 0;
}

void CPESPacketHdr::SetPts(int64_t pts) {
    ptsFlags_ = 2;
    pts_ = pts;
}

void CPESPacketHdr::SetPtsDts(int64_t pts, int64_t dts) {
    ptsFlags_ = 3;
    pts_ = pts;
    dts_ = dts;
}

void CPESPacketHdr::SetPstd(int32_t bufferBytes) {
    pstd_ = true;
    // Audio stream ids count in 128-byte units, video and private ones in 1024.
    pstdScale_ = (stream_id >= MpegCommon::kStreamIdAudioFirst && stream_id <= MpegCommon::kStreamIdAudioLast) ? 0 : 1;
    const int32_t unit = pstdScale_ ? 1024 : 128;
    pstdSize_ = static_cast<unsigned>(std::min<int64_t>((bufferBytes + unit - 1) / unit, 0x1FFF));
}

int32_t CPESPacketHdr::OptionalBytes() const {
    int32_t n = 0;
    if (ptsFlags_ == 2)
        n += 5;
    else if (ptsFlags_ == 3)
        n += 10;
    if (pstd_ || ext2_) {
        n += 1;
        if (pstd_) n += 2;
        if (ext2_) n += 2;
    }
    return n;
}

int32_t CPESPacketHdr::HeaderDataLength() const {
    return OptionalBytes() + stuffing_;
}

int32_t CPESPacketHdr::HeaderSize() const {
    if (HasNoOptionalHeader(stream_id)) return 6 + extraLen_;
    int32_t n = 9 + HeaderDataLength();
    if (stream_id == MpegCommon::kStreamIdPrivate1 && sub_ != 0) n += 1;
    return n + extraLen_;
}

int32_t CPESPacketHdr::MaxPayload() const {
    if (fixedSize_ > 0) return fixedSize_ + 6 - HeaderSize();
    return 65541 - HeaderSize();
}

int32_t CPESPacketHdr::SetPayloadLength(int32_t n) {
    payload_ = std::max(0, std::min(n, MaxPayload()));
    return payload_;
}

int32_t CPESPacketHdr::Write(SPL::BitstreamWriter& w, int64_t base) const {
    const int32_t start = w.GetPosition();
    w.PutByte(0);
    w.PutByte(0);
    w.PutByte(1);
    w.PutByte(stream_id);
    const int32_t len = payload_ > 0 ? HeaderSize() + payload_ - 6 : 0;
    w.PutWord16(static_cast<uint16_t>(std::min(len, 0xFFFF)));
    if (HasNoOptionalHeader(stream_id)) {
        if (extraLen_ > 0) w.PutBytes(extra_, extraLen_);
        return w.GetPosition() - start;
    }
    w.PutBits(2, 2);                   // '10'
    w.PutBits(0, 2);                   // scrambling
    w.PutBits(0, 1);                   // priority
    w.PutBits(alignment_ ? 1 : 0, 1);  // data_alignment_indicator
    w.PutBits(0, 2);                   // copyright, original
    w.PutBits(ptsFlags_, 2);
    w.PutBits(0, 5);  // ESCR, ES rate, trick mode, copy info, CRC
    w.PutBits((pstd_ || ext2_) ? 1 : 0, 1);
    w.PutByte(static_cast<uint8_t>(HeaderDataLength()));
    auto putStamp = [&w](unsigned prefix, uint64_t v) {
        w.PutBits(prefix, 4);
        w.PutBits(v >> 30, 3);
        w.PutBits(1, 1);
        w.PutBits(v >> 15, 15);
        w.PutBits(1, 1);
        w.PutBits(v, 15);
        w.PutBits(1, 1);
    };
    if (ptsFlags_ == 2) {
        putStamp(2, To90k(pts_, base));
    } else if (ptsFlags_ == 3) {
        putStamp(3, To90k(pts_, base));
        putStamp(1, To90k(dts_, base));
    }
    if (pstd_ || ext2_) {
        w.PutBits(0, 3);  // private data, pack header, sequence counter
        w.PutBits(pstd_ ? 1 : 0, 1);
        w.PutBits(7, 3);
        w.PutBits(ext2_ ? 1 : 0, 1);
        if (pstd_) {
            w.PutBits(1, 2);
            w.PutBits(pstdScale_, 1);
            w.PutBits(pstdSize_, 13);
        }
        if (ext2_) {
            w.PutBits(1, 1);
            w.PutBits(1, 7);
            w.PutBits(0, 1);  // stream_id_extension_flag
            w.PutBits(sub_, 7);
        }
    }
    w.Fill(0xFF, stuffing_);
    if (stream_id == MpegCommon::kStreamIdPrivate1 && sub_ != 0) w.PutByte(sub_);
    if (extraLen_ > 0) w.PutBytes(extra_, extraLen_);
    return w.GetPosition() - start;
}

}  // namespace NS_PES

namespace NS_TS {

void CTSAdaptation::Reset() {
    present_ = false;
    adaptation_field_length = 0;
    flags = 0;
    pcrValue = 0;
    stuffing = 0;
}

int32_t CTSAdaptation::Put(uint8_t* out, int32_t room) const {
    if (!present_ || room <= 0) return 0;
    out[0] = adaptation_field_length;
    if (adaptation_field_length == 0 || room < 2) return 1;
    out[1] = flags;
    int32_t n = 2;
    if ((flags & PCR) && room >= n + 6) {
        // 33-bit base, six reserved ones, 9-bit extension.
        const uint64_t base = (pcrValue / 300) & ((uint64_t(1) << 33) - 1);
        const unsigned ext = static_cast<unsigned>(pcrValue % 300);
        out[2] = static_cast<uint8_t>(base >> 25);
        out[3] = static_cast<uint8_t>(base >> 17);
        out[4] = static_cast<uint8_t>(base >> 9);
        out[5] = static_cast<uint8_t>(base >> 1);
        out[6] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8));
        out[7] = static_cast<uint8_t>(ext);
        n += 6;
    }
    const int32_t fill = std::min(stuffing, room - n);
    if (fill > 0) {
        std::memset(out + n, 0xFF, static_cast<size_t>(fill));
        n += fill;
    }
    return n;
}

CTSPacketHdr::CTSPacketHdr(uint16_t pid) {
    SetPid(pid);
    ResetPacket();
}

void CTSPacketHdr::SetPid(uint16_t pid) {
    word12 = static_cast<uint16_t>((word12 & ~0x1FFF) | (pid & 0x1FFF));
}

void CTSPacketHdr::SetPayloadUnitStart(bool on) {
    word12 = static_cast<uint16_t>(on ? (word12 | 0x4000) : (word12 & ~0x4000));
}

void CTSPacketHdr::ResetPacket() {
    af_.Reset();
    room_ = 184;
    SetPayloadUnitStart(false);
    byte3 = 0x10;
}

void CTSPacketHdr::AddFlag(uint8_t flag) {
    if (!af_.present_) {
        af_.present_ = true;
        af_.adaptation_field_length = 1;
        room_ -= 2;
    } else if (af_.adaptation_field_length == 0) {
        af_.adaptation_field_length = 1;
        room_ -= 1;
    }
    af_.flags |= flag;
}

void CTSPacketHdr::AddPcr(uint64_t pcr) {
    AddFlag(0);
    if (!(af_.flags & CTSAdaptation::PCR)) {
        af_.flags |= CTSAdaptation::PCR;
        af_.adaptation_field_length += 6;
        room_ -= 6;
    }
    af_.pcrValue = pcr;
}

int32_t CTSPacketHdr::Reserve(int32_t n) {
    if (n < 0 || n > room_) return -1;
    room_ -= n;
    return n;
}

void CTSPacketHdr::StuffRest() {
    const int32_t r = room_;
    if (r <= 0) return;
    if (af_.present_) {
        if (af_.adaptation_field_length == 0) {
            // The flag byte comes first, then stuffing.
            af_.stuffing += r - 1;
            af_.adaptation_field_length = static_cast<uint8_t>(r);
        } else {
            af_.stuffing += r;
            af_.adaptation_field_length = static_cast<uint8_t>(af_.adaptation_field_length + r);
        }
    } else {
        af_.present_ = true;
        af_.adaptation_field_length = static_cast<uint8_t>(r - 1);
        af_.stuffing = r >= 2 ? r - 2 : 0;
    }
    room_ = 0;
}

int32_t CTSPacketHdr::Put(uint8_t* out) {
    // 10 (adaptation field only) when the field fills the packet.
    const unsigned afc = !af_.present_ ? 1 : (af_.adaptation_field_length >= 183 ? 2 : 3);
    out[0] = 0x47;
    out[1] = static_cast<uint8_t>(word12 >> 8);
    out[2] = static_cast<uint8_t>(word12);
    if (PID() == 0x1FFF) {
        out[3] = 0x11;
        ResetPacket();
        return 4;
    }
    if (afc != 2) cc_ = static_cast<uint8_t>((cc_ + 1) & 15);
    byte3 = static_cast<uint8_t>((afc << 4) | cc_);
    out[3] = byte3;
    const int32_t n = 4 + af_.Put(out + 4, kPacketBytes - 4);
    ResetPacket();
    return n;
}

int32_t CTSPacketHdr::Write(SPL::BitstreamWriter& w) {
    uint8_t b[kPacketBytes];
    const int32_t n = Put(b);
    w.PutBytes(b, n);
    return n;
}

std::vector<uint8_t> CPSITransport::Packetize() {
    std::vector<uint8_t> out;
    size_t at = 0;
    bool first = true;
    while (at < section.size()) {
        uint8_t pkt[188];
        SPL::BitstreamWriter w;
        w.Attach(pkt, 188);
        hdr.SetPayloadUnitStart(first);
        const size_t n = std::min<size_t>(184, section.size() - at);
        hdr.Reserve(static_cast<int32_t>(n));
        hdr.Write(w);
        w.PutBytes(section.data() + at, static_cast<int32_t>(n));
        w.Fill(0xFF, 188 - w.GetPosition());
        out.insert(out.end(), pkt, pkt + 188);
        at += n;
        first = false;
    }
    return out;
}

namespace {

void FinishSection(std::vector<uint8_t>& s) {
    // s[0] is the pointer_field; the CRC covers table_id up to the CRC.
    const uint32_t crc = MpegCommon::Crc32Mpeg2(s.data() + 1, s.size() - 1);
    s.push_back(static_cast<uint8_t>(crc >> 24));
    s.push_back(static_cast<uint8_t>(crc >> 16));
    s.push_back(static_cast<uint8_t>(crc >> 8));
    s.push_back(static_cast<uint8_t>(crc));
}

void Put16(std::vector<uint8_t>& s, uint32_t v) {
    s.push_back(static_cast<uint8_t>(v >> 8));
    s.push_back(static_cast<uint8_t>(v));
}

}  // namespace

void CPAT::Build(uint16_t transportStreamId) {
    section.clear();
    section.push_back(0);  // pointer_field
    section.push_back(0);  // table_id
    section_length = static_cast<uint16_t>(9 + 4 * PATEntries.size());
    Put16(section, 0xB000 | section_length);
    Put16(section, transportStreamId);
    section.push_back(0xC1);  // '11' version 0, current_next 1
    section.push_back(0);
    section.push_back(0);
    for (const auto& e : PATEntries) {
        Put16(section, e.program_number);
        Put16(section, 0xE000 | (e.PID & 0x1FFF));
    }
    FinishSection(section);
    PATEntries.clear();
}

void CPMT::Build() {
    section.clear();
    section.push_back(0);
    section.push_back(2);
    uint32_t len = 13 + static_cast<uint32_t>(programInfo.size());
    for (const auto& e : streams) len += 5 + static_cast<uint32_t>(e.info.size());
    section_length = static_cast<uint16_t>(len);
    Put16(section, 0xB000 | (len & 0x3FF));
    Put16(section, program_number);
    section.push_back(0xC1);
    section.push_back(0);
    section.push_back(0);
    Put16(section, 0xE000 | (PCR_PID & 0x1FFF));
    Put16(section, 0xF000 | static_cast<uint32_t>(programInfo.size()));
    section.insert(section.end(), programInfo.begin(), programInfo.end());
    for (const auto& e : streams) {
        section.push_back(static_cast<uint8_t>(e.stream_type));
        Put16(section, 0xE000 | (e.elementary_PID & 0x1FFF));
        Put16(section, 0xF000 | static_cast<uint32_t>(e.info.size()));
        section.insert(section.end(), e.info.begin(), e.info.end());
    }
    FinishSection(section);
    streams.clear();
}

}  // namespace NS_TS
