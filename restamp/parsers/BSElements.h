// Element graph of the stream parser library: events, elements, streams,
// state handlers and the sub-stream key.
//
// Ownership is explicit: an element made with BS::New() belongs to the graph
// and deletes itself when Release reaches it; an element that is a member of
// another object (the root embedded in a parser template) only loses its
// links. Nothing here is process-wide, so filter instances share no state.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

// "No time" in 100-ns reference time.
constexpr int64_t kNoTime = INT64_MAX;

struct CStreamKey {
    uint32_t number = 0;      // program (or packet) number
    uint8_t streamId = 0;     // PES stream_id
    uint8_t subStreamId = 0;  // first payload byte of private stream 1
    uint32_t pid = 0;         // transport PID
    uint8_t byPid = 0;        // 1: the key is its PID

    CStreamKey() = default;
    CStreamKey(uint32_t n, uint8_t sid, uint8_t sub, uint32_t p, uint8_t bp)
        : number(n), streamId(sid), subStreamId(sub), pid(p), byPid(bp) {}
    void Set(uint32_t n, uint8_t sid, uint8_t sub, uint32_t p, uint8_t bp) { *this = CStreamKey(n, sid, sub, p, bp); }
    // By-PID keys sort after the others so that mixed maps stay ordered.
    bool operator<(const CStreamKey& o) const {
        if (byPid != o.byPid) return byPid < o.byPid;
        if (byPid) return pid < o.pid;
        if (number != o.number) return number < o.number;
        if (streamId != o.streamId) return streamId < o.streamId;
        return subStreamId < o.subStreamId;
    }
    bool operator==(const CStreamKey& o) const { return !(*this < o) && !(o < *this); }
    bool operator!=(const CStreamKey& o) const { return !(*this == o); }
};

// Names of the PES stream type codes.
extern const char* const PesStreamTypeName[15];

namespace BS {

class AStreamElement;

// Record passed with every event and data run.
struct ParserControl {
    uint32_t skip = 0;       // bytes from the header start to step over
    uint32_t remaining = 0;  // payload bytes beyond this call; 0xFFFFFFFF unknown
    AStreamElement* sink = nullptr;
};

// Header type tag: one distinct address per header class.
template <class H>
struct HeaderTag {
    static constexpr char id = 0;
};

class CBaseEvent {
public:
    virtual ~CBaseEvent() = default;
    void Assign(const CBaseEvent& o) {
        position = o.position;
        data = o.data;
        length = o.length;
        flag = o.flag;
    }
    void Clear() {
        position = 0;
        data = nullptr;
        length = 0;
        flag = 0;
    }

    uint64_t position = 0;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint8_t flag = 0;
    const void* kind = nullptr;  // HeaderTag of the header; null for a payload record
};

template <class H>
class CParserEvent : public CBaseEvent {
public:
    CParserEvent() { kind = &HeaderTag<H>::id; }
    CParserEvent& Set(H* h, uint64_t pos, const uint8_t* d, uint32_t avail, uint8_t f) {
        header = h;
        position = pos;
        data = d;
        length = avail;
        flag = f;
        return *this;
    }
    H* header = nullptr;
};

template <class H>
inline const CParserEvent<H>* EventAs(const CBaseEvent& e) {
    return e.kind == &HeaderTag<H>::id ? static_cast<const CParserEvent<H>*>(&e) : nullptr;
}

class AParserEventHandler {
public:
    virtual ~AParserEventHandler() = default;
    virtual uint32_t OnEvent(const CBaseEvent& ev, ParserControl* ctl) = 0;
    virtual uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, ParserControl* ctl, uint32_t pass) = 0;
};

class CName {
public:
    explicit CName(const char* n) {
        std::strncpy(buf_, n ? n : "", sizeof buf_ - 1);
        buf_[sizeof buf_ - 1] = 0;
    }
    const char* Get() const { return buf_; }

private:
    char buf_[128];
};

class CBaseType {
public:
    explicit CBaseType(const char* name = "Undefined Type") : name_(name) {}
    virtual ~CBaseType() = default;
    const CName& GetName() const { return name_; }

private:
    CName name_;
};

class CBaseState {
public:
    virtual ~CBaseState() = default;
    virtual void ResetState() {
        data = nullptr;
        code = 0;
    }
    const void* GetData() const { return data; }

    const void* data = nullptr;  // event, sub-element or payload record of the last notification
    uint32_t code = 0;
};

class AStreamElementStateHandler {
public:
    virtual ~AStreamElementStateHandler() = default;
    virtual void OnStateChange(AStreamElement* e) = 0;
    virtual void OnElementDestroyed(AStreamElement* e) = 0;
    virtual void OnElementReset(AStreamElement*) {}
};

class AStreamElement : public AParserEventHandler {
public:
    virtual uint32_t AddParent(AStreamElement* p) = 0;
    virtual void Release() = 0;
    virtual void RemoveChild(AStreamElement* c) = 0;
    virtual void Reset() = 0;
    virtual std::vector<AStreamElement*> GetParents() const = 0;
    virtual std::vector<AStreamElement*> GetChildren() const = 0;
    virtual CBaseType* GetType() = 0;
    virtual CBaseState* GetState() = 0;
    virtual uint32_t AddStateHandler(AStreamElementStateHandler* h) = 0;
    virtual uint32_t RemoveStateHandler(AStreamElementStateHandler* h) = 0;
    virtual uint32_t AllSubStreamsDetected(bool) { return 1; }
    virtual void Activate() {}
    virtual void NotifyStateChange() {}
};

