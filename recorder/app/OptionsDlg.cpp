#include "recorder/app/OptionsDlg.h"

#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/app/resource.h"

namespace zelbo {

OptionsDlg::OptionsDlg() : mfc::Dialog(IDD_OPTIONS) {}

BOOL OptionsDlg::OnInitDialog()
{
    Show(SW_HIDE);
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

bool OptionsDlg::StartCaptureGraph()
{
    recorder::Region& region = TheRegion();
    if (!ReadSourceRegion(region)) {
        ShowMessage("Cannot read the registry.");
        return false;
    }
    region.frameRate = TheSettings().frameRate;
    WriteSourceRegion(region);
    const int format = TheSettings().protocol;
    if (format < 0 || format > 2) return false;  // WM-MP4 records through the engine only
    // No capture graph is built by this program yet: the first filter of
    // either graph is the one reported missing.
    ShowMessage("Cannot install Screen Capture filter");
    return false;
}

}  // namespace zelbo
