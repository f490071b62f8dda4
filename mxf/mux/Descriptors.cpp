#include "mxf/mux/Descriptors.h"

#include <cstring>

namespace mexora::mxf {

namespace {

constexpr uint8_t kProfileLevel422HL = 0x82;
constexpr uint8_t kProfileLevelMainHL = 0x44;
constexpr uint8_t kProfileLevelMainH14 = 0x46;
constexpr uint32_t kOverCrunkLines = 540;

std::vector<uint8_t> LineMap(const std::vector<uint32_t>& lines) {
    std::vector<uint8_t> b = U32(static_cast<uint32_t>(lines.size()));
    const std::vector<uint8_t> four = U32(4);
    b.insert(b.end(), four.begin(), four.end());
    for (uint32_t l : lines) {
        const std::vector<uint8_t> v = U32(l);
        b.insert(b.end(), v.begin(), v.end());
    }
    return b;
}

bool IsDv(const Label& l) {
    static constexpr uint8_t kDv[14] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01,
                                        0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x02};
    return std::memcmp(l.data(), kDv, sizeof kDv) == 0;
}

bool IsMpeg(const Label& l) {
    return l == DictionaryLabel("MPEGESFrameWrap") || l == DictionaryLabel("MPEGESFrameWrap_old");
}

bool IsAes3(const Label& l) {
    return l == DictionaryLabel("AES3_382_FrameWrap") || l == DictionaryLabel("AES3_382_ClipWrap");
}

}  // namespace

// ---- MPEG video ----

MpegVideoDescriptor::MpegVideoDescriptor(const FormatProfile& p, const SetServices& s)
    : LocalSet("MPEGVideoDescriptor", p, s),
      essenceContainer(DictionaryLabel("MPEGESFrameWrap")),
      transferCharacteristic(DictionaryLabel("ITU_R_BT_709_Gamma")),
      pictureEssenceCoding(DictionaryLabel("MPEG2_MP_HL_LongGOP")) {}

void MpegVideoDescriptor::SetEditRate(Rational r) {
    sampleRate = r;
    maxGop = r.numerator == 30000 ? 15 : 12;
}

void MpegVideoDescriptor::SetHeight(uint32_t h) {
    storedHeight = sampledHeight = h;
    displayHeight = h == 1088 ? 1080 : h;  // only the coded 1088 lines show as 1080
    if (displayHeight == 720) signalStandard = 5;
    if (displayHeight == 1080) signalStandard = 4;
}

void MpegVideoDescriptor::SetWidth(uint32_t w) {
    storedWidth = sampledWidth = displayWidth = w;
}

void MpegVideoDescriptor::SetScan(bool interlaced) {
    codedContentType = interlaced ? 2 : 1;
    if (interlaced) {
        lineMap = {21, 584};
    } else {
        lineMap = {storedWidth == 1280 ? 26u : 42u, 0};
    }
}

void MpegVideoDescriptor::SetCoding(uint8_t profileLevel, uint32_t b, bool secondFlag) {
    profileAndLevel = profileLevel;
    bitRate = b;
    const bool overCrunk = displayHeight == kOverCrunkLines && codedContentType == 1;
    switch (profileLevel) {
        case kProfileLevel422HL:
            pictureEssenceCoding = DictionaryLabel("MPEG2_422P_HL_LongGOP");
            return;
        case kProfileLevelMainHL:
            pictureEssenceCoding =
                DictionaryLabel(overCrunk && !secondFlag && (b == 17500000 || b == 8750000) ? "MPEG2HLLongGOPOverCrunk"
                                                                                            : "MPEG2_MP_HL_LongGOP");
            return;
        case kProfileLevelMainH14:
            pictureEssenceCoding = DictionaryLabel(overCrunk && secondFlag && b == 12500000 ? "MPEG2H14LongGOPOverCrunk"
                                                                                            : "MPEG2_MP_H14_LongGOP");
            return;
        default:
            break;
    }
    // Other profiles and levels: the bit rates the formats use.
    if (b == 50000000) pictureEssenceCoding = DictionaryLabel("MPEG2_422P_HL_LongGOP");
    if (b == 35000000) pictureEssenceCoding = DictionaryLabel("MPEG2_MP_HL_LongGOP");
    if (b == 25000000 && secondFlag) pictureEssenceCoding = DictionaryLabel("MPEG2_MP_H14_LongGOP");
}

