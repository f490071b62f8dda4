#include "mxf/mux/TrackWriter.h"

#include "mxf/mux/FileValues.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace mexora::mxf {

namespace {

constexpr uint32_t kBodySid = 2;
constexpr uint32_t kIndexSid = 1;
constexpr uint32_t kTimecodeTrack = 1;
constexpr uint64_t kP2HeaderArea = 32620;  // header metadata and its fill, after the partition pack
constexpr uint32_t kElementBerBytes = 4;   // frame-wrapped elements: 0x83 and three bytes
constexpr uint32_t kClipBerBytes = 9;      // the clip-wrapped element: 0x88 and eight bytes
constexpr uint32_t kMaxFrameElement = 0xFFFFFF;
constexpr size_t kKagPadding = 512;  // the most a fill item adds, twice over when the gap is short
constexpr uint32_t kAudioRate = 48000;
constexpr int kMaxSoundTracks = 8;
constexpr uint8_t kSoundEntryFlags = 0x80;  // every sound-only edit unit is a random access point
constexpr int64_t kTicksPerDay = 864000000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr Label kDvContainer = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                                0x0D, 0x01, 0x03, 0x01, 0x02, 0x02, 0x7F, 0x02};

std::atomic<uint16_t> g_continuity{0};

#define TW_TRY(expr)               \
    do {                           \
        const int32_t r_ = (expr); \
        if (r_ < 0) return r_;     \
    } while (0)

void AppendLabel(std::vector<uint8_t>& b, const Label& l) {
    b.insert(b.end(), l.begin(), l.end());
}

void AppendBer(std::vector<uint8_t>& b, uint64_t value, uint32_t size) {
    b.push_back(static_cast<uint8_t>(0x80 + size - 1));
    for (uint32_t i = size - 1; i > 0; i--) b.push_back(static_cast<uint8_t>(value >> (8 * (i - 1))));
}

void AppendElement(std::vector<uint8_t>& b, const Label& key, const std::vector<uint8_t>& data) {
    AppendLabel(b, key);
    AppendBer(b, data.size(), kElementBerBytes);
    b.insert(b.end(), data.begin(), data.end());
}

Rational ToRational(es::Rate r) {
    return {r.numerator, r.denominator};
}

// The edit rate of the frame-rate codes 1-8 of the AES3 header and of MPEG video.
Rational RateOfCode(int code) {
    static constexpr Rational kRates[8] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                           {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    return code >= 1 && code <= 8 ? kRates[code - 1] : Rational{0, 1};
}

Label SoundElementKey(int tracks, int index, bool clip) {
    char name[48];
    std::snprintf(name, sizeof name,
                  clip ? "AES3ClipWrap_Sound%dChannelsElement" : "AES3FrameWrap_Sound%dChannelsElement", tracks);
    Label key = DictionaryLabel(name);
    key[15] = static_cast<uint8_t>(clip ? 1 : index);
    return key;
}

}  // namespace

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
Timestamp TimestampOf(int64_t ticks) {
    if (ticks < 0) ticks = 0;
    int64_t days = ticks / kTicksPerDay - kDaysFrom1601To1970;
    const int64_t secondOfDay = ticks % kTicksPerDay / kSecond;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t year = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) year++;
    return {static_cast<uint8_t>(year >> 8),
            static_cast<uint8_t>(year),
            static_cast<uint8_t>(month),
            static_cast<uint8_t>(day),
            static_cast<uint8_t>(secondOfDay / 3600),
            static_cast<uint8_t>(secondOfDay / 60 % 60),
            static_cast<uint8_t>(secondOfDay % 60),
            0};
}

void TrackWriter::SetContinuity(uint16_t value) {
    g_continuity = value;
}

TrackWriter::TrackWriter(const FileSettings& settings, const SetServices& services, Sink sink)
    : settings_(settings), services_(services), sink_(std::move(sink)) {
    MakeFormatProfile(settings_.profile, true, &profile_);
}

void TrackWriter::AddTrack(const TrackFormat& format) {
    tracks_.push_back(format);
}

