#include "codec/multiplexer/Descriptors.h"

namespace NS_DESCR {

CDescriptorBase::CDescriptorBase(uint8_t tag, const uint8_t* payload, size_t n) : tag_(tag) {
    if (payload && n > 0) payload_.assign(payload, payload + n);
    size_ = 2 + payload_.size();
}

bool CDescriptorBase::AddSubEntry(uint8_t code, const uint8_t* data, size_t n) {
    if (n > kMaxSubEntryData || (n > 0 && !data) || size_ + n + 1 - 2 > kMaxBody) return false;
    subEntries_.push_back({code, std::vector<uint8_t>(data, data + n)});
    size_ += n + 1;
    return true;
}

void CDescriptorBase::Write(SPL::BitstreamWriter& w) const {
    w.PutByte(tag_);
    w.PutByte(static_cast<uint8_t>(size_ - 2));
    w.PutBytes(payload_.data(), static_cast<int32_t>(payload_.size()));
    for (const SubEntry& e : subEntries_) {
        w.PutByte(e.code);
        w.PutBytes(e.data.data(), static_cast<int32_t>(e.data.size()));
    }
}

void CDescriptorBase::AppendTo(std::vector<uint8_t>& out) const {
    const size_t at = out.size();
    out.resize(at + size_);
    SPL::BitstreamWriter w;
    w.Attach(out.data() + at, static_cast<int32_t>(size_));
    Write(w);
}

DescriptorList DescriptorList::FromBytes(const uint8_t* p, size_t n) {
    DescriptorList list;
    size_t at = 0;
    while (p && n - at >= 2) {
        const size_t body = p[at + 1];
        if (body > n - at - 2) break;
        list.Add(CDescriptorBase(p[at], p + at + 2, body));
        at += 2 + body;
    }
    return list;
}

size_t DescriptorList::Size() const {
    size_t n = 0;
    for (const CDescriptorBase& d : items_) n += d.Size();
    return n;
}

void DescriptorList::Write(SPL::BitstreamWriter& w) const {
    for (const CDescriptorBase& d : items_) d.Write(w);
}

std::vector<uint8_t> DescriptorList::Bytes() const {
    std::vector<uint8_t> out;
    out.reserve(Size());
    for (const CDescriptorBase& d : items_) d.AppendTo(out);
    return out;
}

}  // namespace NS_DESCR
