#include "restamp/DemuxCommon/TimeProcessor.h"

#include "restamp/DemuxCommon/CoreLog.h"
#include "restamp/DemuxCommon/MainParser.h"

#include <new>

namespace {

using chronel::kCoreLogCustom1;
using chronel::kCoreLogError;

#define LOG_SYNC(text) CORE_LOG(kCoreLogCustom1, 1, text)
#define LOG_FAILED(hr) CORE_LOG(kCoreLogError, 1, " FAILED hr = 0x%X", unsigned(hr))

// Wrapping arithmetic: the result of any pair of times is defined.
int64_t Sub(int64_t a, int64_t b) {
    return int64_t(uint64_t(a) - uint64_t(b));
}
uint64_t Distance(int64_t a, int64_t b) {
    return a > b ? uint64_t(a) - uint64_t(b) : uint64_t(b) - uint64_t(a);
}
bool Close(int64_t a, int64_t b) {
    return Distance(a, b) <= uint64_t(PTS_JUMP_THRESHOLD);
}

bool IsAudio(const CStreamKey& k) {
    return (k.streamId >= 0xC0 && k.streamId <= 0xDF) ||
           (k.streamId == 0xBD && k.subStreamId >= 0xA0 && k.subStreamId <= 0xBF);
}
bool IsVideo(const CStreamKey& k) {
    return k.streamId >= 0xE0 && k.streamId <= 0xEF;
}

}  // namespace

int64_t CTimeProcessorStream::Rebase(int64_t t) {
    jump = 0;
    if (!HasPrevious() || !Close(t, prevTime)) {
        jump = 1;
        offset = Sub(t, lastOutput);
    }
    const int64_t out = Sub(t, offset);
    prevTime = t;
    lastOutput = out;
    return out;
}

CTimeProcessorStream* CTimeProcessorProgram::Find(uint32_t id) const {
    for (auto& s : streams)
        if (s->streamId == id) return s.get();
    return nullptr;
}

bool CTimeProcessorProgram::AddStream(const CStreamKey& k, uint32_t id) {
    for (auto& s : streams)
        if (s->key == k) return true;
    std::unique_ptr<CTimeProcessorStream> s(new (std::nothrow) CTimeProcessorStream(k, id, this));
    if (!s) {
        LOG_FAILED(kHrOutOfMemory);
        return false;
    }
    streams.push_back(std::move(s));
    return true;
}

int64_t CTimeProcessorProgram::ProcessTime(const CStreamKey& k, int64_t t, uint32_t id) {
    CTimeProcessorStream* s = Find(id);
    if (!s) {
        if (!AddStream(k, id)) return kNoTime;
        s = Find(id);
        if (!s) return kNoTime;
    }
    const int64_t r = s->Rebase(t);
    s->key = k;
    Synchronize();
    return r;
}

void CTimeProcessorProgram::Synchronize() {
    bool any = false;
    int64_t rtMax = 0;
    for (auto& s : streams) {
        if (s->jump || s->lastOutput == 0) continue;
        if (!any || s->lastOutput > rtMax) rtMax = s->lastOutput;
        any = true;
    }
    if (!any) {
        LOG_SYNC("rtTemeMax == _I64_MAX");
        return;
    }
    // Passes: audio streams, video streams, any stream.
    auto pick = [&](int pass) -> CTimeProcessorStream* {
        for (auto& s : streams) {
            if (s->jump) continue;
            if (pass == 0 && !IsAudio(s->key)) continue;
            if (pass == 1 && !IsVideo(s->key)) continue;
            if (!s->HasPrevious()) {
                if (pass < 2) LOG_SYNC("pStream->m_rtPrevTS == _I64_MAX");
                continue;
            }
            if (Close(rtMax, s->lastOutput)) return s.get();
            LOG_SYNC("rtDelta > PTS_JUMP_THRESHOLD");
        }
        return nullptr;
    };
    CTimeProcessorStream* sync = pick(0);
    if (!sync) sync = pick(1);
    if (!sync) sync = pick(2);
    if (!sync) {
        LOG_SYNC("!pSynchroStream");
        return;
    }
    for (auto& s : streams) {
        if (s.get() == sync || s->key.number != sync->key.number || !s->HasPrevious()) continue;
        if (Close(s->prevTime, sync->prevTime))
            s->offset = sync->offset;
        else
            LOG_SYNC("rtDelta > PTS_JUMP_THRESHOLD");
    }
}

int64_t CTimeProcessor::ProcessTime(const CStreamKey& k, int64_t t, uint32_t id) {
    CTimeProcessorProgram* prog = nullptr;
    for (auto& p : programs_)
        if (p->Find(id)) {
            prog = p.get();
            break;
        }
    if (!prog) {
        for (auto& p : programs_)
            if (p->number == k.number) {
                prog = p.get();
                break;
            }
        if (!prog) {
            std::unique_ptr<CTimeProcessorProgram> p(new (std::nothrow) CTimeProcessorProgram(k.number));
            if (!p) {
                LOG_FAILED(kHrFail);
                return kNoTime;
            }
            prog = p.get();
            programs_.push_back(std::move(p));
        }
    }
    return prog->ProcessTime(k, t, id);
}
