// Skeleton of the scanning library: a parser finds start codes in a buffer,
// a consumer turns the header at a hit into an event, and a stream takes the
// event, records it as its state and tells the state's listeners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace SPL {

// ---------------------------------------------------------------- parsers

class BaseParser {
public:
    virtual ~BaseParser() = default;
    virtual void SetBuffer(const uint8_t* data, uint32_t length) = 0;
    virtual void Reset() = 0;
    virtual const uint8_t* FindNextHeader() = 0;
    // Bytes from the latest hit to the end of the buffer (the whole buffer
    // before the first search).
    virtual uint32_t GetHeaderSpan() const = 0;
    virtual uint32_t GetHeaderSpanAt() const = 0;  // same answer, second entry
    virtual uint32_t GetPosition() const = 0;
    virtual uint32_t Advance(uint32_t n) = 0;
};

class BaseParserSimple : public BaseParser {
public:
    // step: bytes past a hit where the next search starts; minTail: a hit is
    // reported only while more than this many bytes remain from it.
    BaseParserSimple(uint32_t step, uint32_t minTail) : step_(step), minTail_(minTail) {}

    void SetBuffer(const uint8_t* data, uint32_t length) override;
    void Reset() override;
    const uint8_t* FindNextHeader() override;
    uint32_t GetHeaderSpan() const override;
    uint32_t GetHeaderSpanAt() const override { return GetHeaderSpan(); }
    uint32_t GetPosition() const override { return offset_; }
    uint32_t Advance(uint32_t n) override;

    // p has at least four readable bytes.
    virtual bool IsStartCode(const uint8_t* p) const = 0;
    virtual uint32_t GetRemaining() const { return length_ - offset_; }

    uint32_t Step() const { return step_; }
    uint32_t MinimumTail() const { return minTail_; }

protected:
    const uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t offset_ = 0;
    uint32_t step_;
    uint32_t minTail_;
};

// Start-code prefix 00 00 01 with a creator-given step and tail.
class StartCodeParser : public BaseParserSimple {
public:
    using BaseParserSimple::BaseParserSimple;
    bool IsStartCode(const uint8_t* p) const override { return p[0] == 0 && p[1] == 0 && p[2] == 1; }
};

// ---------------------------------------------------------------- headers

class BaseHeader {
public:
    virtual ~BaseHeader() = default;
    virtual void Clear() = 0;
    virtual bool IsValid() const = 0;
};

class BaseHeaderSimple : public BaseHeader {
public:
    void Clear() override {
        valid_ = 0;
        truncated_ = 0;
    }
    bool IsValid() const override { return valid_ != 0; }
    // The latest refusal was for want of bytes: the header may parse once
    // more data follows it, so a scanner keeps those bytes for later.
    bool IsTruncated() const { return truncated_ != 0; }

protected:
    bool Truncated() {
        truncated_ = 1;
        return false;
    }

    uint8_t valid_ = 0;
    uint8_t truncated_ = 0;
};

// ---------------------------------------------------------------- events

class BaseEvent {
public:
    virtual ~BaseEvent() = default;

    void Set(int64_t position, const uint8_t* data, uint32_t length, uint8_t flag1 = 0, uint8_t flag2 = 0) {
        position_ = position;
        data_ = data;
        length_ = length;
        flag1_ = flag1;
        flag2_ = flag2;
    }
    int64_t GetPosition() const { return position_; }
    const uint8_t* GetData() const { return data_; }
    uint32_t GetLength() const { return length_; }
    uint8_t GetFlag() const { return flag1_; }
    uint8_t GetFlag2() const { return flag2_; }

protected:
    int64_t position_ = 0;
    const uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint8_t flag1_ = 0;
    uint8_t flag2_ = 0;
};

template <class H>
class BaseEventParser : public BaseEvent {
public:
    void SetHeader(H* h) { header_ = h; }
    H* GetHeader() const { return header_; }

private:
    H* header_ = nullptr;
};

// Fills the event of a header that parsed.
template <class H>
BaseEvent* FillEvent(BaseEventParser<H>& ev, H& h, int64_t position, const uint8_t* data, uint32_t length) {
    ev.Set(position, data, length);
    ev.SetHeader(&h);
    return &ev;
}

// ---------------------------------------------------------------- consumers

