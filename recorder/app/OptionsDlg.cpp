#include "recorder/app/UpdateCheckThreads.h"
#include "recorder/app/OptionsDlg.h"

#include <shellapi.h>
#include <shlobj.h>

#include "platform/mfc/Pump.h"
#include "recorder/app/AudioPeers.h"
#include "recorder/app/AudioTestDlg.h"
#include "recorder/app/MainDlg.h"
#include "recorder/app/Program.h"
#include "recorder/app/RegionWindows.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/app/resource.h"

namespace zelbo {

namespace {

const char kVersion[] = "3.0 - 08.07.08";
const char kSettingsGuide[] = "https://korvell.example/zelbo/guide.html#settings";
const UINT_PTR kDialogTimer = 1;
const int kHotKeyId = 0;
const UINT kAboutCommand = 0x0010;  // system menu entry; low four bits clear

// Texts of the "Hints" buttons.
const char* HintText(int id) {
    switch (id) {
        case IDC_HINT_ACCEL:
            return "Recording the media player: disable video acceleration, or the player's picture stays black in "
                   "the recording.";
        case IDC_HINT_AUDIO:
            return "Choose the audio source that carries the sound you want to record and press Audio Setup / Test. "
                   "On Windows Vista choose the recording device in the sound control panel first.";
        case IDC_HINT_FORMATS:
            return "MPEG-2 and MPEG-1 give files that play everywhere and can be paused; Windows Media gives small "
                   "files for e-mail and the web.";
        case IDC_HINT_DVD:
            return "DVD windows: switch off hardware acceleration in the display properties (Settings, Advanced, "
                   "Troubleshoot) before recording them.";
        case IDC_HINT_TONVIK:
            return "Use Tonvik only when your sound card offers no input that records what you hear.";
        default:
            return "";
    }
}

struct Preset {
    const char* text;
    const char* format;
    int video;
    int audio;
    int fps;
};
const Preset kPresets[] = {
    {"1. High Quality - Full Motion Videos (single core CPU", "MPEG-2", 6000, 256, 25},
    {"2. High Quality - Full Motion Videos (dual core CPU)", "Windows Media 9", 1200, 128, 20},
    {"3. Full Screen (single core CPU)", "MPEG-2", 8000, 256, 20},
    {"4. Full Screen (dual core CPU)", "Windows Media 9", 1200, 128, 20},
    {"5. Medium Quality - Small File Size (email, Internet broadcast)", "Windows Media 9", 300, 64, 20},
};

void FillCombo(HWND combo, const std::vector<std::string>& items) {
    ::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void SelectText(HWND combo, const std::string& text) {
    if (text.empty()) {
        ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        return;
    }
    const LRESULT at =
        ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    if (at != CB_ERR) ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

RECT DesktopRect() {
    RECT desktop;
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    return desktop;
}

// Presets dialog: applies the chosen row to the settings dialog's controls.
class DefaultsDlg : public mfc::Dialog {
public:
    explicit DefaultsDlg(const Preset** chosen) : mfc::Dialog(IDD_DEFAULTS), chosen_(chosen) {}

protected:
    BOOL OnInitDialog() override {
        for (const Preset& p : kPresets)
            ::SendDlgItemMessageA(hwnd_, IDC_DEFAULTS_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p.text));
        return TRUE;
    }
    void OnOK() override {
        char text[256] = {};
        const LRESULT at = ::SendDlgItemMessageA(hwnd_, IDC_DEFAULTS_LIST, LB_GETCURSEL, 0, 0);
        if (at != LB_ERR)
            ::SendDlgItemMessageA(hwnd_, IDC_DEFAULTS_LIST, LB_GETTEXT, static_cast<WPARAM>(at),
                                  reinterpret_cast<LPARAM>(text));
        // A row is known by the number it starts with.
        for (int i = 0; i < 5; ++i) {
            const char prefix[3] = {static_cast<char>('1' + i), '.', 0};
            if (std::string(text).find(prefix) != std::string::npos) *chosen_ = &kPresets[i];
        }
        EndModal(IDOK);
    }

private:
    const Preset** chosen_;
};

// The folder browser starts at the current folder and shows the folder
// under the cursor in its status line.
int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
    if (message == BFFM_INITIALIZED)
        ::SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE,
                       reinterpret_cast<LPARAM>(reinterpret_cast<std::string*>(data)->c_str()));
    if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH] = {};
        if (::SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path))
            ::SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

}  // namespace

