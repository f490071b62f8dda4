// The main settings page: combo boxes of named values, the rate fields of
// the bitrate mode, the GOP up-downs, and a 100 ms status update.
#include "codec/videoencoder/VideoEncPages.h"

#include "codec/videoencoder/VideoEncPageRules.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VidrelResource.h"

#include <commctrl.h>

#include <new>
#include <string>

using namespace vidcore;
using namespace vidpage;

namespace {

constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT kStatusPeriodMs = 100;
// A change notice from another thread refills the page on its own thread.
constexpr UINT kRefillMessage = WM_USER + 100;
constexpr int kFieldText = 64;

// The combo boxes filled from a parameter's names, and applied through them.
struct NamedCombo {
    int control;
    int index;
};
const NamedCombo kNamedCombos[] = {
    {IDC_VIDEO_TYPE, P_VideoType},     {IDC_VIDEO_FORMAT, P_VideoFormat},
    {IDC_MODE, P_BitrateMode},         {IDC_PROFILE, P_Profile},
    {IDC_PICTURE, P_ProgressiveFrame}, {IDC_FIELD_ORDER, P_TopFieldFirst},
    {IDC_PULLDOWN, P_Pulldown},        {IDC_PASS, P_TwoPass},
    {IDC_SCENE, P_SceneChange},
};
// The order in which an apply writes the selections.
const NamedCombo kAppliedSelections[] = {
    {IDC_VIDEO_TYPE, P_VideoType},
    {IDC_MODE, P_BitrateMode},
    {IDC_VIDEO_FORMAT, P_VideoFormat},
    {IDC_PICTURE, P_ProgressiveFrame},
    {IDC_FIELD_ORDER, P_TopFieldFirst},
    {IDC_PULLDOWN, P_Pulldown},
    {IDC_PASS, P_TwoPass},
    {IDC_SCENE, P_SceneChange},
};
// Every control the running encoder locks.
const int kSettingControls[] = {IDC_VIDEO_TYPE,   IDC_VIDEO_FORMAT, IDC_MODE,  IDC_VALUE1,   IDC_VALUE2,
                                IDC_VALUE3,       IDC_RESTORE,      IDC_GOP,   IDC_GOP_SPIN, IDC_BFRAMES,
                                IDC_BFRAMES_SPIN, IDC_PASS,         IDC_SCENE, IDC_ASPECT,   IDC_PSNR};

std::string ComboSelection(HWND combo) {
    LRESULT i = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (i == CB_ERR) return std::string();
    LRESULT n = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (n == CB_ERR || n < 0) return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(n));
    return text;
}

bool ReadInt(HWND dlg, int control, int* value) {
    BOOL ok = FALSE;
    const UINT v = GetDlgItemInt(dlg, control, &ok, TRUE);
    if (!ok) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

CUnknown* WINAPI VideoEncMainPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) VideoEncMainPage(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

VideoEncMainPage::VideoEncMainPage(LPUNKNOWN pUnk)
    : VideoEncSettingsPage(NAME("MPEG-2 Video Encoder Main Page"), pUnk, IDD_VIDREL_MAIN, IDS_VIDREL_MAIN) {}

HRESULT VideoEncMainPage::OnActivate() {
    SendDlgItemMessageW(m_Dlg, IDC_GOP_SPIN, UDM_SETRANGE32, kGopMin, kGopMax);
    SendDlgItemMessageW(m_Dlg, IDC_BFRAMES_SPIN, UDM_SETRANGE32, kBFramesMin, kBFramesMax);
    Fill();
    UpdateStatus();
    SetTimer(m_Dlg, kStatusTimer, kStatusPeriodMs, NULL);
    return S_OK;
}

HRESULT VideoEncMainPage::OnDeactivate() {
    if (m_Dlg) KillTimer(m_Dlg, kStatusTimer);
    return S_OK;
}

STDMETHODIMP VideoEncMainPage::OnModuleChanged(long, const GUID*) {
    HWND dlg = m_Dlg;
    if (dlg && GetWindowThreadProcessId(dlg, NULL) != GetCurrentThreadId()) PostMessageW(dlg, kRefillMessage, 0, 0);
    return S_OK;
}

void VideoEncMainPage::FillNamed(int control, int index) {
    HWND combo = GetDlgItem(m_Dlg, control);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : ValueNames(index))
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    const std::string current = PendingName(index);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    if (!current.empty())
        SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
}

