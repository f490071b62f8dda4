// Which PES stream_id an input may ask for ("Stream PES ID"): the ranges the
// program assigns from, by stream type and output.
#pragma once

#include "codec/common/MpegCodes.h"
#include "codec/multiplexer/MuxSettings.h"

#include <cstdint>

namespace muxcore {

constexpr int32_t kPesIdAuto = 0;  // the program chooses
constexpr int32_t kPesIdPrivate1 = MpegCommon::kStreamIdPrivate1;
constexpr int32_t kPesIdExtended = MpegCommon::kStreamIdExtended;
constexpr int32_t kPesIdVideoFirst = MpegCommon::kStreamIdVideoFirst;
constexpr int32_t kPesIdVideoLast = MpegCommon::kStreamIdVideoLast;
constexpr int32_t kPesIdAudioFirst = MpegCommon::kStreamIdAudioFirst;
constexpr int32_t kPesIdAudioLast = MpegCommon::kStreamIdAudioLast;

// Whether a requested stream_id suits the stream type; 0 always does. A free
// input (no type yet) may ask for any id: it is checked when it connects.
inline bool PesIdFitsType(int32_t type, int32_t output, int32_t id) {
    if (id == kPesIdAuto || type == kPinFree) return id >= 0 && id <= 0xFF;
    if (type == kPinVc1) return id == kPesIdExtended;
    if (IsVideoType(type)) return id >= kPesIdVideoFirst && id <= kPesIdVideoLast;
    if (type == kPinMpeg2Audio || type == kPinMpeg1Audio || type == kPinAac)
        return id >= kPesIdAudioFirst && id <= kPesIdAudioLast;
    if (type == kPinAc3) return id == kPesIdPrivate1 || (output != kProgramStream && id == kPesIdExtended);
    if (type == kPinPcm || type == kPinDvdSubtitles || type == kPinPrivateData) return id == kPesIdPrivate1;
    return id > 0 && id <= 0xFF;
}

// Whether two inputs of one program may not both carry the id: the video and
// audio ids name one stream each, private streams carry sub-streams.
inline bool PesIdIsExclusive(int32_t id) {
    return (id >= kPesIdVideoFirst && id <= kPesIdVideoLast) || (id >= kPesIdAudioFirst && id <= kPesIdAudioLast);
}

}  // namespace muxcore
