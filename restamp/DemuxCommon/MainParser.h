// Entry of the parser library for the time marker: detects the format of
// the collected input, builds the parser of that format and parses every
// later block. One lock per instance serialises detection, parsing and reset.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/BSParser.h"

#include <atomic>
#include <mutex>

// HRESULT codes of the failures (the platform's values).
constexpr int32_t kHrFail = int32_t(0x80004005u);
constexpr int32_t kHrOutOfMemory = int32_t(0x8007000Eu);

enum MainParserStreamType : uint32_t {
    kTypeNone = 0,
    kTypeSystemStream = 1,
    kTypeProgramStream = 2,
    kTypeTransportStream = 3,
    kTypeVideoOnly = 4,
    kTypePVA = 5,
    kTypeAudioOnly = 6,
    kTypeAC3Only = 7,
    kTypeH264Only = 8,
};

// Display name of a stream type.
const wchar_t* MainParserTypeName(uint32_t type);

class CMainParser {
public:
    explicit CMainParser(AMainParserOwner* owner);
    CMainParser(const CMainParser&) = delete;
    CMainParser& operator=(const CMainParser&) = delete;
    virtual ~CMainParser();

    // 1 more data needed, 0 parser built and detection finished, negative
    // HRESULT when the attempt failed. position is kNoTime on the end-of-stream call.
    virtual int32_t InitWithData(int64_t position, BS::AInputBuffer* buffer, uint32_t final);
    // In: *length bytes at data; out: the bytes consumed.
    virtual void ParseData(uint64_t position, const uint8_t* data, uint32_t* length);

    void Reset();
    void ResetParser();

    bool IsInitialized() const { return initialized_.load(std::memory_order_acquire); }
    uint32_t StreamType() const { return type_.load(std::memory_order_acquire); }
    const wchar_t* DisplayName() const { return name_.load(std::memory_order_acquire); }
    BS::AStreamElement* Root() const { return graph_.GetRoot(); }
    uint8_t PacketSize() const { return packetSize_; }

    // Format tests in the fixed order; the size rules of the builders are
    // not applied. Returns a MainParserStreamType (0 none).
    static uint32_t DetectFormat(const uint8_t* data, uint32_t len, uint8_t* packetSize = nullptr);

private:
    void ResetLocked();
    int32_t InitLocked(BS::AInputBuffer* b);
    void ParseLocked(uint64_t position, const uint8_t* data, uint32_t* length);
    template <class T>
    T* PrepareTemplate(bool* made = nullptr);
    // Parses the collection with a multiplex template until its streams are
    // known; 1 while more data is needed.
    template <class T>
    int32_t DetectSubStreams(T* t, BS::AInputBuffer* b);
    int32_t BuildProgramStream(BS::AInputBuffer* b);
    int32_t BuildTransportStream(BS::AInputBuffer* b);
    int32_t BuildSystemStream(BS::AInputBuffer* b);
    int32_t BuildPVA(BS::AInputBuffer* b);
    int32_t BuildVideo(const uint8_t* d, uint32_t len);
    int32_t BuildH264(const uint8_t* d, uint32_t len);
    int32_t BuildAudio(bool ac3);
    void SetType(uint32_t t) {
        type_.store(t, std::memory_order_release);
        name_.store(MainParserTypeName(t), std::memory_order_release);
    }

    AMainParserOwner* owner_;
    BS::AParserTemplate* parser_ = nullptr;
    BS::CStreamElementGraph graph_;
    std::mutex lock_;
    uint32_t pendingSkip_ = 0;
    int64_t position_ = 0;
    uint32_t final_ = 0;
    std::atomic<const wchar_t*> name_;
    std::atomic<uint32_t> type_{0};
    std::atomic<bool> initialized_{false};
    uint8_t packetSize_ = 0;
};
