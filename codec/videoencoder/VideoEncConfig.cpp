#include "codec/videoencoder/VideoEncConfig.h"

#include "codec/videoencoder/VideoEncIds.h"
#include "codec/videoencoder/VideoEncStreams.h"
#include "codec/videoencoder/VidovaBinding.h"

#include <mmsystem.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace vidcore;
using ModuleConfig::CBaseParam;
using ModuleConfig::NamedValue;
using ModuleConfig::ParamKind;
using ModuleConfig::ParamSpec;

extern HINSTANCE g_hInst;

namespace {

const char kV073[] = "V073: Horizontal or vertical size shall not be multiple of 4096.";

// Rows bound to odd offsets use the aligned copies.
size_t BoundOffset(int recordOffset) {
    switch (recordOffset) {
        case B_SVCD_OFFSETS:
            return offsetof(VideoEncSettings, svcdOffsets);
        case B_CALC_PSNR:
            return offsetof(VideoEncSettings, calcPsnr);
        case B_PIC_DISPLAY_EXT:
            return offsetof(VideoEncSettings, picDisplayExt);
        case WordByte(W_STATS_FILE):
            return offsetof(VideoEncSettings, statsFile);
        default:
            return static_cast<size_t>(recordOffset);
    }
}

void WriteBound(VideoEncSettings& s, int recordOffset, int32_t v) {
    s.rec.SetInt(recordOffset, v);
    switch (recordOffset) {
        case B_SVCD_OFFSETS:
            s.svcdOffsets = v;
            break;
        case B_CALC_PSNR:
            s.calcPsnr = v;
            break;
        case B_PIC_DISPLAY_EXT:
            s.picDisplayExt = v;
            break;
        default:
            break;
    }
}

void SetReason(VARIANT* reason, const char* text) {
    if (!reason) return;
    VariantInit(reason);
    std::wstring wide = ModuleConfig::AnsiToWide(text ? text : "");
    reason->bstrVal = SysAllocString(wide.c_str());
    if (reason->bstrVal) reason->vt = VT_BSTR;
}

VidovaSettings* Engine(Record& r) {
    return reinterpret_cast<VidovaSettings*>(r.bytes);
}

bool IsCq(int mode) {
    return mode == 2 || mode == 3;
}

}  // namespace

ConfigVideoEncImpl::ConfigVideoEncImpl(VideoEncHost* host, VideoEncSettings* settings)
    : CModuleConfigImpl<VideoEncSettings>(&CLSID_KorvellVideoEncoder, 3, settings), host_(host) {
    std::vector<std::vector<NamedValue>> names(kParamCount);
    std::vector<ParamSpec> rows;
    rows.reserve(kParamCount);
    for (int i = 0; i < kParamCount; ++i) {
        const ParamRow& r = kParamRows[i];
        for (int k = 0; k < r.valueCount; ++k) names[i].push_back({r.values[k].name, r.values[k].value});
        ParamKind kind = r.kind == kReal ? ParamKind::R8 : r.kind == kText ? ParamKind::Str : ParamKind::Int;
        rows.push_back(ParamSpec{reinterpret_cast<const GUID*>(&r.id), r.name, kind, r.readOnly, r.visible,
                                 BoundOffset(r.offset), r.defaultValue, 0.0, L"", r.hasRange, r.min, r.max, 1,
                                 names[i].empty() ? nullptr : names[i].data(), names[i].size()});
    }
    BuildTable(rows.data(), rows.size());
}

STDMETHODIMP ConfigVideoEncImpl::QueryInterface(REFIID riid, void** ppv) {
    return host_->Owner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) ConfigVideoEncImpl::AddRef() {
    return host_->Owner()->AddRef();
}
STDMETHODIMP_(ULONG) ConfigVideoEncImpl::Release() {
    return host_->Owner()->Release();
}

HRESULT ConfigVideoEncImpl::SetPendingInt(int index, int value) {
    CBaseParam* p = Param(index);
    if (!p) return E_FAIL;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_INT;
    v.intVal = value;
    return p->SetValue(&v, FALSE);
}

int ConfigVideoEncImpl::PendingInt(int index) {
    CBaseParam* p = Param(index);
    VARIANT v;
    if (!p || FAILED(p->GetValue(&v, FALSE))) return 0;
    int r = v.vt == VT_INT || v.vt == VT_I4 ? v.intVal : 0;
    VariantClear(&v);
    return r;
}

