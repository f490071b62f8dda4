#include "recorder/app/MainDlg.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <richedit.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "platform/mfc/Pump.h"
#include "recorder/app/AudioPeers.h"
#include "recorder/app/AudioTestDlg.h"
#include "recorder/app/PanelColours.h"
#include "recorder/app/Program.h"
#include "recorder/app/RegionWindows.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/app/UpdateCheckThreads.h"
#include "recorder/app/ViewDlg.h"
#include "recorder/app/resource.h"
#include "recorder/core/EngineLaunch.h"
#include "recorder/core/OutputName.h"

namespace zelbo {

namespace {

using recorder::Button;
using recorder::Image;

const UINT_PTR kTick = 1;
const char kUserGuide[] = "https://korvell.example/zelbo/guide.html";

// The two level bars, drawn in a transparent child of their own.
const wchar_t kLevelsClass[] = L"ZelboLevels";
const int kBarWidth = 12;
const int kBarHeight = 68;
const int kBarGap = 14;

struct Levels {
    int left = 0;
    int right = 0;
};

LRESULT CALLBACK LevelsProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd, &ps);
            const Levels* levels = reinterpret_cast<const Levels*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            RECT client;
            ::GetClientRect(hwnd, &client);
            HBRUSH well = ::CreateSolidBrush(RGB(12, 16, 22));
            ::FillRect(dc, &client, well);
            ::DeleteObject(well);
            const int values[2] = {levels ? levels->left : 0, levels ? levels->right : 0};
            HBRUSH green = ::CreateSolidBrush(RGB(141, 198, 62));
            for (int bar = 0; bar < 2; ++bar) {
                const int x = bar * kBarGap;
                RECT outline{x, 0, x + kBarWidth, kBarHeight};
                ::FrameRect(dc, &outline, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
                RECT inside{x + 1, 1, x + kBarWidth - 1, kBarHeight - 1};
                ::FillRect(dc, &inside, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
                int height = values[bar] * kBarHeight / 88;
                if (height > 60) height = 60;
                if (height > 0) {
                    RECT fill{x + 1, kBarHeight - 1 - height, x + kBarWidth - 1, kBarHeight - 1};
                    ::FillRect(dc, &fill, green);
                    RECT top{x + 1, fill.top, x + kBarWidth - 1, fill.top + 1};
                    ::FillRect(dc, &top, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
                }
            }
            ::DeleteObject(green);
            ::EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_NCDESTROY:
            delete reinterpret_cast<Levels*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterLevelsClass() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = LevelsProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kLevelsClass;
    ::RegisterClassW(&wc);
}

bool EngineGone(void*) {
    return FindTitled("ScreenCap") == nullptr;
}

}  // namespace

MainDlg& ThePanel() {
    static MainDlg panel;
    return panel;
}

HWND& MainFrameHandle() {
    static HWND frame = nullptr;
    return frame;
}

MainDlg::MainDlg() : mfc::Dialog(IDD_MAINDLG) {}

MainDlg::~MainDlg() {
    for (auto& entry : bitmaps_) ::DeleteObject(entry.second);
    if (font_) ::DeleteObject(font_);
    if (stripBrush_) ::DeleteObject(stripBrush_);
    if (boxBrush_) ::DeleteObject(boxBrush_);
    if (sliderBrush_) ::DeleteObject(sliderBrush_);
}

HBITMAP MainDlg::Bitmap(const char* name) {
    auto found = bitmaps_.find(name);
    if (found != bitmaps_.end()) return found->second;
    HBITMAP bitmap =
        static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    bitmaps_[name] = bitmap;
    return bitmap;
}

HWND MainDlg::MakeBitmapStatic(int id, int x, int y, int width, int height, const char* bitmap) {
    // No SS_NOTIFY: clicks fall through to the panel, which hit-tests them.
    HWND control = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP, x, y,
                                     width, height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Bitmap(bitmap)));
    return control;
}

