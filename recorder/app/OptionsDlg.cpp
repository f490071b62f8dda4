#include "recorder/app/OptionsDlg.h"

#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/app/resource.h"

namespace zelbo {

OptionsDlg::OptionsDlg() : mfc::Dialog(IDD_OPTIONS) {}

BOOL OptionsDlg::OnInitDialog()
{
    Show(SW_HIDE);
    if (FAILED(graph_.CreateFilterGraph(hwnd_))) {
        ShowMessage("Cannot Initialize DirectX");
        return TRUE;
    }
    LoadFields();
    return TRUE;
}

void OptionsDlg::LoadFields()
{
    if (!Exists()) return;
    const recorder::Settings& s = TheSettings();
    ::SetDlgItemInt(hwnd_, IDC_VIDEO_BITRATE, static_cast<UINT>(s.videoBitrate), FALSE);
    ::SetDlgItemInt(hwnd_, IDC_FRAME_RATE, static_cast<UINT>(s.frameRate), FALSE);
    ::CheckDlgButton(hwnd_, IDC_FULL_SCREEN, FullScreenRegion() ? BST_CHECKED : BST_UNCHECKED);
}

int OptionsDlg::VideoBitrate() const
{
    if (!Exists()) return TheSettings().videoBitrate;
    return static_cast<int>(::GetDlgItemInt(hwnd_, IDC_VIDEO_BITRATE, nullptr, FALSE));
}

int OptionsDlg::FrameRate() const
{
    if (!Exists()) return TheSettings().frameRate;
    return static_cast<int>(::GetDlgItemInt(hwnd_, IDC_FRAME_RATE, nullptr, FALSE));
}

std::string OptionsDlg::FileNamePrefix() const
{
    if (!Exists()) return {};
    char text[256] = {};
    ::GetDlgItemTextA(hwnd_, IDC_FILE_NAME, text, 256);
    return text;
}

void OptionsDlg::OnOK()
{
    recorder::Settings& s = TheSettings();
    s.videoBitrate = VideoBitrate();
    s.frameRate = FrameRate();
    SaveSettings();
    Show(SW_HIDE);
}

bool OptionsDlg::StartCaptureGraph(const std::string& target)
{
    return recorder::StartCaptureGraph(graph_, TheSettings(), target, TheRegion());
}

void OptionsDlg::StopCaptureGraph() { graph_.StopCaptureGraph(hwnd_); }

void OptionsDlg::ReleaseCapture()
{
    graph_.StopCaptureGraph(nullptr);
    graph_.ReleaseGraphFilters();
    graph_.ReleaseGraph();
}

bool OptionsDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == kGraphEventMessage) {
        long code = 0;
        if (graph_.TakeEvent(code)) lastGraphEvent_ = ::GetTickCount();
        result = 0;
        return true;
    }
    return mfc::Dialog::OnMessage(message, wParam, lParam, result);
}

}  // namespace zelbo
