// The local sets of MXF header metadata (SMPTE 377M): each set lists its
// items (tag, value) in written order; the base class sizes and writes them.
#pragma once

#include "mxf/mux/Klv.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace mexora::mxf {

// Outside values the sets take: new UIDs and the local time.
struct SetServices {
    std::function<Label()> newUid;
    // Year, month, day, hour, minute, second and a last byte, as written.
    std::function<std::array<uint8_t, 8>()> localTime;
};

struct LocalItem {
    uint16_t tag;
    std::vector<uint8_t> value;
};

class LocalSet : public KlvObject {
public:
    LocalSet(const char* key, const FormatProfile& profile, const SetServices& services);
    // The first child of a given name (a dotted path looks one level per part).
    LocalSet* Find(const std::string& path);

protected:
    virtual void Items(std::vector<LocalItem>& out) const = 0;
    uint64_t ItemsLength() const override;
    int32_t WriteItems(BitIo& io) const override;
    const SetServices& services_;
};

// Item value builders (big-endian).
std::vector<uint8_t> U8(uint8_t v);
std::vector<uint8_t> U16(uint16_t v);
std::vector<uint8_t> U32(uint32_t v);
std::vector<uint8_t> U64(uint64_t v);
std::vector<uint8_t> Ul(const Label& l);
std::vector<uint8_t> UmidBytes(const Umid& u);
std::vector<uint8_t> RationalBytes(Rational r);
std::vector<uint8_t> Batch(const std::vector<Label>& labels);
std::vector<uint8_t> Text(const TextValue& t);

using Timestamp = std::array<uint8_t, 8>;

// Appends unless an equal label is there.
void AddUnique(std::vector<Label>& batch, const Label& label);

class PrefaceSet : public LocalSet {
public:
    PrefaceSet(const FormatProfile& p, const SetServices& s);
    Timestamp lastModified{};
    std::optional<Label> primaryPackage;
    std::vector<Label> identifications, essenceContainers, dmSchemes;
    Label contentStorage{};

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class IdentificationSet : public LocalSet {
public:
    IdentificationSet(const FormatProfile& p, const SetServices& s);
    Label thisGenerationUid{};
    Timestamp modificationDate{};

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class ContentStorageSet : public LocalSet {
public:
    ContentStorageSet(const FormatProfile& p, const SetServices& s);
    std::vector<Label> packages, essenceContainerData;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class EssenceContainerDataSet : public LocalSet {
public:
    EssenceContainerDataSet(const FormatProfile& p, const SetServices& s);
    Umid linkedPackageUid{};
    uint32_t indexSid = 1, bodySid = 2;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class TrackSet : public LocalSet {
public:
    TrackSet(const FormatProfile& p, const SetServices& s);
    uint32_t trackId = 0, trackNumber = 0;
    Rational editRate;
    int64_t origin = 0;
    Label sequence{};

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class SequenceSet : public LocalSet {
public:
    SequenceSet(const FormatProfile& p, const SetServices& s);
    std::optional<Label> dataDefinition;
    int64_t duration = 0;
    std::vector<Label> components;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

// The timecode component and the source clip: one class, chosen by a flag.
class ComponentSet : public LocalSet {
public:
    ComponentSet(bool timecode, const FormatProfile& p, const SetServices& s);
    bool IsTimecode() const { return timecode_; }
    std::optional<Label> dataDefinition;
    int64_t duration = 0, addedLength = 0;
    uint16_t roundedTimecodeBase = 0;
    int64_t startTimecode = 0;
    uint8_t dropFrame = 0;
    int64_t startPosition = 0;
    Umid sourcePackageId{};
    uint32_t sourceTrackId = 0;

protected:
    void Items(std::vector<LocalItem>& out) const override;

private:
    bool timecode_;
};

class FillerComponentSet : public LocalSet {
public:
    FillerComponentSet(const FormatProfile& p, const SetServices& s);
    std::optional<Label> dataDefinition;
    int64_t duration = 0;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

// What adding a track needs.
struct TrackDescription {
    uint32_t trackId = 0, trackNumber = 0;
    Rational editRate;
    Label essence{};
    int64_t duration = 0;
    int32_t start = 0;
    Umid sourcePackage{};
    uint32_t sourceTrackId = 0;
    bool dropFrameGiven = false;
    bool dropFrame = false;
};

// A track with its sequence and components (a composite of sets).
class TrackGroup : public KlvObject {
public:
    TrackGroup(const FormatProfile& p);
    TrackSet* track = nullptr;
    SequenceSet* sequence = nullptr;
    ComponentSet* component = nullptr;
    void SetEditRate(Rational r);

protected:
    uint64_t ItemsLength() const override { return 0; }
    int32_t WriteItems(BitIo&) const override { return kKlvOk; }
};

class PackageSet : public LocalSet {
public:
    // material: MaterialPackageSet, else FilePackageSet.
    PackageSet(bool material, const FormatProfile& p, const SetServices& s);
    bool IsMaterial() const { return material_; }
    Umid packageUid{};
    Umid filePackageUid{};  // the material package keeps the file package's beside its own
    std::string name;
    Timestamp created{}, modified{};
    std::vector<Label> tracks;
    std::optional<Label> descriptor;
    int32_t AddTrack(TrackDescription d);
    TrackGroup* Track(uint32_t trackId);

protected:
    void Items(std::vector<LocalItem>& out) const override;

private:
    bool material_;
    std::map<uint32_t, TrackGroup*> byTrack_;
};

}  // namespace mexora::mxf