void MainDlg::CreateControls() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    font_ = ::CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    stripBrush_ = ::CreateSolidBrush(kStripColour);
    boxBrush_ = ::CreateSolidBrush(kBoxColour);
    sliderBrush_ = ::CreateSolidBrush(kSliderBack);

    HWND background = MakeBitmapStatic(IDC_BACKGROUND, 0, 0, recorder::kPanelWidth, recorder::kPanelHeight, "BASE");
    MakeBitmapStatic(IDC_REGION, 20, 80, 105, 17, "SHOW_MARKERS");
    buttons_[static_cast<int>(Button::Settings)] = MakeBitmapStatic(IDC_SETTINGS, 235, 41, 82, 25, "SETTINGS");
    buttons_[static_cast<int>(Button::Picker)] = MakeBitmapStatic(IDC_PICKER, 235, 78, 82, 25, "GET_WINDOW");
    buttons_[static_cast<int>(Button::Help)] = MakeBitmapStatic(IDC_PICKER, 312, 142, 15, 15, "HELP");
    buttons_[static_cast<int>(Button::Record)] = MakeBitmapStatic(IDC_RECORD, 8, 111, 45, 47, "RECORD");
    buttons_[static_cast<int>(Button::PausePlay)] = MakeBitmapStatic(IDC_PLAY, 78, 111, 45, 47, "PLAY1");
    buttons_[static_cast<int>(Button::Browser)] = MakeBitmapStatic(IDC_PLAY, 148, 111, 45, 47, "VIEW");
    buttons_[static_cast<int>(Button::Minimize)] = MakeBitmapStatic(IDC_MINIMIZE, 285, 7, 21, 21, "MINIMIZE");
    buttons_[static_cast<int>(Button::Exit)] = MakeBitmapStatic(IDC_EXIT, 307, 7, 21, 21, "EXIT");

    HWND status = ::CreateWindowExW(0, L"EDIT", L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | ES_READONLY | ES_AUTOHSCROLL | ES_CENTER,
                                    123, 9, 155, 15, hwnd_, reinterpret_cast<HMENU>(IDC_STATUS), instance, nullptr);
    ::SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);

    HWND slider = ::CreateWindowExW(0, TRACKBAR_CLASSW, L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBS_HORZ | TBS_NOTICKS | TBS_FIXEDLENGTH,
                                    232, 121, 94, 9, hwnd_, reinterpret_cast<HMENU>(IDC_VOLUME), instance, nullptr);
    ::SendMessageW(slider, TBM_SETTHUMBLENGTH, 9, 0);
    ::SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    ReadWaveOutVolume(hwnd_);

    RegisterLevelsClass();
    const int barsLeft = static_cast<int>(recorder::kPanelWidth / 1.72 + 0 / 2);
    const int barsTop = static_cast<int>(recorder::kPanelHeight / 2 - recorder::kPanelHeight / 3.75);
    levels_ = ::CreateWindowExW(0, kLevelsClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, barsLeft, barsTop,
                                kBarGap + kBarWidth, kBarHeight, hwnd_, reinterpret_cast<HMENU>(IDC_LEVELS), instance,
                                nullptr);
    ::SetWindowLongPtrW(levels_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Levels));

    // The background lies under every other control.
    ::SetWindowPos(background, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

BOOL MainDlg::OnInitDialog() {
    recorder::Settings& settings = TheSettings();
    DetectWindowsVersion(settings);
    SetSettingsPath(InProgramFolder("Settings.ini"));
    LoadSettings();
    if (Windows60() && settings.audioSonifer) {
        settings.audioSonifer = 0;
        SaveSettings();
    }
    controller_.reset(new recorder::Controller(settings, *this, Windows60()));

    recorder::Region& region = TheRegion();
    if (!ReadSourceRegion(region)) {
        if (!EnsureSourceRegistryKey()) {
            ShowMessage("Cannot setup the registry for screen capture. Cannot continue");
            return TRUE;
        }
        if (!ReadSourceRegion(region)) {
            ShowMessage("Cannot read screen coordinates in the registry. Cannot continue");
            return TRUE;
        }
    }

    CreateControls();

    PlaceOnDesktop();
    SetTitle("Zelbo");
    SavedWindowsPath() = InProgramFolder("Saved Windows.txt");
    RECT desktop;
    ::GetWindowRect(::GetDesktopWindow(), &desktop);

    FullScreenRegion() = region.left == desktop.left && region.top == desktop.top && region.right == desktop.right &&
                         region.bottom == desktop.bottom;
    SetStatus(recorder::ReadyText(FullScreenRegion(), region.left, region.top, region.right, region.bottom));
    ::SetForegroundWindow(hwnd_);
    ::SetFocus(Item(IDC_VOLUME));
    ::DragAcceptFiles(hwnd_, TRUE);
    StartTick();
    return FALSE;  // focus set above
}

void MainDlg::PlaceOnDesktop() {
    RECT desktop;
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    const int x = desktop.right - recorder::kPanelWidth - 30;
    const int y = desktop.bottom - recorder::kPanelHeight - 100;
    ::SetWindowPos(hwnd_, TheSettings().onTop ? HWND_TOPMOST : HWND_NOTOPMOST, x, y, recorder::kPanelWidth,
                   recorder::kPanelHeight, SWP_NOACTIVATE);
}

void MainDlg::OnOK() {
    // Enter only hides the region markers.
}

void MainDlg::OnCancel() {
    RunExitSequence();
}

void MainDlg::RunExitSequence() {
    if (exiting_) return;
    exiting_ = true;
    PostToTitled("RECORD_STOP", WM_CLOSE, 0, 0);
    HideMarkers();
    if (controller_ && !controller_->PrepareExit()) {
        exiting_ = false;
        return;
    }
    DeleteTemporaryWaves();
    if (HWND engine = FindTitled("ScreenCap")) {
        ::PostMessageA(engine, RegisteredMessages().packetReady, 100, 0);
        mfc::PumpMessagesFor(1000);
    }
    PostToTitled("Wavrel", WM_CLOSE, 0, 0);
    options_.ReleaseCapture();
    ::CoUninitialize();
    PostToTitled("Tonvik", WM_CLOSE, 0, 0);
    ::ExitProcess(0);
}

bool MainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const Messages& m = RegisteredMessages();
    if (!controller_) return false;
    if (message == m.levelUpdate) {
        controller_->OnLevelUpdate(static_cast<int>(wParam), static_cast<int>(lParam));
        result = 0;
        return true;
    }
    if (message == m.meter) {
        if (wParam == 1) ::SendDlgItemMessageW(hwnd_, IDC_VOLUME, TBM_SETPOS, TRUE, lParam);
        result = 1;
        return true;
    }
    if (message == m.engine) {
        if (wParam == recorder::kEnginePausePlay && controller_->State().recording) controller_->OnPauseOrPlay();
        result = 1;
        return true;
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_MINIMIZE) {
                ::ShowWindow(MainFrameHandle(), SW_MINIMIZE);
                return true;
            }
            if (LOWORD(wParam) == IDC_EXIT) {
                RunExitSequence();
                return true;
            }
            return false;
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return true;
        case WM_LBUTTONUP:
            OnLButtonUp(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return true;
        case WM_MOUSEMOVE:
            OnMouseMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return true;
        case WM_MOVE:
            OnMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return false;
        case WM_TIMER:
            if (wParam == kTick) controller_->OnTick();
            return true;
        case WM_HSCROLL:
            OnHScroll();
            return true;
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return true;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (reinterpret_cast<HWND>(lParam) == Item(IDC_VOLUME)) {
                result = reinterpret_cast<LRESULT>(sliderBrush_);
                return true;
            }
            if (statusBox_ && reinterpret_cast<HWND>(lParam) == statusBox_) {
                ::SetTextColor(dc, kBoxText);
                ::SetBkColor(dc, kBoxColour);
                result = reinterpret_cast<LRESULT>(boxBrush_);
                return true;
            }
            if (reinterpret_cast<HWND>(lParam) == Item(IDC_STATUS)) {
                ::SetTextColor(dc, kStripText);
                ::SetBkColor(dc, kStripColour);
                result = reinterpret_cast<LRESULT>(stripBrush_);
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void MainDlg::OnLButtonDown(int x, int y) {
    ParkMarkers();
    switch (recorder::ClassifyPress(x, y)) {
        case recorder::PressAction::Feedback:
            if (recorder::HitTestRelease(x, y) == recorder::HitBox::Picker) {
                POINT p{x, y};
                ::ClientToScreen(hwnd_, &p);
                PickerPressPoint() = p;
            }
            ::ShowWindow(hwnd_, SW_SHOWNORMAL);
            ::ShowWindow(MainFrameHandle(), SW_SHOWNORMAL);
            StartTick();
            controller_->MutableState().refresh = true;
            Update();
            break;
        case recorder::PressAction::FlashMinimize:
            FlashImage(Button::Minimize, Image::MinimizeOn, Image::Minimize, 1000);
            break;
        case recorder::PressAction::FlashExit:
            FlashImage(Button::Exit, Image::ExitOn, Image::Exit, 1000);
            break;
        case recorder::PressAction::Drag: {
            POINT p{x, y};
            ::ClientToScreen(hwnd_, &p);
            dragFrom_ = p;
            dragging_ = true;
            ::SetCapture(hwnd_);
            break;
        }
    }
}

void MainDlg::OnMouseMove(int x, int y) {
    if (!dragging_) return;
    HideMarkers();
    POINT p{x, y};
    ::ClientToScreen(hwnd_, &p);
    RECT r;
    ::GetWindowRect(hwnd_, &r);
    ::SetWindowPos(hwnd_, nullptr, r.left + p.x - dragFrom_.x, r.top + p.y - dragFrom_.y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    dragFrom_ = p;
}

void MainDlg::OnLButtonUp(int x, int y) {
    if (dragging_) {
        dragging_ = false;
        ::ReleaseCapture();
        ParkMarkers();
        return;
    }
    switch (recorder::HitTestRelease(x, y)) {
        case recorder::HitBox::Settings:
            SetImage(Button::Settings, Image::SettingsOn);
            OpenSettingsDialog();
            break;
        case recorder::HitBox::Picker:
            // The window picker shows its pressed state until it is closed.
            SetImage(Button::Picker, Image::GetWindowOn);
            TheRegionSelector().OnPickerButton(controller_->State().recording);
            break;
        case recorder::HitBox::Help:
            SetImage(Button::Help, Image::HelpOn);
            ::ShellExecuteA(nullptr, "open", kUserGuide, nullptr, nullptr, SW_SHOWNORMAL);
            Wait(150);
            SetImage(Button::Help, Image::Help);
            break;
        case recorder::HitBox::Record:
            controller_->OnRecordBox();
            break;
        case recorder::HitBox::Stop:
            controller_->OnStopBox();
            break;
        case recorder::HitBox::PausePlay:
            controller_->OnPausePlayBox();
            break;
        case recorder::HitBox::Browser:
            SetImage(Button::Browser, Image::ViewOn);
            OpenBrowserDialog();
            break;
        case recorder::HitBox::Region:
            TheRegionSelector().OnMarkersButton(controller_->State().recording);
            break;
        case recorder::HitBox::Minimize:
            ::ShowWindow(MainFrameHandle(), SW_MINIMIZE);
            break;
        case recorder::HitBox::Exit:
            RunExitSequence();
            break;
        case recorder::HitBox::None:
            break;
    }
}

void MainDlg::FlashImage(Button button, Image on, Image off, unsigned ms) {
    SetImage(button, on);
    Wait(ms);
    SetImage(button, off);
}

void MainDlg::OnHScroll() {
    const int p = static_cast<int>(::SendDlgItemMessageW(hwnd_, IDC_VOLUME, TBM_GETPOS, 0, 0));
    DWORD channel = 0;
    if (p >= 100)
        channel = 0xFFFF;
    else if (p > 0)
        channel = static_cast<DWORD>(p / 100.0 * 65535);
    ::waveOutSetVolume(nullptr, channel | (channel << 16));
    PostToTitled("Wavrel", RegisteredMessages().meter, 5, p);
}

void MainDlg::OnMove(int x, int) {
    HideMarkers();
    const recorder::Settings& s = TheSettings();
    if (!s.audioSonifer || s.vistaAudio) return;
    HWND tonvik = FindTitled("Tonvik");
    if (!tonvik) return;
    ::ShowWindow(tonvik, SW_HIDE);
    RECT client;
    ::GetClientRect(tonvik, &client);
    POINT top{0, 0};
    ::ClientToScreen(hwnd_, &top);
    RECT frame = client;
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(tonvik, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(tonvik, GWL_EXSTYLE)));
    ::MoveWindow(tonvik, x, top.y - (frame.bottom - frame.top), frame.right - frame.left, frame.bottom - frame.top,
                 FALSE);
}

void MainDlg::OnDropFiles(HDROP drop) {
    wchar_t name[1001] = {};
    ::DragQueryFileW(drop, 0, name, 1000);
    ::DragFinish(drop);
    SetTarget(Narrow(name));
    const std::size_t slash = target_.find_last_of('\\');
    if (slash != std::string::npos) SetStatus("Play: " + target_.substr(slash + 1));
}

void MainDlg::SetTarget(const std::string& path) {
    target_ = path.substr(0, 255);
    targetWide_ = Widen(target_).substr(0, 1000);
    const std::size_t slash = target_.find_last_of('\\');
    displayName_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
}

void MainDlg::OpenSettingsDialog() {
    if (controller_->State().recording) {
        ShowMessage("Cannot access this function at this time");
        SetImage(Button::Settings, Image::Settings);
        return;
    }
    Wait(150);
    SetImage(Button::Settings, Image::Settings);
    CreateOptionsDialog();
    options_.LoadFields();
    options_.Show(SW_RESTORE);
}

void MainDlg::OpenBrowserDialog() {
    Wait(150);
    SetImage(Button::Browser, Image::View);
    if (controller_ && controller_->State().recording) return;
    ViewDlg::Open(TheSettings().recordingFolder);
}

void MainDlg::PlayFile(const std::string& path) {
    SetTarget(path);
    PlayTargetOrBrowse();
}

// PanelHost ---------------------------------------------------------------

void MainDlg::ShowMessage(const std::string& text) {
    zelbo::ShowMessage(text);
}
bool MainDlg::AskYesNo(const std::string& text) {
    return zelbo::ShowMessage(text, MB_YESNO) == IDYES;
}
void MainDlg::SetStatus(const std::string& text) {
    ::SetDlgItemTextA(hwnd_, IDC_STATUS, text.c_str());
}

void MainDlg::SetImage(Button button, Image image) {
    HWND control = buttons_[static_cast<int>(button)];
    if (!control) return;
    ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Bitmap(recorder::ImageName(image))));
    ::UpdateWindow(control);
}

bool MainDlg::HasStatusBox() {
    return statusBox_ != nullptr;
}

void MainDlg::CreateStatusBox() {
    if (statusBox_) return;
    static HMODULE richEdit = ::LoadLibraryW(L"riched20.dll");
    statusBox_ = ::CreateWindowExW(0, richEdit ? RICHEDIT_CLASSW : L"EDIT", L"",
                                   WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | ES_MULTILINE | ES_READONLY | WS_VSCROLL,
                                   12, 40, 165, 63, hwnd_, reinterpret_cast<HMENU>(IDC_STATUS_BOX),
                                   ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(statusBox_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    ::SendMessageW(statusBox_, EM_EXLIMITTEXT, 0, 1000);
    ::SendMessageW(statusBox_, EM_SETBKGNDCOLOR, 0, kBoxColour);
    ColourStatusBoxText();
    ::SetWindowPos(statusBox_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void MainDlg::ColourStatusBoxText() {
    // The box is dark: its text is light. The default format is what new
    // text gets; text already there is set as well. A plain edit control
    // (no rich edit) gets its colours from WM_CTLCOLORSTATIC instead.
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = kBoxText;
    ::SendMessageW(statusBox_, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    ::SendMessageW(statusBox_, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

void MainDlg::SetStatusBoxText(const std::string& text) {
    if (!statusBox_) return;
    ::SetWindowTextA(statusBox_, text.c_str());
    ColourStatusBoxText();
}

void MainDlg::DestroyStatusBox() {
    if (!statusBox_) return;
    ::DestroyWindow(statusBox_);
    statusBox_ = nullptr;
}

void MainDlg::SetTitle(const std::string& title) {
    ::SetWindowTextA(hwnd_, title.c_str());
}
void MainDlg::RestorePanel() {
    ::ShowWindow(hwnd_, SW_RESTORE);
}
void MainDlg::HidePanel() {
    ::ShowWindow(hwnd_, SW_HIDE);
}
void MainDlg::StartTick() {
    StartTimer(kTick, 1000);
}
void MainDlg::StopTick() {
    StopTimer(kTick);
}
void MainDlg::Wait(unsigned milliseconds) {
    mfc::PumpMessagesFor(milliseconds);
}
std::uint64_t MainDlg::NowMs() {
    return ::GetTickCount64();
}
bool MainDlg::EngineRunning() {
    return FindTitled("ScreenCap") != nullptr;
}

void MainDlg::PostEngineStop() {
    PostToTitled("ScreenCap", RegisteredMessages().engine, recorder::kEngineStop, 0);
}

bool MainDlg::WaitEngineClosed() {
    // Blocks without pumping, for as long as the engine's own stop can take.
    return recorder::WaitEngineClose([this] { return EngineRunning(); }, [](unsigned ms) { ::Sleep(ms); });
}

bool MainDlg::WaitEngineGone(unsigned milliseconds) {
    return mfc::PumpMessagesUntil(EngineGone, nullptr, milliseconds);
}

void MainDlg::SendMeter(int code, int value) {
    PostToTitled("Wavrel", RegisteredMessages().meter, code, value);
}

void MainDlg::MakeOutputFileName() {
    const recorder::Settings& s = TheSettings();
    const recorder::FolderLister list = [](const std::string& folder, std::vector<recorder::FolderEntry>& entries) {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((folder + "\\*.*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        do {
            entries.push_back({found.cFileName, found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY});
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
        return true;
    };
    const recorder::OutputTarget target =
        recorder::MakeOutputTarget(s.recordingFolder, options_.FileNamePrefix(), s.protocol, list);
    if (!target.failure.empty()) ShowMessage(target.failure);
    SetTarget(target.path);
}

bool MainDlg::StartEngine() {
    // Its result is not tested: a missing engine shows as a file that never
    // appears.
    const std::string line = recorder::BuildEngineCommandLine(TheSettings(), target_, TheRegion());
    const std::string program = InProgramFolder(Windows60() ? "Zelbov.exe" : "Zelbox.exe");
    ::ShellExecuteA(nullptr, "open", program.c_str(), line.c_str(), nullptr, SW_HIDE);
    return true;
}

bool MainDlg::StartCaptureGraph() {
    return options_.StartCaptureGraph(target_);
}
std::string MainDlg::StopCaptureGraph() {
    return options_.StopCaptureGraph();
}

bool MainDlg::TargetSize(std::uint64_t& bytes) {
    if (target_.empty()) return false;
    HANDLE file = ::CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    const bool ok = ::GetFileSizeEx(file, &size) != 0;
    ::CloseHandle(file);
    if (!ok) return false;
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

std::string MainDlg::DisplayName() {
    return displayName_;
}
int MainDlg::OptionsVideoBitrate() {
    return options_.VideoBitrate();
}
int MainDlg::OptionsFrameRate() {
    return options_.FrameRate();
}

void MainDlg::CreateOptionsDialog() {
    if (!options_.Exists()) options_.CreateModeless(hwnd_);
}

void MainDlg::OpenSettings() {
    OpenSettingsDialog();
}
void MainDlg::OpenBrowser() {
    OpenBrowserDialog();
}

void MainDlg::StartUpdateCheck() {
    zelbo::StartUpdateCheck(false);
}

void MainDlg::PlayTargetOrBrowse() {
    if (ViewDlg::IsOpen())
        ViewDlg::Open(TheSettings().recordingFolder);
    else if (!target_.empty())
        OpenWithShell(target_);
    else
        OpenBrowserDialog();
}

void MainDlg::StartTonvik() {
    ::ShellExecuteA(nullptr, "open", InProgramFolder("Tonvik.exe").c_str(), nullptr, nullptr, SW_HIDE);
}

void MainDlg::OpenAudioTest() {
    RunAudioTestDialog(hwnd_);
}

void MainDlg::StartLevelMeter() {
    zelbo::ShowLevelMeter(hwnd_);
}

void MainDlg::ShowLevelMeter() {
    zelbo::ShowLevelMeter(hwnd_);
}

void MainDlg::ShowTonvik() {
    if (HWND w = FindTitled("Tonvik")) ::ShowWindow(w, SW_SHOWNORMAL);
}

void MainDlg::HideTonvik() {
    HideTonvikWindow();
}

void MainDlg::DrawLevels(int left, int right) {
    if (!levels_) return;
    Levels* levels = reinterpret_cast<Levels*>(::GetWindowLongPtrW(levels_, GWLP_USERDATA));
    if (levels) {
        levels->left = left;
        levels->right = right;
    }
    ::InvalidateRect(levels_, nullptr, FALSE);
}

void MainDlg::RedrawPanel() {
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainDlg::SendAudioTestResult(bool detected, int left, int right) {
    PostToTitled("Audio Test", detected ? WM_USER + 1 : WM_USER + 2, static_cast<WPARAM>(left),
                 static_cast<LPARAM>(right));
}

}  // namespace zelbo

namespace zelbo {

void MainDlg::ParkMarkers() {
    TheRegionSelector().ParkMarkers(controller_ && controller_->State().inProcessPaused);
}

void MainDlg::HideMarkers() {
    TheRegionSelector().HideMarkers();
}
void MainDlg::ShowCornerMarkers(bool show) {
    TheRegionSelector().ShowCornerMarkers(show);
}

void MainDlg::CreateMarkers() {
    TheRegionSelector().CreateMarkers();
    TheRegionSelector().ShowCornerMarkers(true);
}

}  // namespace zelbo
