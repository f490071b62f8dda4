#include "companions/vidova/PassStats.h"

#include "codec/common/engine/vidova.h"

#include <cstring>

namespace vidova {
namespace {

constexpr char kMagic[4] = {'V', 'D', 'S', '1'};
constexpr uint32_t kFile = 0;

struct Header {
    char magic[4];
    int32_t width, height;
    uint32_t count;
};
static_assert(sizeof(Header) == 16 && sizeof(PassRecord) == 16, "fixed record sizes");

int32_t ask(bufstream* stats, uint32_t id, void* data, uint32_t size) {
    return stats->info(stats, kFile, id, data, size);
}

}  // namespace

bool writePassStats(bufstream* stats, int width, int height, const std::vector<PassRecord>& records, std::string& why) {
    if (!stats || !stats->info) {
        why = "no statistics store";
        return false;
    }
    if (ask(stats, VIDOVA_STATS_OPEN_WRITE, nullptr, 0) != 0) {
        why = "the statistics file cannot be created";
        return false;
    }
    Header h;
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.width = width;
    h.height = height;
    h.count = uint32_t(records.size());
    bool ok = ask(stats, VIDOVA_STATS_WRITE, &h, sizeof h) == 0;
    for (size_t i = 0; ok && i < records.size(); i++) {
        PassRecord r = records[i];
        ok = ask(stats, VIDOVA_STATS_WRITE, &r, sizeof r) == 0;
    }
    if (ask(stats, VIDOVA_STATS_CLOSE, nullptr, 0) != 0) ok = false;
    if (!ok) why = "the statistics file cannot be written";
    return ok;
}

bool readPassStats(bufstream* stats, int width, int height, std::vector<PassPicture>& plan, std::string& why) {
    plan.clear();
    if (!stats || !stats->info) {
        why = "no statistics store";
        return false;
    }
    if (ask(stats, VIDOVA_STATS_OPEN_READ, nullptr, 0) != 0) {
        why = "no statistics of an analysis pass";
        return false;
    }
    Header h{};
    int32_t size = 0;
    bool ok = ask(stats, VIDOVA_STATS_SIZE, &size, sizeof size) == 0 && size >= int32_t(sizeof h) &&
              ask(stats, VIDOVA_STATS_READ, &h, sizeof h) == 0 && std::memcmp(h.magic, kMagic, sizeof kMagic) == 0 &&
              uint64_t(h.count) * sizeof(PassRecord) == uint64_t(size) - sizeof h;
    if (!ok) {
        why = "the statistics are not an analysis of this engine";
    } else if (h.width != width || h.height != height) {
        why = "the statistics are of another picture size";
        ok = false;
    }
    for (uint32_t i = 0; ok && i < h.count; i++) {
        PassRecord r{};
        ok = ask(stats, VIDOVA_STATS_READ, &r, sizeof r) == 0 && r.type >= kPictureI && r.type <= kPictureB;
        if (ok) plan.push_back({r.type, double(r.bits) * (r.avgQuant > 0 ? r.avgQuant : 1.0)});
        if (!ok) why = "the statistics are damaged";
    }
    ask(stats, VIDOVA_STATS_CLOSE, nullptr, 0);
    if (!ok) plan.clear();
    return ok;
}

}  // namespace vidova
