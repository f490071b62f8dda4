#include "mxf/mux/LocalSets.h"

#include <cstring>

namespace mexora::mxf {

namespace {

constexpr uint16_t kPrefaceVersion = 0x0102;
constexpr uint32_t kLabelBytes = 16;

std::vector<uint8_t> Stamp(const Timestamp& t) {
    return std::vector<uint8_t>(t.begin(), t.end());
}

bool IsDvLabel(const Label& l) {
    static constexpr uint8_t kDv[14] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01,
                                        0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x02};
    return std::memcmp(l.data(), kDv, sizeof kDv) == 0;
}

// The data definition of a track by its essence label.
std::optional<Label> DataDefinitionOf(const Label& essence) {
    if (essence == DictionaryLabel("TimeCode12MData")) return DictionaryLabel("TimeCode12MData");
    if (essence == DictionaryLabel("MPEGESFrameWrap") || essence == DictionaryLabel("MPEGESFrameWrap_old") ||
        IsDvLabel(essence))
        return DictionaryLabel("PictureData");
    if (essence == DictionaryLabel("AES3_382_FrameWrap") || essence == DictionaryLabel("AES3_382_ClipWrap"))
        return DictionaryLabel("SoundData");
    return std::nullopt;
}

}  // namespace

std::vector<uint8_t> U8(uint8_t v) {
    return {v};
}
std::vector<uint8_t> U16(uint16_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
std::vector<uint8_t> U32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}
std::vector<uint8_t> U64(uint64_t v) {
    std::vector<uint8_t> b = U32(static_cast<uint32_t>(v >> 32));
    const std::vector<uint8_t> low = U32(static_cast<uint32_t>(v));
    b.insert(b.end(), low.begin(), low.end());
    return b;
}
std::vector<uint8_t> Ul(const Label& l) {
    return std::vector<uint8_t>(l.begin(), l.end());
}
std::vector<uint8_t> UmidBytes(const Umid& u) {
    return std::vector<uint8_t>(u.begin(), u.end());
}
std::vector<uint8_t> RationalBytes(Rational r) {
    std::vector<uint8_t> b = U32(static_cast<uint32_t>(r.numerator));
    const std::vector<uint8_t> d = U32(static_cast<uint32_t>(r.denominator));
    b.insert(b.end(), d.begin(), d.end());
    return b;
}
std::vector<uint8_t> Batch(const std::vector<Label>& labels) {
    std::vector<uint8_t> b = U32(static_cast<uint32_t>(labels.size()));
    const std::vector<uint8_t> len = U32(kLabelBytes);
    b.insert(b.end(), len.begin(), len.end());
    for (const Label& l : labels) b.insert(b.end(), l.begin(), l.end());
    return b;
}
std::vector<uint8_t> Text(const TextValue& t) {
    const uint32_t n = t.declared < t.bytes.size() ? t.declared : static_cast<uint32_t>(t.bytes.size());
    return std::vector<uint8_t>(t.bytes.begin(), t.bytes.begin() + n);
}

void AddUnique(std::vector<Label>& batch, const Label& label) {
    for (const Label& l : batch) {
        if (l == label) return;
    }
    batch.push_back(label);
}

LocalSet::LocalSet(const char* key, const FormatProfile& profile, const SetServices& services)
    : KlvObject(DictionaryLabel(key), profile), services_(services) {
    if (services_.newUid) SetInstanceUid(services_.newUid());
}

LocalSet* LocalSet::Find(const std::string& path) {
    const size_t dot = path.find('.');
    const std::string head = path.substr(0, dot);
    for (const auto& c : Children()) {
        LocalSet* s = dynamic_cast<LocalSet*>(c.get());
        if (!s || s->Name() != head) continue;
        return dot == std::string::npos ? s : s->Find(path.substr(dot + 1));
    }
    return nullptr;
}

uint64_t LocalSet::ItemsLength() const {
    std::vector<LocalItem> items;
    Items(items);
    uint64_t v = 0;
    for (const LocalItem& i : items) v += Format().itemHeaderSize + i.value.size();
    return v;
}

