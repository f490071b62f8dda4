// How the bare-video elements report a run of their stream: the bytes up to
// the next picture go to the owner with the time made up for them. Without
// that next picture in hand all but the last few bytes go (a start code cut
// by the end of the data is found in the next block) and the element stays
// the parser's sink for the rest of the run.
#pragma once

#include <cstdint>

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/BSElements.h"

// next is the offset of the next picture's start, or len when none is in
// hand. Returns true when bytes were reported: their time is then spent.
bool ReportMadeUpTimeRun(AMainParserOwner* owner, const CStreamKey& key, int64_t time, const uint8_t* d, uint32_t len,
                         uint32_t next, BS::ParserControl* ctl, BS::AStreamElement* self);