class AStreamElementImpl : public AStreamElement {
public:
    uint32_t AddParent(AStreamElement* p) override {
        parents_.push_back(p);
        return 1;
    }
    void Release() override;
    void RemoveChild(AStreamElement* c) override;
    void Reset() override;
    std::vector<AStreamElement*> GetParents() const override { return parents_; }
    std::vector<AStreamElement*> GetChildren() const override { return children_; }
    void AddChild(AStreamElement* c) {
        children_.push_back(c);
        c->AddParent(this);
    }
    size_t ChildCount() const { return children_.size(); }
    AStreamElement* LastChild() const { return children_.empty() ? nullptr : children_.back(); }

    // Set by BS::New: the element deletes itself when released.
    bool ownedByGraph = false;

protected:
    void ResetChildren();
    std::vector<AStreamElement*> parents_;
    std::vector<AStreamElement*> children_;
};

// Makes an element that belongs to its graph; nullptr when memory runs out.
template <class T, class... A>
T* New(A&&... args) {
    T* p = new (std::nothrow) T(std::forward<A>(args)...);
    if (p) p->ownedByGraph = true;
    return p;
}

template <class State, class Type>
class CBaseStream : public AStreamElementImpl, public Type, public State {
public:
    template <class... A>
    explicit CBaseStream(A&&... typeArgs) : Type(std::forward<A>(typeArgs)...) {}

    CBaseType* GetType() override { return static_cast<Type*>(this); }
    CBaseState* GetState() override { return static_cast<State*>(this); }
    uint32_t AddStateHandler(AStreamElementStateHandler* h) override {
        for (auto* x : handlers_)
            if (x == h) return 0;
        handlers_.push_back(h);
        return 1;
    }
    uint32_t RemoveStateHandler(AStreamElementStateHandler* h) override {
        for (size_t i = 0; i < handlers_.size(); ++i)
            if (handlers_[i] == h) {
                handlers_.erase(handlers_.begin() + long(i));
                return 1;
            }
        return 0;
    }
    void NotifyStateChange() override {
        // By index: a handler may attach others while it runs.
        for (size_t i = 0; i < handlers_.size(); ++i) handlers_[i]->OnStateChange(this);
    }
    void Release() override {
        auto hs = handlers_;
        handlers_.clear();
        for (auto* h : hs) h->OnElementDestroyed(this);
        AStreamElementImpl::Release();
    }
    void Reset() override {
        workRemaining = 0;
        workPosition = 0;
        payload.Clear();
        State::ResetState();
        auto hs = handlers_;
        for (auto* h : hs)
            if (h) h->OnElementReset(this);
        ResetChildren();
    }
    void SetState(uint32_t code, const void* data) {
        State::code = code;
        State::data = data;
    }
    size_t HandlerCount() const { return handlers_.size(); }

protected:
    std::vector<AStreamElementStateHandler*> handlers_;

public:
    uint32_t workRemaining = 0;  // bytes of the current packet still to come
    uint64_t workPosition = 0;   // stream position of the next expected byte
    CBaseEvent payload;          // last payload run reported
};

template <class State, class Type>
class CBaseWrapperStream : public CBaseStream<State, Type> {
    using Base = CBaseStream<State, Type>;

public:
    template <class... A>
    explicit CBaseWrapperStream(A&&... a) : Base(std::forward<A>(a)...) {}

    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, ParserControl* ctl, uint32_t pass) override {
        AStreamElement* s = GetSubElement();
        return s ? s->OnData(pos, d, len, ctl, pass) : 1;
    }
    void Reset() override {
        lastPtr = nullptr;
        lastLen = 0;
        Base::Reset();
    }
    virtual AStreamElement* CreateSubElement(const CBaseEvent*) {
        wrapped = nullptr;
        return nullptr;
    }
    virtual AStreamElement* GetSubElement() { return wrapped; }
    void RemoveChild(AStreamElement* c) override {
        if (c == wrapped) wrapped = nullptr;
        Base::RemoveChild(c);
    }

    AStreamElement* wrapped = nullptr;
    const uint8_t* lastPtr = nullptr;
    uint32_t lastLen = 0;
};

class CStreamElementGraph {
public:
    CStreamElementGraph() = default;
    CStreamElementGraph(const CStreamElementGraph&) = delete;
    CStreamElementGraph& operator=(const CStreamElementGraph&) = delete;
    virtual ~CStreamElementGraph() { ReleaseRoot(); }
    uint32_t SetRoot(AStreamElement* r) {
        root_ = r;
        return 1;
    }
    uint32_t ReleaseRoot() {
        if (root_) root_->Release();
        root_ = nullptr;
        return 1;
    }
    AStreamElement* GetRoot() const { return root_; }

private:
    AStreamElement* root_ = nullptr;
};

}  // namespace BS
