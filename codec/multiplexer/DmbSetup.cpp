// The DMB set-up of a run: the MPEG-4 descriptor generator fed with the
// connected inputs, whose IOD and SL descriptors the PMT carries.
//
// The elementary streams still go out as ordinary PES packets (stream ids
// 0xE0 and 0xC0, stream types 0x1B and 0x0F): nothing is SL-packetised, and
// no object-descriptor or scene stream is written for ES_IDs 17 and 18. The
// descriptors describe the streams; a player that reads the PES ignores them.
#include "codec/multiplexer/Multiplexer.h"
#include "codec/scanning/scanners/H264MediaType.h"

#include <cstring>

namespace muxcore {

namespace {

constexpr uint8_t kNalTypeMask = 0x1F;
constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalPps = 8;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Start of the next 00 00 01 at or after `from` (n when none).
size_t NextStartCode(const uint8_t* p, size_t n, size_t from) {
    for (size_t i = from; i + 3 <= n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i;
    return n;
}

// The parameter sets of an H.264 input's format block (its sequence header
// holds them behind start codes).
void TakeParameterSets(const std::vector<uint8_t>& block, DmbInput& in) {
    if (block.size() < h264mt::kSequenceHeader) return;
    const size_t size = Le32(block.data() + h264mt::kSequenceHeaderSize);
    if (size > block.size() - h264mt::kSequenceHeader) return;
    const uint8_t* seq = block.data() + h264mt::kSequenceHeader;
    size_t at = NextStartCode(seq, size, 0);
    while (at < size) {
        const size_t begin = at + 3;
        at = NextStartCode(seq, size, begin);
        size_t end = at;
        while (end > begin && seq[end - 1] == 0) --end;  // the zero byte of a four-byte start code
        if (end == begin) continue;
        const std::vector<uint8_t> nal(seq + begin, seq + end);
        if ((nal[0] & kNalTypeMask) == kNalSps) in.sps.push_back(nal);
        if ((nal[0] & kNalTypeMask) == kNalPps) in.pps.push_back(nal);
    }
}

}  // namespace

std::vector<DmbInput> Multiplexer::DmbInputs() const {
    std::vector<DmbInput> list;
    for (const auto& in : inputs_) {
        if (!in->IsConnected()) continue;
        DmbInput d;
        d.streamType = in->RunSettings().streamType;
        d.pid = in->Pid();
        if (d.streamType == kPinAac && in->RunSettings().hasAacConfig)
            d.audioConfig.assign(in->RunSettings().aacConfig, in->RunSettings().aacConfig + 2);
        if (d.streamType == kPinH264) TakeParameterSets(in->InternalMediaType(), d);
        list.push_back(std::move(d));
    }
    return list;
}

void Multiplexer::SetUpDmb() {
    dmb_.Clear();
    dmbOn_ = false;
    if (settings_.dmbCompatibility != 1) return;
    dmbOn_ = dmb_.Build(DmbInputs());
    if (dmbOn_) return;
    // An input DMB does not carry (or the PCR-only input of a user-defined
    // PCR PID) drops the MPEG-4 systems information for the whole run.
    for (const auto& in : inputs_) {
        const int32_t t = in->RunSettings().streamType;
        if (in->IsConnected() && t != kPinH264 && t != kPinAac) {
            lastError_ = "DMB set-up dropped: input \"" + in->RunSettings().name + "\" has stream type " +
                         std::to_string(t) + ", not H.264 or AAC";
            break;
        }
    }
}

void Multiplexer::RefreshDmb() {
    if (dmbOn_) dmbOn_ = dmb_.Build(DmbInputs());
}

}  // namespace muxcore
