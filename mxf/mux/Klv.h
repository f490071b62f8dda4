// The KLV object model of the MXF writer: labels and their dictionary, the
// per-file format profile, BER lengths, KAG alignment with fill items, and
// the packs that carry no local sets (partition pack, primer pack, random
// index pack, index table segment, system item).
#pragma once

#include "mxf/mux/BitIo.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mexora::mxf {

using Label = std::array<uint8_t, 16>;
using Umid = std::array<uint8_t, 32>;

enum KlvResult : int32_t {
    kKlvOk = 0,
    kKlvNoMemory = -29,
    kKlvBadProfile = -120,
    kKlvNoRoomForFill = -121,  // a reserved size leaves a gap no fill item fits
};

struct DictionaryRow {
    const char* name;
    Label label;
};

// The label of a dictionary name (all zero for an unknown name).
Label DictionaryLabel(const char* name);
// The name of a label, comparing its first 15 bytes; null when unknown.
const char* DictionaryName(const Label& label);
size_t DictionarySize();

// A 32-byte text of 16-bit big-endian characters with a declared length.
struct TextValue {
    std::array<uint8_t, 32> bytes{};
    uint32_t declared = 0;
    void Set(const char* text, uint32_t declaredLength);
};

struct FormatProfile {
    int32_t number = 0;
    uint32_t kagSize = 1;
    uint32_t itemHeaderSize = 4;
    uint32_t keyLength = 16;
    uint32_t lengthSize = 4;
    Label operationalPattern{};
    int32_t counters[3] = {};
    TextValue companyName, productName, versionString;
    Label productLabel{};
    uint32_t HeaderSize() const { return keyLength + lengthSize; }
};

constexpr int32_t kXdcamProfile = 0;
constexpr int32_t kP2Profile = 3;

// Profile 0 (XDCAM) or 3 (P2; opAtomFlag picks the OP-Atom variant); -120
// for any other number.
int32_t MakeFormatProfile(int32_t number, bool opAtomFlag, FormatProfile* profile);

// BER long form of exactly `size` bytes: 0x80 + size - 1, then the value.
int32_t WriteBer(BitIo& io, uint64_t value, uint32_t size);

// The next multiple of the KAG; one more KAG when the gap left is too small
// for a fill item (shorter than a key and a length plus one byte).
uint64_t RoundToKag(uint64_t total, uint32_t kagSize, uint32_t headerSize);

// The base of every pack and set: key, optional InstanceUID, items,
// children, and a reserved or KAG-rounded total filled at the end.
class KlvObject {
public:
    KlvObject(const Label& key, const FormatProfile& profile);
    virtual ~KlvObject() = default;
    KlvObject(const KlvObject&) = delete;
    KlvObject& operator=(const KlvObject&) = delete;

    virtual void SetPosition(int64_t position) { position_ = position; }
    int64_t Position() const { return position_; }
    const Label& Key() const { return key_; }
    void SetKey(const Label& key);
    const std::string& Name() const { return name_; }
    void SetInstanceUid(const Label& uid) { uid_ = uid; }
    const std::optional<Label>& InstanceUid() const { return uid_; }
    const FormatProfile& Format() const { return profile_; }
    virtual void SetFormat(const FormatProfile& profile);

    // Recomputes the value length from the object's own items. Children are
    // KLVs of their own, written after the object.
    void Update();
    uint64_t ValueLength() const { return valueLength_; }
    // Recomputes value length and total (KAG-rounded or reserved).
    uint64_t ComputeSize();
    uint64_t TotalSize() const { return totalSize_; }
    void SetTotalSize(uint64_t reserved) { reserved_ = reserved; }
    virtual int32_t Serialize(BitIo& io);
    int32_t WriteFill(BitIo& io) const;

    KlvObject* AddChild(std::unique_ptr<KlvObject> child);
    const std::vector<std::unique_ptr<KlvObject>>& Children() const { return children_; }

protected:
    // Bytes of the object's own items (not the InstanceUID item, not children).
    virtual uint64_t ItemsLength() const = 0;
    virtual int32_t WriteItems(BitIo& io) const = 0;
    void SetKagRounded(bool on) { kagRounded_ = on; }
    // A group writes no KLV of its own, only its children (and its fill).
    void SetHeaderless(bool on) { headerless_ = on; }

private:
    Label key_;
    std::string name_;
    FormatProfile profile_;
    int64_t position_ = 0;
    std::optional<Label> uid_;
    uint64_t valueLength_ = 0;
    uint64_t totalSize_ = 0;
    uint64_t reserved_ = 0;
    bool kagRounded_ = false;
    bool headerless_ = false;
    uint64_t childrenTotal_ = 0;
    std::vector<std::unique_ptr<KlvObject>> children_;
};

