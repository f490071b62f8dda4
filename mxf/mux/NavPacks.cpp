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
    entries_.push_back(e);
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
            const std::array<uint8_t, kSearchInfoBytes> sri = SearchInfo(i);
            std::copy(sri.begin(), sri.end(), pack + kSearchInfoOffset);
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
