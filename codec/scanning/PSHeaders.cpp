#include "codec/scanning/PSHeaders.h"

#include "codec/common/MpegCodes.h"

#include "codec/common/TimeStamps.h"
#include "codec/scanning/Bitstream.h"

#include <cstring>

namespace SPL_PS {

namespace {

bool HasPrefix(const uint8_t* b, uint32_t length) {
    return b && length >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1;
}

}  // namespace

// ---------------------------------------------------------------- PES header

bool PSPesPacket::Parse(const uint8_t* bytes, uint32_t length, bool strict) {
    Clear();
    if (!HasPrefix(bytes, length) || bytes[3] < MpegCommon::kStreamIdPsm || bytes[3] == MpegCommon::kStreamIdDirectory)
        return false;
    if (length < 6) return Truncated();
    stream_id = bytes[3];
    PES_packet_length = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    // Padding and private_stream_2 carry no flag bytes.
    const bool plain = stream_id == MpegCommon::kStreamIdPadding || stream_id == MpegCommon::kStreamIdPrivate2;
    flags1 = !plain && length > 6 ? bytes[6] : 0;
    flags2 = !plain && length > 7 ? bytes[7] : 0;
    PES_header_data_length = !plain && length > 8 ? bytes[8] : 0;
    sub_stream_id = 0;

    if (stream_id == MpegCommon::kStreamIdPrivate2) {
        if (length > 6) sub_stream_id = bytes[6];
        valid_ = 1;
        return true;
    }
    if (stream_id == MpegCommon::kStreamIdPadding) {
        valid_ = 1;
        return true;
    }
    if (length < 9) return Truncated();
    if (strict && (flags1 & 0xC0) != 0x80) return false;
    const uint32_t hl = HeaderLength();
    if (stream_id == MpegCommon::kStreamIdPrivate1 && hl < length) sub_stream_id = bytes[hl];
    const unsigned f = PtsDtsFlags();
    if (f >= 2) {
        if (length < 14) return Truncated();
        std::memcpy(pts_bytes, bytes + 9, 5);
    }
    if (f == 3) {
        if (length < 19) return Truncated();
        std::memcpy(dts_bytes, bytes + 14, 5);
    }
    valid_ = 1;
    return true;
}

uint32_t PSPesPacket::HeaderLength() const {
    return (stream_id == MpegCommon::kStreamIdPadding || stream_id == MpegCommon::kStreamIdPrivate2)
               ? 6u
               : 9u + PES_header_data_length;
}

uint32_t PSPesPacket::PacketSize() const {
    return PES_packet_length ? PES_packet_length + 6u : 0u;
}

uint64_t PSPesPacket::PTS() const {
    return MpegCommon::DecodeTimeStamp(pts_bytes);
}

uint64_t PSPesPacket::DTS() const {
    return MpegCommon::DecodeTimeStamp(dts_bytes);
}

// ---------------------------------------------------------------- pack header

bool PSPackHeader::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasPrefix(bytes, length) || bytes[3] != MpegCommon::kPackStartCode || length < 5 || bytes[4] < 0x40 ||
        bytes[4] > 0x7F)
        return false;
    SPL::BitstreamReader r;
    r.Attach(bytes + 4, static_cast<int32_t>(length - 4));
    r.SkipBits(2);
    uint64_t scr = static_cast<uint64_t>(r.ReadBits(3)) << 30;
    bool markers = r.ReadBit() != 0;
    scr |= static_cast<uint64_t>(r.ReadBits(15)) << 15;
    markers = r.ReadBit() && markers;
    scr |= r.ReadBits(15);
    r.SkipBits(1);  // not tested
    const uint32_t ext = r.ReadBits(9);
    markers = r.ReadBit() && markers;
    const uint32_t mux = r.ReadBits(22);
    markers = r.ReadBit() && markers;
    markers = r.ReadBit() && markers;
    if (r.Overrun()) return Truncated();
    if (!markers) return false;
    system_clock_reference_base = scr;
    system_clock_reference_extension = ext;
    program_mux_rate = mux;
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- system header

