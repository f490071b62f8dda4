// The meter window: two level bars, the peak readout, the output-volume
// slider, the compression, peak-reset and hide buttons and the tray icon.
// It takes the level updates and the control program's commands and runs
// the audio-test verdict.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/mfc/Dialog.h"

namespace wavrel {

class MeterDialog : public mfc::Dialog {
public:
    MeterDialog();
    ~MeterDialog() override;

    void SetSliderPosition(int position);
    // Switches compression to `on` (the button image and, when switched on,
    // "Sound.txt").
    void SetCompression(bool on);
    void ToggleCompression();
    // A "Zelbo message" command; true when the code is one it knows.
    bool OnCommand(int code, LPARAM value);
    // Closing: tray icon, wave input, process.
    void Close();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override { Close(); }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    HWND MakePicture(int id, int left, int top, int right, int bottom, const char* bitmap);
    void SetPicture(HWND control, const char* bitmap);
    void Place();
    void OnLevelUpdate(int left, int right);
    void DrawBars(int left, int right);
    void OnSlider();
    void OnButtonDown(int x, int y);
    void OnButtonUp(int x, int y);
    void OnTray(LPARAM event);
    void ShowRestored();
    void HideMeter();
    void ResetPeaks();
    void SetReadout(const std::string& text);

    HBITMAP background_ = nullptr;
    HBITMAP up_ = nullptr;
    HBITMAP down_ = nullptr;
    HBITMAP mini_ = nullptr;
    HWND compressButton_ = nullptr;
    HWND resetButton_ = nullptr;
    HFONT font_ = nullptr;
    HICON icon_ = nullptr;
    NOTIFYICONDATAW tray_{};
    bool trayAdded_ = false;
    int barLeft_ = 0;
    int barRight_ = 0;
};

}  // namespace wavrel
