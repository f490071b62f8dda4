// The essence descriptors of the file package and the header metadata that
// holds every set.
#pragma once

#include "mxf/mux/LocalSets.h"

namespace mexora::mxf {

class MpegVideoDescriptor : public LocalSet {
public:
    MpegVideoDescriptor(const FormatProfile& p, const SetServices& s);
    uint32_t linkedTrackId = 0;
    Rational sampleRate;
    Label essenceContainer{};
    uint8_t signalStandard = 4, frameLayout = 0;
    uint32_t storedWidth = 1440, storedHeight = 0, storedF2Offset = 0, sampledWidth = 1440, sampledHeight = 0;
    uint32_t sampledXOffset = 0, sampledYOffset = 0, displayHeight = 0, displayWidth = 1440;
    uint32_t displayXOffset = 0, displayYOffset = 0, displayF2Offset = 0;
    Rational aspectRatio{16, 9};
    std::vector<uint32_t> lineMap;
    Label transferCharacteristic{};
    uint32_t imageAlignmentOffset = 0, imageStartOffset = 0, imageEndOffset = 0;
    uint8_t fieldDominance = 1;
    Label pictureEssenceCoding{};
    uint32_t componentDepth = 8, horizontalSubsampling = 2, verticalSubsampling = 2;
    uint8_t colorSiting = 255, reversedByteOrder = 0;
    uint16_t paddingBits = 0;
    uint32_t blackRefLevel = 16, whiteRefLevel = 235, colorRange = 225;
    uint8_t singleSequence = 0, constantBFrames = 0, codedContentType = 0, lowDelay = 0, closedGop = 0,
            identicalGop = 0;
    uint16_t maxGop = 0, bPictureCount = 2;
    uint32_t bitRate = 0;
    uint8_t profileAndLevel = 0x44;

    void SetEditRate(Rational r);
    // Display height 1088 is shown as 1080; SignalStandard follows the lines.
    void SetHeight(uint32_t h);
    void SetWidth(uint32_t w);
    void SetScan(bool interlaced);
    // The coding label by profile_and_level first, then the bit rate.
    void SetCoding(uint8_t profileLevel, uint32_t bitRateValue, bool secondFlag);
    void SetOldLabel();

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class CdciDescriptor : public LocalSet {
public:
    CdciDescriptor(const FormatProfile& p, const SetServices& s);
    Rational sampleRate;
    int64_t containerDuration = 0;
    Label essenceContainer{};
    uint8_t frameLayout = 0;
    uint32_t storedWidth = 720, storedHeight = 0;
    Rational aspectRatio{16, 9};
    std::vector<uint32_t> lineMap{21, 584};
    Label pictureEssenceCoding{};
    uint32_t componentDepth = 8, horizontalSubsampling = 2, verticalSubsampling = 1;
    // DV type 1-5 and whether the source is 50 Hz; other types change nothing.
    void SetDvType(int type, bool fiftyHz);

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class Aes3Descriptor : public LocalSet {
public:
    Aes3Descriptor(const FormatProfile& p, const SetServices& s);
    uint32_t linkedTrackId = 0;
    Rational sampleRate;
    int64_t containerDuration = 0;
    Label essenceContainer{};
    Rational audioSamplingRate{48000, 1};
    uint8_t locked = 1, audioRefLevel = 0;
    uint32_t channelCount = 1, quantizationBits = 16;
    uint16_t blockAlign = 2;
    uint32_t averageBytesPerSecond = 96000;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

class MultipleDescriptor : public LocalSet {
public:
    MultipleDescriptor(const FormatProfile& p, const SetServices& s);
    Rational sampleRate;
    Label essenceContainer{};
    std::vector<Label> fileDescriptors;

protected:
    void Items(std::vector<LocalItem>& out) const override;
};

// Every set of a file's header metadata: primer pack, preface,
// identification, content storage, essence container data, material and
// file package, linked by InstanceUID.
class HeaderMetadata : public KlvObject {
public:
    HeaderMetadata(const Umid& materialUid, const Umid& fileUid, const FormatProfile& p, const SetServices& s);
    void SetFormat(const FormatProfile& profile) override;
    PrefaceSet* preface = nullptr;
    IdentificationSet* identification = nullptr;
    ContentStorageSet* storage = nullptr;
    EssenceContainerDataSet* containerData = nullptr;
    PackageSet* material = nullptr;
    PackageSet* file = nullptr;
    // The descriptor of a stream in the file package; a label that is neither
    // MPEG-ES, DV nor AES3 adds nothing and is no error.
    int32_t AddDescriptor(uint32_t trackId, const Label& essence, Rational rate, bool multiple);
    LocalSet* SubDescriptor(const char* name, uint32_t trackId);

protected:
    uint64_t ItemsLength() const override { return 0; }
    int32_t WriteItems(BitIo&) const override { return kKlvOk; }

private:
    void LinkPrimary();
    const SetServices& services_;
    MultipleDescriptor* multiple_ = nullptr;
};

}  // namespace mexora::mxf