int32_t LocalSet::WriteItems(BitIo& io) const {
    std::vector<LocalItem> items;
    Items(items);
    for (const LocalItem& i : items) {
        int32_t r = io.Write16(i.tag);
        if (r >= 0) r = io.Write16(static_cast<uint16_t>(i.value.size()));
        if (r >= 0 && !i.value.empty()) r = io.Write(i.value.data(), static_cast<uint32_t>(i.value.size()));
        if (r < 0) return r;
    }
    return kKlvOk;
}

// ---- the sets ----

PrefaceSet::PrefaceSet(const FormatProfile& p, const SetServices& s) : LocalSet("PrefaceSet", p, s) {
    if (s.localTime) lastModified = s.localTime();
}

void PrefaceSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x3B02, Stamp(lastModified)});
    out.push_back({0x3B05, U16(kPrefaceVersion)});
    if (primaryPackage) out.push_back({0x3B08, Ul(*primaryPackage)});
    out.push_back({0x3B06, Batch(identifications)});
    out.push_back({0x3B03, Ul(contentStorage)});
    out.push_back({0x3B09, Ul(Format().operationalPattern)});
    out.push_back({0x3B0A, Batch(essenceContainers)});
    out.push_back({0x3B0B, Batch(dmSchemes)});
}

IdentificationSet::IdentificationSet(const FormatProfile& p, const SetServices& s)
    : LocalSet("IdentificationSet", p, s) {
    if (s.newUid) thisGenerationUid = s.newUid();
    if (s.localTime) modificationDate = s.localTime();
}

void IdentificationSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x3C09, Ul(thisGenerationUid)});
    out.push_back({0x3C01, Text(Format().companyName)});
    out.push_back({0x3C02, Text(Format().productName)});
    out.push_back({0x3C04, Text(Format().versionString)});
    out.push_back({0x3C05, Ul(Format().productLabel)});
    out.push_back({0x3C06, Stamp(modificationDate)});
}

ContentStorageSet::ContentStorageSet(const FormatProfile& p, const SetServices& s)
    : LocalSet("ContentStorageSet", p, s) {}

void ContentStorageSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x1901, Batch(packages)});
    out.push_back({0x1902, Batch(essenceContainerData)});
}

EssenceContainerDataSet::EssenceContainerDataSet(const FormatProfile& p, const SetServices& s)
    : LocalSet("EssenceContainerDataSet", p, s) {}

void EssenceContainerDataSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x2701, UmidBytes(linkedPackageUid)});
    out.push_back({0x3F06, U32(indexSid)});
    out.push_back({0x3F07, U32(bodySid)});
}

TrackSet::TrackSet(const FormatProfile& p, const SetServices& s) : LocalSet("TrackSet", p, s) {}

void TrackSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x4801, U32(trackId)});
    out.push_back({0x4804, U32(trackNumber)});
    out.push_back({0x4B01, RationalBytes(editRate)});
    out.push_back({0x4B02, U64(static_cast<uint64_t>(origin))});
    out.push_back({0x4803, Ul(sequence)});
}

SequenceSet::SequenceSet(const FormatProfile& p, const SetServices& s) : LocalSet("SequenceSet", p, s) {}

void SequenceSet::Items(std::vector<LocalItem>& out) const {
    if (dataDefinition) out.push_back({0x0201, Ul(*dataDefinition)});
    out.push_back({0x0202, U64(static_cast<uint64_t>(duration))});
    out.push_back({0x1001, Batch(components)});
}

ComponentSet::ComponentSet(bool timecode, const FormatProfile& p, const SetServices& s)
    : LocalSet(timecode ? "TimeCode12MComponentSet" : "SourceClipSet", p, s), timecode_(timecode) {}

void ComponentSet::Items(std::vector<LocalItem>& out) const {
    if (dataDefinition) out.push_back({0x0201, Ul(*dataDefinition)});
    if (timecode_) {
        out.push_back({0x0202, U64(static_cast<uint64_t>(duration + addedLength))});
        out.push_back({0x1502, U16(roundedTimecodeBase)});
        out.push_back({0x1501, U64(static_cast<uint64_t>(startTimecode))});
        out.push_back({0x1503, U8(dropFrame)});
    } else {
        out.push_back({0x1201, U64(static_cast<uint64_t>(startPosition))});
        out.push_back({0x0202, U64(static_cast<uint64_t>(duration))});
        out.push_back({0x1101, UmidBytes(sourcePackageId)});
        out.push_back({0x1102, U32(sourceTrackId)});
    }
}

