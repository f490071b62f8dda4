// Finding essence elements and handing their pieces to the bound consumers,
// pushed into them or answered to their pulls.
#include <algorithm>
#include <cstring>

#include "mxf/demux/Internal.h"

namespace mxfdemux {
namespace {

constexpr uint32_t kD10HeaderBytes = 4;
constexpr uint32_t kMinPieceBytes = 32;  // a pull piece smaller than this is refilled first
constexpr int32_t kRate96k = 96000;

bool IsEssenceElement(const uint8_t* k) {
    return k[4] == 0x01 && k[5] == 0x02 && k[6] == 0x01 && k[8] == 0x0D && k[9] == 0x01 && k[10] == 0x03 &&
           k[11] == 0x01;
}

void EndRecord(ElementRecord* r) {
    *r = ElementRecord{};
    r->endOfData = 1;
}

int Deliver(Parser* p, ElementRecord* out, bool first, uint8_t elementNumber) {
    Instance* in = p->in;
    const Binding& b = p->bindings[p->stream];
    const StreamInfo& st = in->streams[p->stream];
    ElementRecord rec{};
    rec.keyPosition = p->keyPos;
    rec.unused = -1;
    if (first) {
        rec.flags = kFirstPiece;
        if (st.kind == kD10Sound) {
            rec.flags |= kD10SoundElement;
            const uint32_t n = p->remaining < kD10HeaderBytes ? static_cast<uint32_t>(p->remaining) : kD10HeaderBytes;
            if (!ReadBytes(p, rec.params, n)) return p->error ? kFail : kEnd;
            p->remaining -= n;
            rec.headerLength = kD10HeaderBytes;
            rec.elementLength = static_cast<uint32_t>(p->remaining);
        } else if (st.kind == kGenericSound) {
            rec.flags |= kGenericSoundElement;
            rec.params[0] = static_cast<uint8_t>(st.bitsPerSample);
            rec.params[1] = static_cast<uint8_t>(st.channels);
            rec.params[2] = st.sampleRate == kRate96k ? 1 : 0;
            rec.elementLength = static_cast<uint32_t>(p->remaining);
            rec.elementNumber = elementNumber;
        }
    }
    rec.piecePosition = Position(p);
    if (b.bufferSize > 0) {
        uint64_t amount = p->remaining < b.bufferSize ? p->remaining : b.bufferSize;
        uint64_t done = 0;
        while (done < amount) {
            if (Buffered(p) == 0 && !Fill(p)) break;
            uint32_t run = Buffered(p);
            if (run > amount - done) run = static_cast<uint32_t>(amount - done);
            const uint32_t taken = b.consumer->copy_bytes(b.consumer, p->buf->data + p->rp, run);
            if (taken != run) {
                p->error = true;
                Error(in, "Unable to copy %d bytes to stream bufstream", static_cast<int>(run));
                break;
            }
            p->rp += run;
            done += run;
        }
        if (done == 0 && !p->error && p->end) return kEnd;
        rec.length = static_cast<uint32_t>(done);
        p->remaining -= done;
        in->adapter.push(b.consumer, rec);
        return p->error ? kFail : kOk;
    }
    if (Buffered(p) == 0 && !Fill(p)) return p->error ? kFail : kEnd;
    if (p->remaining > Buffered(p) && Buffered(p) < kMinPieceBytes && p->remaining > kMinPieceBytes) (void)Fill(p);
    if (p->error) return kFail;
    uint32_t piece = Buffered(p);
    if (piece > p->remaining) piece = static_cast<uint32_t>(p->remaining);
    rec.data = p->buf->data + p->rp;
    rec.length = piece;
    p->lastPull = piece;
    p->remaining -= piece;
    if (out) *out = rec;
    return kOk;
}

}  // namespace

int NextElement(Parser* p, ElementRecord* out) {
    if (p->lastPull) {
        const uint32_t skip = p->lastPull < Buffered(p) ? p->lastPull : Buffered(p);
        p->rp += skip;
        p->lastPull = 0;
    }
    if (p->remaining > 0) return Deliver(p, out, false, 0);
    for (;;) {
        uint8_t key[16];
        uint64_t len = 0;
        int64_t keyPos = 0;
        const int64_t scanFrom = Position(p);
        if (!NextKey(p, key, &len, &keyPos)) {
            if (p->error) return kFail;
            // A growing file may complete a key cut at the end: scan it again then.
            const int64_t back = keyPos >= 0 ? keyPos : std::max(scanFrom, Position(p) - 3);
            SkipTo(p, back);
            p->end = true;
            return kEnd;
        }
        const int64_t payload = Position(p);
        const auto& slot = p->itemMap[key[12]];
        if (IsEssenceElement(key) && slot.enabled) {
            p->keyPos = keyPos;
            p->payloadPos = payload;
            p->stream = slot.stream;
            // An element longer than the file is delivered up to the end (which may grow).
            p->remaining = len;
            return Deliver(p, out, true, key[15]);
        }
        SkipValue(p, payload, len);
    }
}

int32_t Pull(bufstream* consumer, ElementRecord* record) {
    Parser* p = static_cast<Parser*>(consumer->owner);
    if (!p) return -1;
    if (p->end) {
        EndRecord(record);
        return 0;
    }
    const int r = NextElement(p, record);
    if (r == kOk) return 0;
    if (p->end && !p->error) {
        EndRecord(record);
        return 0;
    }
    return -1;
}

}  // namespace mxfdemux
