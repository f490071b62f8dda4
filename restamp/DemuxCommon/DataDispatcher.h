// Stands between the filter and the parser library: collects the input until
// the format is known, then feeds the main parser; re-bases every reported
// time through the time processor and hands it to the filter; gives bare
// audio streams their running times through state observers.
#pragma once

#include "restamp/DemuxCommon/MainParser.h"
#include "restamp/DemuxCommon/SeqHeaderInsertion.h"
#include "restamp/DemuxCommon/TimeProcessor.h"

#include <memory>
#include <vector>

// The filter side of the dispatcher.
class ATimeSink {
public:
    virtual ~ATimeSink() = default;
    // A re-based time (100-ns units) for the next delivered chunk.
    virtual void OnTime(int64_t t) = 0;
};

class CDataDispatcher : public AMainParserOwner {
public:
    static constexpr uint32_t kCollectSize = 8000000;
    static constexpr uint32_t kFirstAttempt = 100000;

    explicit CDataDispatcher(ATimeSink* filter);
    ~CDataDispatcher() override;

    void AttachAudioRoot(BS::AStreamElement* root) override;
    void AttachAC3Root(BS::AStreamElement* root) override;
    void AttachSystemStream(BS::AStreamElement* root, BS::CBaseState* state) override;
    uint32_t OnTime(const CStreamKey& key, int64_t t) override;
    uint32_t OnPayload(const uint8_t* data, uint32_t len, int64_t t, const CStreamKey& key) override;
    CTSWatcher* TSWatcher() override { return &tsWatcher_; }
    CSSPositionWatcher* PositionWatcher() override { return &ssWatcher_; }
    void SetPendingSeqHeader(const uint8_t* d, uint32_t len) override;
    const CSeqHeaderProcessor* PendingSeqHeader() const { return pendingSeqHeader_.get(); }
    const CSSPositionWatcher& Marks() const { return ssWatcher_; }

    // Parses (or collects) the span; *length goes out as the bytes consumed.
    void ProcessData(uint64_t position, const uint8_t* data, uint32_t* length);
    void EndOfStream();

    CMainParser& MainParser() { return mainParser_; }
    const CMainParser& MainParser() const { return mainParser_; }
    CTimeProcessor& TimeProcessor() { return timeProcessor_; }
    const BS::CSequentialBuffer& DetectionBuffer() const { return detection_; }
    uint32_t DetectionAttempts() const { return attempts_; }

    class CCallback : public BS::AStreamElementStateHandler {
    public:
        explicit CCallback(CDataDispatcher* d) : dispatcher(d) {}
        ~CCallback() override { Detach(); }
        void Attach(BS::AStreamElement* e) {
            Detach();
            element = e;
            if (e) e->AddStateHandler(this);
        }
        void Detach() {
            if (element) element->RemoveStateHandler(this);
            element = nullptr;
        }
        void OnElementDestroyed(BS::AStreamElement* e) override {
            if (e == element) element = nullptr;
        }

        CDataDispatcher* dispatcher;
        BS::AStreamElement* element = nullptr;
        bool started = false;
        uint64_t runningTime = 0;
    };

private:
    template <class T>
    T* MakeCallback(BS::AStreamElement* attachTo);
    class CAudioRootCallback;
    class CAC3RootCallback;
    class CAESCallback;
    class CAC3SCallback;
    class CM1SSCallback;
    class CM1ESCallback;
    class CVESCallback;

    ATimeSink* filter_;
    CTSWatcher tsWatcher_;
    CSSPositionWatcher ssWatcher_;
    std::unique_ptr<CSeqHeaderProcessor> pendingSeqHeader_;
    // A transport stream's PCR has been reported: from then on its PES time
    // stamps, which lead the PCR by the decoder delay, no longer stamp chunks
    // (on one timeline a lead above 2.5 s would count every alternation as a jump).
    bool pcrSeen_ = false;
    CTimeProcessor timeProcessor_;
    std::vector<std::unique_ptr<CCallback>> callbacks_;  // before the parser: it goes first
    BS::CSequentialBuffer detection_;
    uint32_t detectionLength_ = 0;
    uint32_t attempts_ = 0;
    CMainParser mainParser_;
};