bool PSHdrSysPack::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasPrefix(bytes, length) || length < 12 || bytes[3] != MpegCommon::kSystemHeaderCode) return false;
    const uint32_t hlen = static_cast<uint32_t>(bytes[4] << 8 | bytes[5]);
    if (hlen + 6 > length) return false;
    SPL::BitstreamReader r;
    r.Attach(bytes + 6, static_cast<int32_t>(hlen));
    bool markers = r.ReadBit() != 0;
    const uint32_t rb = r.ReadBits(22);
    markers = r.ReadBit() && markers;
    audio_bound = r.ReadBits(6);
    fixed_flag = static_cast<uint8_t>(r.ReadBit());
    CSPS_flag = static_cast<uint8_t>(r.ReadBit());
    system_audio_lock_flag = static_cast<uint8_t>(r.ReadBit());
    system_video_lock_flag = static_cast<uint8_t>(r.ReadBit());
    markers = r.ReadBit() && markers;
    video_bound = r.ReadBits(5);
    packet_rate_restriction_flag = static_cast<uint8_t>(r.ReadBit());
    r.SkipBits(7);
    if (r.Overrun() || !markers) return false;
    stream_count = 0;
    while (r.BitsLeft() >= 24 && r.PeekBits(1) == 1) {
        const uint32_t id = r.ReadBits(8);
        if (r.ReadBits(2) != 3) return false;
        r.SkipBits(14);  // P-STD_buffer_bound_scale and size bound
        if (stream_count < kMaxStreams) stream_ids[stream_count++] = static_cast<uint16_t>(id);
    }
    header_length = static_cast<uint16_t>(hlen);
    rate_bound = rb;
    rate = rb * 400u;
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- stream map

void PSMap::Clear() {
    SPL::BaseHeaderSimple::Clear();
    entries.clear();
}

bool PSMap::Parse(const uint8_t* bytes, uint32_t length) {
    Clear();
    if (!HasPrefix(bytes, length) || bytes[3] != MpegCommon::kStreamIdPsm || length < 12) return false;
    const uint32_t mapLength = static_cast<uint32_t>(bytes[4] << 8 | bytes[5]);
    if (mapLength > kInfoCapacity) return false;
    if ((bytes[7] & 1) == 0) return false;
    const uint32_t infoLength = static_cast<uint32_t>(bytes[8] << 8 | bytes[9]);
    if (infoLength + 16 > length) return false;
    program_stream_map_length = static_cast<uint16_t>(mapLength);
    current_next_indicator = static_cast<uint8_t>(bytes[6] >> 7);
    program_stream_map_version = static_cast<uint8_t>(bytes[6] & 0x1F);
    program_stream_info_length = static_cast<uint16_t>(infoLength);
    info_bytes_kept = static_cast<uint16_t>(infoLength < kInfoCapacity ? infoLength : kInfoCapacity);
    std::memcpy(info, bytes + 10, info_bytes_kept);

    const uint32_t esmBase = 12 + infoLength;
    const uint32_t esmLength = static_cast<uint32_t>(bytes[10 + infoLength] << 8 | bytes[11 + infoLength]);
    elementary_stream_map_length = static_cast<uint16_t>(esmLength);
    try {
        uint32_t read = 0;
        // An entry needs at least 4 bytes; a final entry without info counts.
        while (esmLength >= 4 && esmLength - read >= 4) {
            const uint32_t at = esmBase + read;
            if (at + 4 > length) return false;
            PSMapEntry e;
            e.stream_type = bytes[at];
            e.elementary_stream_id = bytes[at + 1];
            e.elementary_stream_info_length = static_cast<uint16_t>(bytes[at + 2] << 8 | bytes[at + 3]);
            const uint32_t need = 4u + e.elementary_stream_info_length;
            if (read + need > esmLength || at + need > length) {
                entries.clear();
                return false;
            }
            e.info.assign(bytes + at + 4, bytes + at + need);
            entries.push_back(std::move(e));
            read += need;
        }
    } catch (...) {
        entries.clear();
        return false;
    }
    valid_ = 1;
    return true;
}

// ---------------------------------------------------------------- consumer

SPL::BaseEvent* PSProgramStreamParserConsumer::ParseHeader(int64_t position, const uint8_t* data, uint32_t length) {
    using SPL::FillEvent;
    if (pack.Parse(data, length)) return FillEvent(evPack_, pack, position, data, length);
    if (pes.Parse(data, length, true)) return FillEvent(evPes_, pes, position, data, length);
    if (system.Parse(data, length)) return FillEvent(evSystem_, system, position, data, length);
    if (map.Parse(data, length)) return FillEvent(evMap_, map, position, data, length);
    return nullptr;
}

