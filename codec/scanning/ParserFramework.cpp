#include "codec/scanning/ParserFramework.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace SPL {

// ---------------------------------------------------------------- parsers

void BaseParserSimple::SetBuffer(const uint8_t* data, uint32_t length) {
    data_ = data;
    length_ = data ? length : 0;
    offset_ = 0;
}

void BaseParserSimple::Reset() {
    data_ = nullptr;
    length_ = 0;
    offset_ = 0;
}

const uint8_t* BaseParserSimple::FindNextHeader() {
    if (!data_ || offset_ >= length_) return nullptr;
    // The start-code tests read up to four bytes.
    const uint32_t tail = minTail_ < 3 ? 3 : minTail_;
    uint32_t i = length_ - offset_;
    const uint8_t* p = data_ + offset_;
    if (i <= tail) return nullptr;
    while (!IsStartCode(p)) {
        ++p;
        if (--i <= tail) {
            offset_ = length_ - i;
            return nullptr;
        }
    }
    offset_ = static_cast<uint32_t>(p - data_) + step_;
    if (offset_ > length_) offset_ = length_;
    return p;
}

uint32_t BaseParserSimple::GetHeaderSpan() const {
    if (offset_ == 0) return length_;
    const uint32_t hit = offset_ > step_ ? offset_ - step_ : 0;
    return length_ - hit;
}

uint32_t BaseParserSimple::Advance(uint32_t n) {
    const uint32_t rem = GetRemaining();
    if (n > rem) n = rem;
    if (offset_ == 0)
        offset_ = n;
    else
        offset_ = (offset_ > step_ ? offset_ - step_ : 0) + n;
    return offset_;
}

// ---------------------------------------------------------------- relations

namespace {

// Heap blocks handed out by BaseRelation::operator new that no constructor
// has claimed yet. A block leaves the list when its object claims it or when
// it is freed, so no stale entry can outlive its memory.
struct Registry {
    std::mutex lock;
    std::vector<void*> blocks;
};

Registry& TheRegistry() {
    static Registry r;
    return r;
}

}  // namespace

void* BaseRelation::operator new(size_t size) noexcept {
    void* p = std::malloc(size ? size : 1);
    if (!p) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> g(r.lock);
    try {
        r.blocks.push_back(p);
    } catch (...) {
        std::free(p);
        return nullptr;
    }
    return p;
}

void BaseRelation::operator delete(void* p) noexcept {
    if (!p) return;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> g(r.lock);
        auto it = std::find(r.blocks.begin(), r.blocks.end(), p);
        if (it != r.blocks.end()) r.blocks.erase(it);
    }
    std::free(p);
}

size_t BaseRelation::PendingHeapBlocks() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.blocks.size();
}

BaseRelation::BaseRelation() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = std::find(r.blocks.begin(), r.blocks.end(), static_cast<void*>(this));
    if (it != r.blocks.end()) {
        heapOwned_ = 1;
        r.blocks.erase(it);
    }
}

BaseRelation::~BaseRelation() {
    // Leave no pointer to this object behind in the neighbours.
    for (BaseRelation* t : targets_) t->RemoveBackLink(this);
    for (BaseRelation* s : backLinks_) {
        auto it = std::find(s->targets_.begin(), s->targets_.end(), this);
        if (it != s->targets_.end()) s->targets_.erase(it);
    }
}

void BaseRelation::Connect(BaseRelation* target) {
    if (!target || std::find(targets_.begin(), targets_.end(), target) != targets_.end()) return;
    targets_.push_back(target);
    target->AddBackLink(this);
}

void BaseRelation::AddBackLink(BaseRelation* source) {
    if (source && std::find(backLinks_.begin(), backLinks_.end(), source) == backLinks_.end())
        backLinks_.push_back(source);
}

void BaseRelation::Remove(BaseRelation* target) {
    auto it = std::find(targets_.begin(), targets_.end(), target);
    if (it != targets_.end()) targets_.erase(it);
}

void BaseRelation::RemoveBackLink(BaseRelation* source) {
    auto it = std::find(backLinks_.begin(), backLinks_.end(), source);
    if (it != backLinks_.end()) backLinks_.erase(it);
}

void BaseRelation::DisconnectAll() {
    while (!targets_.empty()) {
        BaseRelation* t = targets_.back();
        targets_.pop_back();
        t->RemoveBackLink(this);
        t->DisconnectAll();
    }
    const std::vector<BaseRelation*> sources = backLinks_;
    backLinks_.clear();
    for (BaseRelation* s : sources) s->Remove(this);
    if (heapOwned_) delete this;
}

// ---------------------------------------------------------------- state

void StreamStateHelper::AddListener(StreamStateListener* l) {
    if (l && std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) listeners_.push_back(l);
}

void StreamStateHelper::RemoveListener(StreamStateListener* l) {
    auto it = std::find(listeners_.begin(), listeners_.end(), l);
    if (it != listeners_.end()) listeners_.erase(it);
}

void StreamStateHelper::NotifyListeners() {
    // A listener may remove itself while being told.
    const std::vector<StreamStateListener*> copy = listeners_;
    for (StreamStateListener* l : copy) l->OnStreamState(this);
}

}  // namespace SPL
