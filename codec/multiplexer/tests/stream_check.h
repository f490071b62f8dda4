// Independent readers of the program and transport streams the tests make,
// written from ISO/IEC 13818-1 without the library's own parsers, and the
// decoder buffer checks (P-STD and T-STD) built on them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace muxtest {

using Bytes = std::vector<uint8_t>;

inline uint64_t ReadStamp(const uint8_t* p) {
    return (static_cast<uint64_t>((p[0] >> 1) & 7) << 30) | (static_cast<uint64_t>(p[1]) << 22) |
           (static_cast<uint64_t>(p[2] >> 1) << 15) | (static_cast<uint64_t>(p[3]) << 7) | (p[4] >> 1);
}

// ----------------------------------------------------------------- PES

struct Pes {
    uint8_t streamId = 0;
    uint8_t subId = 0;  // first payload byte of private stream 1
    bool hasPts = false, hasDts = false;
    uint64_t pts = 0, dts = 0;  // 90 kHz
    bool hasPstd = false;
    int pstdScale = 0;
    int pstdSize = 0;
    int headerDataLength = 0;
    int stuffing = 0;         // 0xFF bytes after the optional fields
    size_t packetLength = 0;  // PES_packet_length
    Bytes payload;            // after the header (private headers included)
};

// Parses the PES header at p (n bytes available, the packet may be longer in a TS).
inline bool ParsePesHeader(const uint8_t* p, size_t n, Pes& out, size_t& headerSize) {
    if (n < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1) return false;
    out.streamId = p[3];
    out.packetLength = (p[4] << 8) | p[5];
    if (out.streamId == 0xBE || out.streamId == 0xBF) {
        headerSize = 6;
        return true;
    }
    if ((p[6] & 0xC0) != 0x80) return false;
    const int flags = p[7] >> 6;
    out.headerDataLength = p[8];
    size_t at = 9;
    if (flags & 2) {
        out.hasPts = true;
        out.pts = ReadStamp(p + at);
        at += 5;
    }
    if (flags == 3) {
        out.hasDts = true;
        out.dts = ReadStamp(p + at);
        at += 5;
    }
    if (p[7] & 0x01) {  // PES extension
        const uint8_t ext = p[at++];
        if (ext & 0x10) {  // P-STD
            out.hasPstd = true;
            out.pstdScale = (p[at] >> 5) & 1;
            out.pstdSize = ((p[at] & 0x1F) << 8) | p[at + 1];
            at += 2;
        }
        if (ext & 0x01) at += 1 + (p[at] & 0x7F);
    }
    const size_t end = 9 + out.headerDataLength;
    for (size_t i = at; i < end && i < n; ++i)
        if (p[i] == 0xFF) ++out.stuffing;
    headerSize = end;
    return end <= n;
}

// ----------------------------------------------------------------- program stream

struct Pack {
    size_t offset = 0;
    size_t size = 0;       // up to the next pack or the end code
    uint64_t scr = 0;      // 27 MHz
    uint32_t muxRate = 0;  // 50 bytes/s
    bool systemHeader = false;
    size_t systemHeaderSize = 0;
    std::map<uint8_t, std::pair<int, int>> bounds;  // stream_id -> (scale, size bound)
    std::vector<Pes> pes;
    std::vector<size_t> pesOffsets;  // within the pack
    std::vector<size_t> paddingSizes;
};

struct ProgramStream {
    std::vector<Pack> packs;
    bool endCode = false;
    std::string error;
};

