#include "mxf/mux/NavPacks.h"

#include "mxf/mux/FileIo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace mexora {

namespace {

constexpr int64_t kHalfSecond = 45000;  // 90 kHz ticks
// Forward steps in written order (half-seconds); the backward ones run the other way.
constexpr int kSteps[19] = {240, 120, 60, 20, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
constexpr int kLongStep = 20;  // 10 s and above: bit 30 tells of video between
constexpr uint32_t kEnded = 0x3FFFFFFF;
constexpr uint32_t kDistanceMask = 0x3FFFFFFF;
constexpr uint32_t kVideoHere = 1u << 31, kVideoBetween = 1u << 30;
// Synchronisation offsets: the top bit says the sync pack lies before the
// navigation pack, the rest is its distance in sectors, held at the field's
// largest; 0 says the stream has no sync pack for the VOBU.
constexpr uint16_t kAudioBefore = 0x8000, kAudioMaxDistance = 0x7FFF;
constexpr uint32_t kSubBefore = 0x80000000u, kSubMaxDistance = 0x7FFFFFFF;
// Cell elapsed time: frame ticks at 90 kHz and the rate code in bits 7-6 of
// the frames byte.
constexpr int64_t kPalFrameTicks = 3600, kNtscFrameTicks = 3003;
constexpr uint8_t kRate25 = 0x40, kRate30 = 0xC0;
constexpr int64_t kHoursWrap = 100;  // two BCD digits

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint8_t Bcd(int64_t v) {
    return static_cast<uint8_t>((v / 10) << 4 | v % 10);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void NavTables::Start(const std::string& fileName) {
    if (collecting_) return;
    collecting_ = true;
    files_.push_back({0, fileName, 0});
}

void NavTables::NewFile(const std::string& fileName) {
    if (collecting_) files_.push_back({entries_.size(), fileName, 0});
}

bool NavTables::AddEntry(const Entry& e) {
    if (!collecting_ || entries_.size() >= kNavMaxEntries) return false;
    const bool segmentStart = entries_.empty() || (!segments_.empty() && segments_.back() == entries_.size());
    elapsed_.push_back(segmentStart ? 0 : elapsed_.back() + entries_.back().duration);
    entries_.push_back(e);
    if (e.flags & 1) {
        anyVideo_ = true;
        if (e.duration % kPalFrameTicks != 0) wholePalFrames_ = false;
    }
    return true;
}

void NavTables::SetFileValue(int32_t v) {
    if (!files_.empty()) files_.back().value = v;
}

void NavTables::AddSegmentStart() {
    if (collecting_ && segments_.size() < kNavMaxSegments) segments_.push_back(entries_.size());
}

int32_t NavTables::AddStreamTable(bool audio) {
    auto& tables = audio ? audio_ : subpicture_;
    if (static_cast<int>(tables.size()) >= (audio ? kNavMaxAudio : kNavMaxSubpicture)) return -1;
    tables.emplace_back();
    return static_cast<int32_t>(tables.size() - 1);
}

bool NavTables::AppendStreamValue(bool audio, int32_t table, int32_t value) {
    auto& tables = audio ? audio_ : subpicture_;
    if (table < 0 || static_cast<size_t>(table) >= tables.size()) return false;
    auto& t = tables[static_cast<size_t>(table)];
    if (t.size() >= kNavMaxEntries) return false;
    t.push_back(value);
    return true;
}

void NavTables::SegmentOf(size_t i, size_t* first, size_t* end) const {
    *first = 0;
    *end = entries_.size();
    for (size_t s : segments_) {
        if (s <= i) *first = std::max(*first, s);
        if (s > i) *end = std::min(*end, s);
    }
    // Files bound the searches too: a pointer never leaves its file.
    for (const FileRecord& f : files_) {
        if (f.firstEntry <= i) *first = std::max(*first, f.firstEntry);
        if (f.firstEntry > i) *end = std::min(*end, f.firstEntry);
    }
}

std::array<uint8_t, kSearchInfoBytes> NavTables::SearchInfo(size_t i) const {
    std::array<uint8_t, kSearchInfoBytes> out{};
    size_t first = 0, end = 0;
    SegmentOf(i, &first, &end);
    const Entry& here = entries_[i];
    auto distance = [&](size_t j) { return static_cast<uint32_t>(std::abs(entries_[j].sector - here.sector)); };
    auto video = [&](size_t j) { return (entries_[j].flags & 1) != 0; };
    // The VOBU the summed durations first reach `ticks` at, going forward or back.
    auto find = [&](bool forward, int64_t ticks, bool longStep) {
        int64_t sum = 0;
        bool between = false;
        if (forward) {
            for (size_t j = i + 1; j < end; j++) {
                sum += entries_[j - 1].duration;
                if (sum >= ticks) {
                    uint32_t v = (distance(j) & kDistanceMask) | (video(j) ? kVideoHere : 0);
                    if (longStep && between) v |= kVideoBetween;
                    return v;
                }
                between = between || video(j);
            }
        } else {
            for (size_t j = i; j > first; j--) {
                sum += entries_[j - 1].duration;
                if (sum >= ticks) {
                    uint32_t v = (distance(j - 1) & kDistanceMask) | (video(j - 1) ? kVideoHere : 0);
                    if (longStep && between) v |= kVideoBetween;
                    return v;
                }
                between = between || video(j - 1);
            }
        }
        return kEnded;
    };
    auto nearestVideo = [&](bool forward) {
        if (forward) {
            for (size_t j = i + 1; j < end; j++) {
                if (video(j)) return (distance(j) & kDistanceMask) | kVideoHere;
            }
        } else {
            for (size_t j = i; j > first; j--) {
                if (video(j - 1)) return (distance(j - 1) & kDistanceMask) | kVideoHere;
            }
        }
        return kEnded;
    };
    size_t slot = 0;
    auto put = [&](uint32_t v) { Put32(out.data() + 4 * slot++, v); };
    put(nearestVideo(true));
    for (int s : kSteps) put(find(true, s * kHalfSecond, s >= kLongStep));
    put(i + 1 < end ? (distance(i + 1) & kDistanceMask) | (video(i + 1) ? kVideoHere : 0) : kEnded);
    put(i > first ? (distance(i - 1) & kDistanceMask) | (video(i - 1) ? kVideoHere : 0) : kEnded);
    for (int k = 18; k >= 0; k--) put(find(false, kSteps[k] * kHalfSecond, kSteps[k] >= kLongStep));
    put(nearestVideo(false));
    return out;
}

void NavTables::PutSyncOffsets(size_t i, uint8_t* pack) const {
    const int64_t here = entries_[i].sector;
    // The signed distance to stream table t's sync pack of entry i, or none.
    auto distance = [&](const std::vector<int32_t>& t, int64_t adjust, int64_t* d) {
        if (i >= t.size() || t[i] < 0) return false;
        *d = t[i] + adjust - here;
        return true;
    };
    int64_t d = 0;
    for (size_t k = 0; k < audio_.size(); k++) {
        uint16_t v = 0;
        if (distance(audio_[k], audioAdjust_, &d)) {
            v = static_cast<uint16_t>(std::min<int64_t>(std::abs(d), kAudioMaxDistance) | (d < 0 ? kAudioBefore : 0));
        }
        Put16(pack + kAudioSyncOffset + 2 * k, v);
    }
    for (size_t k = 0; k < subpicture_.size(); k++) {
        uint32_t v = 0;
        if (distance(subpicture_[k], 0, &d)) {
            v = static_cast<uint32_t>(std::min<int64_t>(std::abs(d), kSubMaxDistance)) | (d < 0 ? kSubBefore : 0);
        }
        Put32(pack + kSubSyncOffset + 4 * k, v);
    }
}

void NavTables::PutElapsedTime(size_t i, uint8_t* pack) const {
    const bool pal = anyVideo_ && wholePalFrames_;
    const int64_t fps = pal ? 25 : 30;
    const int64_t frames = elapsed_[i] / (pal ? kPalFrameTicks : kNtscFrameTicks);
    const int64_t seconds = frames / fps;
    const uint8_t bcd[4] = {Bcd(seconds / 3600 % kHoursWrap), Bcd(seconds / 60 % 60), Bcd(seconds % 60),
                            static_cast<uint8_t>(Bcd(frames % fps) | (pal ? kRate25 : kRate30))};
    std::copy(bcd, bcd + 4, pack + kPciElapsedOffset);
    std::copy(bcd, bcd + 4, pack + kDsiElapsedOffset);
}

void NavTables::PatchPack(size_t i, uint8_t* pack) const {
    const std::array<uint8_t, kSearchInfoBytes> sri = SearchInfo(i);
    std::copy(sri.begin(), sri.end(), pack + kSearchInfoOffset);
    PutSyncOffsets(i, pack);
    if (timecode_) PutElapsedTime(i, pack);
}

bool NavTables::PatchFiles() const {
    bool ok = true;
    for (size_t f = 0; f < files_.size(); f++) {
        const size_t first = files_[f].firstEntry;
        const size_t end = f + 1 < files_.size() ? files_[f + 1].firstEntry : entries_.size();
        if (first >= end) continue;
        FILE* file = std::fopen(files_[f].name.c_str(), "r+b");
        if (!file) {
            ok = false;
            continue;
        }
        uint8_t pack[kNavSector];
        for (size_t i = first; i < end; i++) {
            const int64_t at = int64_t{entries_[i].sector} * kNavSector;
            if (entries_[i].sector < 0 || !SeekTo(file, at) || std::fread(pack, 1, sizeof pack, file) != sizeof pack) {
                ok = false;
                break;
            }
            PatchPack(i, pack);
            if (!SeekTo(file, at) || std::fwrite(pack, 1, sizeof pack, file) != sizeof pack) {
                ok = false;
                break;
            }
        }
        if (std::fclose(file) != 0) ok = false;
    }
    return ok;
}

}  // namespace mexora
