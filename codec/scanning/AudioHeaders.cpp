#include "codec/scanning/AudioHeaders.h"

#include "codec/common/MpegTables.h"
#include "codec/scanning/Bitstream.h"

namespace SPL_AES {

bool AESHdr::Parse(const uint8_t* bytes, uint32_t length) {
    valid_ = 0;
    truncated_ = 0;
    if (!bytes || length < 2) return false;
    if (length < 4) return (bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0) ? Truncated() : false;
    SPL::BitstreamReader r;
    r.Attach(bytes, static_cast<int32_t>(length));
    if (r.ReadBits(11) != 0x7FF) return false;
    const uint32_t v = r.ReadBits(2);
    const uint32_t l = r.ReadBits(2);
    if (v == 1 || l == 0) return false;
    version = v;
    layer = l;
    protection_bit = static_cast<uint8_t>(r.ReadBit());
    bitrate_index = r.ReadBits(4);
    sampling_frequency = r.ReadBits(2);
    padding_bit = static_cast<uint8_t>(r.ReadBit());
    private_bit = static_cast<uint8_t>(r.ReadBit());
    mode = r.ReadBits(2);
    mode_extension = r.ReadBits(2);
    copyright = static_cast<uint8_t>(r.ReadBit());
    original_copy = static_cast<uint8_t>(r.ReadBit());
    emphasis = r.ReadBits(2);
    if (r.Overrun()) return Truncated();
    if (sampling_frequency == 3) return false;

    sampleRate = MpegCommon::MpegAudioSampleRate(version, sampling_frequency);
    bitRate = MpegCommon::MpegAudioBitRate(version, layer, bitrate_index);
    if (bitRate == 0 || sampleRate == 0) return false;
    uint32_t len;
    if (layer == LAYER_I) {
        len = 12u * bitRate / sampleRate;
        if (len && padding_bit) ++len;
        len *= 4;
    } else {
        len = static_cast<uint32_t>(144ull * bitRate / sampleRate);
        if (layer == LAYER_III && version != MPEG1) len /= 2;
        if (len && padding_bit) ++len;
    }
    if (len == 0) return false;
    frameLength = len;
    if (layer == LAYER_I)
        frameDuration = 3840000000ll / sampleRate;
    else if (layer == LAYER_III && sampleRate <= 24000)
        frameDuration = 5760000000ll / sampleRate;
    else
        frameDuration = 11520000000ll / sampleRate;
    valid_ = 1;
    return true;
}

SPL::BaseEvent* AESParserConsumer::ParseHeader(int64_t position, const uint8_t* data, uint32_t length) {
    return hdr.Parse(data, length) ? SPL::FillEvent(ev_, hdr, position, data, length) : nullptr;
}

bool AESStream::OnEvent(SPL::BaseEvent* event, uint32_t* out) {
    if (auto* e = dynamic_cast<SPL::BaseEventParser<AESHdr>*>(event)) return OnFrameHeader(e, out);
    return false;
}

bool AESStream::OnFrameHeader(SPL::BaseEventParser<AESHdr>* ev, uint32_t* out) {
    SetState(AES_FRAME_HEADER, ev);
    if (out) *out = ev->GetHeader()->frameLength;
    return true;
}

}  // namespace SPL_AES

namespace SPL_AAC {

bool AACHdr::Parse(const uint8_t* bytes, uint32_t length) {
    valid_ = 0;
    truncated_ = 0;
    if (!bytes || length < 2) return false;
    if (length < 7) return (bytes[0] == 0xFF && (bytes[1] & 0xF0) == 0xF0) ? Truncated() : false;
    SPL::BitstreamReader r;
    r.Attach(bytes, static_cast<int32_t>(length));
    if (r.ReadBits(12) != 0xFFF) return false;
    ID = static_cast<uint8_t>(r.ReadBit());
    layer = r.ReadBits(2);
    protection_absent = static_cast<uint8_t>(r.ReadBit());
    profile = r.ReadBits(2);
    sampling_frequency_index = r.ReadBits(4);
    private_bit = static_cast<uint8_t>(r.ReadBit());
    channel_configuration = r.ReadBits(3);
    original_copy = static_cast<uint8_t>(r.ReadBit());
    home = static_cast<uint8_t>(r.ReadBit());
    copyright_identification_bit = static_cast<uint8_t>(r.ReadBit());
    copyright_identification_start = static_cast<uint8_t>(r.ReadBit());
    aac_frame_length = r.ReadBits(13);
    adts_buffer_fullness = r.ReadBits(11);
    number_of_raw_data_blocks_in_frame = r.ReadBits(2);
    if (r.Overrun()) return Truncated();
    if (aac_frame_length == 0 || sampling_frequency_index > 11) return false;
    sampleRate = MpegCommon::AdtsSampleRate(sampling_frequency_index);
    channels = channel_configuration < 7 ? channel_configuration : 2;
    frameDuration = static_cast<int64_t>(number_of_raw_data_blocks_in_frame + 1) * (10240000000ll / sampleRate);
    valid_ = 1;
    return true;
}

SPL::BaseEvent* AACParserConsumer::ParseHeader(int64_t position, const uint8_t* data, uint32_t length) {
    return hdr.Parse(data, length) ? SPL::FillEvent(ev_, hdr, position, data, length) : nullptr;
}

bool AACStream::OnEvent(SPL::BaseEvent* event, uint32_t* out) {
    if (auto* e = dynamic_cast<SPL::BaseEventParser<AACHdr>*>(event)) return OnAdtsHeader(e, out);
    return false;
}

bool AACStream::OnAdtsHeader(SPL::BaseEventParser<AACHdr>* ev, uint32_t* out) {
    SetState(AAC_ADTS_HEADER, ev);
    if (out) *out = ev->GetHeader()->aac_frame_length;
    return true;
}

}  // namespace SPL_AAC