class PartitionPack : public KlvObject {
public:
    // kind: "HeaderPartitionPack", "BodyPartitionPack" or "FooterPartitionPack".
    PartitionPack(const char* kind, const FormatProfile& profile);
    void SetPosition(int64_t position) override;
    int64_t thisPartition = 0, previousPartition = 0, footerPartition = 0;
    uint64_t headerByteCount = 0, indexByteCount = 0, bodyOffset = 0;
    uint32_t indexSid = 0, bodySid = 0;
    // Appends unless an equal label is there.
    void AddEssenceContainer(const Label& label);
    void ReplaceEssenceContainer(const Label& from, const Label& to);
    const std::vector<Label>& EssenceContainers() const { return containers_; }

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;

private:
    std::vector<Label> containers_;
};

class PrimerPack : public KlvObject {
public:
    explicit PrimerPack(const FormatProfile& profile);
    static constexpr uint32_t kEntries = 102;

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;
};

class RandomIndexPack : public KlvObject {
public:
    explicit RandomIndexPack(const FormatProfile& profile);
    void Add(uint32_t bodySid, uint64_t byteOffset) { entries_.push_back({bodySid, byteOffset}); }

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;

private:
    struct Entry {
        uint32_t sid;
        uint64_t offset;
    };
    std::vector<Entry> entries_;
};

struct Rational {
    int32_t numerator = 0, denominator = 1;
};

struct DeltaEntry {
    int8_t posTableIndex;
    uint8_t slice;
    uint32_t elementDelta;
};

struct IndexEntry {
    int8_t temporalOffset = 0;
    int8_t keyFrameOffset = 0;
    uint8_t flags = 0;
    uint64_t streamOffset = 0;
    uint32_t sliceOffset = 0;
};

class IndexTableSegment : public KlvObject {
public:
    explicit IndexTableSegment(const FormatProfile& profile);
    Rational editRate;
    int64_t startPosition = 0;
    int64_t duration = 0;
    uint32_t editUnitByteCount = 0;
    uint32_t indexSid = 1, bodySid = 2;
    std::vector<IndexEntry> entries;
    // System item at 0, picture at D, then one entry per sound element of
    // size A in slice 1.
    void SetDeltas(uint32_t pictureOffset, uint32_t soundSize, uint32_t soundCount);
    const std::vector<DeltaEntry>& Deltas() const { return deltas_; }

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;

private:
    std::vector<DeltaEntry> deltas_;
};

// SMPTE 326M rate index shifted left by one, bit 0 for the 1000/1001
// rates; 0 for a rate it has no index for.
uint8_t ContentPackageRate(Rational editRate);

// The package metadata set of a system item: the clip's extended UMID and
// an optional essence mark.
class PackageMetadataSet : public KlvObject {
public:
    PackageMetadataSet(const std::array<uint8_t, 64>& umid, const FormatProfile& profile);
    // "_RecStart", "_ShotMark1", "_ShotMark2" or "_KeyFrame"; empty for none.
    std::string mark;

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;

private:
    std::array<uint8_t, 64> umid_;
};

// The system item's pack. Its package metadata set follows as a KLV of its
// own (SMPTE 385M), not nested in the pack's value; padding the content
// package to the KAG is the writer's.
class SystemMetadataPack : public KlvObject {
public:
    // continuity: the process-wide count of packs made so far.
    SystemMetadataPack(Rational editRate, uint16_t continuity, const std::array<uint8_t, 64>& umid,
                       const FormatProfile& profile);
    uint8_t Rate() const { return rate_; }
    PackageMetadataSet& Package() { return *package_; }
    // The content package's SMPTE 12M time code (0x81 and four BCD bytes),
    // written as its creation stamp; all zero writes an empty stamp.
    std::array<uint8_t, 5> timecode{};
    // Writes the pack, then the package metadata set.
    int32_t Serialize(BitIo& io) override;
    // Both KLVs.
    uint64_t SystemItemSize();

protected:
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;

private:
    uint8_t rate_;
    uint16_t continuity_;
    std::unique_ptr<PackageMetadataSet> package_;
};

}  // namespace mexora::mxf
