// Tag-length descriptors of the program map table: the ES-info descriptors
// an input carries (set on its pin or added by its scanner) and those a
// program carries. A descriptor is a payload plus sub-entries of a code byte
// and up to 16 data bytes; one length byte covers both.
#pragma once

#include "codec/scanning/Bitstream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace NS_DESCR {

class CDescriptorBase {
public:
    static constexpr size_t kMaxBody = 255;  // one length byte
    static constexpr size_t kMaxSubEntryData = 16;

    CDescriptorBase() = default;
    CDescriptorBase(uint8_t tag, const uint8_t* payload, size_t n);
    virtual ~CDescriptorBase() = default;
    CDescriptorBase(const CDescriptorBase&) = default;
    CDescriptorBase& operator=(const CDescriptorBase&) = default;

    uint8_t Tag() const { return tag_; }
    const std::vector<uint8_t>& Payload() const { return payload_; }
    // False, and nothing added, past 16 data bytes or the length byte's reach.
    bool AddSubEntry(uint8_t code, const uint8_t* data, size_t n);
    // Bytes on the wire: tag, length, payload, each sub-entry's code and data.
    size_t Size() const { return size_; }
    bool Fits() const { return size_ - 2 <= kMaxBody; }
    virtual void Write(SPL::BitstreamWriter& w) const;
    void AppendTo(std::vector<uint8_t>& out) const;

private:
    struct SubEntry {
        uint8_t code;
        std::vector<uint8_t> data;
    };
    uint8_t tag_ = 0;
    std::vector<uint8_t> payload_;
    std::vector<SubEntry> subEntries_;
    size_t size_ = 2;
};

class DescriptorList {
public:
    DescriptorList() = default;
    // The whole descriptors of a run of tag-length bytes; a last one that
    // runs past the end is dropped.
    static DescriptorList FromBytes(const uint8_t* p, size_t n);

    void Add(const CDescriptorBase& d) { items_.push_back(d); }
    void Clear() { items_.clear(); }
    bool Empty() const { return items_.empty(); }
    size_t Count() const { return items_.size(); }
    const CDescriptorBase& operator[](size_t i) const { return items_[i]; }
    size_t Size() const;
    void Write(SPL::BitstreamWriter& w) const;
    std::vector<uint8_t> Bytes() const;

private:
    std::vector<CDescriptorBase> items_;
};

}  // namespace NS_DESCR