OptionsDlg::OptionsDlg() : mfc::Dialog(IDD_OPTIONS) {}

bool OptionsDlg::Checked(int id) const {
    return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}
void OptionsDlg::Check(int id, bool on) {
    ::CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED);
}
void OptionsDlg::Enable(int id, bool on) {
    ::EnableWindow(Item(id), on ? TRUE : FALSE);
}

BOOL OptionsDlg::OnInitDialog() {
    Show(SW_HIDE);
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        char about[64] = "&About QlvScreenShot...";
        ::LoadStringA(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, sizeof about);
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(menu, MF_STRING, kAboutCommand, about);
    }
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(graph_.CreateFilterGraph(hwnd_))) {
        ShowMessage("Cannot Initialize DirectX");
        return TRUE;
    }
    ::SetDlgItemTextA(hwnd_, IDC_VERSION, (std::string("Version: ") + kVersion).c_str());

    recorder::Settings& s = TheSettings();
    if (!Windows60()) {
        s.vistaAudio = 0;
    } else if (s.vistaAudio == 2) {
        s.vistaAudio = 1;
        s.audioOnly = 0;
        s.videoOnly = 0;
    }
    SaveSettings();
    if (Windows60() && s.audioSonifer) {
        s.audioSonifer = 0;
        SaveSettings();
    }

    const RECT desktop = DesktopRect();
    const recorder::Region& region = TheRegion();
    FullScreenRegion() = region.left == desktop.left && region.right == desktop.right && region.top == desktop.top &&
                         region.bottom == desktop.bottom;
    Check(IDC_FULL_SCREEN, FullScreenRegion());

    FillLists();
    if (s.maxFileSize) ::SetDlgItemInt(hwnd_, IDC_MAX_SIZE, static_cast<UINT>(s.maxFileSize), FALSE);
    ::SetDlgItemTextA(hwnd_, IDC_MAX_TIME, recorder::StopTimeText(s.maxFileTime).c_str());
    if (s.hide) {
        Check(IDC_HIDE, true);
        ::RegisterHotKey(hwnd_, kHotKeyId, MOD_CONTROL, VK_F12);
    }
    if (s.audioOnly) s.videoOnly = 0;
    Check(IDC_RECORD_AUDIO, !s.videoOnly);
    Check(IDC_RECORD_VIDEO, !s.audioOnly);
    Check(IDC_VIDEO_ACCEL, s.videoAccel != 0);
    Check(IDC_ON_TOP, s.onTop != 0);
    if (s.vistaAudio) {
        s.audioSonifer = 0;
        Enable(IDC_AUDIO_COMPRESSION, false);
        Enable(IDC_TONVIK, false);
        Enable(IDC_DELAY, false);
    } else {
        Check(IDC_AUDIO_COMPRESSION, s.audioCompression != 0);
        Check(IDC_TONVIK, s.audioSonifer != 0);
        Enable(IDC_DELAY, s.audioSonifer != 0);
        if (s.audioSonifer) {
            Enable(IDC_AUDIO_TEST, true);
            Enable(IDC_FULL_SCREEN, false);
            Enable(IDC_HIDE, false);
        }
    }
    SetPlayerVideoAcceleration(s.videoAccel != 0);
    ::SetDlgItemInt(hwnd_, IDC_DELAY, static_cast<UINT>(s.delay), TRUE);
    ::SetDlgItemTextA(hwnd_, IDC_WINDOWS, WindowsVersionText().c_str());
    StartTimer(kDialogTimer, 1000);
    return TRUE;
}

void OptionsDlg::SelectFormat(const char* name) {
    // The list offers two formats; the others show no selection.
    SelectText(Item(IDC_FORMAT), name);
}