const TrackFormat* TrackWriter::Picture() const {
    for (const TrackFormat& t : tracks_) {
        if (t.kind != EssenceKind::kAes3) return &t;
    }
    return nullptr;
}

int TrackWriter::SoundTracks() const {
    int n = 0;
    for (const TrackFormat& t : tracks_) n += t.kind == EssenceKind::kAes3 ? 1 : 0;
    return n;
}

int32_t TrackWriter::Emit(BitIo& io, int64_t position) {
    OutputPiece piece;
    try {
        piece.data = io.Bytes();
    } catch (const std::bad_alloc&) {
        return kTrackWriterNoMemory;
    }
    piece.position = position;
    piece.output = settings_.output;
    if (position < 0) written_ += static_cast<int64_t>(piece.data.size());
    sink_(std::move(piece));
    return kTrackWriterOk;
}

std::unique_ptr<PartitionPack> TrackWriter::NewPartition(const char* kind) {
    auto pack = std::make_unique<PartitionPack>(kind, profile_);
    for (const Label& l : containers_) pack->AddEssenceContainer(l);
    return pack;
}

std::unique_ptr<IndexTableSegment> TrackWriter::NewSegment() {
    auto s = std::make_unique<IndexTableSegment>(profile_);
    s->editRate = editRate_;
    s->indexSid = kIndexSid;
    s->bodySid = kBodySid;
    if (services_.newUid) s->SetInstanceUid(services_.newUid());
    return s;
}

void TrackWriter::FillMpegDescriptor(const TrackFormat& format) {
    auto* d = static_cast<MpegVideoDescriptor*>(header_->SubDescriptor("MPEGVideoDescriptor", 2));
    if (!d) return;
    const es::Mpeg2SequenceExtension& x = format.extension;
    const bool interlaced = x.valid && !x.progressive;
    d->SetWidth(format.sequence.width | (uint32_t{x.horizontalExtension} << 12));
    d->SetHeight(format.sequence.height | (uint32_t{x.verticalExtension} << 12));
    // Stored lines are whole macroblock rows; each field holds half.
    uint32_t stored = d->displayHeight + (d->displayHeight == 1080 ? 8 : (d->displayHeight == 540 ? 4 : 0));
    if (interlaced) stored /= 2;
    d->storedHeight = d->sampledHeight = stored;
    if (interlaced) d->displayHeight /= 2;
    d->frameLayout = interlaced ? 1 : 0;
    d->SetScan(interlaced);
    const es::Rate aspect = format.sequence.Aspect();
    if (aspect.numerator > 0) d->aspectRatio = {aspect.numerator, aspect.denominator};
    d->verticalSubsampling = x.valid && x.chromaFormat != 1 ? 1 : 2;
    d->lowDelay = x.lowDelay ? 1 : 0;
    d->closedGop = format.closedGop ? 1 : 0;
    const uint32_t bitRate = ((uint32_t{x.bitRateExtension} << 18) | format.sequence.bitRateValue) * 400u;
    d->SetCoding(x.valid ? x.profileAndLevel : 0, bitRate, settings_.flagB);
    if (settings_.flagB) d->SetOldLabel();
}

void TrackWriter::FillDvDescriptor(const TrackFormat& format, CdciDescriptor* d) {
    const es::DvFrame& dv = format.dv;
    d->SetDvType(dv.dvType, dv.system50);
    d->sampleRate = editRate_;
    d->aspectRatio = dv.wide ? Rational{16, 9} : Rational{4, 3};
    d->componentDepth = 8;
    switch (dv.dvType) {
        case 4:
            d->frameLayout = 0;
            d->storedWidth = 1280;
            d->storedHeight = 720;
            d->lineMap = {26, 0};
            d->horizontalSubsampling = 2;
            d->verticalSubsampling = 1;
            break;
        case 5:
            d->frameLayout = 1;
            d->storedWidth = 1920;
            d->storedHeight = 540;
            d->lineMap = {21, 584};
            d->horizontalSubsampling = 2;
            d->verticalSubsampling = 1;
            break;
        default:
            d->frameLayout = 1;
            d->storedWidth = 720;
            d->storedHeight = dv.system50 ? 288 : 240;
            d->lineMap = {23, dv.system50 ? 335u : 285u};
            // 4:1:1 for 525-line DV and for DVCPRO; 4:2:0 for 625-line DV.
            d->horizontalSubsampling = (dv.dvType == 1 && !dv.system50) || dv.dvType == 2 ? 4 : 2;
            d->verticalSubsampling = dv.dvType == 1 && dv.system50 ? 2 : 1;
            break;
    }
}