FillerComponentSet::FillerComponentSet(const FormatProfile& p, const SetServices& s)
    : LocalSet("Filler Component", p, s) {}

void FillerComponentSet::Items(std::vector<LocalItem>& out) const {
    if (dataDefinition) out.push_back({0x0201, Ul(*dataDefinition)});
    out.push_back({0x0202, U64(static_cast<uint64_t>(duration))});
}

TrackGroup::TrackGroup(const FormatProfile& p) : KlvObject(Label{}, p) {
    SetHeaderless(true);
}

void TrackGroup::SetEditRate(Rational r) {
    track->editRate = r;
    if (r.numerator == 30000 && component && component->IsTimecode()) component->dropFrame = 1;
}

PackageSet::PackageSet(bool material, const FormatProfile& p, const SetServices& s)
    : LocalSet(material ? "MaterialPackageSet" : "FilePackageSet", p, s), material_(material) {
    if (s.localTime) created = modified = s.localTime();
}

void PackageSet::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x4401, UmidBytes(packageUid)});
    if (!name.empty()) out.push_back({0x4402, std::vector<uint8_t>(name.begin(), name.end())});
    out.push_back({0x4405, Stamp(created)});
    out.push_back({0x4404, Stamp(modified)});
    out.push_back({0x4403, Batch(tracks)});
    if (descriptor) out.push_back({0x4701, Ul(*descriptor)});
}

int32_t PackageSet::AddTrack(TrackDescription d) {
    const bool timecode = d.essence == DictionaryLabel("TimeCode12MData");
    if (material_) {
        d.sourceTrackId = d.trackId;
    } else {
        d.sourceTrackId = 0;
        d.sourcePackage = Umid{};
    }
    auto group = std::make_unique<TrackGroup>(Format());
    auto track = std::make_unique<TrackSet>(Format(), services_);
    auto sequence = std::make_unique<SequenceSet>(Format(), services_);
    auto component = std::make_unique<ComponentSet>(timecode, Format(), services_);
    const std::optional<Label> definition = DataDefinitionOf(d.essence);

    track->trackId = d.trackId;
    track->trackNumber = d.trackNumber;
    track->editRate = d.editRate;
    track->sequence = *sequence->InstanceUid();
    sequence->dataDefinition = definition;
    sequence->duration = d.duration;
    component->dataDefinition = definition;
    component->duration = d.duration;
    std::unique_ptr<FillerComponentSet> filler;
    if (material_ && !timecode && d.duration != 0) {
        filler = std::make_unique<FillerComponentSet>(Format(), services_);
        filler->dataDefinition = definition;
        filler->duration = d.duration;
        sequence->components.push_back(*filler->InstanceUid());
    }
    sequence->components.push_back(*component->InstanceUid());
    if (timecode) {
        switch (d.editRate.numerator) {
            case 25:
                component->roundedTimecodeBase = 25;
                break;
            case 50:
                component->roundedTimecodeBase = 50;
                break;
            case 24000:
                component->roundedTimecodeBase = 24;
                break;
            case 30000:
                component->roundedTimecodeBase = 30;
                component->dropFrame = 1;
                break;
            case 60000:
                component->roundedTimecodeBase = 60;
                break;
            default:
                break;
        }
        if (d.dropFrameGiven) component->dropFrame = d.dropFrame ? 1 : 0;
        component->startTimecode = static_cast<uint32_t>(d.start);
    }
    component->sourcePackageId = d.sourcePackage;
    component->sourceTrackId = d.sourceTrackId;
    tracks.push_back(*track->InstanceUid());

    TrackGroup* g = group.get();
    // The group writes the track, the sequence, the filler and the component in that order.
    g->track = static_cast<TrackSet*>(g->AddChild(std::move(track)));
    g->sequence = static_cast<SequenceSet*>(g->AddChild(std::move(sequence)));
    if (filler) g->AddChild(std::move(filler));
    g->component = static_cast<ComponentSet*>(g->AddChild(std::move(component)));
    AddChild(std::move(group));
    byTrack_[d.trackId] = g;
    return kKlvOk;
}

TrackGroup* PackageSet::Track(uint32_t trackId) {
    auto it = byTrack_.find(trackId);
    return it == byTrack_.end() ? nullptr : it->second;
}

}  // namespace mexora::mxf
