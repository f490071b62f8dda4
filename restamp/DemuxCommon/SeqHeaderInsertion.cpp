#include "restamp/DemuxCommon/SeqHeaderInsertion.h"

namespace {

constexpr uint32_t kPacketLengthOffset = 4;  // PES_packet_length in the packet header
constexpr uint32_t kPacketPrefix = 6;
constexpr uint32_t kMaxPacketLength = 0xFFFF;

}  // namespace

CDeliveryPlan PlanDelivery(uint64_t start, const uint8_t* chunk, uint32_t length, const CSSPositionWatcher& marks,
                           const CSeqHeaderProcessor* header) {
    CDeliveryPlan plan;
    plan.split = length;
    const uint64_t a = marks.gop, c = marks.packet, end = start + length;
    if (!header || !header->Length() || !a || !c || a < c) return plan;
    if (a < start || a >= end) return plan;
    if (c < a) {
        if (c < start || c + kPacketPrefix > end) return plan;
        const uint32_t at = uint32_t(c - start) + kPacketLengthOffset;
        const uint32_t old = (uint32_t(chunk[at]) << 8) | chunk[at + 1];
        const uint32_t grown = old + header->Length();
        // An unbounded packet (length 0) or one that would outgrow the field
        // cannot take the header: the chunk goes out as it is.
        if (!old || grown > kMaxPacketLength) return plan;
        plan.patchLength = true;
        plan.lengthOffset = at;
        plan.newLength = uint16_t(grown);
    }
    plan.insert = true;
    plan.split = uint32_t(a - start);
    return plan;
}

void ApplyPlan(const CDeliveryPlan& plan, uint8_t* chunk) {
    if (!plan.patchLength) return;
    chunk[plan.lengthOffset] = uint8_t(plan.newLength >> 8);
    chunk[plan.lengthOffset + 1] = uint8_t(plan.newLength);
}