inline ProgramStream ParseProgramStream(const Bytes& b) {
    ProgramStream ps;
    size_t at = 0;
    while (at + 4 <= b.size()) {
        if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 1) {
            ps.error = "no start code at " + std::to_string(at);
            return ps;
        }
        const uint8_t code = b[at + 3];
        if (code == 0xB9) {
            ps.endCode = true;
            at += 4;
            if (at != b.size()) ps.error = "bytes after the end code";
            break;
        }
        if (code == 0xBA) {
            if (at + 14 > b.size() || (b[at + 4] & 0xC0) != 0x40) {
                ps.error = "bad pack header";
                return ps;
            }
            Pack pk;
            pk.offset = at;
            const uint8_t* p = &b[at + 4];
            const uint64_t base = (static_cast<uint64_t>((p[0] >> 3) & 7) << 30) |
                                  (static_cast<uint64_t>(p[0] & 3) << 28) | (static_cast<uint64_t>(p[1]) << 20) |
                                  (static_cast<uint64_t>(p[2] >> 3) << 15) | (static_cast<uint64_t>(p[2] & 3) << 13) |
                                  (static_cast<uint64_t>(p[3]) << 5) | (p[4] >> 3);
            const uint32_t ext = ((p[4] & 3) << 7) | (p[5] >> 1);
            pk.scr = base * 300 + ext;
            pk.muxRate = (static_cast<uint32_t>(p[6]) << 14) | (p[7] << 6) | (p[8] >> 2);
            at += 14 + (p[9] & 7);
            ps.packs.push_back(pk);
            continue;
        }
        if (ps.packs.empty()) {
            ps.error = "data before the first pack";
            return ps;
        }
        Pack& pk = ps.packs.back();
        const size_t len = (b[at + 4] << 8) | b[at + 5];
        if (at + 6 + len > b.size()) {
            ps.error = "truncated packet";
            return ps;
        }
        if (code == 0xBB) {
            pk.systemHeader = true;
            pk.systemHeaderSize = 6 + len;
            for (size_t i = at + 12; i + 3 <= at + 6 + len; i += 3)
                pk.bounds[b[i]] = {(b[i + 1] >> 5) & 1, ((b[i + 1] & 0x1F) << 8) | b[i + 2]};
        } else if (code == 0xBE) {
            pk.paddingSizes.push_back(6 + len);
        } else if (code >= 0xBD) {
            Pes pes;
            size_t hs = 0;
            if (!ParsePesHeader(&b[at], 6 + len, pes, hs)) {
                ps.error = "bad PES header";
                return ps;
            }
            pes.payload.assign(b.begin() + static_cast<long>(at + hs), b.begin() + static_cast<long>(at + 6 + len));
            if (pes.streamId == 0xBD && !pes.payload.empty()) pes.subId = pes.payload[0];
            pk.pesOffsets.push_back(at - pk.offset);
            pk.pes.push_back(std::move(pes));
        }
        at += 6 + len;
    }
    for (size_t i = 0; i < ps.packs.size(); ++i)
        ps.packs[i].size =
            (i + 1 < ps.packs.size() ? ps.packs[i + 1].offset : b.size() - (ps.endCode ? 4 : 0)) - ps.packs[i].offset;
    return ps;
}

// ----------------------------------------------------------------- transport stream

struct TsPacket {
    size_t index = 0;
    uint16_t pid = 0;
    bool pusi = false;
    int afc = 0;
    int cc = 0;
    bool hasPcr = false;
    uint64_t pcr = 0;
    uint8_t afFlags = 0;
    int afLength = -1;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
};

