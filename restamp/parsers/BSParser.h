// Scanners, header handlers, input buffers and the parser templates that
// join a scanner, a handler and a root element.
#pragma once

#include "restamp/parsers/BSElements.h"

#include <cstdlib>
#include <cstring>
#include <deque>

namespace BS {

class AHeader {
public:
    virtual ~AHeader() = default;
    virtual bool Parse(const uint8_t* d, uint32_t len) = 0;
    virtual void Clear() = 0;
    virtual bool IsValid() const = 0;
};

class AInputBuffer {
public:
    virtual ~AInputBuffer() = default;
    virtual uint32_t GetCapacity() const = 0;
    virtual const uint8_t* GetReadPtr() const = 0;
    virtual uint32_t GetLength() const = 0;
    virtual uint32_t Advance(uint32_t n) = 0;
    virtual uint8_t* GetWritePtr() = 0;
    virtual uint32_t GetFree() const = 0;
    virtual uint32_t Commit(uint32_t n) = 0;
    virtual void Compact() = 0;
    virtual void Clear() = 0;
};

class CSequentialBuffer : public AInputBuffer {
public:
    explicit CSequentialBuffer(uint32_t capacity = 0) { Allocate(capacity); }
    CSequentialBuffer(const CSequentialBuffer&) = delete;
    CSequentialBuffer& operator=(const CSequentialBuffer&) = delete;
    ~CSequentialBuffer() override { std::free(begin_); }

    // 1 on success; on failure the buffer is left without a block.
    int Allocate(uint32_t capacity) {
        std::free(begin_);
        begin_ = read_ = write_ = nullptr;
        cap_ = 0;
        if (!capacity) return 1;
        begin_ = static_cast<uint8_t*>(std::malloc(capacity));
        if (!begin_) return 0;
        read_ = write_ = begin_;
        cap_ = capacity;
        return 1;
    }
    uint32_t GetCapacity() const override { return cap_; }
    const uint8_t* GetReadPtr() const override { return read_; }
    uint32_t GetLength() const override { return uint32_t(write_ - read_); }
    uint32_t Advance(uint32_t n) override {
        uint32_t m = n < GetLength() ? n : GetLength();
        read_ += m;
        return m;
    }
    uint8_t* GetWritePtr() override { return write_; }
    uint32_t GetFree() const override { return cap_ ? uint32_t(begin_ + cap_ - write_) : 0; }
    uint32_t Commit(uint32_t n) override {
        uint32_t m = n < GetFree() ? n : GetFree();
        write_ += m;
        return m;
    }
    void Compact() override {
        if (!begin_) return;
        uint32_t l = GetLength();
        if (read_ != begin_ && l) std::memmove(begin_, read_, l);
        read_ = begin_;
        write_ = begin_ + l;
    }
    void Clear() override { read_ = write_ = begin_; }
    // Appends what fits; returns the bytes taken.
    uint32_t Append(const uint8_t* d, uint32_t n) {
        uint32_t m = n < GetFree() ? n : GetFree();
        if (m) std::memcpy(write_, d, m);
        write_ += m;
        return m;
    }

private:
    uint8_t* begin_ = nullptr;
    uint8_t* read_ = nullptr;
    uint8_t* write_ = nullptr;
    uint32_t cap_ = 0;
};

// Buffer of the extended template: keeps the stream position of every block.
class CExtraBuffer : public CSequentialBuffer {
public:
    static constexpr uint32_t kCapacity = 0x100000;
    CExtraBuffer() : CSequentialBuffer(kCapacity) {}
    void AppendBlock(uint64_t pos, const uint8_t* d, uint32_t len) {
        if (GetFree() < len) Compact();
        if (GetFree() < len) return;  // dropped; later segments keep their positions
        std::memcpy(GetWritePtr(), d, len);
        Commit(len);
        segs_.push_back({pos, len});
    }
    uint64_t PositionOf(uint32_t offset) const {
        for (const auto& s : segs_) {
            if (offset < s.len) return s.pos + offset;
            offset -= s.len;
        }
        return 0;
    }
    void Consume(uint32_t n) {
        Advance(n);
        while (n && !segs_.empty()) {
            Seg& s = segs_.front();
            if (n >= s.len) {
                n -= s.len;
                segs_.pop_front();
            } else {
                s.pos += n;
                s.len -= n;
                n = 0;
            }
        }
    }
    void ResetBuffer() {
        Clear();
        segs_.clear();
    }

private:
    struct Seg {
        uint64_t pos;
        uint32_t len;
    };
    std::deque<Seg> segs_;
};

// Scanner state shared by the start-code and sync scanners.
class CScannerBase {
public:
    void SetData(const uint8_t* d, uint32_t len) {
        data_ = d;
        len_ = len;
        pos_ = 0;
        hit_ = 0;
    }
    void ResetScanner() {
        data_ = nullptr;
        len_ = 0;
        pos_ = 0;
        hit_ = 0;
    }
    uint32_t GetAvailable() const { return len_ - hit_; }
    uint32_t GetPosition() const { return pos_; }
    uint32_t Skip(uint32_t n) {
        uint64_t p = uint64_t(hit_) + n;
        pos_ = p > len_ ? len_ : uint32_t(p);
        return pos_;
    }
    void SkipToEnd() { pos_ = len_; }

protected:
    const uint8_t* data_ = nullptr;
    uint32_t len_ = 0;
    uint32_t pos_ = 0;
    uint32_t hit_ = 0;
};

// 00 00 01 with at least MinLeft bytes from its first byte to the end.
template <uint32_t MinLeft>
class CStartCodeScanner : public CScannerBase {
public:
    const uint8_t* FindNext() {
        if (len_ < MinLeft) return nullptr;
        const uint32_t last = len_ - MinLeft;  // last candidate offset
        uint32_t i = pos_;
        while (i <= last) {
            const void* p = std::memchr(data_ + i + 2, 1, last - i + 1);
            if (!p) break;
            uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - data_);
            if (data_[j - 1] == 0 && data_[j - 2] == 0) {
                hit_ = j - 2;
                pos_ = hit_ + 1;
                return data_ + hit_;
            }
            i = j - 1;
        }
        if (pos_ < last + 1) pos_ = last + 1;
        return nullptr;
    }
};