class BaseParserConsumer {
public:
    virtual ~BaseParserConsumer() = default;
    // The event of the first header class that parses at data, else null.
    // The event stays valid until the next call.
    virtual BaseEvent* ParseHeader(int64_t position, const uint8_t* data, uint32_t length) = 0;
    virtual void OnBufferStart() {}
    virtual void OnBufferEnd() {}
};

class BaseEventConsumer;

// What a stream tells its caller about payload: bytes of this buffer that
// belong to the packet, bytes still to come (-1 unbounded), and who takes
// the continuation.
struct PayloadResult {
    uint32_t part = 0;
    int32_t stillToCome = 0;
    BaseEventConsumer* consumer = nullptr;
};

class BaseEventConsumer {
public:
    virtual ~BaseEventConsumer() = default;
    // out: how far the parser may advance from the header's first byte.
    virtual bool OnEvent(BaseEvent* event, uint32_t* out) = 0;
    virtual bool OnData(int64_t position, const uint8_t* data, uint32_t length, PayloadResult* result,
                        uint8_t flag) = 0;
    virtual bool IsReady() { return true; }
    virtual void ResetPayload() {}
};

// ---------------------------------------------------------------- relations

// A node of the object graph. Objects allocated with new on a class of this
// family are recognised as heap-owned and destroy themselves when the graph
// is taken down by DisconnectAll.
class BaseRelation {
public:
    BaseRelation();
    BaseRelation(const BaseRelation&) = delete;
    BaseRelation& operator=(const BaseRelation&) = delete;
    virtual ~BaseRelation();

    virtual void DisconnectAll();
    virtual void Remove(BaseRelation* target);
    virtual void Connect(BaseRelation* target);
    virtual void AddBackLink(BaseRelation* source);

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* p) noexcept;

    bool IsHeapOwned() const { return heapOwned_ != 0; }
    const std::vector<BaseRelation*>& Targets() const { return targets_; }
    const std::vector<BaseRelation*>& BackLinks() const { return backLinks_; }

    // Registered heap blocks not yet claimed by a constructor (for tests).
    static size_t PendingHeapBlocks();

private:
    void RemoveBackLink(BaseRelation* source);

    std::vector<BaseRelation*> targets_;
    std::vector<BaseRelation*> backLinks_;
    uint8_t heapOwned_ = 0;
};

// ---------------------------------------------------------------- streams

// Key of a stream inside a container: program number, stream id, sub-stream
// id, PID and a flag word whose low byte is the by-PID flag.
struct StreamKey {
    uint32_t programNumber = 0;
    uint8_t streamId = 0;
    uint8_t subStreamId = 0;
    uint32_t pid = 0;
    uint32_t flags = 0;
    bool Flag() const { return (flags & 0xFF) != 0; }
};
static_assert(sizeof(StreamKey) == 16, "a stream key is the creator's 16-byte record");

// Something a stream owns and destroys with itself.
class StreamAttachment {
public:
    virtual ~StreamAttachment() = default;
};

class BaseStream : public BaseRelation {
public:
    BaseStream() = default;
    explicit BaseStream(const StreamKey& key) : key_(key) {}

    const StreamKey& Key() const { return key_; }
    void SetAttachment(std::unique_ptr<StreamAttachment> a) { attachment_ = std::move(a); }
    StreamAttachment* Attachment() const { return attachment_.get(); }

    virtual uint32_t GetStreamKind() const { return 0; }
    virtual void OnStart() {}
    virtual void OnStop() {}

protected:
    StreamKey key_;
    std::unique_ptr<StreamAttachment> attachment_;
};

class StreamStateHelper;

class StreamStateListener {
public:
    virtual ~StreamStateListener() = default;
    virtual void OnStreamState(StreamStateHelper* state) = 0;
};

class StreamStateHelper {
public:
    virtual ~StreamStateHelper() = default;
    virtual void AddListener(StreamStateListener* l);
    virtual void RemoveListener(StreamStateListener* l);
    void NotifyListeners();

    const BaseEvent* Current() const { return current_; }

protected:
    std::vector<StreamStateListener*> listeners_;
    const BaseEvent* current_ = nullptr;
};

template <class E>
class StreamState : public StreamStateHelper {
public:
    E GetState() const { return state_; }

protected:
    // Records a change and tells the listeners.
    void SetState(E code, const BaseEvent* value) {
        state_ = code;
        current_ = value;
        NotifyListeners();
    }

    E state_{};
};

}  // namespace SPL
