// Values of an MXF file's structure that stand on their own: package UMIDs,
// the P2 clip name, track numbers, body partition limits and the SMPTE 12M
// time code of a system item.
#pragma once

#include "mxf/mux/Klv.h"

#include <functional>
#include <optional>
#include <string>

namespace mexora::mxf {

// Makes package UMIDs. XDCAM UMIDs share one GUID made at the first XDCAM
// UMID of the process, its last two bytes a counter (low byte first) that
// grows with every XDCAM UMID of the process, whichever writer makes it; P2
// UMIDs take a new GUID each.
class UmidMaker {
public:
    explicit UmidMaker(std::function<Label()> newGuid) : newGuid_(std::move(newGuid)) {}
    Umid Make(int32_t profile);
    // Forgets the process's shared GUID and sets its counter; tests use it
    // to get fixed UMIDs.
    static void ResetShared(uint16_t counter = 0);

private:
    std::function<Label()> newGuid_;
};

// "%04d" of the file number and two base-36 characters from the UMID's
// material number, padded with '0'; nullopt for a file number outside 0-9999.
std::optional<std::string> P2ClipName(const Umid& umid, int32_t fileNumber);

// 0x15010500 MPEG-2 video; 0x16 nn 03 kk the kk-th of nn AES3 tracks
// (XDCAM); 0x18010201 DV and 0x16010401 AES3 (P2).
uint32_t TrackNumber(const char* kind, int32_t profile, int soundTracks = 1, int soundIndex = 0);

struct PartitionLimit {
    uint32_t editUnits;
    uint32_t gopAllowance;
};
PartitionLimit BodyPartitionLimit(Rational editRate);
// Whether a GOP starting now still fits the current body partition.
bool GopFitsPartition(uint32_t unitsInPartition, Rational editRate);

// The system item's time code element: 0x81 and four BCD bytes (frames,
// seconds, minutes, hours) of start + count.
std::array<uint8_t, 5> SystemTimecode(int64_t frameCount, Rational editRate, bool dropFrame);

}  // namespace mexora::mxf