// ---------------------------------------------------------------- PES stream

int32_t FindPesOrPackStart(const uint8_t* data, uint32_t length) {
    if (!data) return -1;
    for (uint32_t k = 0; k + 4 <= length; ++k) {
        const uint8_t* q = data + k;
        if (q[0] != 0 || q[1] != 0 || q[2] != 1) continue;
        if (q[3] >= MpegCommon::kStreamIdPsm && q[3] != MpegCommon::kStreamIdDirectory) return static_cast<int32_t>(k);
        if (q[3] == MpegCommon::kPackStartCode && k + 5 <= length && q[4] >= 0x40 && q[4] <= 0x7F)
            return static_cast<int32_t>(k);
    }
    return -1;
}

bool PSPESStream::OnEvent(SPL::BaseEvent* event, uint32_t* out) {
    if (auto* e = dynamic_cast<SPL::BaseEventParser<PSPesPacket>*>(event)) {
        SPL::PayloadResult result;
        const bool ok = OnPesPacket(e, &result);
        if (out) *out = result.part;
        return ok;
    }
    if (out) *out = 0;
    return true;
}

bool PSPESStream::OnPesPacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result) {
    MeasurePacket(ev, result);
    EmitPacket(ev, result);
    return true;
}

bool PSPESStream::MeasurePacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result) {
    const PSPesPacket* h = ev->GetHeader();
    const uint32_t L = ev->GetLength();
    const uint32_t S = h->PacketSize();
    uint32_t part;
    int32_t toCome;
    bool foundNext = false;
    if (key_.Flag()) {
        part = (S >= 1 && S <= L) ? S : L;
    } else if (S != 0) {
        part = S < L ? S : L;
    } else {
        const int32_t k = L > 1 ? FindPesOrPackStart(ev->GetData() + 1, L - 1) : -1;
        if (k >= 0) {
            part = static_cast<uint32_t>(k) + 1;
            foundNext = true;
        } else {
            part = L > 3 ? L - 3 : 0;
        }
    }
    if (S == 0)
        toCome = foundNext ? 0 : -1;
    else
        toCome = S > part ? static_cast<int32_t>(S - part) : 0;
    stillToCome_ = toCome;
    nextPosition_ = ev->GetPosition() + part;
    result->part = part;
    result->stillToCome = toCome;
    result->consumer = this;
    return true;
}

bool PSPESStream::EmitPacket(SPL::BaseEventParser<PSPesPacket>* ev, SPL::PayloadResult* result) {
    SetState(PES_HEADER, ev);
    const uint32_t hl = ev->GetHeader()->HeaderLength();
    const uint32_t part = result->part;
    const uint32_t skip = hl < ev->GetLength() ? hl : ev->GetLength();
    payload_.Set(ev->GetPosition() + hl, ev->GetData() + skip, part > hl ? part - hl : 0, ev->GetFlag());
    SetState(PES_PAYLOAD, &payload_);
    return true;
}

bool PSPESStream::OnData(int64_t position, const uint8_t* data, uint32_t length, SPL::PayloadResult* result,
                         uint8_t flag) {
    if (!data) return false;
    if (nextPosition_ > position) {
        const int64_t overlap = nextPosition_ - position;
        if (overlap >= length) return false;
        data += overlap;
        length -= static_cast<uint32_t>(overlap);
        position = nextPosition_;
    }
    uint32_t piece;
    if (stillToCome_ >= 0) {
        piece = length < static_cast<uint32_t>(stillToCome_) ? length : static_cast<uint32_t>(stillToCome_);
        stillToCome_ -= static_cast<int32_t>(piece);
    } else if (key_.Flag()) {
        piece = length;
    } else {
        const int32_t k = FindPesOrPackStart(data, length);
        if (k >= 0) {
            piece = static_cast<uint32_t>(k);
            stillToCome_ = 0;
        } else {
            piece = length;
        }
    }
    nextPosition_ = position + piece;
    if (result) {
        result->part = piece;
        result->stillToCome = stillToCome_;
        result->consumer = this;
    }
    payload_.Set(position, data, piece, flag);
    SetState(PES_PAYLOAD, &payload_);
    return true;
}

}  // namespace SPL_PS