void TrackWriter::FillAes3Descriptor(const TrackFormat& format, Aes3Descriptor* d) {
    d->quantizationBits = static_cast<uint32_t>(format.aes3.bits);
    d->blockAlign = format.aes3.bits > 16 ? 3 : 2;
    d->averageBytesPerSecond = d->blockAlign * kAudioRate;
    d->channelCount = 1;
    d->audioSamplingRate = {static_cast<int32_t>(kAudioRate), 1};
    if (settings_.profile == kP2Profile) d->sampleRate = {static_cast<int32_t>(kAudioRate), 1};
}

int32_t TrackWriter::BuildHeader() {
    try {
        header_ = std::make_unique<HeaderMetadata>(settings_.materialUmid, settings_.fileUmid, profile_, services_);
    } catch (const std::bad_alloc&) {
        return kTrackWriterNoMemory;
    }
    const Timestamp now = services_.localTime ? services_.localTime() : Timestamp{};
    header_->preface->lastModified = now;
    header_->identification->modificationDate = now;
    if (services_.newUid) header_->identification->thisGenerationUid = services_.newUid();
    for (PackageSet* p : {header_->material, header_->file}) p->created = p->modified = now;

    const bool p2 = settings_.profile == kP2Profile;
    const TrackFormat* picture = Picture();
    auto add = [&](TrackDescription d) {
        d.sourcePackage = settings_.fileUmid;
        TW_TRY(header_->material->AddTrack(d));
        return header_->file->AddTrack(d);
    };
    uint32_t nextId = 1;
    if (picture) {
        TrackDescription tc;
        tc.trackId = nextId++;
        tc.editRate = editRate_;
        tc.essence = DictionaryLabel("TimeCode12MData");
        tc.start = static_cast<int32_t>(settings_.startTimecode);
        tc.dropFrameGiven = true;
        tc.dropFrame = settings_.dropFrame;
        TW_TRY(add(tc));
    }
    const int sounds = SoundTracks();
    int soundIndex = 0;
    // The picture track first, then the sound tracks in registration order.
    std::vector<const TrackFormat*> ordered;
    if (picture) ordered.push_back(picture);
    for (const TrackFormat& t : tracks_) {
        if (t.kind == EssenceKind::kAes3) ordered.push_back(&t);
    }
    for (const TrackFormat* t : ordered) {
        TrackDescription d;
        d.trackId = nextId++;
        d.editRate = editRate_;
        Label essence{};
        switch (t->kind) {
            case EssenceKind::kMpeg2:
                d.trackNumber = TrackNumber("mpg2", settings_.profile);
                essence = DictionaryLabel(settings_.flagB ? "MPEGESFrameWrap_old" : "MPEGESFrameWrap");
                break;
            case EssenceKind::kDv:
                d.trackNumber = TrackNumber("dv  ", settings_.profile);
                essence = kDvContainer;  // the descriptor names the DV type's own label
                break;
            case EssenceKind::kAes3:
                d.trackNumber = TrackNumber("aes3", settings_.profile, sounds, soundIndex++);
                essence = DictionaryLabel(p2 ? "AES3_382_ClipWrap" : "AES3_382_FrameWrap");
                break;
        }
        d.essence = essence;
        TW_TRY(add(d));
        TW_TRY(header_->AddDescriptor(d.trackId, essence, editRate_, !p2));
        switch (t->kind) {
            case EssenceKind::kMpeg2:
                FillMpegDescriptor(*t);
                break;
            case EssenceKind::kDv: {
                auto* cdci = static_cast<CdciDescriptor*>(header_->file->Find("CDCIPictureDescriptor"));
                if (!cdci) return kTrackWriterMissingNode;
                FillDvDescriptor(*t, cdci);
                essence = cdci->essenceContainer;  // the DV type's own label
                break;
            }
            case EssenceKind::kAes3: {
                auto* a = static_cast<Aes3Descriptor*>(p2 ? header_->file->Find("AES3AudioDescriptor")
                                                          : header_->SubDescriptor("AES3AudioDescriptor", d.trackId));
                if (!a) return kTrackWriterMissingNode;
                FillAes3Descriptor(*t, a);
                break;
            }
        }
        AddUnique(containers_, essence);
    }
    header_->preface->essenceContainers = containers_;
    if (p2) header_->SetTotalSize(kP2HeaderArea);
    return kTrackWriterOk;
}