void VideoEncMainPage::FillLevels() {
    HWND combo = GetDlgItem(m_Dlg, IDC_LEVEL);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    const int profile = PendingInt(P_Profile);
    const int level = PendingInt(P_Level);
    std::vector<int> values;
    std::vector<std::string> names = ValueNames(P_Level, &values);
    for (size_t i = 0; i < names.size(); ++i) {
        if (!IsValidPair(profile, values[i])) continue;
        LRESULT at = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i].c_str()));
        if (values[i] == level) SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
}

void VideoEncMainPage::FillAspect() {
    HWND combo = GetDlgItem(m_Dlg, IDC_ASPECT);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const char* name : AspectNames(PendingInt(P_VideoType)))
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(PendingInt(P_AspectRatio)), 0);
}

void VideoEncMainPage::FillValueFields() {
    const int mode = PendingInt(P_BitrateMode);
    const RateFieldLabels labels = LabelsForMode(mode);
    SetDlgItemTextA(m_Dlg, IDC_LABEL1, labels.first);
    SetDlgItemTextA(m_Dlg, IDC_LABEL2, labels.second);
    SetDlgItemTextA(m_Dlg, IDC_LABEL3, labels.third);
    if (ShowsQuantisers(mode)) {
        SetDlgItemInt(m_Dlg, IDC_VALUE1, static_cast<UINT>(PendingInt(P_QuantI)), TRUE);
        SetDlgItemInt(m_Dlg, IDC_VALUE2, static_cast<UINT>(PendingInt(P_QuantP)), TRUE);
        SetDlgItemInt(m_Dlg, IDC_VALUE3, static_cast<UINT>(PendingInt(P_QuantB)), TRUE);
    } else {
        SetDlgItemInt(m_Dlg, IDC_VALUE1, static_cast<UINT>(KbitFromBitrate(PendingInt(P_Bitrate))), TRUE);
        SetDlgItemInt(m_Dlg, IDC_VALUE2, static_cast<UINT>(KbitFromBitrate(PendingInt(P_MaxBitrate))), TRUE);
        SetDlgItemInt(m_Dlg, IDC_VALUE3, static_cast<UINT>(PendingInt(P_VbvSize)), TRUE);
    }
}

void VideoEncMainPage::Fill() {
    if (m_Dlg == NULL || !config_) return;
    filling_ = true;
    for (const NamedCombo& c : kNamedCombos) FillNamed(c.control, c.index);
    FillLevels();
    FillAspect();
    FillValueFields();
    SendDlgItemMessageW(m_Dlg, IDC_GOP_SPIN, UDM_SETPOS32, 0, PendingInt(P_GopLength));
    SendDlgItemMessageW(m_Dlg, IDC_BFRAMES_SPIN, UDM_SETPOS32, 0, PendingInt(P_BFrames));
    CheckDlgButton(m_Dlg, IDC_PSNR, PendingInt(P_CalcPsnr) == 1 ? BST_CHECKED : BST_UNCHECKED);
    editChanged_ = false;
    filling_ = false;
}

int VideoEncMainPage::SelectedValue(int control, int index) {
    const std::string name = ComboSelection(GetDlgItem(m_Dlg, control));
    std::vector<int> values;
    std::vector<std::string> names = ValueNames(index, &values);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return values[i];
    return -1;
}

void VideoEncMainPage::ApplySelection(int control, int index) {
    const std::string name = ComboSelection(GetDlgItem(m_Dlg, control));
    if (!name.empty()) (void)SetPendingByName(index, name);
}

