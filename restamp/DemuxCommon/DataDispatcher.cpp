#include "restamp/DemuxCommon/DataDispatcher.h"

#include "restamp/DemuxCommon/CoreLog.h"
#include "restamp/parsers/M2PS.h"
#include "restamp/parsers/MAudio.h"

namespace {

// Frame time in 100-ns units: bytes x 8 x 10^7 / (bits per second).
uint64_t FrameTime(uint64_t frameBytes, uint64_t bitsPerSecond) {
    return bitsPerSecond ? frameBytes * 80000000ull / bitsPerSecond : 0;
}

}  // namespace

// Observes one frame stream and stamps each frame with the running sum of
// the frame times before it.
template <class Hdr>
class CFrameTimeCallback : public CDataDispatcher::CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        const BS::CBaseState* st = e->GetState();
        if (!st->data) return;
        const auto* ev = static_cast<const BS::CBaseEvent*>(st->data);
        if (st->code == 1) {
            const auto* fe = BS::EventAs<Hdr>(*ev);
            if (!fe) return;
            started = true;
            const uint32_t frameLen = FrameLengthOf(*fe->header);
            dispatcher->OnPayload(fe->data, fe->length < frameLen ? fe->length : frameLen, int64_t(runningTime),
                                  CStreamKey());
            runningTime += FrameTime(frameLen, BitsPerSecond(*fe->header));
        } else if (st->code == 2 && started && ev->length) {
            dispatcher->OnPayload(ev->data, ev->length, int64_t(runningTime), CStreamKey());
        }
    }

private:
    static uint64_t BitsPerSecond(const MAudio::CFrameHdr& h) { return h.bitrate; }
    static uint64_t BitsPerSecond(const AC3::CSyncFrame& h) { return uint64_t(h.bitrate) * 1000; }
};

class CDataDispatcher::CAESCallback : public CFrameTimeCallback<MAudio::CFrameHdr> {
    using CFrameTimeCallback::CFrameTimeCallback;
};
class CDataDispatcher::CAC3SCallback : public CFrameTimeCallback<AC3::CSyncFrame> {
    using CFrameTimeCallback::CFrameTimeCallback;
};

class CDataDispatcher::CAudioRootCallback : public CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        auto* root = dynamic_cast<MAudio::CAudioDispatcher*>(e);
        if (root && root->GetAEStream()) dispatcher->MakeCallback<CAESCallback>(root->GetAEStream());
    }
};

class CDataDispatcher::CAC3RootCallback : public CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        auto* root = dynamic_cast<AC3::CAC3Dispatcher*>(e);
        if (root && root->GetES()) dispatcher->MakeCallback<CAC3SCallback>(root->GetES());
    }
};

// The video of a system stream: marks the first GOP header of a parse that
// has no sequence header in front of it (a GOP behind one decodes already).
class CDataDispatcher::CVESCallback : public CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        const BS::CBaseState* st = e->GetState();
        switch (st->code) {
            case kSequenceHeader:
                afterSequenceHeader_ = true;
                break;
            case kGop: {
                CSSPositionWatcher& w = dispatcher->ssWatcher_;
                if (!afterSequenceHeader_ && !w.gop && st->data)
                    w.gop = static_cast<const BS::CBaseEvent*>(st->data)->position;
                afterSequenceHeader_ = false;
                break;
            }
            case kPicture:
            case kSlice:
                afterSequenceHeader_ = false;
                break;
            default:
                break;
        }
    }

private:
    static constexpr uint32_t kSequenceHeader = 1, kGop = 11, kPicture = 12, kSlice = 13;
    bool afterSequenceHeader_ = false;
};

// A stream of the system stream: once its video element exists, watch it.
class CDataDispatcher::CM1ESCallback : public CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        auto* pe = dynamic_cast<M2PS::CPEStream*>(e);
        if (!pe || pe->GetState()->code != 2 || pe->typeCode != 0) return;
        if (auto* ves = dynamic_cast<MVideo::CVEStream*>(pe->GetSubElement())) {
            if (!watched_) watched_ = dispatcher->MakeCallback<CVESCallback>(ves);
        }
    }

private:
    CCallback* watched_ = nullptr;
};