inline std::vector<TsPacket> ParseTransportStream(const Bytes& b, size_t packetSize, std::string& error) {
    std::vector<TsPacket> v;
    const size_t skip = packetSize - 188;
    for (size_t at = 0, i = 0; at + packetSize <= b.size(); at += packetSize, ++i) {
        const uint8_t* p = &b[at + skip];
        if (p[0] != 0x47) {
            error = "lost sync at packet " + std::to_string(i);
            return v;
        }
        TsPacket t;
        t.index = i;
        t.pusi = (p[1] & 0x40) != 0;
        t.pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        t.afc = (p[3] >> 4) & 3;
        t.cc = p[3] & 15;
        size_t off = 4;
        if (t.afc & 2) {
            t.afLength = p[4];
            if (t.afLength > 0) {
                t.afFlags = p[5];
                if (t.afFlags & 0x10) {
                    const uint64_t base =
                        (static_cast<uint64_t>(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
                    t.pcr = base * 300 + (((p[10] & 1) << 8) | p[11]);
                    t.hasPcr = true;
                }
            }
            off = 5 + t.afLength;
        }
        if (t.afc & 1) {
            t.payload = p + off;
            t.payloadSize = off <= 188 ? 188 - off : 0;
        }
        v.push_back(t);
    }
    if (b.size() % packetSize) error = "trailing bytes";
    return v;
}

// Arrival time (27 MHz) of the first byte of each packet by PCR interpolation.
inline std::vector<double> PacketTimes(const std::vector<TsPacket>& pk, uint16_t pcrPid) {
    std::vector<std::pair<size_t, double>> pcrs;
    for (const auto& t : pk)
        if (t.pid == pcrPid && t.hasPcr) pcrs.push_back({t.index, static_cast<double>(t.pcr)});
    std::vector<double> times(pk.size(), 0);
    if (pcrs.size() < 2) return times;
    size_t j = 0;
    for (size_t i = 0; i < pk.size(); ++i) {
        while (j + 2 < pcrs.size() && pcrs[j + 1].first <= i) ++j;
        const double rate = (pcrs[j + 1].second - pcrs[j].second) / double(pcrs[j + 1].first - pcrs[j].first);
        times[i] = pcrs[j].second + (double(i) - double(pcrs[j].first)) * rate;
    }
    return times;
}

// ----------------------------------------------------------------- buffer check

// One piece of an elementary stream as it enters its decoder buffer.
struct Delivery {
    double time = 0;   // 27 MHz, when its last byte has entered the buffer
    double start = 0;  // when its first byte enters
    Bytes bytes;
    bool pesStart = false;
    bool hasPts = false, hasDts = false;
    uint64_t pts = 0, dts = 0;  // 90 kHz
};

struct BufferReport {
    size_t units = 0;
    size_t late = 0;  // units not complete by their decoding time
    size_t overflows = 0;
    double worstLateTicks = 0;
    double peak = 0;
    std::string first;
};

// AUs of MPEG video (from the picture start code, with the sequence and group
// headers before it) or MPEG audio (frame by frame); frameTicks is the 27 MHz
// duration that fills in decoding times of units without a stamp.
enum VideoSyntax { kMpegVideo = 0, kH264Video = 1, kMpeg4Video = 2, kVc1Video = 3 };

// With kH264Video the units are H.264 access units: each begins at the first
// delimiter, parameter set or SEI after a picture's slices, or at a slice
// with first_mb_in_slice 0 after them. MPEG-4 Part 2 and VC-1 units begin
// at their VOP or frame start code, or at the headers in front of it.
inline BufferReport CheckBuffer(const std::vector<Delivery>& ds, bool video, double bufferSize, double frameTicks,
                                int syntax = kMpegVideo) {
    const bool h264 = syntax == kH264Video;
    Bytes es;
    std::vector<size_t> endOf;  // ES offset after each delivery
    std::vector<size_t> pesAt;  // ES offsets where PES packets begin
    std::vector<const Delivery*> pesHdr;
    for (const auto& d : ds) {
        if (d.pesStart) {
            pesAt.push_back(es.size());
            pesHdr.push_back(&d);
        }
        es.insert(es.end(), d.bytes.begin(), d.bytes.end());
        endOf.push_back(es.size());
    }
    // Access units: [start, end) and the position that decides the stamp.
    struct Au {
        size_t start, commence, end;
        double dts;
    };
    std::vector<Au> aus;
    if (video && h264) {
        bool afterSlice = false;
        for (size_t i = 0; i + 4 < es.size(); ++i) {
            if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
            const size_t at = i > 0 && es[i - 1] == 0 ? i - 1 : i;
            const uint8_t type = es[i + 3] & 0x1F;
            const bool slice = type == 1 || type == 5;
            const bool opens = (afterSlice && (type == 6 || type == 7 || type == 8 || type == 9)) ||
                               (slice && (es[i + 4] & 0x80) && afterSlice) || aus.empty();
            if (opens && (slice || type == 6 || type == 7 || type == 8 || type == 9)) {
                if (!aus.empty()) aus.back().end = at;
                aus.push_back({aus.empty() ? 0 : at, at, es.size(), -1});
                afterSlice = false;
            }
            if (slice) afterSlice = true;
        }
    } else if (video) {
        size_t pendingHeaders = SIZE_MAX;
        for (size_t i = 0; i + 3 < es.size(); ++i) {
            if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
            const uint8_t c = es[i + 3];
            const bool header = syntax == kMpeg4Video ? (c == 0xB0 || c == 0xB5 || c <= 0x2F || c == 0xB3)
                                : syntax == kVc1Video ? (c == 0x0F || c == 0x0E)
                                                      : (c == 0xB3 || c == 0xB8);
            const uint8_t picture = syntax == kMpeg4Video ? 0xB6 : syntax == kVc1Video ? 0x0D : 0x00;
            if (header && pendingHeaders == SIZE_MAX) pendingHeaders = i;
            if (c == picture) {
                const size_t s = pendingHeaders == SIZE_MAX ? i : pendingHeaders;
                if (!aus.empty()) aus.back().end = s;
                aus.push_back({aus.empty() ? 0 : s, i, es.size(), -1});
                pendingHeaders = SIZE_MAX;
            }
        }
    } else {
        static const int kL2[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
        static const int kRates[4] = {44100, 48000, 32000, 0};
        size_t i = 0;
        while (i + 4 <= es.size()) {
            if (es[i] != 0xFF || (es[i + 1] & 0xE0) != 0xE0) {
                ++i;
                continue;
            }
            const int br = kL2[es[i + 2] >> 4] * 1000;
            const int sr = kRates[(es[i + 2] >> 2) & 3];
            if (!br || !sr) {
                ++i;
                continue;
            }
            const size_t len = 144u * br / sr + ((es[i + 2] >> 1) & 1);
            if (!aus.empty()) aus.back().end = i;
            aus.push_back({aus.empty() ? 0 : i, i, std::min(es.size(), i + len), -1});
            i += len;
        }
    }
    // Stamps: a PES stamp belongs to the first unit that commences in its packet.
    size_t a = 0;
    for (size_t k = 0; k < pesAt.size(); ++k) {
        const Delivery* h = pesHdr[k];
        if (!h->hasPts) continue;
        const size_t end = k + 1 < pesAt.size() ? pesAt[k + 1] : es.size();
        while (a < aus.size() && aus[a].commence < pesAt[k]) ++a;
        if (a < aus.size() && aus[a].commence < end)
            aus[a].dts = 300.0 * static_cast<double>(h->hasDts ? h->dts : h->pts);
    }
    for (size_t k = 0; k < aus.size(); ++k)
        if (aus[k].dts < 0) aus[k].dts = k ? aus[k - 1].dts + frameTicks : 0;

    BufferReport r;
    r.units = aus.size();
    // When did the last byte of each unit arrive?
    size_t d = 0;
    for (const auto& au : aus) {
        while (d < endOf.size() && endOf[d] < au.end) ++d;
        if (d >= endOf.size()) break;
        const double done = ds[d].time;
        if (done > au.dts + 1) {
            ++r.late;
            r.worstLateTicks = std::max(r.worstLateTicks, done - au.dts);
            if (r.first.empty())
                r.first = "unit at " + std::to_string(au.start) + " complete at " + std::to_string(done) +
                          " after its decoding time " + std::to_string(au.dts);
        }
    }
    // Occupancy after each delivery, removing only units decoded before it began.
    size_t removedUnits = 0;
    size_t removedBytes = 0;
    for (size_t k = 0; k < ds.size(); ++k) {
        while (removedUnits < aus.size() && aus[removedUnits].dts <= ds[k].start) {
            removedBytes = aus[removedUnits].end;
            ++removedUnits;
        }
        const double occ = static_cast<double>(endOf[k]) - static_cast<double>(removedBytes);
        r.peak = std::max(r.peak, occ);
        if (occ > bufferSize) {
            ++r.overflows;
            if (r.first.empty()) r.first = "occupancy " + std::to_string(occ) + " above " + std::to_string(bufferSize);
        }
    }
    return r;
}

// P-STD deliveries of one stream of a program stream: bytes enter at the mux
// rate from the pack's SCR on.
inline std::vector<Delivery> PsDeliveries(const ProgramStream& ps, uint8_t streamId, int& bufferSize) {
    std::vector<Delivery> v;
    bufferSize = 0;
    for (const Pack& pk : ps.packs) {
        const double bytesPerTick = pk.muxRate * 50.0 / 27e6;
        for (size_t i = 0; i < pk.pes.size(); ++i) {
            const Pes& p = pk.pes[i];
            if (p.streamId != streamId) continue;
            if (p.hasPstd && !bufferSize) bufferSize = p.pstdSize * (p.pstdScale ? 1024 : 128);
            Delivery d;
            const size_t endInPack = pk.pesOffsets[i] + 6 + p.packetLength;
            d.start = pk.scr + (pk.pesOffsets[i]) / bytesPerTick;
            d.time = pk.scr + endInPack / bytesPerTick;
            d.bytes = p.payload;
            d.pesStart = true;
            d.hasPts = p.hasPts;
            d.hasDts = p.hasDts;
            d.pts = p.pts;
            d.dts = p.dts;
            v.push_back(std::move(d));
        }
    }
    return v;
}

// T-STD deliveries of one PID: whole packets enter the 512-byte transport
// buffer, which leaks into the main buffer at rx bytes/s. tbOverflows counts
// packets that did not fit.
inline std::vector<Delivery> TsDeliveries(const std::vector<TsPacket>& pk, const std::vector<double>& times,
                                          uint16_t pid, double rxBytesPerSecond, size_t& tbOverflows) {
    std::vector<Delivery> v;
    tbOverflows = 0;
    double tb = 0, last = 0;
    const double rx = rxBytesPerSecond / 27e6;
    Delivery* open = nullptr;
    for (size_t i = 0; i < pk.size(); ++i) {
        const TsPacket& t = pk[i];
        if (t.pid != pid) continue;
        tb = std::max(0.0, tb - (times[i] - last) * rx);
        last = times[i];
        tb += 188;
        if (tb > 512 + 0.5) ++tbOverflows;
        const double out = times[i] + tb / rx;  // the packet has left the transport buffer
        if (!t.payload || !t.payloadSize) continue;
        Delivery d;
        d.start = times[i];
        d.time = out;
        const uint8_t* p = t.payload;
        size_t n = t.payloadSize;
        if (t.pusi) {
            Pes pes;
            size_t hs = 0;
            if (ParsePesHeader(p, n, pes, hs)) {
                d.pesStart = true;
                d.hasPts = pes.hasPts;
                d.hasDts = pes.hasDts;
                d.pts = pes.pts;
                d.dts = pes.dts;
                p += hs;
                n -= hs;
            }
        }
        d.bytes.assign(p, p + n);
        v.push_back(std::move(d));
        open = &v.back();
    }
    (void)open;
    return v;
}

}  // namespace muxtest