// Plain template: scanner, handler and an embedded root element.
class AParserTemplate {
public:
    virtual ~AParserTemplate() = default;
    virtual uint32_t Parse(uint64_t pos, const uint8_t* d, uint32_t len, uint32_t pass) = 0;
    virtual ParserControl* Reset() = 0;
    virtual void ResetState() = 0;
    virtual uint32_t GetConsumed() const = 0;
    virtual uint32_t GetPending() const = 0;
    virtual AStreamElement* GetStream() = 0;
};

template <class ParserImpl, class HandlerImpl, class Stream>
class CParserTemplateImpl : public AParserTemplate {
public:
    template <class... A>
    explicit CParserTemplateImpl(A&&... streamArgs) : stream(std::forward<A>(streamArgs)...) {}
    // The root is embedded: releasing it frees the elements below it.
    ~CParserTemplateImpl() override { stream.Release(); }

    uint32_t Parse(uint64_t pos, const uint8_t* d, uint32_t len, uint32_t pass) override {
        if (control.remaining && control.sink) control.sink->OnData(pos, d, len, &control, pass);
        const uint32_t s = control.skip;
        if (s >= len) {
            consumed = len;
            pending = s - len;
        } else {
            pending = 0;
            consumed = s;
            parser.SetData(d + s, len - s);
            while (const uint8_t* h = parser.FindNext()) {
                control.skip = 0;
                const uint32_t off = uint32_t(h - d);
                consumed = off;
                if (handler.ParseHeader(pos + off, h, parser.GetAvailable()))
                    stream.OnEvent(*handler.GetEvent(), &control);
                uint32_t k = control.skip;
                if (k) {
                    if (k > len - s) k = len - s;
                    if (parser.GetAvailable() < k) {
                        consumed = len;
                        parser.SkipToEnd();
                    } else {
                        parser.Skip(k);
                        consumed += k;
                    }
                }
            }
            // Bytes the scanner passed over hold no header: they are done too,
            // so an unclaimed packet cannot pin the caller's span.
            if (s + parser.GetPosition() > consumed) consumed = s + parser.GetPosition();
        }
        control.skip = 0;
        return 1;
    }
    ParserControl* Reset() override {
        consumed = pending = 0;
        parser.ResetScanner();
        handler.ResetHandler();
        stream.Reset();
        control = ParserControl();
        return &control;
    }
    void ResetState() override {
        consumed = pending = 0;
        parser.ResetScanner();
        handler.ResetHandler();
        stream.GetState()->ResetState();
        control = ParserControl();
    }
    uint32_t GetConsumed() const override { return consumed; }
    uint32_t GetPending() const override { return pending; }
    AStreamElement* GetStream() override { return &stream; }

    ParserImpl parser;
    HandlerImpl handler;
    Stream stream;
    uint32_t consumed = 0;
    uint32_t pending = 0;
    ParserControl control;
};

// Extended template: joins blocks in its own buffer so that headers cut
// across blocks are parsed whole.
template <class ParserImpl, class HandlerImpl, class Stream>
class CParserTemplateImplEx : public CParserTemplateImpl<ParserImpl, HandlerImpl, Stream> {
    using Base = CParserTemplateImpl<ParserImpl, HandlerImpl, Stream>;

public:
    template <class... A>
    explicit CParserTemplateImplEx(A&&... a) : Base(std::forward<A>(a)...) {}

    uint32_t Parse(uint64_t pos, const uint8_t* d, uint32_t len, uint32_t) override {
        if (!len) return 1;
        if (carriedSkip > len) {
            carriedSkip -= len;
            return 1;
        }
        extra.AppendBlock(pos + carriedSkip, d + carriedSkip, len - carriedSkip);
        carriedSkip = 0;
        const uint8_t* base = extra.GetReadPtr();
        this->parser.SetData(base, extra.GetLength());
        this->consumed = 0;
        while (const uint8_t* h = this->parser.FindNext()) {
            this->consumed = uint32_t(h - base);
            if (this->handler.ParseHeader(extra.PositionOf(this->consumed), h, this->parser.GetAvailable()))
                this->stream.OnEvent(*this->handler.GetEvent(), &this->control);
            const uint32_t k = this->control.skip;
            if (k) {
                if (this->parser.GetAvailable() < k) {
                    carriedSkip = k - this->parser.GetAvailable();
                    extra.ResetBuffer();
                    this->parser.ResetScanner();
                    this->control.skip = 0;
                    return 1;
                }
                this->parser.Skip(k);
                this->consumed += k;
            }
            this->control.skip = 0;
        }
        extra.Consume(this->parser.GetPosition());
        return 1;
    }
    ParserControl* Reset() override {
        extra.ResetBuffer();
        carriedSkip = 0;
        return Base::Reset();
    }

    CExtraBuffer extra;
    uint32_t carriedSkip = 0;
};

}  // namespace BS
