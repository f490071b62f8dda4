#include "restamp/DemuxCommon/MainParser.h"

#include "restamp/DemuxCommon/CoreLog.h"
#include "restamp/DemuxCommon/DFH264Stream.h"
#include "restamp/DemuxCommon/DFPVAStream.h"
#include "restamp/DemuxCommon/DFProgramStream.h"
#include "restamp/DemuxCommon/DFSystemStream.h"
#include "restamp/DemuxCommon/DFTransportStream.h"
#include "restamp/DemuxCommon/DFVideoOnlyStream.h"
#include "restamp/parsers/EsHeaders.h"
#include "restamp/parsers/M1SS.h"
#include "restamp/parsers/M2PS.h"
#include "restamp/parsers/PVA.h"
#include "restamp/parsers/MAudio.h"
#include "restamp/parsers/MVideo.h"

namespace {

using PSTemplate = BS::CParserTemplateImpl<M2PS::CPSParserImpl, M2PS::CPSParserHandlerImpl, CDFProgramStream>;
using SSTemplate = BS::CParserTemplateImpl<M1SS::CSSParserImpl, M1SS::CSSParserHandlerImpl, CDFSystemStream>;
using PVATemplate = BS::CParserTemplateImpl<PVA::CPVAParserImpl, PVA::CPVAParserHandlerImpl, CDFPVAStream>;
using TSTemplate = BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, CDFTransportStream>;
using AudioTemplate =
    BS::CParserTemplateImpl<MAudio::CAudioParserImpl, MAudio::CAudioParserHandlerImpl, MAudio::CAudioDispatcher>;
using AC3Template = BS::CParserTemplateImpl<AC3::CAC3ParserImpl, AC3::CAC3ParserHandlerImpl, AC3::CAC3Dispatcher>;
using VideoTemplate =
    BS::CParserTemplateImpl<MVideo::CVideoParserImpl, MVideo::CVideoParserHandlerImpl, CDFVideoDispatcher>;
using H264Template = BS::CParserTemplateImpl<MH264::CH264ParserImpl, MH264::CH264ParserHandlerImpl, CDFH264Dispatcher>;

constexpr uint32_t kAudioMinBytes = 100000;
// Bytes collected before a container's parser is built (or the end of the stream).
constexpr uint32_t kProgramStreamMinBytes = 2000000;
constexpr uint32_t kTransportStreamMinBytes = 10000;
constexpr uint32_t kSystemStreamMinBytes = 300000;
constexpr uint32_t kPVAMinBytes = 2000000;
// Stream positions from which detection must decide with what it has.
constexpr int64_t kDetectFinalPosition = 4000000;
constexpr int64_t kTransportDetectFinalPosition = 10000000;

using chronel::kCoreLogError;
using chronel::kCoreLogTrace;

// The log line of the format test that answered.
const char* DetectLine(uint32_t type) {
    switch (type) {
        case kTypeTransportStream:
            return "DetectTransportStream";
        case kTypePVA:
            return "DetectPVAStream";
        case kTypeProgramStream:
            return "DetectProgramStream";
        case kTypeSystemStream:
            return "DetectSystemStream";
        case kTypeAC3Only:
            return "DetectAC3Only";
        case kTypeAudioOnly:
            return "DetectAudioOnlyStream";
        case kTypeVideoOnly:
            return "DetectVideoStream";
        case kTypeH264Only:
            return "DetectH264Only";
        default:
            return nullptr;
    }
}

}  // namespace

const wchar_t* MainParserTypeName(uint32_t type) {
    switch (type) {
        case kTypeSystemStream:
            return L"Mpeg1 System Sream";
        case kTypeProgramStream:
            return L"Mpeg2 Program Stream";
        case kTypeTransportStream:
            return L"Mpeg2 Transport Stream";
        case kTypeVideoOnly:
            return L"MPEG Video Only Stream";
        case kTypePVA:
            return L"PVA Stream";
        case kTypeAudioOnly:
            return L"Mpeg Audio Stream";
        case kTypeAC3Only:
            return L"AC3 Stream";
        case kTypeH264Only:
            return L"H264 Only Stream";
        default:
            return L"Not Initialized";
    }
}

CMainParser::CMainParser(AMainParserOwner* owner) : owner_(owner), name_(MainParserTypeName(0)) {}

CMainParser::~CMainParser() {
    std::lock_guard<std::mutex> g(lock_);
    ResetLocked();
}

void CMainParser::Reset() {
    std::lock_guard<std::mutex> g(lock_);
    ResetLocked();
}

void CMainParser::ResetLocked() {
    graph_.ReleaseRoot();
    delete parser_;
    parser_ = nullptr;
    pendingSkip_ = 0;
    type_.store(0, std::memory_order_release);
    initialized_.store(false, std::memory_order_release);
}

void CMainParser::ResetParser() {
    std::lock_guard<std::mutex> g(lock_);
    if (parser_) parser_->Reset();
    pendingSkip_ = 0;
}