HRESULT ConfigVideoEncImpl::SetPendingText(int index, const std::wstring& text) {
    CBaseParam* p = Param(index);
    if (!p) return E_FAIL;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text.c_str());
    HRESULT hr = p->SetValue(&v, FALSE);
    VariantClear(&v);
    return hr;
}

STDMETHODIMP ConfigVideoEncImpl::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    CBaseParam* p = FindParam(id);
    if (!p) return E_FAIL;
    if (p->HasValidValues()) {
        BSTR name = nullptr;
        HRESULT hr = p->ValueToName(value, &name);
        SysFreeString(name);
        if (hr != S_OK) return E_FAIL;
    }
    if (std::memcmp(id, &kParamRows[P_SetDefaults].id, sizeof(GUID)) != 0) return CModuleConfig::SetValue(id, value);
    VideoEncSettings work = Values();
    RunPreset(work.rec, PendingInt(P_VideoType), PendingInt(P_VideoFormat));
    return S_OK;
}

HRESULT ConfigVideoEncImpl::RunPreset(Record& r, int t, int f) {
    const VidovaBinding& eng = Vidova();
    const Record& live = Values().rec;
    r.SetW(W_VIDEO_FORMAT_CODE, f);
    if (eng.Defaults) eng.Defaults(Engine(r), t, f == 1 ? 1 : 0);
    r.SetW(W_B_FRAMES, r.W(W_REF_DISTANCE) - 1);
    r.SetW(W_BITRATE, static_cast<int32_t>(r.D(B_BITRATE)));
    r.SetW(W_MAX_BITRATE, static_cast<int32_t>(r.D(B_MAX_BITRATE)));
    r.SetW(W_MIN_BITRATE, static_cast<int32_t>(r.D(B_MIN_BITRATE)));
    SetPendingText(P_StatsFile, DefaultStatsFileName());
    SetPendingInt(P_ChromaFormat, r.W(W_CHROMA));
    const bool connected = host_->InputConnected();
    if (!connected) {
        r.SetW(W_DISPLAY_W, 0);
        r.SetW(W_DISPLAY_H, 0);
        r.SetInt(B_WIDTH, 0);
        r.SetInt(B_HEIGHT, 0);
    }
    int c;
    if (PendingInt(P_FrameRate) != 0) {
        c = r.W(W_FRAME_RATE_CODE);
        SetPendingInt(P_FrameRate, c);
    } else {
        SetPendingInt(P_FrameRate, 0);
        c = live.W(W_FRAME_RATE_CODE);
    }
    if (t == 25) {
        const int hd = r.W(W_HDDVD);
        if ((c == 3 || c == 4) && hd == 1)
            r.SetW(W_GOP_LENGTH, 36);
        else if (((c == 3 || c == 4) && hd == 0) || ((c == 6 || c == 7) && hd == 0))
            r.SetW(W_GOP_LENGTH, 30);
        else
            return E_FAIL;  // what was set so far stays pending
        r.SetW(W_B_FRAMES, 2);
        r.SetW(W_REF_DISTANCE, 3);
        r.SetInt(B_PIC_DISPLAY_EXT, 0);
        r.SetW(W_DISPLAY_EXT, 1);
        int maximum;
        if (r.Int(B_WIDTH) > 720 || c > 4) {
            maximum = 29400000;
            r.SetW(W_PRIMARIES, 1);
            r.SetW(W_TRANSFER, 1);
            r.SetW(W_MATRIX, 1);
        } else {
            maximum = 15000000;
            r.SetW(W_PRIMARIES, c == 4 ? 4 : 5);
            r.SetW(W_TRANSFER, c == 4 ? 4 : 5);
            r.SetW(W_MATRIX, 5);
        }
        r.SetW(W_MAX_BITRATE, maximum);
        r.SetD(B_MAX_BITRATE, maximum);
        r.SetW(W_MIN_BITRATE, maximum / 2);
        r.SetD(B_MIN_BITRATE, maximum / 2);
        r.SetW(W_RC_MODE, 0);
        const int bitrate = static_cast<int>(maximum * 0.75);
        r.SetW(W_BITRATE, bitrate);
        r.SetD(B_RC_BITRATE, bitrate);
        r.SetD(B_BITRATE, bitrate);
        r.SetW(W_VBV_SIZE, 0);
    }
    if (t == 2) {
        ProfileLevel pl = SelectProfileLevel(r.W(W_PROFILE), r.W(W_LEVEL), r.Int(B_WIDTH), r.Int(B_HEIGHT),
                                             RateOfCode(c), PendingInt(P_ProgressiveSeq) != 0);
        r.SetW(W_PROFILE, pl.profile);
        r.SetW(W_LEVEL, pl.level);
        r.SetW(W_SEARCH_RANGE, 31);
    }
    if ((t == 4 || t == 13 || t == 14 || t == 15) && c == 1) {
        r.SetW(W_PULLDOWN, 2);
        r.SetW(W_PROGRESSIVE_FRAME, 1);
    }
    struct FromWord {
        int param, word;
    };
    SetPendingInt(P_VideoFormat, 0);
    const FromWord first[] = {{P_GopLength, W_GOP_LENGTH}, {P_BFrames, W_B_FRAMES}, {P_ClosedGop, W_CLOSED_GOP}};
    for (const FromWord& w : first) SetPendingInt(w.param, r.W(w.word));
    SetPendingInt(P_AspectRatio, live.W(W_ASPECT) != 0 ? r.W(W_ASPECT_CODE) : 0);
    const FromWord words[] = {
        {P_Pulldown, W_PULLDOWN},      {P_Bitrate, W_BITRATE},     {P_MaxBitrate, W_MAX_BITRATE},
        {P_MinBitrate, W_MIN_BITRATE}, {P_BitrateMode, W_RC_MODE},
    };
    for (const FromWord& w : words) SetPendingInt(w.param, r.W(w.word));
    SetPendingInt(P_QuantI, 2);
    SetPendingInt(P_QuantP, 4);
    SetPendingInt(P_QuantB, 6);
    SetPendingInt(P_SeqHeaderEveryGop, r.W(W_SEQ_HEADER));
    SetPendingInt(P_SeqEndCode, r.W(W_END_CODE));
    SetPendingInt(P_SeqDisplayExt, r.W(W_DISPLAY_EXT));
    SetPendingInt(P_PicDisplayExt, r.Int(B_PIC_DISPLAY_EXT));
    const FromWord more[] = {
        {P_Profile, W_PROFILE},
        {P_Level, W_LEVEL},
        {P_IntraDcPrecision, W_DC_PRECISION},
        {P_ProgressiveSeq, W_PROGRESSIVE_SEQ},
        {P_ProgressiveFrame, W_PROGRESSIVE_FRAME},
        {P_TopFieldFirst, W_TOP_FIELD_FIRST},
        {P_RepeatFirstField, W_REPEAT_FIRST_FIELD},
        {P_Deinterlace, W_DEINTERLACE},
        {P_Constrained, W_CONSTRAINED},
        {P_DropFrame, W_DROP_FRAME},
        {P_Timecode, W_TIMECODE},
        {P_IgnoreInterval, W_IGNORE_INTERVAL},
        {P_VbvSize, W_VBV_SIZE},
        {P_Primaries, W_PRIMARIES},
        {P_Transfer, W_TRANSFER},
        {P_Flags, W_FLAGS},
        {P_Matrix, W_MATRIX},
        {P_IntraMatrix, W_INTRA_MATRIX},
        {P_InterMatrix, W_INTER_MATRIX},
    };
    for (const FromWord& w : more) SetPendingInt(w.param, r.W(w.word));
    SetPendingInt(P_SvcdOffsets, r.Int(B_SVCD_OFFSETS));
    SetPendingInt(P_VbvInitial, r.W(W_VBV_INITIAL));
    SetPendingInt(P_PaddingLimit, r.W(W_PADDING));
    SetPendingInt(P_Halfpel, r.bytes[B_SEARCH] & 1);
    SetPendingInt(P_SearchQuality, 17);
    SetPendingInt(P_SearchRange, r.W(W_SEARCH_RANGE));
    SetPendingInt(P_ScanType, r.W(W_SCAN_DEFAULT));
    SetPendingInt(P_IntraVlc, r.W(W_INTRA_VLC_DEFAULT));
    SetPendingInt(P_QscaleType, r.W(W_QSCALE_DEFAULT));
    for (int p : {P_Preview, P_ClosedCaption, P_SceneChange, P_TwoPass, P_CalcPsnr, P_Prefiltering, P_SkipMode})
        SetPendingInt(p, 0);
    if (connected)
        SetPendingInt(P_OutSampleSize,
                      DefaultOutSampleSize(live.Int(B_WIDTH), live.Int(B_HEIGHT), r.W(W_BITRATE), live.D(B_FPS)));
    SetPendingInt(P_PadSkipped, 0);
    return S_OK;
}