void MpegVideoDescriptor::SetOldLabel() {
    essenceContainer[7] = 1;
}

void MpegVideoDescriptor::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x3006, U32(linkedTrackId)});
    out.push_back({0x3001, RationalBytes(sampleRate)});
    out.push_back({0x3004, Ul(essenceContainer)});
    out.push_back({0x3215, U8(signalStandard)});
    out.push_back({0x320C, U8(frameLayout)});
    const std::pair<uint16_t, uint32_t> sizes[] = {
        {0x3203, storedWidth},   {0x3202, storedHeight},   {0x3216, storedF2Offset}, {0x3205, sampledWidth},
        {0x3204, sampledHeight}, {0x3206, sampledXOffset}, {0x3207, sampledYOffset}, {0x3208, displayHeight},
        {0x3209, displayWidth},  {0x320A, displayXOffset}, {0x320B, displayYOffset}, {0x3217, displayF2Offset}};
    for (const auto& item : sizes) out.push_back({item.first, U32(item.second)});
    out.push_back({0x320E, RationalBytes(aspectRatio)});
    out.push_back({0x320D, LineMap(lineMap)});
    out.push_back({0x3210, Ul(transferCharacteristic)});
    out.push_back({0x3211, U32(imageAlignmentOffset)});
    out.push_back({0x3213, U32(imageStartOffset)});
    out.push_back({0x3214, U32(imageEndOffset)});
    out.push_back({0x3212, U8(fieldDominance)});
    out.push_back({0x3201, Ul(pictureEssenceCoding)});
    out.push_back({0x3301, U32(componentDepth)});
    out.push_back({0x3302, U32(horizontalSubsampling)});
    out.push_back({0x3308, U32(verticalSubsampling)});
    out.push_back({0x3303, U8(colorSiting)});
    out.push_back({0x330B, U8(reversedByteOrder)});
    out.push_back({0x3307, U16(paddingBits)});
    out.push_back({0x3304, U32(blackRefLevel)});
    out.push_back({0x3305, U32(whiteRefLevel)});
    out.push_back({0x3306, U32(colorRange)});
    const uint8_t flags[] = {singleSequence, constantBFrames, codedContentType, lowDelay, closedGop, identicalGop};
    for (int i = 0; i < 6; i++) out.push_back({static_cast<uint16_t>(0x8000 + i), U8(flags[i])});
    out.push_back({0x8006, U16(maxGop)});
    out.push_back({0x8007, U16(bPictureCount)});
    out.push_back({0x8008, U32(bitRate)});
    out.push_back({0x8009, U8(profileAndLevel)});
}

// ---- DV picture ----

CdciDescriptor::CdciDescriptor(const FormatProfile& p, const SetServices& s)
    : LocalSet("CDCIPictureDescriptor", p, s),
      essenceContainer{0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x02, 0x60, 0x02},
      pictureEssenceCoding{0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x03,
                           0x04, 0x01, 0x02, 0x02, 0x01, 0x03, 0x03, 0x00} {}

