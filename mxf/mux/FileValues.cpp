#include "mxf/mux/FileValues.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace mexora::mxf {

namespace {

constexpr uint8_t kUmidLabel[11] = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x05, 0x01, 0x01, 0x0D};
constexpr uint8_t kUmidLength = 0x13;
constexpr int kClipNameModulus = 1291;
constexpr int kMaxFileNumber = 9999;
constexpr int64_t kDropFramesPerTenMinutes = 17982;
constexpr int64_t kDropFramesPerMinute = 1798;

// The XDCAM UMIDs' GUID and counter, one for the process: writers run on
// the hosts' threads.
struct SharedUmid {
    std::mutex lock;
    std::optional<Label> guid;
    uint16_t counter = 0;
};

SharedUmid& Shared() {
    static SharedUmid shared;
    return shared;
}

uint8_t Bcd(int v) {
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

}  // namespace

Umid UmidMaker::Make(int32_t profile) {
    Umid u{};
    std::memcpy(u.data(), kUmidLabel, sizeof kUmidLabel);
    u[11] = profile == kP2Profile ? 0x23 : 0x43;
    u[12] = kUmidLength;
    Label material{};
    if (profile == kP2Profile) {
        material = newGuid_ ? newGuid_() : Label{};
    } else {
        SharedUmid& shared = Shared();
        std::lock_guard<std::mutex> hold(shared.lock);
        if (!shared.guid) shared.guid = newGuid_ ? newGuid_() : Label{};
        material = *shared.guid;
        material[14] = static_cast<uint8_t>(shared.counter);
        material[15] = static_cast<uint8_t>(shared.counter >> 8);
        shared.counter++;
    }
    std::memcpy(u.data() + 16, material.data(), 16);
    return u;
}

void UmidMaker::ResetShared(uint16_t counter) {
    SharedUmid& shared = Shared();
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.guid.reset();
    shared.counter = counter;
}

std::optional<std::string> P2ClipName(const Umid& umid, int32_t fileNumber) {
    if (fileNumber < 0 || fileNumber > kMaxFileNumber) return std::nullopt;  // would not fit four digits
    uint8_t high = 0, low = 0;
    for (int i = 16; i < 32; i += 2) {
        low ^= umid[static_cast<size_t>(i)];
        high ^= umid[static_cast<size_t>(i + 1)];
    }
    int value = ((high << 8) | low) % kClipNameModulus;
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value % 36]);
        value /= 36;
    } while (value > 0);
    if (text.size() < 2) text.insert(text.begin(), 2 - text.size(), '0');
    char number[8];
    std::snprintf(number, sizeof number, "%04d", fileNumber);
    return std::string(number) + text;
}

uint32_t TrackNumber(const char* kind, int32_t profile, int soundTracks, int soundIndex) {
    const std::string k = kind;
    if (k == "mpg2") return 0x15010500u;
    if (k == "dv  ") return 0x18010201u;
    if (k == "aes3") {
        if (profile == kP2Profile) return 0x16010401u;
        return 0x16000300u | (static_cast<uint32_t>(soundTracks & 0xFF) << 16) |
               static_cast<uint32_t>(soundIndex & 0xFF);
    }
    return 0;
}

PartitionLimit BodyPartitionLimit(Rational r) {
    switch (r.numerator) {
        case 24:
        case 25:
        case 24000:
        case 25000:
            return {240, 12};
        case 50:
        case 50000:
            return {480, 12};
        case 60:
        case 60000:
            return {600, 12};
        default:
            return {300, 15};
    }
}

bool GopFitsPartition(uint32_t unitsInPartition, Rational editRate) {
    const PartitionLimit l = BodyPartitionLimit(editRate);
    return unitsInPartition + l.gopAllowance <= l.editUnits;
}

std::array<uint8_t, 5> SystemTimecode(int64_t count, Rational r, bool dropFrame) {
    if (count < 0) count = 0;
    const bool fieldRate60 = r.numerator == 60000 && r.denominator == 1001;
    const bool fieldRate50 = r.numerator == 50 && r.denominator == 1;
    const bool odd = (count & 1) != 0;
    if (fieldRate60 || fieldRate50) count /= 2;  // counted in frames of two fields
    const int64_t rate = r.denominator > 0 ? (r.numerator + r.denominator / 2) / r.denominator : 30;
    const int64_t nominal = fieldRate60 || fieldRate50 ? (rate + 1) / 2 : rate;
    int64_t frameNumber = count;
    if (dropFrame) {
        // Frame numbers 0 and 1 of every minute but each tenth are skipped.
        const int64_t tens = count / kDropFramesPerTenMinutes, rest = count % kDropFramesPerTenMinutes;
        frameNumber = count + 18 * tens + (rest < 2 ? 0 : 2 * ((rest - 2) / kDropFramesPerMinute));
    }
    const int64_t fps = dropFrame ? 30 : (nominal > 0 ? nominal : 30);
    const int frames = static_cast<int>(frameNumber % fps);
    const int seconds = static_cast<int>(frameNumber / fps % 60);
    const int minutes = static_cast<int>(frameNumber / (fps * 60) % 60);
    const int hours = static_cast<int>(frameNumber / (fps * 3600) % 24);
    std::array<uint8_t, 5> tc = {0x81, Bcd(frames), Bcd(seconds), Bcd(minutes), Bcd(hours)};
    if (dropFrame) tc[1] |= 0x40;
    if (odd && fieldRate60) tc[2] |= 0x80;  // the field mark
    if (odd && fieldRate50) tc[4] |= 0x80;
    return tc;
}

}  // namespace mexora::mxf