uint32_t CMainParser::DetectFormat(const uint8_t* d, uint32_t n, uint8_t* packetSize) {
    if (uint8_t ts = DetectTransportStream(d, n)) {
        if (packetSize) *packetSize = ts;
        return kTypeTransportStream;
    }
    if (DetectPVAStream(d, n)) return kTypePVA;
    M2PS::DetectPS ps;
    if (ps.DetectProgramStream(d, n)) return kTypeProgramStream;
    if (DetectSystemStream(d, n)) return kTypeSystemStream;
    if (ps.DetectProgramStreamPES(d, n)) return kTypeProgramStream;
    AC3::DetectAC3 ac3;
    if (ac3.Detect(d, n)) return kTypeAC3Only;
    MAudio::CAudioFormat audio;
    if (audio.Detect(d, n)) return kTypeAudioOnly;
    MVideo::DetectVideoStream video;
    if (video.Detect(d, n)) return kTypeVideoOnly;
    MH264::DetectH264 h264;
    if (h264.Detect(d, n)) return kTypeH264Only;
    return kTypeNone;
}

int32_t CMainParser::InitWithData(int64_t position, BS::AInputBuffer* b, uint32_t final) {
    std::lock_guard<std::mutex> g(lock_);
    position_ = position;
    final_ = final;
    CORE_LOG(kCoreLogTrace, 1, "InitWithData %d", int(b->GetLength()));
    const int32_t r = InitLocked(b);
    if (r < 0) CORE_LOG(kCoreLogError, 1, " FAILED hr = 0x%X", unsigned(r));
    return r;
}

int32_t CMainParser::InitLocked(BS::AInputBuffer* b) {
    const uint8_t* d = b->GetReadPtr();
    const uint32_t n = b->GetLength();
    const uint32_t final = final_;
    int32_t r = 1;
    uint32_t type = type_.load(std::memory_order_relaxed);
    if (type == kTypeNone) {
        CORE_LOG(kCoreLogTrace, 1, "CMainParser::InitWithData detect type");
        name_.store(MainParserTypeName(0), std::memory_order_release);
        uint8_t pkt = 0;
        type = DetectFormat(d, n, &pkt);
        if (const char* line = DetectLine(type)) CORE_LOG(kCoreLogTrace, 1, "%s", line);
        switch (type) {
            case kTypeProgramStream:
                SetType(type);
                break;
            case kTypeTransportStream:
                packetSize_ = pkt;
                SetType(type);
                break;
            case kTypeSystemStream:
            case kTypePVA:
                SetType(type);
                break;
            case kTypeAC3Only:
            case kTypeAudioOnly:
                if (n < kAudioMinBytes && !final) return 1;
                SetType(type);
                r = BuildAudio(type == kTypeAC3Only);
                break;
            case kTypeVideoOnly:
                SetType(type);
                r = BuildVideo(d, n);
                break;
            case kTypeH264Only:
                SetType(type);
                r = BuildH264(d, n);
                break;
            default:
                // Nothing matched, or a format whose parser this build lacks:
                // try again with more data.
                return kHrFail;
        }
    }
    if (type == kTypeProgramStream) {
        CORE_LOG(kCoreLogTrace, 1, "CMainParser::InitWithData init parser");
        r = (n >= kProgramStreamMinBytes || final) ? BuildProgramStream(b) : 1;
    } else if (type == kTypePVA) {
        CORE_LOG(kCoreLogTrace, 1, "CMainParser::InitWithData init parser");
        r = (n >= kPVAMinBytes || final) ? BuildPVA(b) : 1;
    } else if (type == kTypeSystemStream) {
        CORE_LOG(kCoreLogTrace, 1, "CMainParser::InitWithData init parser");
        r = (n >= kSystemStreamMinBytes || final) ? BuildSystemStream(b) : 1;
    } else if (type == kTypeTransportStream) {
        CORE_LOG(kCoreLogTrace, 1, "CMainParser::InitWithData init parser");
        if (n >= kTransportStreamMinBytes || final)
            r = BuildTransportStream(b);
        else
            CORE_LOG(kCoreLogTrace, 1, "DetectTransportStream need more data %d", int(n));
    }
    if (r < 0) {
        if (!parser_) type_.store(0, std::memory_order_release);
        return r;
    }
    if (r == 0 && parser_) {
        initialized_.store(true, std::memory_order_release);
        return 0;
    }
    return IsInitialized() ? 0 : 1;
}

template <class T>
T* CMainParser::PrepareTemplate(bool* made) {
    auto* t = dynamic_cast<T*>(parser_);
    if (made) *made = !t;
    if (!t && parser_) {
        graph_.ReleaseRoot();
        delete parser_;
        parser_ = nullptr;
    }
    if (!t) {
        t = new (std::nothrow) T();
        if (!t) return nullptr;
        parser_ = t;
    }
    t->Reset();
    t->stream.owner = owner_;
    graph_.SetRoot(&t->stream);
    return t;
}