HRESULT ConfigVideoEncImpl::ApplyChanges(long count, const GUID* ids, VARIANT* reason) {
    const VidovaBinding& eng = Vidova();
    VideoEncSettings work = Values();
    Record& r = work.rec;
    HRESULT result = S_OK;
    bool statsChanged = false, videoTypeChanged = false, captionChanged = false, chromaChanged = false;
    bool outSizeChanged = false;
    for (long i = 0; i < count; ++i) {
        CBaseParam* p = FindParam(&ids[i]);
        if (!p) {
            result = E_FAIL;
            break;
        }
        int index = -1;
        for (int k = 0; k < kParamCount; ++k)
            if (Param(k) == p) index = k;
        const ParamRow& row = kParamRows[index];
        VARIANT v;
        result = p->GetValue(&v, FALSE);
        if (FAILED(result)) continue;
        if (row.readOnly || index == P_SetDefaults || row.kind == kReal) {
            VariantClear(&v);
            continue;
        }
        if (row.kind == kText) {
            statsChanged = true;
            VariantClear(&v);
            continue;
        }
        const int x = v.intVal;
        switch (index) {
            case P_VideoType:
                r.SetW(W_VIDEO_TYPE, x);
                videoTypeChanged = true;
                break;
            case P_BFrames:
                r.SetW(W_B_FRAMES, x);
                r.SetW(W_REF_DISTANCE, x + 1);
                if (eng.SetPerformance) eng.SetPerformance(Engine(r), 2, r.W(W_SEARCH_RANGE), 0);
                break;
            case P_AspectRatio: {
                r.SetW(W_ASPECT, x);
                int ax = 1, ay = 1;
                host_->PictureAspect(&ax, &ay);
                // The pending format: it may be committed along with this value.
                const int pendingFormat = PendingInt(P_VideoFormat);
                const int vf = pendingFormat ? pendingFormat : r.W(W_VIDEO_FORMAT_CODE);
                r.SetW(W_ASPECT_CODE, x ? x
                                        : AutoAspectRatio(PendingInt(P_VideoType), vf, PendingInt(P_FrameRate),
                                                          r.Int(B_WIDTH), r.Int(B_HEIGHT), ax, ay));
                break;
            }
            case P_Bitrate:
                r.SetW(W_BITRATE, x);
                r.SetD(B_BITRATE, x);
                r.SetD(B_RC_BITRATE, IsCq(r.W(W_BITRATE_MODE)) ? 0.0 : x);
                break;
            case P_MaxBitrate:
                r.SetW(W_MAX_BITRATE, x);
                r.SetD(B_MAX_BITRATE, x);
                break;
            case P_MinBitrate:
                r.SetW(W_MIN_BITRATE, x);
                r.SetD(B_MIN_BITRATE, IsCq(r.W(W_BITRATE_MODE)) ? 0.0 : x);
                break;
            case P_QuantI:
            case P_QuantP:
            case P_QuantB:
                r.SetW(W_QUANT_I + (index - P_QuantI), x);
                r.SetW(W_QUANTISERS, (r.W(W_QUANT_I) + r.W(W_QUANT_P) * 256 + r.W(W_QUANT_B) * 65536) * 256);
                break;
            case P_BitrateMode:
                r.SetW(W_BITRATE_MODE, x);
                r.SetW(W_RC_MODE, x);
                if (x == 2) {
                    r.SetD(B_BITRATE, 0);
                    r.SetD(B_RC_BITRATE, 0);
                    r.SetD(B_MIN_BITRATE, 0);
                    r.SetW(W_VBR_FLAG, 1);
                } else {
                    r.SetD(B_BITRATE, r.W(W_BITRATE));
                    r.SetD(B_RC_BITRATE, r.W(W_BITRATE));
                    r.SetD(B_MIN_BITRATE, r.W(W_MIN_BITRATE));
                    r.SetW(W_VBR_FLAG, x == 1 ? 0 : 1);
                }
                break;
            case P_ChromaFormat:
                if (x != r.W(W_CHROMA)) chromaChanged = true;
                r.SetW(W_CHROMA, x);
                break;
            case P_SceneChange: {
                r.SetW(W_SCENE_CHANGE, x);
                int32_t flags = r.W(W_FLAGS) & ~0x30;
                if (x == 1) flags |= 0x10;
                if (x == 2) flags |= 0x20;
                if (x == 3) flags |= 0x800;
                r.SetW(W_FLAGS, flags);
                break;
            }
            case P_VideoFormat:
                r.SetW(W_VIDEO_FORMAT, x);
                r.SetW(W_VIDEO_FORMAT_CODE,
                       x ? x : AutoVideoFormat(r.W(W_FRAME_RATE_CODE), r.Int(B_WIDTH), r.Int(B_HEIGHT)));
                break;
            case P_SearchQuality:
                if (x < 0 || (x > 15 && !(x & 1) && !(x & 16))) {
                    SetReason(reason, "Motion search level is in the range (0..15)");
                    return E_FAIL;
                }
                r.SetW(W_SEARCH_QUALITY, x);
                r.bytes[B_SEARCH] = static_cast<uint8_t>((r.W(W_HALFPEL) != 0 ? 1 : 0) | (x << 1));
                break;
            case P_SearchRange:
                r.SetW(W_SEARCH_RANGE, x);
                if (eng.SetPerformance) eng.SetPerformance(Engine(r), 2, x, 0);
                if (r.W(W_SEARCH_RANGE) < 0 || r.W(W_SEARCH_RANGE) > 31) {
                    SetReason(reason, "Motion search range 0..31");
                    return E_FAIL;
                }
                break;
            case P_OnlineMode:
                r.SetW(W_ONLINE, x);
                if (eng.SetPerformance) eng.SetPerformance(Engine(r), 1, x, 0);
                break;
            case P_OfflineMode:
                r.SetW(W_OFFLINE, x);
                if (eng.SetPerformance) eng.SetPerformance(Engine(r), 0, x, 0);
                break;
            case P_Halfpel:
                r.SetW(W_HALFPEL, x);
                r.bytes[B_SEARCH] = static_cast<uint8_t>((x != 0 ? 1 : 0) | (r.W(W_SEARCH_QUALITY) << 1));
                break;
            case P_ClosedCaption:
                r.SetW(W_CLOSED_CAPTION, x);
                captionChanged = true;
                break;
            case P_OutSampleSize: {
                if (x < 0) {
                    SetReason(reason, "Out sample size must be > 0.");
                    return E_FAIL;
                }
                int32_t size =
                    x > 0 ? x : DefaultOutSampleSize(r.Int(B_WIDTH), r.Int(B_HEIGHT), r.W(W_BITRATE), r.D(B_FPS));
                if (size != r.W(W_OUT_SAMPLE_SIZE)) outSizeChanged = true;
                r.SetW(W_OUT_SAMPLE_SIZE, size);
                break;
            }
            default:
                WriteBound(work, row.offset, x);
                break;
        }
        VariantClear(&v);
    }

    // Rules after the loop, on the copy; changed fields go back as pending values.
    auto follow = [&](int param, int word, int value) {
        if (r.W(word) != value) r.SetW(word, value);
        if (PendingInt(param) != value) SetPendingInt(param, value);
    };
    const int type = r.W(W_VIDEO_TYPE);
    const bool mpeg1 = type == 0 || type == 1 || type == 13;
    ProfileLevel pl = SelectProfileLevel(r.W(W_PROFILE), r.W(W_LEVEL), r.Int(B_WIDTH), r.Int(B_HEIGHT), r.D(B_FPS),
                                         r.W(W_PROGRESSIVE_SEQ) != 0);
    follow(P_Profile, W_PROFILE, pl.profile);
    follow(P_Level, W_LEVEL, pl.level);
    if (r.W(W_PROGRESSIVE_FRAME) == 0) {
        follow(P_ProgressiveSeq, W_PROGRESSIVE_SEQ, 0);
        follow(P_Pulldown, W_PULLDOWN, 0);
    }
    if (r.W(W_PULLDOWN) != 0) follow(P_ProgressiveSeq, W_PROGRESSIVE_SEQ, 0);
    if (r.W(W_PROGRESSIVE_SEQ) != 0) follow(P_ProgressiveFrame, W_PROGRESSIVE_FRAME, 1);
    const int code = r.W(W_FRAME_RATE) ? r.W(W_FRAME_RATE) : host_->DetectedFrameRateCode();
    r.SetW(W_FRAME_RATE_CODE, code);
    r.SetD(B_FPS, RateOfCode(code));
    if (mpeg1) {
        follow(P_ProgressiveSeq, W_PROGRESSIVE_SEQ, 1);
        follow(P_ProgressiveFrame, W_PROGRESSIVE_FRAME, 1);
        follow(P_IntraDcPrecision, W_DC_PRECISION, 0);
        follow(P_Pulldown, W_PULLDOWN, 0);
        follow(P_QscaleType, W_QSCALE_TYPE, 0);
        follow(P_IntraVlc, W_INTRA_VLC, 0);
        follow(P_ScanType, W_SCAN_TYPE, 0);
        follow(P_ChromaFormat, W_CHROMA, 1);
    }
    for (int k = 0; k < 3; ++k) {
        r.SetW(W_PROG_FRAME_I + k, r.W(W_PROGRESSIVE_FRAME));
        r.SetW(W_QSCALE_I + k, r.W(W_QSCALE_TYPE));
        r.SetW(W_INTRA_VLC_I + k, r.W(W_INTRA_VLC));
        r.SetW(W_ALT_SCAN_I + k, r.W(W_SCAN_TYPE));
    }
    if (r.W(W_PROGRESSIVE_FRAME))
        follow(P_TopFieldFirst, W_TOP_FIELD_FIRST, 0);
    else
        follow(P_RepeatFirstField, W_REPEAT_FIRST_FIELD, 0);
    if (!IsCq(r.W(W_BITRATE_MODE))) {
        if (r.W(W_MAX_BITRATE) < r.W(W_BITRATE)) {
            follow(P_MaxBitrate, W_MAX_BITRATE, r.W(W_BITRATE));
            r.SetD(B_MAX_BITRATE, r.W(W_BITRATE));
        }
        if (r.W(W_BITRATE) < r.W(W_MIN_BITRATE)) {
            follow(P_MinBitrate, W_MIN_BITRATE, r.W(W_BITRATE) / 2);
            r.SetD(B_MIN_BITRATE, r.W(W_MIN_BITRATE));
        }
    }
    if (r.W(W_PROFILE) == 5) {
        follow(P_BFrames, W_B_FRAMES, 0);
        r.SetW(W_REF_DISTANCE, 1);
    }
    if (!eng.Loaded()) {
        SetReason(reason, "The video encoding engine Vidova.dll is missing.\n");
        return E_FAIL;
    }
    ClearEngineMessage();
    if (eng.CheckSettings(reinterpret_cast<get_callback_t>(&VideoEncGetCallback), Engine(r), 0, 0) != 0) {
        SetReason(reason, LastEngineMessage());
        return E_FAIL;
    }
    if ((r.Int(B_WIDTH) & 0xFFF) == 0 || (r.Int(B_HEIGHT) & 0xFFF) == 0) {
        SetReason(reason, kV073);
        return E_FAIL;
    }
    if (statsChanged) {
        Param(P_StatsFile)->StorePending();
        work.statsFile = Values().statsFile;
    }
    Values() = work;
    if (chromaChanged || captionChanged || videoTypeChanged || outSizeChanged)
        host_->Reconnect(chromaChanged, videoTypeChanged || outSizeChanged);
    return result;
}

std::wstring ConfigVideoEncImpl::RegistryKeyPath() {
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    const char* slash = std::strrchr(path, '\\');
    if (!slash || slash == path) return std::wstring();
    std::wstring name = ModuleConfig::AnsiToWide(slash + 1);
    if (name.empty()) return std::wstring();
    return L"Software\\Korvell\\Korvell MPEG-2 Video Encoder\\" + name;
}

std::wstring ConfigVideoEncImpl::DefaultStatsFileName() {
    std::srand(static_cast<unsigned>(timeGetTime()));
    const int number = std::rand();
    char folder[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA("TEMP", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = GetEnvironmentVariableA("TMP", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = GetModuleFileNameA(g_hInst, folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) n = 0;
        folder[n] = '\0';
        if (char* slash = std::strrchr(folder, '\\')) *slash = '\0';
    }
    return ModuleConfig::AnsiToWide(DefaultStatsBase(folder, number).c_str());
}