void VideoEncMainPage::ApplyControls() {
    if (m_Dlg == NULL || !config_) return;
    int v = 0;
    if (ShowsQuantisers(PendingInt(P_BitrateMode))) {
        if (ReadInt(m_Dlg, IDC_VALUE1, &v)) (void)SetPendingInt(P_QuantI, v);
        if (ReadInt(m_Dlg, IDC_VALUE2, &v)) (void)SetPendingInt(P_QuantP, v);
        if (ReadInt(m_Dlg, IDC_VALUE3, &v)) (void)SetPendingInt(P_QuantB, v);
    } else {
        if (ReadInt(m_Dlg, IDC_VALUE2, &v)) (void)SetPendingInt(P_MaxBitrate, BitrateFromKbit(v));
        if (ReadInt(m_Dlg, IDC_VALUE1, &v)) (void)SetPendingInt(P_Bitrate, BitrateFromKbit(v));
        if (ReadInt(m_Dlg, IDC_VALUE3, &v)) (void)SetPendingInt(P_VbvSize, v);
    }
    for (const NamedCombo& c : kAppliedSelections) ApplySelection(c.control, c.index);
    (void)SetPendingInt(P_CalcPsnr, IsDlgButtonChecked(m_Dlg, IDC_PSNR) == BST_CHECKED ? 1 : 0);
    ApplySelection(IDC_PROFILE, P_Profile);
    const int chosenLevel = SelectedValue(IDC_LEVEL, P_Level);
    const int level = LevelToApply(PendingInt(P_Profile), chosenLevel >= 0 ? chosenLevel : PendingInt(P_Level));
    (void)SetPendingInt(P_Level, level);
    const LRESULT aspect = SendDlgItemMessageA(m_Dlg, IDC_ASPECT, CB_GETCURSEL, 0, 0);
    if (aspect != CB_ERR) (void)SetPendingInt(P_AspectRatio, static_cast<int>(aspect));
    const int gop = static_cast<int>(SendDlgItemMessageW(m_Dlg, IDC_GOP_SPIN, UDM_GETPOS32, 0, 0));
    const int bFrames = static_cast<int>(SendDlgItemMessageW(m_Dlg, IDC_BFRAMES_SPIN, UDM_GETPOS32, 0, 0));
    (void)SetPendingInt(P_GopLength, HoldGopLength(gop, bFrames));
    (void)SetPendingInt(P_BFrames, HoldBFrames(bFrames, HoldGopLength(gop, bFrames)));
}

HRESULT VideoEncMainPage::OnApplyChanges() {
    ApplyControls();
    HRESULT hr = VideoEncSettingsPage::OnApplyChanges();
    Fill();
    return hr;
}

void VideoEncMainPage::SetTextIfChanged(int control, const std::string& text) {
    char shown[kFieldText] = "";
    GetDlgItemTextA(m_Dlg, control, shown, kFieldText);
    if (text != shown) SetDlgItemTextA(m_Dlg, control, text.c_str());
}

