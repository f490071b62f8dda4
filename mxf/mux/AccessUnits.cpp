#include "mxf/mux/AccessUnits.h"

#include "mxf/mux/FrameTables.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mexora::mxf {

namespace {

constexpr uint8_t kSequenceCode = 0xB3, kGopCode = 0xB8, kPictureCode = 0x00, kExtensionCode = 0xB5;
constexpr uint8_t kTypeI = 1, kTypeP = 2, kTypeB = 3;
constexpr uint8_t kFrameStructure = 3;
constexpr uint32_t kAes3Header = 8;
constexpr size_t kHeaderBytesNeeded = 16;  // the longest header read here, with its start code

int64_t Later(int64_t a, int64_t b) {
    if (a == kUnsetTime) return b;
    if (b == kUnsetTime) return a;
    return std::max(a, b);
}

bool IsStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// The position of the next 00 00 01 in d[from, size), or size when there is
// none. Coded pictures are about half zero bytes (stuffing) and hold a 01
// byte every hundred bytes or so: sixteen positions are tested at once where
// the processor allows, else the search jumps from one 01 byte to the next.
size_t NextStartCode(const uint8_t* d, size_t from, size_t size) {
    size_t i = from;
#if defined(__SSE2__)
    constexpr size_t kLanes = 16, kLookahead = 2;
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    for (; i + kLanes + kLookahead <= size; i += kLanes) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 2));
        const __m128i zeros = _mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero));
        const int hits = _mm_movemask_epi8(_mm_and_si128(zeros, _mm_cmpeq_epi8(c, one)));
        if (hits != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
    for (; i + 3 <= size; i++) {
        if (IsStartCode(d + i)) return i;
    }
#else
    while (i + 3 <= size) {
        const void* next = std::memchr(d + i + 2, 1, size - i - 2);
        if (!next) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(next) - d) - 2;
        if (IsStartCode(d + i)) return i;
        i++;
    }
#endif
    return size;
}

}  // namespace

// ---- input store ----

int32_t InputStore::Record(const uint8_t* data, size_t length, int64_t start, int64_t end) {
    try {
        // Consumed bytes leave only here, and only once they outweigh the
        // rest, so that neither many small units nor many small calls move
        // the unread bytes each time.
        if (head_ > 0 && head_ >= bytes_.size() - head_) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        entries_.push_back({bytes_.size() - head_, start, end});
        bytes_.insert(bytes_.end(), data, data + length);
        largest_ = std::max(largest_, Size());
    } catch (const std::bad_alloc&) {
        return -29;
    }
    return 0;
}

void InputStore::Consume(size_t n) {
    n = std::min(n, Size());
    head_ += n;
    if (Size() == 0) {
        bytes_.clear();
        head_ = 0;
    }
    ShiftEntries(n);
}

void InputStore::ShiftEntries(size_t n) {
    if (Size() == 0) {
        entries_.clear();
        return;
    }
    size_t kept = 0;
    for (const Entry& e : entries_) {
        if (e.position >= n) entries_[kept++] = {e.position - n, e.start, e.end};
    }
    entries_.resize(kept);
}

void InputStore::TakeFront(size_t n, std::vector<uint8_t>* out) {
    n = std::min(n, Size());
    // The buffer changes hands only when that copies fewer bytes.
    if (head_ > 0 || !pool_ || Size() - n >= n) {
        if (pool_ && out->capacity() < n) *out = pool_->Take(n);
        out->assign(Data(), Data() + n);
        Consume(n);
        return;
    }
    // The rest moves to a buffer with room for the most the store held,
    // so that it need not grow again.
    std::vector<uint8_t> rest = pool_->Take(largest_);
    rest.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(n), bytes_.end());
    bytes_.resize(n);
    out->swap(bytes_);
    pool_->Give(std::move(bytes_));  // the buffer *out held before
    bytes_ = std::move(rest);
    ShiftEntries(n);
}

