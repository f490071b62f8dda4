#include "codec/multiplexer/Mpeg4DescriptorGenerator.h"

#include "codec/scanning/StreamKinds.h"

#include <array>

namespace muxcore {

namespace mp4sys = MpegCommon::mp4sys;

namespace {

constexpr uint16_t kFirstAacOdId = 10;
constexpr uint16_t kFirstH264OdId = 20;
constexpr uint8_t kAudioPriority = 5;
constexpr uint8_t kVideoPriority = 4;
constexpr uint8_t kObjectTypeAac = 0x40;
constexpr uint8_t kObjectTypeH264 = 0x21;
constexpr uint8_t kStreamTypeVisual = 4;
constexpr uint8_t kStreamTypeAudio = 5;
constexpr uint32_t kClockRate = 90000;
constexpr uint8_t kStampBits = 33;
constexpr size_t kMinSpsBytes = 4;  // header, profile, constraints, level
constexpr size_t kMaxPmtDescriptorBytes = 2 + NS_DESCR::CDescriptorBase::kMaxBody;

mp4sys::EsDescriptor Es(uint16_t esId, uint8_t priority, uint8_t objectType, uint8_t streamType) {
    mp4sys::EsDescriptor es;
    es.esId = esId;
    es.streamPriority = priority;
    es.hasDecoderConfig = true;
    es.decoderConfig.objectTypeIndication = objectType;
    es.decoderConfig.streamType = streamType;
    es.slConfig = MPEG4DescriptorGenerator::DmbSlConfig();
    return es;
}

}  // namespace

CSLDesc::CSLDesc(uint16_t esId, int32_t pid)
    : CDescriptorBase(kTag, std::array<uint8_t, 2>{static_cast<uint8_t>(esId >> 8), static_cast<uint8_t>(esId)}.data(),
                      2),
      esId_(esId),
      pid_(pid) {}

SPL_MPEG4::SLConfig MPEG4DescriptorGenerator::DmbSlConfig() {
    SPL_MPEG4::SLConfig c;
    c.predefined = 0;
    c.useAccessUnitStartFlag = c.useAccessUnitEndFlag = 1;
    c.useTimeStampsFlag = c.useIdleFlag = 1;
    c.timeStampResolution = c.OCRResolution = kClockRate;
    c.timeStampLength = c.OCRLength = kStampBits;
    return c;
}

void MPEG4DescriptorGenerator::Clear() {
    iod_ = SPL_MPEG4::IodDescriptor();
    ods_.clear();
    sl_.clear();
}

uint16_t MPEG4DescriptorGenerator::NextOdId(uint16_t from) const {
    for (uint16_t id = from;; ++id) {
        bool taken = false;
        for (const auto& od : ods_) taken = taken || od.objectDescriptorId == id;
        if (!taken) return id;
    }
}

bool MPEG4DescriptorGenerator::Build(const std::vector<DmbInput>& inputs) {
    Clear();
    for (const DmbInput& in : inputs)
        if (in.streamType != kPinFree && in.streamType != kPinAac && in.streamType != kPinH264) return false;
    sl_.emplace_back(kObjectDescriptorStreamEsId, 0);
    sl_.emplace_back(kSceneStreamEsId, 0);
    uint16_t aacId = kFirstAacEsId, h264Id = kFirstH264EsId;
    bool haveAac = false;
    for (const DmbInput& in : inputs) {
        if (in.streamType != kPinAac) continue;
        mp4sys::EsDescriptor es = Es(aacId, kAudioPriority, kObjectTypeAac, kStreamTypeAudio);
        es.decoderConfig.specificInfo = in.audioConfig;
        SPL_MPEG4::ObjectDescriptor od;
        od.objectDescriptorId = NextOdId(kFirstAacOdId);
        od.es.push_back(es);
        ods_.push_back(od);
        iod_.es.push_back(es);
        sl_.emplace_back(aacId++, in.pid);
        haveAac = true;
    }
    for (const DmbInput& in : inputs) {
        if (in.streamType != kPinH264) continue;
        mp4sys::EsDescriptor es = Es(h264Id, kVideoPriority, kObjectTypeH264, kStreamTypeVisual);
        if (haveAac) {
            // The first audio stream's clock is the picture's reference.
            es.ocrStreamFlag = 1;
            es.ocrEsId = kFirstAacEsId;
        }
        // The IOD's copy goes without the AVC record: the PES carries the
        // byte stream (start codes, parameter sets in band), and a reader
        // given the record takes the samples for length-prefixed ones.
        iod_.es.push_back(es);
        if (!in.sps.empty() && in.sps.front().size() >= kMinSpsBytes) {
            mp4sys::AvcRecord rec;
            rec.profile = in.sps.front()[1];
            rec.compatibility = in.sps.front()[2];
            rec.level = in.sps.front()[3];
            rec.sps = in.sps;
            rec.pps = in.pps;
            es.decoderConfig.specificInfo = rec.Write();
        }
        SPL_MPEG4::ObjectDescriptor od;
        od.objectDescriptorId = NextOdId(kFirstH264OdId);
        od.es.push_back(es);
        ods_.push_back(od);
        sl_.emplace_back(h264Id++, in.pid);
    }
    return true;
}

std::vector<uint8_t> MPEG4DescriptorGenerator::ProgramInfo() const {
    std::vector<uint8_t> b = iod_.Bytes();
    if (b.size() <= kMaxPmtDescriptorBytes) return b;
    // Long parameter sets (or many streams) overflow the length byte: the
    // decoder-specific information goes first, as the elementary streams
    // carry it in band anyway; past that, no IOD at all.
    SPL_MPEG4::IodDescriptor lean = iod_;
    for (auto& es : lean.es) es.decoderConfig.specificInfo.clear();
    b = lean.Bytes();
    if (b.size() <= kMaxPmtDescriptorBytes) return b;
    return {};
}

const CSLDesc* MPEG4DescriptorGenerator::SlFor(int32_t pid) const {
    for (const CSLDesc& d : sl_)
        if (d.Pid() != 0 && d.Pid() == pid) return &d;
    return nullptr;
}

}  // namespace muxcore