template <class T>
int32_t CMainParser::DetectSubStreams(T* t, BS::AInputBuffer* b) {
    const bool detFinal = position_ >= kDetectFinalPosition || final_;
    pendingSkip_ = 0;
    uint32_t len = b->GetLength();
    ParseLocked(0, b->GetReadPtr(), &len);
    if (!t->stream.DetectSubStreams(detFinal)) {
        CORE_LOG(kCoreLogTrace, 1, "Not all streams detected 1");
        return 1;
    }
    t->stream.FinishDetection();
    t->Reset();
    pendingSkip_ = 0;
    return 0;
}

int32_t CMainParser::BuildSystemStream(BS::AInputBuffer* b) {
    bool made = false;
    auto* t = PrepareTemplate<SSTemplate>(&made);
    if (!t) return kHrOutOfMemory;
    if (made && owner_) owner_->AttachSystemStream(&t->stream, t->stream.GetState());
    SetType(kTypeSystemStream);
    return DetectSubStreams(t, b);
}

int32_t CMainParser::BuildPVA(BS::AInputBuffer* b) {
    auto* t = PrepareTemplate<PVATemplate>();
    if (!t) return kHrOutOfMemory;
    SetType(kTypePVA);
    return DetectSubStreams(t, b);
}

int32_t CMainParser::BuildTransportStream(BS::AInputBuffer* b) {
    auto* t = PrepareTemplate<TSTemplate>();
    if (!t) return kHrOutOfMemory;
    t->parser.packetSize = packetSize_;
    t->handler.hdr.packetSize = packetSize_;
    SetType(kTypeTransportStream);
    const bool detFinal = position_ >= kTransportDetectFinalPosition || final_;
    auto parseAll = [&] {
        // Each pass takes its sync afresh: the collection may start inside a packet.
        t->parser.ResetScanner();
        pendingSkip_ = 0;
        uint32_t len = b->GetLength();
        ParseLocked(0, b->GetReadPtr(), &len);
    };
    parseAll();
    if (!t->stream.ProgramsComplete(detFinal)) {
        CORE_LOG(kCoreLogTrace, 1, "No detected table");
        return 1;
    }
    parseAll();
    if (!t->stream.AllSubStreamsDetected(detFinal)) {
        CORE_LOG(kCoreLogTrace, 1, "Not all streams detected 2");
        return 1;
    }
    t->stream.FinishDetection();
    t->Reset();
    pendingSkip_ = 0;
    return 0;
}

int32_t CMainParser::BuildProgramStream(BS::AInputBuffer* b) {
    auto* t = PrepareTemplate<PSTemplate>();
    if (!t) return kHrOutOfMemory;
    SetType(kTypeProgramStream);
    return DetectSubStreams(t, b);
}

int32_t CMainParser::BuildVideo(const uint8_t* d, uint32_t len) {
    auto* t = PrepareTemplate<VideoTemplate>();
    if (!t) return kHrOutOfMemory;
    MVideo::DetectVideoStream det;
    det.Detect(d, len);
    MVideo::CVEStream* es = t->stream.CreateVEStream(&det);
    if (!es) return kHrOutOfMemory;
    if (!es->AllSubStreamsDetected(false)) return 1;
    t->Reset();
    return 0;
}

int32_t CMainParser::BuildH264(const uint8_t* d, uint32_t len) {
    auto* t = PrepareTemplate<H264Template>();
    if (!t) return kHrOutOfMemory;
    MH264::DetectH264 det;
    if (!det.Detect(d, len)) return kHrFail;
    // The parameter sets stand at the start of the collection, which is not
    // parsed again: the handler reads the later slices with them.
    t->handler.record.Prime(det.paramCopy.data(), uint32_t(det.paramCopy.size()));
    if (!t->stream.CreateH264Stream(&det)) return kHrOutOfMemory;
    t->Reset();
    return 0;
}

int32_t CMainParser::BuildAudio(bool ac3) {
    graph_.ReleaseRoot();
    delete parser_;
    parser_ = nullptr;
    BS::AParserTemplate* t;
    if (ac3)
        t = new (std::nothrow) AC3Template();
    else
        t = new (std::nothrow) AudioTemplate();
    if (!t) return kHrOutOfMemory;
    parser_ = t;
    t->Reset();
    graph_.SetRoot(t->GetStream());
    if (owner_) {
        if (ac3)
            owner_->AttachAC3Root(t->GetStream());
        else
            owner_->AttachAudioRoot(t->GetStream());
    }
    return 0;
}

void CMainParser::ParseData(uint64_t position, const uint8_t* data, uint32_t* length) {
    std::lock_guard<std::mutex> g(lock_);
    ParseLocked(position, data, length);
}

void CMainParser::ParseLocked(uint64_t position, const uint8_t* data, uint32_t* length) {
    if (!parser_) return;
    const uint32_t n = *length;
    const uint32_t s = n < pendingSkip_ ? n : pendingSkip_;
    pendingSkip_ -= s;
    if (s < n) {
        parser_->Parse(position + s, data + s, n - s, 0);
        pendingSkip_ = parser_->GetPending();
        *length = s + parser_->GetConsumed();
    }
}