bool InputStore::Cut(size_t position, size_t length) {
    if (position > Size() || length > Size() - position) return false;
    const size_t endPos = position + length;
    bytes_.erase(bytes_.begin() + static_cast<std::ptrdiff_t>(head_ + position),
                 bytes_.begin() + static_cast<std::ptrdiff_t>(head_ + endPos));
    int64_t carriedStart = kUnsetTime, carriedEnd = kUnsetTime;
    std::vector<Entry> kept;
    bool later = false;
    for (const Entry& e : entries_) {
        if (e.position >= position && e.position < endPos) {
            carriedStart = Later(carriedStart, e.start);
            carriedEnd = Later(carriedEnd, e.end);
        } else if (e.position >= endPos) {
            later = true;
            kept.push_back({e.position - length, e.start, e.end});
        } else {
            kept.push_back(e);
        }
    }
    for (Entry& e : kept) {
        if (e.position < position) continue;
        if (e.start == kUnsetTime && carriedStart != kUnsetTime) {
            e.start = carriedStart;
            carriedStart = kUnsetTime;
        }
        if (e.end == kUnsetTime && carriedEnd != kUnsetTime) {
            e.end = carriedEnd;
            carriedEnd = kUnsetTime;
        }
    }
    if (!later) {
        kept.push_back({position, carriedStart, carriedEnd});
        std::sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) { return a.position < b.position; });
    }
    entries_ = std::move(kept);
    return true;
}

void InputStore::Times(size_t from, size_t to, int64_t* start, int64_t* end) const {
    *start = *end = kUnsetTime;
    for (const Entry& e : entries_) {
        if (e.position < from || e.position >= to) continue;
        *start = Later(*start, e.start);
        *end = Later(*end, e.end);
    }
}

void InputStore::Clear() {
    bytes_.clear();
    head_ = 0;
    entries_.clear();
}

// ---- handlers ----

int32_t EssenceHandler::AddData(const uint8_t* data, uint32_t length, int64_t start, int64_t end) {
    if (!data && length) return -30;
    const int32_t r = store_.Record(data, length, start, end);
    if (r < 0) return r;
    return Cut(false);
}

int32_t EssenceHandler::Flush() {
    const int32_t r = Cut(true);
    store_.Clear();
    return r;
}