int32_t TrackWriter::Start() {
    if (started_) return kTrackWriterOk;
    if (tracks_.empty()) return kTrackWriterMissingNode;
    const bool p2 = settings_.profile == kP2Profile;
    if (p2 && tracks_.size() != 1) return kTrackWriterBadMode;  // OP-Atom holds one stream
    if (!p2 && SoundTracks() > kMaxSoundTracks) return kTrackWriterBadMode;
    const TrackFormat* picture = Picture();
    if (picture && picture->kind == EssenceKind::kMpeg2) {
        editRate_ = ToRational(picture->sequence.FrameRateRational());
    } else if (picture) {
        editRate_ = ToRational(picture->dv.frameRate);
    } else if (p2) {
        editRate_ = {static_cast<int32_t>(kAudioRate), 1};
    } else {
        editRate_ = RateOfCode(tracks_.front().aes3RateCode);
    }
    if (editRate_.numerator <= 0) return kTrackWriterBadMode;
    TW_TRY(BuildHeader());

    auto head = NewPartition("HeaderPartitionPack");
    head->SetPosition(0);
    head->headerByteCount = header_->ComputeSize();
    BitIo io;
    TW_TRY(io.CreateBuffer(0, 0));
    TW_TRY(head->Serialize(io));
    TW_TRY(header_->Serialize(io));
    TW_TRY(Emit(io));
    partitions_.push_back({std::move(head)});
    segment_ = NewSegment();
    TW_TRY(OpenBodyPartition(false));
    if (p2) {
        // The clip's single element: its length is patched at the end.
        const TrackFormat& t = tracks_.front();
        const Label key = t.kind == EssenceKind::kDv ? DictionaryLabel("DVElement") : SoundElementKey(1, 0, true);
        elementPosition_ = written_;
        BitIo e;
        TW_TRY(e.CreateBuffer(0, 0));
        TW_TRY(e.Write(key.data(), 16));
        TW_TRY(WriteBer(e, 0, kClipBerBytes));
        TW_TRY(Emit(e));
        clipUnitBytes_ = t.kind == EssenceKind::kDv ? t.dv.frameSize : (t.aes3.bits > 16 ? 3u : 2u);
    }
    started_ = true;
    return kTrackWriterOk;
}

int32_t TrackWriter::OpenBodyPartition(bool withIndex) {
    auto pack = NewPartition("BodyPartitionPack");
    pack->SetPosition(written_);
    pack->previousPartition = partitions_.back().pack->thisPartition;
    pack->bodySid = kBodySid;
    pack->bodyOffset = static_cast<uint64_t>(essenceBytes_);
    // The new partition carries the index of the one it closes.
    const bool index = withIndex && segment_ && !segment_->entries.empty();
    if (index) {
        segment_->startPosition = editUnits_ - unitsInPartition_;
        segment_->duration = unitsInPartition_;
        pack->indexSid = kIndexSid;
        pack->indexByteCount = segment_->ComputeSize();
    }
    BitIo io;
    TW_TRY(io.CreateBuffer(0, 0));
    TW_TRY(pack->Serialize(io));
    if (index) TW_TRY(segment_->Serialize(io));
    TW_TRY(Emit(io));
    partitions_.push_back({std::move(pack)});
    segment_ = NewSegment();
    unitsInPartition_ = 0;
    return kTrackWriterOk;
}