void CdciDescriptor::SetDvType(int type, bool fiftyHz) {
    struct Row {
        uint8_t coding50[4], container50, coding[4], container;
    };
    static constexpr Row kRows[5] = {
        {{0x02, 0x01, 0x02, 0x00}, 0x02, {0x02, 0x01, 0x01, 0x00}, 0x01},
        {{0x02, 0x02, 0x02, 0x00}, 0x41, {0x02, 0x02, 0x01, 0x00}, 0x40},
        {{0x02, 0x02, 0x04, 0x00}, 0x51, {0x02, 0x02, 0x03, 0x00}, 0x50},
        {{0x02, 0x02, 0x08, 0x00}, 0x63, {0x02, 0x02, 0x07, 0x00}, 0x62},
        {{0x02, 0x02, 0x06, 0x00}, 0x61, {0x02, 0x02, 0x05, 0x00}, 0x60},
    };
    if (type < 1 || type > 5) return;
    const Row& r = kRows[type - 1];
    static constexpr uint8_t kHead[12] = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02, 0x02};
    std::memcpy(pictureEssenceCoding.data(), kHead, sizeof kHead);
    std::memcpy(pictureEssenceCoding.data() + 12, fiftyHz ? r.coding50 : r.coding, 4);
    essenceContainer[14] = fiftyHz ? r.container50 : r.container;
}

void CdciDescriptor::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x3001, RationalBytes(sampleRate)});
    out.push_back({0x3002, U64(static_cast<uint64_t>(containerDuration))});
    out.push_back({0x3004, Ul(essenceContainer)});
    out.push_back({0x320C, U8(frameLayout)});
    out.push_back({0x3203, U32(storedWidth)});
    out.push_back({0x3202, U32(storedHeight)});
    out.push_back({0x320E, RationalBytes(aspectRatio)});
    out.push_back({0x320D, LineMap(lineMap)});
    out.push_back({0x3201, Ul(pictureEssenceCoding)});
    out.push_back({0x3301, U32(componentDepth)});
    out.push_back({0x3302, U32(horizontalSubsampling)});
    out.push_back({0x3308, U32(verticalSubsampling)});
}

// ---- AES3 sound ----

Aes3Descriptor::Aes3Descriptor(const FormatProfile& p, const SetServices& s) : LocalSet("AES3AudioDescriptor", p, s) {}

void Aes3Descriptor::Items(std::vector<LocalItem>& out) const {
    const bool xdcam = Format().number == kXdcamProfile;
    if (xdcam) out.push_back({0x3006, U32(linkedTrackId)});
    out.push_back({0x3001, RationalBytes(sampleRate)});
    if (!xdcam) out.push_back({0x3002, U64(static_cast<uint64_t>(containerDuration))});
    out.push_back({0x3004, Ul(essenceContainer)});
    out.push_back({0x3D03, RationalBytes(audioSamplingRate)});
    out.push_back({0x3D02, U8(locked)});
    if (xdcam) out.push_back({0x3D04, U8(audioRefLevel)});
    out.push_back({0x3D07, U32(channelCount)});
    out.push_back({0x3D01, U32(quantizationBits)});
    out.push_back({0x3D0A, U16(blockAlign)});
    out.push_back({0x3D09, U32(averageBytesPerSecond)});
    if (xdcam) {
        // ChannelStatusMode: one 1-byte entry; FixedChannelStatusData: one 24-byte entry.
        std::vector<uint8_t> mode = U32(1);
        const std::vector<uint8_t> one = U32(1);
        mode.insert(mode.end(), one.begin(), one.end());
        mode.push_back(1);
        std::vector<uint8_t> fixed = U32(1);
        const std::vector<uint8_t> len = U32(24);
        fixed.insert(fixed.end(), len.begin(), len.end());
        fixed.push_back(0x85);
        fixed.insert(fixed.end(), 23, 0);
        out.push_back({0x3D10, mode});
        out.push_back({0x3D11, fixed});
    }
}

// ---- multiple ----

MultipleDescriptor::MultipleDescriptor(const FormatProfile& p, const SetServices& s)
    : LocalSet("MultipleDescriptorSet", p, s), essenceContainer(DictionaryLabel("MultipleEC")) {}

void MultipleDescriptor::Items(std::vector<LocalItem>& out) const {
    out.push_back({0x3001, RationalBytes(sampleRate)});
    out.push_back({0x3004, Ul(essenceContainer)});
    out.push_back({0x3F01, Batch(fileDescriptors)});
}

// ---- header metadata ----

