// DVD-Video navigation data a DVD producer hands the file writer while it
// writes (packs of its VOBUs, their durations and video flags, segment
// starts, per-file records across splits, the sync packs of its audio and
// subpicture streams), and the rewrite of each navigation pack in place once
// the files are complete: the search information (DSI VOBU_SRI), the
// synchronisation offsets (DSI SYNCI) and, when asked, the cell elapsed time
// of PCI and DSI.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mexora {

enum NavInfoId : uint32_t {
    kNavStart = 0xF1000,        // switch collection on (once)
    kNavEntry = 0xF2000,        // int32 sector, int32 duration (90 kHz), int32 flags (bit 0 video)
    kNavFileValue = 0xF4000,    // int32 for the current file's record
    kNavSuppress = 0xF8000,     // no patching at the end
    kNavTimecode = 0xE0020,     // the time-code patch of each pack
    kNavSegment = 0xE0080,      // a new segment starts at the next entry
    kNavAudioTable = 0xE0101,   // registers an audio stream table; answers its index
    kNavAudioValue = 0xE0102,   // int32 table index, int32 value
    kNavSubTable = 0xE0201,     // registers a subpicture stream table
    kNavSubValue = 0xE0202,     // int32 table index, int32 value
    kNavAudioAdjust = 0xE0203,  // the info call's offset argument: sectors added to every audio value
};

constexpr uint32_t kNavSector = 2048;
constexpr uint32_t kSearchInfoOffset = 1265;  // VOBU_SRI inside the pack
constexpr uint32_t kSearchInfoBytes = 168;    // 42 pointers
constexpr uint32_t kAudioSyncOffset = 1433;   // DSI SYNCI: 8 x 16-bit A_SYNCA
constexpr uint32_t kSubSyncOffset = 1449;     // then 32 x 32-bit SP_SYNCA
constexpr uint32_t kPciElapsedOffset = 69;    // PCI_GI C_ELTM
constexpr uint32_t kDsiElapsedOffset = 1059;  // DSI_GI C_ELTM
constexpr size_t kNavMaxEntries = 50400;
constexpr size_t kNavMaxSegments = 999;
constexpr int kNavMaxAudio = 8, kNavMaxSubpicture = 32;

class NavTables {
public:
    struct Entry {
        int32_t sector, duration, flags;
    };
    bool Collecting() const { return collecting_; }
    bool Suppressed() const { return suppressed_; }
    void Start(const std::string& fileName);
    // The writer went on in a new file.
    void NewFile(const std::string& fileName);
    bool AddEntry(const Entry& e);
    void SetFileValue(int32_t v);
    void Suppress() { suppressed_ = true; }
    void AddSegmentStart();
    void EnableTimecode() { timecode_ = collecting_; }
    // -1 beyond 8 audio or 32 subpicture tables.
    int32_t AddStreamTable(bool audio);
    // A stream table holds, per entry in order, the sector of that VOBU's
    // sync pack of the stream (numbered like the entries' sectors; negative:
    // none).
    bool AppendStreamValue(bool audio, int32_t table, int32_t value);
    void SetAudioAdjust(int32_t v) { audioAdjust_ = v; }
    // The 42 big-endian pointers of entry i: FWDI video, FWDI 240 ... 1,
    // FWDI next, BWDI previous, BWDI 1 ... 240, BWDI video.
    std::array<uint8_t, kSearchInfoBytes> SearchInfo(size_t entry) const;
    // Rewrites entry i's 2048-byte pack in memory: the search information,
    // the synchronisation offset of every registered stream and, when the
    // time-code patch is on, both cell elapsed times. Other bytes stay.
    void PatchPack(size_t entry, uint8_t* pack) const;
    // Reads, patches and writes back every recorded pack of every file;
    // false when a file could not be patched.
    bool PatchFiles() const;
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    struct FileRecord {
        size_t firstEntry;
        std::string name;
        int32_t value = 0;
    };
    // The entries [first, end) of entry i's segment.
    void SegmentOf(size_t i, size_t* first, size_t* end) const;
    void PutSyncOffsets(size_t i, uint8_t* pack) const;
    void PutElapsedTime(size_t i, uint8_t* pack) const;
    bool collecting_ = false, suppressed_ = false, timecode_ = false;
    std::vector<Entry> entries_;
    // Per entry: 90 kHz ticks since its segment began (files do not restart it).
    std::vector<int64_t> elapsed_;
    // Every video VOBU lasting whole 25 Hz frames makes the elapsed times
    // 25 fps; any other makes them 30 fps (29.97 Hz frames).
    bool anyVideo_ = false, wholePalFrames_ = true;
    std::vector<size_t> segments_;
    std::vector<FileRecord> files_;
    std::vector<std::vector<int32_t>> audio_, subpicture_;
    int32_t audioAdjust_ = 0;
};

}  // namespace mexora
