#include "codec/multiplexer/Multiplexer.h"

#include "codec/common/MpegCodes.h"
#include "codec/multiplexer/Descriptors.h"

#include <algorithm>

namespace muxcore {

namespace {

constexpr size_t kMaxEsInfoBytes = 1023;  // ES_info_length: 10 of its 12 bits in use

}  // namespace

Program::Program(Multiplexer* mux, const ProgramSettings& s) : mux_(mux), config_(s), settings_(s) {}

void Program::ResetRun() {
    pcrInput_ = nullptr;
    pmt_.hdr.SetCounter(15);
    systemHeader_.clear();
    nextPcrTime = 0;
    packetsSincePcr = 0;
    waitingForPcrInput = false;
    pendingDiscontinuity = false;
}

bool Program::HasConnectedInput() const {
    for (const InputStream* in : inputs_)
        if (in->HasStreamType()) return true;
    return false;
}

bool Program::ProgramIdFree(int32_t pid) {
    const int32_t old = config_.programId;
    config_.programId = -1;  // not counted against itself
    const uint16_t got = mux_->AllocatePid(pid, nullptr);
    config_.programId = old;
    return got == pid;
}

HRESULT_T Program::SetProgramId(int32_t pid) {
    if (pid == config_.programId) return kS_OK;
    if (!ProgramIdFree(pid)) return kE_FAIL;
    config_.programId = pid;
    return kS_OK;
}

bool Program::CarriesPid(int32_t pid) const {
    for (const InputStream* in : inputs_)
        if (in->HasStreamType() && in->Settings().streamId == pid) return true;
    return false;
}

HRESULT_T Program::SetPcrPid(int32_t pid) {
    if (!CarriesPid(pid)) return kE_FAIL;
    config_.pcrPid = pid;
    return kS_OK;
}

void Program::AddInput(InputStream* in) {
    if (std::find(inputs_.begin(), inputs_.end(), in) != inputs_.end()) return;
    inputs_.push_back(in);
    in->program_ = this;
    OnInputJoined(in);
}

void Program::OnInputJoined(const InputStream* in) {
    if (config_.pcrPid == 0 && in->HasStreamType()) config_.pcrPid = in->Settings().streamId;
}

void Program::RemoveInput(InputStream* in) {
    inputs_.erase(std::remove(inputs_.begin(), inputs_.end(), in), inputs_.end());
    if (in->program_ == this) in->program_ = nullptr;
    if (pcrInput_ == in) pcrInput_ = nullptr;
    OnInputLeft(in);
}

void Program::OnInputLeft(const InputStream* in) {
    if (!in->HasStreamType() || config_.pcrPid != in->Settings().streamId) return;
    config_.pcrPid = 0;
    for (InputStream* other : inputs_)
        if (other != in && other->HasStreamType()) {
            config_.pcrPid = other->Settings().streamId;
            break;
        }
}

void Program::ChoosePcrInput() {
    pcrInput_ = nullptr;
    // Video carries the PCR when the user did not choose: its packets come
    // most often.
    for (InputStream* in : inputs_)
        if (in->IsConnected() && in->RunSettings().streamId == settings_.pcrPid) pcrInput_ = in;
    if (!pcrInput_)
        for (InputStream* in : inputs_)
            if (in->IsConnected()) {
                pcrInput_ = in;
                break;
            }
    if (pcrInput_) settings_.pcrPid = pcrInput_->RunSettings().streamId;
}

HRESULT_T Program::AssignStreamId(InputStream* in, int32_t requested) {
    const int32_t t = in->RunSettings().streamType;
    const int32_t output = mux_->config_.output;
    auto taken = [&](int32_t id, uint8_t sub) {
        for (InputStream* o : inputs_)
            if (o != in && o->IsConnected() && o->RunSettings().streamPesId == id && o->SubId() == sub) return true;
        return false;
    };
    auto lowestFree = [&](int32_t want, int32_t base, int32_t last) {
        int32_t id = want >= base && want <= last ? want : base;
        if (!taken(id, 0)) return id;
        for (id = base; id <= last; ++id)
            if (!taken(id, 0)) return id;
        return -1;
    };
    int32_t id = -1;
    uint8_t sub = 0;
    auto countBefore = [&](int32_t type) {
        uint8_t n = 0;
        for (InputStream* o : inputs_) {
            if (o == in) break;
            if (o->IsConnected() && o->RunSettings().streamType == type) ++n;
        }
        return n;
    };
    if (IsVideoType(t) && t != kPinVc1) {
        id = lowestFree(requested, MpegCommon::kStreamIdVideoFirst, MpegCommon::kStreamIdVideoLast);
    } else if (t == kPinMpeg2Audio || t == kPinMpeg1Audio || t == kPinAac) {
        id = lowestFree(requested, MpegCommon::kStreamIdAudioFirst, MpegCommon::kStreamIdAudioLast);
    } else if (t == kPinAc3) {
        if (output == kProgramStream) {
            id = MpegCommon::kStreamIdPrivate1;
            sub = static_cast<uint8_t>(0x80 + countBefore(kPinAc3));
        } else {
            id = requested == MpegCommon::kStreamIdExtended ? MpegCommon::kStreamIdExtended
                                                            : MpegCommon::kStreamIdPrivate1;
        }
    } else if (t == kPinPcm) {
        id = MpegCommon::kStreamIdPrivate1;
        sub = static_cast<uint8_t>(0xA0 + countBefore(kPinPcm));
    } else if (t == kPinDvdSubtitles) {
        id = MpegCommon::kStreamIdPrivate1;
        sub = static_cast<uint8_t>(0x20 + countBefore(kPinDvdSubtitles));
    } else if (t == kPinVc1) {
        id = MpegCommon::kStreamIdExtended;
    } else if (t == kPinPrivateData) {
        id = MpegCommon::kStreamIdPrivate1;
    } else {
        id = requested > 0 ? requested : MpegCommon::kStreamIdPrivate1;
    }
    if (id < 0) return kE_FAIL;
    in->settings_.streamPesId = id;
    in->SetSubId(sub);
    return kS_OK;
}

uint8_t Program::ConfiguredSubStreamId(const InputStream* in) const {
    const int32_t t = in->Settings().streamType;
    uint8_t id = 0;
    if (t == kPinAc3 && mux_->config_.output == kProgramStream)
        id = 0x80;
    else if (t == kPinPcm)
        id = 0xA0;
    else
        return 0;
    // Counted per type in input order, as AssignStreamId counts.
    for (const InputStream* o : inputs_) {
        if (o == in) break;
        if (o->Settings().streamType == t) ++id;
    }
    return id;
}

void Program::BuildPmt() {
    NS_TS::CPMT& pmt = pmt_;
    pmt.hdr.SetPid(static_cast<uint16_t>(settings_.programId));
    pmt.program_number = static_cast<uint16_t>(settings_.programNumber);
    pmt.PCR_PID = static_cast<uint16_t>(settings_.pcrPid);
    pmt.streams.clear();
    pmt.programInfo.clear();
    // With DMB each stream's entry names its ES_ID (SL descriptor) and the
    // program info holds the IOD that describes the streams.
    const MPEG4DescriptorGenerator* dmb = mux_->DmbSetup();
    bool carriesDmb = false;
    for (InputStream* in : inputs_) {
        // Entries only for connected inputs: a free input has no stream.
        if (!in->IsConnected() || in->RunSettings().streamType == kPinPcrOnly) continue;
        SPL_TS::PMTStreamEntry e;
        e.stream_type = PmtStreamType(in->RunSettings().streamType);
        e.elementary_PID = in->Pid();
        const std::vector<uint8_t>& info = in->RunSettings().esInfo;
        e.info = NS_DESCR::DescriptorList::FromBytes(info.data(), info.size()).Bytes();
        const CSLDesc* sl = dmb ? dmb->SlFor(in->Pid()) : nullptr;
        if (sl && e.info.size() + sl->Size() <= kMaxEsInfoBytes) {
            sl->AppendTo(e.info);
            carriesDmb = true;
        }
        e.ES_info_length = static_cast<uint16_t>(e.info.size());
        pmt.streams.push_back(e);
    }
    if (carriesDmb) pmt.programInfo = dmb->ProgramInfo();
    pmt.Build();
}

void Program::BuildSystemHeader(int32_t rateBound) {
    std::vector<uint8_t>& h = systemHeader_;
    h.clear();
    std::vector<InputStream*> streams;
    int audio = 0, video = 0;
    for (InputStream* in : inputs_) {
        if (!in->IsConnected()) continue;
        // One entry per stream_id: private stream 1 carries several sub-streams.
        bool dup = false;
        for (InputStream* o : streams)
            if (o->PesId() == in->PesId()) dup = true;
        if (!dup) streams.push_back(in);
        if (in->IsVideo())
            ++video;
        else if (in->IsAudioGroup() || in->RunSettings().streamType == kPinPcm)
            ++audio;
    }
    const uint32_t len = 6 + 3 * static_cast<uint32_t>(streams.size());
    h = {0x00, 0x00, 0x01, 0xBB, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
    const uint32_t rb = static_cast<uint32_t>(rateBound) & 0x3FFFFF;
    h.push_back(static_cast<uint8_t>(0x80 | (rb >> 15)));
    h.push_back(static_cast<uint8_t>(rb >> 7));
    h.push_back(static_cast<uint8_t>((rb << 1) | 1));
    h.push_back(static_cast<uint8_t>(audio << 2));             // fixed_flag 0, CSPS_flag 0
    h.push_back(static_cast<uint8_t>(0x20 | (video & 0x1F)));  // locks 0, marker 1
    h.push_back(0x7F);
    for (InputStream* in : streams) {
        // The bound of private stream 1 covers the largest of its sub-streams.
        int32_t size = in->PstdSize();
        for (InputStream* o : inputs_)
            if (o->IsConnected() && o->PesId() == in->PesId()) size = std::max(size, o->PstdSize());
        const uint8_t id = in->PesId();
        const unsigned scale = (id >= MpegCommon::kStreamIdAudioFirst && id <= MpegCommon::kStreamIdAudioLast) ? 0 : 1;
        const int32_t unit = scale ? 1024 : 128;
        const uint32_t bound = static_cast<uint32_t>(std::min((size + unit - 1) / unit, 0x1FFF));
        h.push_back(id);
        h.push_back(static_cast<uint8_t>(0xC0 | (scale << 5) | (bound >> 8)));
        h.push_back(static_cast<uint8_t>(bound));
    }
}

}  // namespace muxcore