int32_t TrackWriter::WriteEditUnit(const std::vector<EditUnitPart>& parts) {
    if (!started_ || settings_.profile != kXdcamProfile) return kTrackWriterBadMode;
    if (parts.empty()) return kTrackWriterOk;
    const EditUnitPart* picture = nullptr;
    for (const EditUnitPart& p : parts) {
        if (p.picture && !picture) picture = &p;
    }
    if (picture && picture->unit.gopStart && unitsInPartition_ > 0 &&
        !GopFitsPartition(static_cast<uint32_t>(unitsInPartition_), editRate_)) {
        TW_TRY(OpenBodyPartition(true));
    }
    std::array<uint8_t, 64> umid{};
    std::memcpy(umid.data(), settings_.materialUmid.data(), settings_.materialUmid.size());
    SystemMetadataPack system(editRate_, g_continuity++, umid, profile_);
    system.timecode = SystemTimecode(settings_.startTimecode + editUnits_, editRate_, settings_.dropFrame);
    BitIo io;
    TW_TRY(io.CreateBuffer(0, 0));
    TW_TRY(system.Serialize(io));
    std::vector<uint8_t> cp;
    try {
        // One allocation for the whole content package and its fill.
        size_t total = io.Bytes().size() + 2 * kKagPadding;
        for (const EditUnitPart& p : parts) total += p.unit.data.size() + 16 + kElementBerBytes;
        if (pool_) cp = pool_->Take(total);
        cp.reserve(total);
        cp.assign(io.Bytes().begin(), io.Bytes().end());
        const uint32_t systemSize = static_cast<uint32_t>(cp.size());
        if (picture) {
            if (picture->unit.data.size() > kMaxFrameElement) return kTrackWriterBadMode;
            AppendElement(cp, DictionaryLabel("PictureElement"), picture->unit.data);
        }
        const uint32_t soundStart = static_cast<uint32_t>(cp.size());
        const int tracks = SoundTracks();
        uint32_t soundCount = 0, firstSound = 0;
        for (const EditUnitPart& p : parts) {
            if (p.picture) continue;
            const size_t before = cp.size();
            AppendElement(cp, SoundElementKey(tracks, static_cast<int>(soundCount), false), p.unit.data);
            if (soundCount++ == 0) firstSound = static_cast<uint32_t>(cp.size() - before);
        }
        const uint64_t rounded = RoundToKag(cp.size(), profile_.kagSize, profile_.HeaderSize());
        if (rounded > cp.size()) {
            AppendLabel(cp, DictionaryLabel("Filler"));
            const uint64_t gap = rounded - cp.size() - kElementBerBytes;
            AppendBer(cp, gap, kElementBerBytes);
            cp.resize(static_cast<size_t>(rounded), 0);
        }
        if (unitsInPartition_ == 0) segment_->SetDeltas(systemSize, firstSound, soundCount);
        IndexEntry e;
        if (picture) {
            e.temporalOffset = picture->unit.temporalOffset;
            e.keyFrameOffset = picture->unit.keyFrameOffset;
            e.flags = picture->unit.flags;
        } else {
            e.flags = kSoundEntryFlags;
        }
        e.streamOffset = static_cast<uint64_t>(essenceBytes_);
        e.sliceOffset = soundCount ? soundStart : 0;
        segment_->entries.push_back(e);
    } catch (const std::bad_alloc&) {
        return kTrackWriterNoMemory;
    }
    essenceBytes_ += static_cast<int64_t>(cp.size());
    editUnits_++;
    unitsInPartition_++;
    OutputPiece piece;
    piece.output = settings_.output;
    written_ += static_cast<int64_t>(cp.size());
    piece.data = std::move(cp);
    sink_(std::move(piece));
    return kTrackWriterOk;
}