namespace SPL_AC3 {

bool AC3Hdr::Parse(const uint8_t* bytes, uint32_t length) {
    valid_ = 0;
    truncated_ = 0;
    if (!bytes || length < 2 || bytes[0] != 0x0B || bytes[1] != 0x77) return false;
    if (length < 6) return Truncated();
    const uint32_t id = bytes[5] >> 3;
    if (id > 16) return false;
    SPL::BitstreamReader r;
    r.Attach(bytes + 2, static_cast<int32_t>(length - 2));
    uint32_t rate = 0;
    uint32_t len = 0;
    if (id <= 10) {
        crc1 = r.ReadBits(16);
        fscod = r.ReadBits(2);
        frmsizecod = r.ReadBits(6);
        r.SkipBits(5);  // bsid
        bsmod = r.ReadBits(3);
        acmod = r.ReadBits(3);
        if ((acmod & 1) && acmod != 1) cmixlev = r.ReadBits(2);
        if (acmod & 4) surmixlev = r.ReadBits(2);
        if (acmod == 2) dsurmod = r.ReadBits(2);
        lfeon = static_cast<uint8_t>(r.ReadBit());
        dialnorm = r.ReadBits(5);
        compre = static_cast<uint8_t>(r.ReadBit());
        if (compre) compr = r.ReadBits(8);
        langcode = static_cast<uint8_t>(r.ReadBit());
        if (langcode) langcod = r.ReadBits(8);
        if (r.Overrun()) return Truncated();
        if (frmsizecod > 37 || fscod == 3) return false;
        rate = MpegCommon::Ac3SampleRate(fscod);
        len = 2 * MpegCommon::Ac3FrameSizeWords(frmsizecod, fscod);
    } else {
        strmtyp = r.ReadBits(2);
        substreamid = r.ReadBits(3);
        frmsiz = r.ReadBits(11);
        fscod = r.ReadBits(2);
        if (fscod == 3)
            fscod2 = r.ReadBits(2);
        else
            numblkscod = r.ReadBits(2);
        acmod = r.ReadBits(3);
        lfeon = static_cast<uint8_t>(r.ReadBit());
        r.SkipBits(5);  // bsid
        dialnorm = r.ReadBits(5);
        compre = static_cast<uint8_t>(r.ReadBit());
        if (compre) compr = r.ReadBits(8);
        if (acmod == 0) {
            dialnorm2 = r.ReadBits(5);
            compr2e = static_cast<uint8_t>(r.ReadBit());
            if (compr2e) compr2 = r.ReadBits(8);
        }
        if (strmtyp == 1) {
            chanmape = static_cast<uint8_t>(r.ReadBit());
            if (chanmape) chanmap = r.ReadBits(16);
        }
        if (r.Overrun()) return Truncated();
        rate = fscod == 3 ? MpegCommon::Eac3ReducedSampleRate(fscod2) : MpegCommon::Ac3SampleRate(fscod);
        len = (frmsiz + 1) * 2;
    }
    bsid = id;
    if (rate == 0 || len == 0) return false;
    frameLength = static_cast<uint16_t>(len);
    sampleRate = static_cast<uint16_t>(rate);
    frameDuration = 15360000000ll / rate;
    bitRate = static_cast<uint32_t>(static_cast<uint64_t>(rate) * len * 8 / 1536);
    channels = static_cast<uint8_t>(lfeon + MpegCommon::Ac3Channels(acmod));
    valid_ = 1;
    return true;
}

SPL::BaseEvent* AC3ParserConsumer::ParseHeader(int64_t position, const uint8_t* data, uint32_t length) {
    return hdr.Parse(data, length) ? SPL::FillEvent(ev_, hdr, position, data, length) : nullptr;
}

bool AC3Stream::OnEvent(SPL::BaseEvent* event, uint32_t* out) {
    if (auto* e = dynamic_cast<SPL::BaseEventParser<AC3Hdr>*>(event)) return OnSyncFrame(e, out);
    return false;
}

bool AC3Stream::OnSyncFrame(SPL::BaseEventParser<AC3Hdr>* ev, uint32_t* out) {
    SetState(AC3_SYNC_FRAME, ev);
    if (out) *out = ev->GetHeader()->frameLength;
    return true;
}

}  // namespace SPL_AC3