// The system stream: each stream added gets a callback of its own.
class CDataDispatcher::CM1SSCallback : public CCallback {
public:
    using CCallback::CCallback;
    void OnStateChange(BS::AStreamElement* e) override {
        if (e->GetState()->code != 1) return;
        auto* impl = dynamic_cast<BS::AStreamElementImpl*>(e);
        if (auto* pe = impl ? dynamic_cast<M2PS::CPEStream*>(impl->LastChild()) : nullptr)
            dispatcher->MakeCallback<CM1ESCallback>(pe);
    }
};

CDataDispatcher::CDataDispatcher(ATimeSink* filter) : filter_(filter), detection_(kCollectSize), mainParser_(this) {}

CDataDispatcher::~CDataDispatcher() {
    // The parser graph goes first so that no callback outlives its element's news.
    mainParser_.Reset();
}

template <class T>
T* CDataDispatcher::MakeCallback(BS::AStreamElement* attachTo) {
    std::unique_ptr<T> cb(new (std::nothrow) T(this));
    if (!cb) return nullptr;
    T* p = cb.get();
    callbacks_.push_back(std::move(cb));
    p->Attach(attachTo);
    return p;
}

void CDataDispatcher::AttachAudioRoot(BS::AStreamElement* root) {
    MakeCallback<CAudioRootCallback>(root);
}
void CDataDispatcher::AttachAC3Root(BS::AStreamElement* root) {
    MakeCallback<CAC3RootCallback>(root);
}
void CDataDispatcher::AttachSystemStream(BS::AStreamElement* root, BS::CBaseState*) {
    MakeCallback<CM1SSCallback>(root);
}

void CDataDispatcher::SetPendingSeqHeader(const uint8_t* d, uint32_t len) {
    std::unique_ptr<CSeqHeaderProcessor> h(new (std::nothrow) CSeqHeaderProcessor());
    if (!h) return;
    h->Set(d, len);
    pendingSeqHeader_ = std::move(h);
}

uint32_t CDataDispatcher::OnTime(const CStreamKey& key, int64_t t) {
    if (t == kNoTime) return 0;
    if (key.byPid && key.streamId == 0) pcrSeen_ = true;
    const int64_t out = timeProcessor_.ProcessTime(key, t, 0);
    if (filter_) filter_->OnTime(out);
    return 0;
}

uint32_t CDataDispatcher::OnPayload(const uint8_t*, uint32_t, int64_t t, const CStreamKey& key) {
    if (pcrSeen_ && key.byPid) return 0;
    return OnTime(key, t);
}

void CDataDispatcher::ProcessData(uint64_t position, const uint8_t* data, uint32_t* length) {
    tsWatcher_.Clear();
    ssWatcher_.Clear();
    if (mainParser_.IsInitialized()) {
        mainParser_.ParseData(position, data, length);
        return;
    }
    const uint32_t n = *length;
    if (!detection_.GetCapacity()) {
        // A new collection after the input was disconnected.
        detection_.Allocate(kCollectSize);
        detectionLength_ = 0;
        pcrSeen_ = false;
    }
    if (detection_.GetFree() <= n) detection_.Compact();
    if (detection_.GetFree() <= n) {
        detection_.Advance(detection_.GetLength() / 2);
        detection_.Compact();
        detectionLength_ = 0;
        if (detection_.GetFree() <= n) detection_.Clear();
    }
    detection_.Append(data, n);
    const uint32_t b = detection_.GetLength();
    if (b >= kFirstAttempt && b - detectionLength_ >= detectionLength_) {
        detectionLength_ = b;
        ++attempts_;
        const int32_t r = mainParser_.InitWithData(int64_t(position), &detection_, 0);
        if (r != 1 && mainParser_.IsInitialized()) detection_.Allocate(0);
    }
}

void CDataDispatcher::EndOfStream() {
    CORE_LOG(chronel::kCoreLogTrace, 1, "CDataDispatcher::EndOfStream 1");
    if (mainParser_.IsInitialized()) return;
    CORE_LOG(chronel::kCoreLogTrace, 1, "CDataDispatcher::EndOfStream 2");
    if (!detection_.GetCapacity()) return;
    CORE_LOG(chronel::kCoreLogTrace, 1, "CDataDispatcher::EndOfStream 3");
    if (!detection_.GetLength()) return;
    CORE_LOG(chronel::kCoreLogTrace, 1, "CDataDispatcher::EndOfStream 4");
    ++attempts_;
    mainParser_.InitWithData(kNoTime, &detection_, 1);
    if (mainParser_.IsInitialized()) detection_.Allocate(0);
}
