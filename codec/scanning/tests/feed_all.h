// Runs every header class, parser, consumer and stream of the library over
// one buffer. Used by the robustness sweep and the fuzzing entry point: on
// any input it must neither crash nor read outside the buffer.
#pragma once

#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/Mpeg4Systems.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/TSHeaders.h"
#include "codec/scanning/VESHeaders.h"

#include <cstdint>

namespace spltest {

template <class Parser, class Consumer, class Stream>
inline void Drive(Parser& parser, Consumer& consumer, Stream& stream, const uint8_t* data, uint32_t n) {
    parser.SetBuffer(data, n);
    int guard = 0;
    while (const uint8_t* hit = parser.FindNextHeader()) {
        if (++guard > 100000) break;
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - data, hit, parser.GetHeaderSpan());
        uint32_t out = 0;
        // Events a stream takes without measuring them leave out at 0;
        // step past those, or the same hit would come back forever.
        if (ev && stream.OnEvent(ev, &out)) parser.Advance(out ? out : 1);
    }
}

inline void FeedAll(const uint8_t* data, uint32_t n) {
    {
        // MPEG-4 systems descriptors from the first byte, and an SL header
        // under a configuration that uses every field.
        size_t used = 0;
        SPL_MPEG4::ObjectDescriptor od;
        od.Parse(data, n, used);
        SPL_MPEG4::IodDescriptor iod;
        iod.Parse(data, n, used);
        SPL_MPEG4::SLConfig c;
        c.predefined = 0;
        c.useAccessUnitStartFlag = c.useAccessUnitEndFlag = c.useRandomAccessPointFlag = 1;
        c.usePaddingFlag = c.useTimeStampsFlag = c.useIdleFlag = 1;
        c.timeStampLength = c.OCRLength = 33;
        c.AU_Length = 32;
        c.instantBitrateLength = c.degradationPriorityLength = c.AU_seqNumLength = c.packetSeqNumLength = 8;
        SPL_MPEG4::MPEG4HdrSyncLayer sl;
        sl.Parse(data, n, c);
    }
    {
        SPL_VES::VESParser p;
        SPL_VES::VESParserConsumer c;
        SPL_VES::VESStream s;
        Drive(p, c, s, data, n);
    }
    {
        SPL_AES::AESParser p;
        SPL_AES::AESParserConsumer c;
        SPL_AES::AESStream s;
        Drive(p, c, s, data, n);
    }
    {
        SPL_AAC::AACParser p;
        SPL_AAC::AACParserConsumer c;
        SPL_AAC::AACStream s;
        Drive(p, c, s, data, n);
    }
    {
        SPL_AC3::AC3Parser p;
        SPL_AC3::AC3ParserConsumer c;
        SPL_AC3::AC3Stream s;
        Drive(p, c, s, data, n);
    }
    for (uint32_t keyed = 0; keyed < 2; ++keyed) {
        SPL_PS::PSProgramStreamParser p(1, keyed ? 0 : 15);
        SPL_PS::PSProgramStreamParserConsumer c;
        SPL::StreamKey key;
        key.flags = keyed;
        SPL_PS::PSPESStream s(key);
        Drive(p, c, s, data, n);
        SPL::PayloadResult r;
        s.OnData(s.NextPosition() - 3, data, n, &r, 0);
        s.OnData(s.NextPosition(), data, n, &r, 0);
    }
    // Every header class at every offset, strict and lax.
    SPL_TS::TSPacketHdr ts;
    SPL_TS::TSTablePAT pat;
    SPL_TS::TSTablePMT pmt;
    SPL_PS::PSPesPacket pes;
    SPL_PS::PSMap map;
    SPL_PS::PSHdrSysPack sys;
    SPL_PS::PSPackHeader pack;
    SPL_VES::VESSeqHdr seq;
    SPL_VES::VESSeqExt ext;
    SPL_VES::VESHdrSeqDisplayExt disp;
    SPL_VES::VESGop gop;
    SPL_VES::VESPictureCodingExt pce;
    SPL_AC3::AC3Hdr ac3;
    for (uint32_t i = 0; i < n; ++i) {
        // Every header begins with one of these bytes; elsewhere each class
        // refuses on its first byte.
        const uint8_t b0 = data[i];
        if (b0 != 0x00 && b0 != 0x02 && b0 != 0x47 && b0 != 0x0B && b0 != 0xFF) continue;
        const uint8_t* p = data + i;
        const uint32_t left = n - i;
        ts.Parse(p, left);
        pat.Parse(p, left);
        pmt.Parse(p, left);
        for (bool strict : {false, true}) {
            pes.Parse(p, left, strict);
            seq.Parse(p, left, strict);
            ext.Parse(p, left, strict);
            disp.Parse(p, left, strict);
            gop.Parse(p, left, strict);
        }
        map.Parse(p, left);
        sys.Parse(p, left);
        pack.Parse(p, left);
        pce.Parse(p, left);
        ac3.Parse(p, left);
        uint32_t take = left;
        if (pmt.Assemble(p, take, (i & 1) != 0) && take < left) {
            uint32_t more = left - take;
            pmt.Assemble(p + take, more, false);
        }
    }
}

}  // namespace spltest