HeaderMetadata::HeaderMetadata(const Umid& materialUid, const Umid& fileUid, const FormatProfile& p,
                               const SetServices& s)
    : KlvObject(Label{}, p), services_(s) {
    SetHeaderless(true);
    SetKagRounded(true);
    AddChild(std::make_unique<PrimerPack>(p));
    preface = static_cast<PrefaceSet*>(AddChild(std::make_unique<PrefaceSet>(p, s)));
    identification = static_cast<IdentificationSet*>(AddChild(std::make_unique<IdentificationSet>(p, s)));
    storage = static_cast<ContentStorageSet*>(AddChild(std::make_unique<ContentStorageSet>(p, s)));
    containerData = static_cast<EssenceContainerDataSet*>(AddChild(std::make_unique<EssenceContainerDataSet>(p, s)));
    material = static_cast<PackageSet*>(AddChild(std::make_unique<PackageSet>(true, p, s)));
    file = static_cast<PackageSet*>(AddChild(std::make_unique<PackageSet>(false, p, s)));
    material->packageUid = materialUid;
    material->filePackageUid = fileUid;
    file->packageUid = fileUid;
    preface->identifications.push_back(*identification->InstanceUid());
    preface->contentStorage = *storage->InstanceUid();
    storage->packages.push_back(*material->InstanceUid());
    storage->packages.push_back(*file->InstanceUid());
    AddUnique(storage->essenceContainerData, *containerData->InstanceUid());
    containerData->linkedPackageUid = fileUid;
    LinkPrimary();
}

void HeaderMetadata::LinkPrimary() {
    if (Format().number == kP2Profile) {
        preface->primaryPackage = *file->InstanceUid();
    } else {
        preface->primaryPackage.reset();
    }
}

void HeaderMetadata::SetFormat(const FormatProfile& profile) {
    KlvObject::SetFormat(profile);
    LinkPrimary();
}

int32_t HeaderMetadata::AddDescriptor(uint32_t trackId, const Label& essence, Rational rate, bool multiple) {
    const FormatProfile& p = Format();
    std::unique_ptr<LocalSet> sub;
    if (IsMpeg(essence) && multiple) {
        auto d = std::make_unique<MpegVideoDescriptor>(p, services_);
        d->linkedTrackId = trackId;
        d->SetEditRate(rate);
        sub = std::move(d);
    } else if (IsDv(essence)) {
        auto d = std::make_unique<CdciDescriptor>(p, services_);
        d->sampleRate = rate;
        sub = std::move(d);
    } else if (IsAes3(essence)) {
        auto d = std::make_unique<Aes3Descriptor>(p, services_);
        d->essenceContainer = essence;
        d->linkedTrackId = trackId;
        d->sampleRate = rate;
        sub = std::move(d);
    }
    if (!sub) return kKlvOk;  // no descriptor for this kind of essence
    if (!multiple) {
        file->descriptor = *sub->InstanceUid();
        file->AddChild(std::move(sub));
        return kKlvOk;
    }
    if (!multiple_) {
        multiple_ =
            static_cast<MultipleDescriptor*>(file->AddChild(std::make_unique<MultipleDescriptor>(p, services_)));
        file->descriptor = *multiple_->InstanceUid();
    }
    if (!IsAes3(essence)) multiple_->sampleRate = rate;
    multiple_->fileDescriptors.push_back(*sub->InstanceUid());
    multiple_->AddChild(std::move(sub));
    return kKlvOk;
}

LocalSet* HeaderMetadata::SubDescriptor(const char* name, uint32_t trackId) {
    if (!multiple_) return nullptr;
    for (const auto& c : multiple_->Children()) {
        if (c->Name() != name) continue;
        if (auto* m = dynamic_cast<MpegVideoDescriptor*>(c.get()); m && m->linkedTrackId == trackId) return m;
        if (auto* a = dynamic_cast<Aes3Descriptor*>(c.get()); a && a->linkedTrackId == trackId) return a;
    }
    return nullptr;
}

}  // namespace mexora::mxf