int32_t TrackWriter::WriteClipUnit(const AccessUnit& unit) {
    if (!started_ || settings_.profile != kP2Profile) return kTrackWriterBadMode;
    if (unit.data.empty()) return kTrackWriterOk;
    OutputPiece piece;
    try {
        piece.data = unit.data;
    } catch (const std::bad_alloc&) {
        return kTrackWriterNoMemory;
    }
    piece.output = settings_.output;
    clipBytes_ += static_cast<int64_t>(unit.data.size());
    clipUnits_ +=
        tracks_.front().kind == EssenceKind::kDv ? 1 : static_cast<int64_t>(unit.data.size() / clipUnitBytes_);
    written_ += static_cast<int64_t>(unit.data.size());
    sink_(std::move(piece));
    return kTrackWriterOk;
}

void TrackWriter::SetDurations(int64_t duration) {
    for (PackageSet* p : {header_->material, header_->file}) {
        for (uint32_t id = 1; id <= tracks_.size() + 1; id++) {
            TrackGroup* g = p->Track(id);
            if (!g) continue;
            g->sequence->duration = duration;
            g->component->duration = duration;
        }
    }
    if (auto* cdci = static_cast<CdciDescriptor*>(header_->file->Find("CDCIPictureDescriptor")))
        cdci->containerDuration = duration;
    if (auto* a = static_cast<Aes3Descriptor*>(header_->file->Find("AES3AudioDescriptor")))
        a->containerDuration = duration;
}

int32_t TrackWriter::Finish() {
    if (!started_) return kTrackWriterBadMode;
    if (finished_) return kTrackWriterOk;
    const bool p2 = settings_.profile == kP2Profile;
    const int64_t footerPosition = written_;
    auto footer = NewPartition("FooterPartitionPack");
    footer->SetPosition(footerPosition);
    footer->previousPartition = partitions_.back().pack->thisPartition;
    footer->footerPartition = footerPosition;
    const int64_t duration = p2 ? clipUnits_ : editUnits_;
    bool index = false;
    if (p2) {
        segment_->startPosition = 0;
        segment_->duration = clipUnits_;
        segment_->editUnitByteCount = clipUnitBytes_;
        index = true;
    } else if (!segment_->entries.empty()) {
        segment_->startPosition = editUnits_ - unitsInPartition_;
        segment_->duration = unitsInPartition_;
        index = true;
    }
    if (index) {
        footer->indexSid = kIndexSid;
        footer->indexByteCount = segment_->ComputeSize();
    }
    RandomIndexPack rip(profile_);
    for (size_t i = 0; i < partitions_.size(); i++) {
        const PartitionPack& pack = *partitions_[i].pack;
        if (i > 0 && !p2 && settings_.flagB) continue;  // the second variant lists no body partitions
        rip.Add(pack.bodySid, static_cast<uint64_t>(pack.thisPartition));
    }
    rip.Add(0, static_cast<uint64_t>(footerPosition));
    BitIo io;
    TW_TRY(io.CreateBuffer(0, 0));
    TW_TRY(footer->Serialize(io));
    if (index) TW_TRY(segment_->Serialize(io));
    TW_TRY(rip.Serialize(io));
    TW_TRY(Emit(io));

    // Rewrites: the clip element's length, then every partition before the footer.
    if (p2) {
        BitIo e;
        TW_TRY(e.CreateBuffer(0, 0));
        TW_TRY(WriteBer(e, static_cast<uint64_t>(clipBytes_), kClipBerBytes));
        TW_TRY(Emit(e, elementPosition_ + 16));
    }
    SetDurations(duration);
    for (size_t i = 0; i < partitions_.size(); i++) {
        PartitionPack& pack = *partitions_[i].pack;
        pack.footerPartition = footerPosition;
        BitIo r;
        TW_TRY(r.CreateBuffer(0, 0));
        TW_TRY(pack.Serialize(r));
        if (i == 0) {
            const uint64_t before = pack.headerByteCount;
            if (header_->ComputeSize() != before) return kTrackWriterMissingNode;  // the metadata changed size
            TW_TRY(header_->Serialize(r));
        }
        TW_TRY(Emit(r, pack.thisPartition));
    }
    finished_ = true;
    return kTrackWriterOk;
}

}  // namespace mexora::mxf