std::string OptionsDlg::FormatText() const {
    char text[64] = {};
    ::GetDlgItemTextA(hwnd_, IDC_FORMAT, text, sizeof text);
    return text;
}

void OptionsDlg::ShowLists(const recorder::BitrateLists& lists) {
    FillCombo(Item(IDC_VIDEO_BITRATE), lists.video);
    SelectText(Item(IDC_VIDEO_BITRATE), lists.videoSelection);
    FillCombo(Item(IDC_AUDIO_BITRATE), lists.audio);
    SelectText(Item(IDC_AUDIO_BITRATE), lists.audioSelection);
}

void OptionsDlg::FillLists() {
    const recorder::Settings& s = TheSettings();
    HWND format = Item(IDC_FORMAT);
    if (::SendMessageA(format, CB_GETCOUNT, 0, 0) == 0) {
        ::SendMessageA(format, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Windows Media 9"));
        ::SendMessageA(format, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("MPEG-2"));
    }
    HWND rates = Item(IDC_FRAME_RATE);
    if (::SendMessageA(rates, CB_GETCOUNT, 0, 0) == 0)
        for (const char* rate : recorder::kFrameRates)
            ::SendMessageA(rates, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
    ShowLists(recorder::ListsForProtocol(s.protocol, s.videoBitrate, s.audioBitrate));
    SelectFormat(recorder::FormatName(s.protocol));
    SelectText(rates, std::to_string(s.frameRate));
}

void OptionsDlg::LoadFields() {
    if (!Exists()) return;
    const recorder::Settings& s = TheSettings();
    FillLists();
    Check(IDC_FULL_SCREEN, FullScreenRegion());
    if (!s.vistaAudio) {
        Check(IDC_TONVIK, s.audioSonifer != 0);
        Enable(IDC_AUDIO_TEST, !s.audioSonifer);
        Enable(IDC_FULL_SCREEN, !s.audioSonifer);
        Enable(IDC_HIDE, !s.audioSonifer);
        Enable(IDC_DELAY, s.audioSonifer != 0);
    }
    Enable(IDC_AUDIO_COMPRESSION, !s.vistaAudio && !s.audioSonifer);
}

int OptionsDlg::VideoBitrate() const {
    if (!Exists()) return TheSettings().videoBitrate;
    return static_cast<int>(::GetDlgItemInt(hwnd_, IDC_VIDEO_BITRATE, nullptr, FALSE));
}

int OptionsDlg::FrameRate() const {
    if (!Exists()) return TheSettings().frameRate;
    return static_cast<int>(::GetDlgItemInt(hwnd_, IDC_FRAME_RATE, nullptr, FALSE));
}

std::string OptionsDlg::FileNamePrefix() const {
    if (!Exists()) return {};
    char text[256] = {};
    ::GetDlgItemTextA(hwnd_, IDC_FILE_NAME, text, 256);
    return text;
}

void OptionsDlg::OnFormatChange() {
    if (driver_ || TheSettings().audioSonifer) SelectFormat("MPEG-2");
    std::string text = FormatText();
    bool changed = false;
    const recorder::BitrateLists lists = recorder::ListsForFormatChange(text, changed);
    if (!changed) return;
    if (text == "MPEG-1") SelectFormat("MPEG-1");
    ShowLists(lists);
}

void OptionsDlg::OnRecordVideo() {
    const bool sonifer = TheSettings().audioSonifer || driver_;
    if (Checked(IDC_RECORD_VIDEO)) {
        Check(IDC_RECORD_VIDEO, false);
        if (!sonifer) {
            // Sound-only recordings are Windows Media.
            SelectFormat("Windows Media 9");
            bool changed = false;
            recorder::BitrateLists lists = recorder::ListsForFormatChange("Windows Media 9", changed);
            FillCombo(Item(IDC_AUDIO_BITRATE), lists.audio);
        }
    } else {
        Check(IDC_RECORD_VIDEO, true);
        if (sonifer) OnFormatChange();
    }
}

void OptionsDlg::OnRecordAudio() {
    Check(IDC_RECORD_AUDIO, !Checked(IDC_RECORD_AUDIO));
    if (TheSettings().audioSonifer) OnFormatChange();
}

void OptionsDlg::OnHide() {
    recorder::Settings& s = TheSettings();
    if (Checked(IDC_HIDE)) {
        Check(IDC_HIDE, false);
        s.hide = 0;
        ::UnregisterHotKey(hwnd_, kHotKeyId);
    } else {
        Check(IDC_HIDE, true);
        s.hide = 1;
        ::RegisterHotKey(hwnd_, kHotKeyId, MOD_CONTROL, VK_F12);
    }
}

void OptionsDlg::OnTonvik() {
    recorder::Settings& s = TheSettings();
    if (Windows60()) {
        ShowMessage("Not necessary on Vista computers");
        return;
    }
    if (Checked(IDC_TONVIK)) {
        Check(IDC_TONVIK, false);
        s.audioSonifer = 0;
        PostToTitled("Tonvik", WM_CLOSE, 0, 0);
        driver_ = false;
        Enable(IDC_AUDIO_TEST, true);
        Enable(IDC_FULL_SCREEN, true);
        Enable(IDC_HIDE, true);
        Enable(IDC_DELAY, false);
        FillLists();
        return;
    }
    if (Checked(IDC_RECORD_VIDEO) && !Checked(IDC_RECORD_AUDIO)) {
        ShowMessage("Tonvik cannot be enabled when audio is not recorded");
        return;
    }
    if (Checked(IDC_HIDE)) {
        ShowMessage("Tonvik cannot be enabled in hide mode. Please disable the hide mode and try again.");
        return;
    }
    if (ShowMessage("Use this option only if your audio card does not allow recording.\nIt is recommended to "
                    "disable the Windows Sounds during recording.\n\nContinue?",
                    MB_YESNO) != IDYES)
        return;
    Check(IDC_TONVIK, true);
    if (!StartTonvik()) return;
    driver_ = true;
    Enable(IDC_DELAY, true);
    OnFormatChange();
    Enable(IDC_FULL_SCREEN, false);
    Enable(IDC_HIDE, false);
}

void OptionsDlg::RestorePanel() {
    MainDlg& panel = ThePanel();
    panel.Show(SW_RESTORE);
    panel.SetImage(recorder::Button::Settings, recorder::Image::Settings);
    panel.RedrawPanel();
}

void OptionsDlg::OnOK() {
    recorder::DialogFields f;
    f.format = FormatText();
    f.tonvik = Checked(IDC_TONVIK);
    f.hide = Checked(IDC_HIDE);
    f.recordAudio = Checked(IDC_RECORD_AUDIO);
    f.recordVideo = Checked(IDC_RECORD_VIDEO);
    f.videoBitrate = static_cast<int>(::GetDlgItemInt(hwnd_, IDC_VIDEO_BITRATE, nullptr, FALSE));
    f.audioBitrate = static_cast<int>(::GetDlgItemInt(hwnd_, IDC_AUDIO_BITRATE, nullptr, FALSE));
    f.frameRate = static_cast<int>(::GetDlgItemInt(hwnd_, IDC_FRAME_RATE, nullptr, FALSE));
    f.maxFileSize = static_cast<int>(::GetDlgItemInt(hwnd_, IDC_MAX_SIZE, nullptr, FALSE));
    char time[64] = {};
    ::GetDlgItemTextA(hwnd_, IDC_MAX_TIME, time, sizeof time);
    f.maxFileTime = time;
    f.videoAccel = Checked(IDC_VIDEO_ACCEL);
    f.onTop = Checked(IDC_ON_TOP);
    f.fullScreen = Checked(IDC_FULL_SCREEN);
    f.audioCompression = Checked(IDC_AUDIO_COMPRESSION);
    f.delay = static_cast<int>(::GetDlgItemInt(hwnd_, IDC_DELAY, nullptr, TRUE));

    recorder::Settings& s = TheSettings();
    const recorder::OkResult result = recorder::ApplyDialogOk(
        f, s, [](const std::string& question) { return ShowMessage(question, MB_YESNO) == IDYES; });
    if (result.checkBoth) {
        Check(IDC_RECORD_AUDIO, true);
        Check(IDC_RECORD_VIDEO, true);
    }
    if (!result.accepted) {
        if (!result.refusal.empty()) ShowMessage(result.refusal);
        return;
    }

    SetPlayerVideoAcceleration(s.videoAccel != 0);
    ::SetWindowPos(ThePanel().Handle(), s.onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FullScreenRegion() = f.fullScreen;
    ThePanel().HideMarkers();
    Show(SW_HIDE);
    ThePanel().Show(SW_RESTORE);
    std::string status;
    if (FullScreenRegion()) {
        TheRegionSelector().SetFullScreenRegion();
        status = "Ready (Full Screen)";
    } else {
        const recorder::Region& r = TheRegion();
        status = recorder::ReadyText(false, r.left, r.top, r.right, r.bottom);
    }
    if (s.audioSonifer || s.vistaAudio) PostToTitled("Wavrel", WM_CLOSE, 0, 0);
    ThePanel().SetStatus(status);
    SaveSettings();
    RestorePanel();
}

void OptionsDlg::OnCancel() {
    ThePanel().HideMarkers();
    Show(SW_HIDE);
    RestorePanel();
}

void OptionsDlg::ChooseFolder() {
    recorder::Settings& s = TheSettings();
    BROWSEINFOA info{};
    info.hwndOwner = hwnd_;
    info.lpszTitle = "Recordings directory";
    info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_STATUSTEXT | BIF_RETURNONLYFSDIRS;
    std::string start = s.recordingFolder;
    info.lParam = reinterpret_cast<LPARAM>(&start);
    info.lpfn = BrowseCallback;
    LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info);
    if (!chosen) return;
    char path[MAX_PATH] = {};
    if (::SHGetPathFromIDListA(chosen, path)) {
        s.recordingFolder = path;
        SaveSettings();
    }
    ::CoTaskMemFree(chosen);
}

void OptionsDlg::ShowDefaults() {
    const Preset* chosen = nullptr;
    DefaultsDlg dialog(&chosen);
    if (dialog.DoModal(hwnd_) != IDOK || !chosen) return;
    SelectFormat(chosen->format);
    const bool mpeg = std::string(chosen->format).find("MPEG") != std::string::npos;
    recorder::BitrateLists lists = recorder::ListsForProtocol(mpeg ? 0 : 1, chosen->video, chosen->audio);
    ShowLists(lists);
    SelectText(Item(IDC_FRAME_RATE), std::to_string(chosen->fps));
}

void OptionsDlg::ShowHint(int id) {
    ::MessageBoxA(hwnd_, HintText(id), "Hints", MB_OK | MB_ICONINFORMATION);
}

void OptionsDlg::OnCommand(int id, int code) {
    switch (id) {
        case IDC_FORMAT:
            if (code == CBN_SELCHANGE) OnFormatChange();
            return;
        case IDC_RECORD_VIDEO:
            OnRecordVideo();
            return;
        case IDC_RECORD_AUDIO:
            OnRecordAudio();
            return;
        case IDC_HIDE:
            OnHide();
            return;
        case IDC_TONVIK:
            OnTonvik();
            return;
        case IDC_FOLDER:
            ChooseFolder();
            return;
        case IDC_SOUNDS:
            ::ShellExecuteA(nullptr, "open", ("\"" + InProgramFolder("sound.bat") + "\"").c_str(), nullptr, nullptr,
                            SW_SHOWNORMAL);
            return;
        case IDC_DEFAULTS:
            ShowDefaults();
            return;
        case IDC_UPDATE:
            StartUpdateCheck(true);
            return;
        case IDC_AUDIO_TEST:
            RunAudioTestDialog(hwnd_);
            return;
        case IDC_HELP_SETTINGS:
            ::ShellExecuteA(nullptr, "open", kSettingsGuide, nullptr, nullptr, SW_SHOWNORMAL);
            return;
        case IDC_HINT_ACCEL:
        case IDC_HINT_AUDIO:
        case IDC_HINT_FORMATS:
        case IDC_HINT_DVD:
        case IDC_HINT_TONVIK:
            ShowHint(id);
            return;
        default:
            return;
    }
}

void OptionsDlg::OnHotKeyMessage(WPARAM wParam) {
    if (wParam != 0 || (hotKeyActive_ && hotKeyTicks_ < 4)) return;
    recorder::Controller* control = ThePanel().Control();
    if (!control || control->Starting()) return;
    hotKeyActive_ = true;
    hotKeyTicks_ = 0;
    StartTimer(kDialogTimer, 1000);
    control->OnHotKey();
}

void OptionsDlg::OnTimer() {
    if (firstTick_) {
        firstTick_ = false;
        Show(SW_HIDE);
        if (!hotKeyActive_) StopTimer(kDialogTimer);
        recorder::Settings& s = TheSettings();
        if ((!s.audioSource.empty() && !s.audioOutput.empty()) || s.audioSonifer || s.vistaAudio) return;
        // Without a tested audio source only the picture can be recorded.
        s.videoOnly = 1;
        if (s.audioMessage) {
            RunAudioNotice(hwnd_);
            RunAudioTestDialog(hwnd_);
        }
        return;
    }
    if (!hotKeyActive_) return;
    if (++hotKeyTicks_ >= 4) {
        hotKeyActive_ = false;
        if (recorder::Controller* control = ThePanel().Control()) control->MutableState().hotKeyBusy = 0;
        StopTimer(kDialogTimer);
    }
}

bool OptionsDlg::StartCaptureGraph(const std::string& target) {
    failureReported_ = false;
    return recorder::StartCaptureGraph(graph_, TheSettings(), target, TheRegion());
}

void OptionsDlg::ReportGraphFailure() {
    if (!graph_.Failed() || failureReported_) return;
    recorder::Controller* control = ThePanel().Control();
    if (!control) return;
    const std::string text =
        recorder::GraphFailureText(static_cast<std::uint32_t>(graph_.LastFailure().result), graph_.Target());
    // A recording that is stopping learns of it from its stop.
    failureReported_ = control->OnGraphFailure(text);
}

std::string OptionsDlg::StopCaptureGraph() {
    const std::string target = graph_.Target();
    const GraphSession::Failure failure = graph_.StopCaptureGraph(hwnd_);
    if (failure.code == 0 || failureReported_) return std::string();
    failureReported_ = true;
    return recorder::GraphFailureText(static_cast<std::uint32_t>(failure.result), target);
}

void OptionsDlg::ReleaseCapture() {
    graph_.StopCaptureGraph(nullptr);
    graph_.ReleaseGraphFilters();
    graph_.ReleaseGraph();
}

void OptionsDlg::OnDestroyed() {
    ReleaseCapture();
    ::CoUninitialize();
    ::ExitProcess(0);
}

bool OptionsDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == kGraphEventMessage) {
        long code = 0;
        while (graph_.TakeEvent(code)) lastGraphEvent_ = ::GetTickCount();
        // A write that failed (no folder, no room, no rights) or a source
        // that broke down ends the recording here, not at the next Stop.
        ReportGraphFailure();
        result = 0;
        return true;
    }
    if (message == RegisteredMessages().recordStop) {
        OnHotKeyMessage(wParam);
        result = 0;
        return true;
    }
    switch (message) {
        case WM_HOTKEY:
            ::SendMessageA(hwnd_, RegisteredMessages().recordStop, 0, 0);
            return true;
        case WM_TIMER:
            if (wParam == kDialogTimer) OnTimer();
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == kAboutCommand) {
                ::MessageBoxA(hwnd_, "Vantor Settings\nVersion 1.0 - 12.19.07", "About QlvScreenShot", MB_OK);
                return true;
            }
            return false;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) return false;
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return true;
        default:
            break;
    }
    return mfc::Dialog::OnMessage(message, wParam, lParam, result);
}

}  // namespace zelbo