int32_t EssenceHandler::Cut(bool flush) {
    try {
        return CutUnits(flush);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

void EssenceHandler::Reset() {
    store_.Clear();
}

void EssenceHandler::TakeBytes(size_t length, AccessUnit* unit) {
    store_.Times(0, length, &unit->start, &unit->end);
    store_.TakeFront(length, &unit->data);
}

void EssenceHandler::Emit(size_t length, int64_t duration, AccessUnit unit) {
    TakeBytes(length, &unit);
    unit.duration = duration;
    unit.number = ++count_;
    units_.push_back(std::move(unit));
}

void Aes3Handler::Reset() {
    EssenceHandler::Reset();
    header_ = false;
    frame_ = 0;
}

int32_t Aes3Handler::CutUnits(bool flush) {
    if (!header_) {
        if (store_.Size() < kAes3Header) return 0;
        es::Aes3Header h;
        if (h.Parse(store_.Data(), store_.Size())) {
            const uint8_t b5 = store_.Data()[5];
            rateCode_ = ((b5 >> 5) & 7) + 1;
            bytesPerSample = ((b5 >> 3) & 3) ? 3 : 2;
            channels_ = static_cast<uint32_t>(h.channels);
            store_.Consume(kAes3Header);
        }
        header_ = true;
    }
    for (;;) {
        const uint32_t samples = SamplesPerFrame(rateCode_, frame_);
        if (samples == 0) return 0;  // no frame rate: no units
        const size_t size = size_t{samples} * bytesPerSample * channels_;
        const bool whole = store_.Size() >= size;
        if (!whole && !(flush && store_.Size() > 0)) return 0;
        const size_t take = whole ? size : store_.Size();
        Emit(take, int64_t{samples} * kSecond / kAudioRate);
        frame_ = (frame_ + 1) % kFrameCycle;
    }
}

int32_t DvHandler::CutUnits(bool) {
    if (frameSize_ == 0 || rate_.numerator <= 0) return 0;
    while (store_.Size() >= frameSize_) {
        AccessUnit u;
        u.key = true;
        Emit(frameSize_, kSecond * rate_.denominator / rate_.numerator, u);
    }
    return 0;
}

// ---- MPEG-2 ----

void Mpeg2Handler::Reset() {
    EssenceHandler::Reset();
    waiting_.clear();
    runningTime_ = 0;
    previousGopCount_ = 0;
    firstGop_ = true;
    seenP_ = false;
    scan_ = 0;
    fields_ = 0;
    unitHasPicture_ = unitGop_ = false;
}

void Mpeg2Handler::CloseUnit(size_t length) {
    AccessUnit u;
    u.pictureType = picture_.codingType;
    u.temporalReference = picture_.temporalReference;
    u.key = u.pictureType == kTypeI;
    u.gopStart = u.key;
    int64_t duration = sequence_.FrameDuration();
    if (coding_.valid && coding_.repeatFirstField) {
        if (extension_.progressive) {
            duration *= coding_.topFieldFirst ? 3 : 2;
        } else {
            duration = duration * 3 / 2;
        }
    }
    TakeBytes(length, &u);
    u.duration = duration;
    u.number = ++count_;
    if (u.gopStart && !waiting_.empty()) ReleaseGop();
    waiting_.push_back(std::move(u));
    fields_ = 0;
    unitHasPicture_ = unitGop_ = false;
    coding_ = es::Mpeg2PictureCodingExtension();
}

void Mpeg2Handler::ReleaseGop() {
    const int n = static_cast<int>(waiting_.size());
    bool pBefore = false;
    for (int i = 0; i < n; i++) {
        AccessUnit& u = waiting_[static_cast<size_t>(i)];
        int kfo = -i;
        if (u.pictureType == kTypeB && i < 3) kfo = -(i + previousGopCount_);
        u.keyFrameOffset = static_cast<int8_t>(std::max(kfo, -128));
        int arrival = -1;
        for (int j = 0; j < n; j++) {
            if (waiting_[static_cast<size_t>(j)].temporalReference == i) arrival = j;
        }
        u.temporalOffset = static_cast<int8_t>(arrival < 0 ? 0 : arrival - i);
        switch (u.pictureType) {
            case kTypeI:
                u.flags = firstGop_ && !pBefore ? 0xC0 : 0x40;
                break;
            case kTypeP:
                u.flags = 0x22;
                pBefore = true;
                break;
            case kTypeB:
                u.flags = firstGop_ && !pBefore ? 0x13 : 0x33;
                break;
            default:
                u.flags = 0;
                break;
        }
    }
    // Units without times of their own follow in display order.
    std::vector<AccessUnit*> display;
    for (AccessUnit& u : waiting_) display.push_back(&u);
    std::stable_sort(display.begin(), display.end(), [](const AccessUnit* a, const AccessUnit* b) {
        return a->temporalReference < b->temporalReference;
    });
    for (AccessUnit* u : display) {
        if (u->start != kUnsetTime) {
            runningTime_ = u->start;
        } else {
            u->start = runningTime_;
        }
        if (u->end == kUnsetTime) u->end = u->start + u->duration;
        runningTime_ = u->start + u->duration;
    }
    for (AccessUnit& u : waiting_) units_.push_back(std::move(u));
    waiting_.clear();
    previousGopCount_ = n;
    firstGop_ = false;
    seenP_ = false;
}

int32_t Mpeg2Handler::CutUnits(bool flush) {
    const uint8_t* d = store_.Data();
    size_t size = store_.Size();
    while (scan_ + 4 <= size) {
        d = store_.Data();
        if (!IsStartCode(d + scan_)) {
            const size_t at = NextStartCode(d, scan_, size);
            if (at == size) {
                scan_ = std::max(scan_, size - 2);  // 00 00 may end the bytes so far
                break;
            }
            scan_ = at;
            if (scan_ + 4 > size) break;  // its code byte has not come yet
        }
        const uint8_t code = d[scan_ + 3];
        const bool boundary = code == kSequenceCode || code == kGopCode || code == kPictureCode;
        // A picture is complete once it holds two fields (or is a frame).
        if (boundary && unitHasPicture_ && fields_ >= 2 && scan_ > 0) {
            CloseUnit(scan_);
            scan_ = 0;
            size = store_.Size();
            continue;
        }
        const size_t rest = size - scan_;
        if (!flush && rest < kHeaderBytesNeeded) break;  // the header may not be all here yet
        if (code == kSequenceCode) {
            es::Mpeg2Sequence s;
            if (s.Parse(d + scan_, rest)) sequence_ = s;
        } else if (code == kExtensionCode) {
            es::Mpeg2SequenceExtension e;
            es::Mpeg2PictureCodingExtension c;
            if (e.Parse(d + scan_, rest)) extension_ = e;
            if (c.Parse(d + scan_, rest)) {
                coding_ = c;
                if (c.pictureStructure != kFrameStructure) fields_ -= 1;  // a field picture is one field
            }
        } else if (code == kGopCode) {
            unitGop_ = true;
        } else if (code == kPictureCode) {
            es::Mpeg2Picture p;
            // A second field joins the unit of the first: the first names it.
            if (p.Parse(d + scan_, rest) && !unitHasPicture_) picture_ = p;
            unitHasPicture_ = true;
            fields_ += 2;
        }
        scan_ += 4;
    }
    if (flush) {
        if (store_.Size() > 0 && unitHasPicture_) CloseUnit(store_.Size());
        if (!waiting_.empty()) ReleaseGop();
        scan_ = 0;
    }
    return 0;
}

}  // namespace mexora::mxf
