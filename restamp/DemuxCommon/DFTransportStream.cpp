#include "restamp/DemuxCommon/DFTransportStream.h"

M2TS::CProgramElement* CDFTransportStream::CreatePIDParser(const M2TS::CTransportHdr& h) {
    uint16_t program = 0;
    M2TS::PMTElement entry;
    // Any stream_type: the PID element decides by stream_id what it detects.
    if (!FindProgramNumberOfPID(h.pid, &program) || !FindPIDEntry(h.pid, &entry)) return nullptr;
    auto* e = BS::New<CDFPIDParser>(h.pid, program, entry.streamType);
    if (!e) return nullptr;
    e->owner = owner;
    Register(h.pid, e);
    return e;
}

uint32_t CDFTransportStream::OnPayloadPacket(const M2TS::TSEvent& ev, bool discontinuity) {
    const M2TS::CTransportHdr& h = *ev.header;
    if (owner) {
        if (CTSWatcher* w = owner->TSWatcher()) w->Add(ev.position);
        uint16_t program = 0;
        if (h.adaptationFieldControl >= 2 && h.af.pcrFlag && LookupPID(h.pid, &program))
            owner->OnTime(CStreamKey(program, 0, 0, h.pid, 1), ClockToRefTime(h.af.pcrBase));
    }
    return M2TS::CTransportStream::OnPayloadPacket(ev, discontinuity);
}