void VideoEncMainPage::UpdateStatus() {
    if (m_Dlg == NULL || !config_) return;
    SetTextIfChanged(IDC_ENCODED, std::to_string(CommittedInt(P_EncodedFrames)));
    SetTextIfChanged(IDC_SPEED, SpeedText(CommittedReal(P_EncodingSpeed)));
    SetTextIfChanged(IDC_REAL_BITRATE, std::to_string(CommittedInt(P_RealBitrate)));
    SetTextIfChanged(IDC_OVERALL_PSNR, CommittedInt(P_CalcPsnr) == 1 ? PsnrText(CommittedReal(P_OverallPsnr)) : "");
    SetTextIfChanged(IDC_RESOLUTION, ResolutionText(CommittedInt(P_DisplayWidth), CommittedInt(P_DisplayHeight)));
    SetTextIfChanged(IDC_FRAMERATE, FrameRateText(CommittedReal(P_InputFramerate)));
    SetTextIfChanged(IDC_FRAMETYPE, FrameTypeText(CommittedInt(P_OrigFrameType)));
    IParamConfig* color = Param(P_OrigColorSpace);
    std::string colorName;
    VARIANT v;
    VariantInit(&v);
    if (color && SUCCEEDED(color->GetValue(&v, TRUE))) {
        BSTR name = nullptr;
        if (color->ValueToName(&v, &name) == S_OK && name) {
            int n = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
            if (n > 1) {
                colorName.assign(static_cast<size_t>(n), '\0');
                WideCharToMultiByte(CP_ACP, 0, name, -1, &colorName[0], n, nullptr, nullptr);
                colorName.resize(static_cast<size_t>(n - 1));
            }
        }
        SysFreeString(name);
        VariantClear(&v);
    }
    SetTextIfChanged(IDC_COLOR, colorName);

    MainPageState state;
    state.running = CommittedInt(P_IsRunning) == 1;
    state.videoType = PendingInt(P_VideoType);
    state.pictureTypeIndex = static_cast<int>(SendDlgItemMessageA(m_Dlg, IDC_PICTURE, CB_GETCURSEL, 0, 0));
    state.modeName = SelectedValue(IDC_MODE, P_BitrateMode);
    const MainPageEnabling e = EnablingFor(state);
    for (int control : kSettingControls) EnableWindow(GetDlgItem(m_Dlg, control), e.settings);
    for (int control : {IDC_PROFILE, IDC_LEVEL, IDC_PICTURE}) EnableWindow(GetDlgItem(m_Dlg, control), e.mpeg2Fields);
    EnableWindow(GetDlgItem(m_Dlg, IDC_FIELD_ORDER), e.fieldOrder);
    EnableWindow(GetDlgItem(m_Dlg, IDC_PULLDOWN), e.pulldown);
    EnableWindow(GetDlgItem(m_Dlg, IDC_VALUE2), e.maxRate);
}

// The up-downs hold the GOP length and the B-frames count against each other.
void VideoEncMainPage::OnDeltaPos(NMUPDOWN* change, int control) {
    const int target = change->iPos + change->iDelta;
    const int gop = static_cast<int>(SendDlgItemMessageW(m_Dlg, IDC_GOP_SPIN, UDM_GETPOS32, 0, 0));
    const int bFrames = static_cast<int>(SendDlgItemMessageW(m_Dlg, IDC_BFRAMES_SPIN, UDM_GETPOS32, 0, 0));
    const int held = control == IDC_GOP_SPIN ? HoldGopLength(target, bFrames) : HoldBFrames(target, gop);
    change->iDelta = held - change->iPos;
}

INT_PTR VideoEncMainPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case kRefillMessage:
            Fill();
            return TRUE;
        case WM_TIMER:
            if (wParam == kStatusTimer) UpdateStatus();
            return TRUE;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lParam);
            if (hdr && hdr->code == UDN_DELTAPOS && (hdr->idFrom == IDC_GOP_SPIN || hdr->idFrom == IDC_BFRAMES_SPIN)) {
                OnDeltaPos(reinterpret_cast<NMUPDOWN*>(lParam), static_cast<int>(hdr->idFrom));
                MarkDirty();
                return FALSE;
            }
            break;
        }
        case WM_COMMAND: {
            if (filling_ || !config_) break;
            const int control = LOWORD(wParam);
            const UINT code = HIWORD(wParam);
            if (control == IDC_RESTORE && code == BN_CLICKED) {
                VARIANT one;
                VariantInit(&one);
                one.vt = VT_I4;
                one.lVal = 1;
                const GUID& id = *reinterpret_cast<const GUID*>(&kParamRows[P_SetDefaults].id);
                (void)config_->SetValue(&id, &one);
                MarkDirty();
                Fill();
            } else if (code == CBN_SELCHANGE || (control == IDC_PSNR && code == BN_CLICKED)) {
                ApplyControls();
                MarkDirty();
                Fill();
            } else if (code == EN_CHANGE) {
                editChanged_ = true;
                MarkDirty();
            } else if (code == EN_KILLFOCUS && editChanged_) {
                ApplyControls();
                Fill();
            }
            break;
        }
        default:
            break;
    }
    return VideoEncSettingsPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}
