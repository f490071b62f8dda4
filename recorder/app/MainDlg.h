// The control panel "Zelbo": bitmap buttons hit-tested by client
// coordinates, the status line and box, the volume slider and the level
// bars. The recording state machine itself is recorder::Controller; this
// class is its window side.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <map>
#include <memory>
#include <string>

#include "platform/mfc/Dialog.h"
#include "recorder/app/OptionsDlg.h"
#include "recorder/core/Controller.h"

namespace zelbo {

class MainDlg : public mfc::Dialog, public recorder::PanelHost {
public:
    MainDlg();
    ~MainDlg() override;

    // Null until the panel window has been initialised.
    recorder::Controller* Control() { return controller_.get(); }
    OptionsDlg& Options() { return options_; }

    // The exit sequence; returns only when the user keeps the program.
    void RunExitSequence();

    // Bottom right of the desktop, 333 x 163, topmost when "OnTop" is set.
    void PlaceOnDesktop();
    void OpenSettingsDialog();
    void OpenBrowserDialog();
    // The play action on a file chosen elsewhere (the recordings browser).
    void PlayFile(const std::string& path);

    // PanelHost.
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void SetImage(recorder::Button button, recorder::Image image) override;
    bool HasStatusBox() override;
    void CreateStatusBox() override;
    void SetStatusBoxText(const std::string& text) override;
    void DestroyStatusBox() override;
    void SetTitle(const std::string& title) override;
    void RestorePanel() override;
    void HidePanel() override;
    void StartTick() override;
    void StopTick() override;
    void Wait(unsigned milliseconds) override;
    std::uint64_t NowMs() override;
    bool EngineRunning() override;
    void PostEngineStop() override;
    bool WaitEngineClosed() override;
    bool WaitEngineGone(unsigned milliseconds) override;
    void SendMeter(int code, int value) override;
    void MakeOutputFileName() override;
    bool StartEngine() override;
    bool StartCaptureGraph() override;
    std::string StopCaptureGraph() override;
    bool TargetSize(std::uint64_t& bytes) override;
    std::string DisplayName() override;
    int OptionsVideoBitrate() override;
    int OptionsFrameRate() override;
    void CreateOptionsDialog() override;
    void OpenSettings() override;
    void OpenBrowser() override;
    void StartUpdateCheck() override;
    void PlayTargetOrBrowse() override;
    void StartTonvik() override;
    void OpenAudioTest() override;
    void StartLevelMeter() override;
    void ShowLevelMeter() override;
    void ShowTonvik() override;
    void HideTonvik() override;
    void DrawLevels(int left, int right) override;
    void RedrawPanel() override;
    void SendAudioTestResult(bool detected, int left, int right) override;
    void ParkMarkers() override;
    void HideMarkers() override;
    void ShowCornerMarkers(bool show) override;
    void CreateMarkers() override;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void ColourStatusBoxText();
    void CreateControls();
    HWND MakeBitmapStatic(int id, int x, int y, int width, int height, const char* bitmap);
    HBITMAP Bitmap(const char* name);
    void FlashImage(recorder::Button button, recorder::Image on, recorder::Image off, unsigned ms);
    void OnLButtonDown(int x, int y);
    void OnLButtonUp(int x, int y);
    void OnMouseMove(int x, int y);
    void OnHScroll();
    void OnMove(int x, int y);
    void OnDropFiles(HDROP drop);
    void SetTarget(const std::string& path);

    std::unique_ptr<recorder::Controller> controller_;
    OptionsDlg options_;
    std::map<std::string, HBITMAP> bitmaps_;
    HWND buttons_[8] = {};
    HWND statusBox_ = nullptr;
    HWND levels_ = nullptr;
    HFONT font_ = nullptr;
    HBRUSH stripBrush_ = nullptr;
    HBRUSH boxBrush_ = nullptr;
    HBRUSH sliderBrush_ = nullptr;
    bool dragging_ = false;
    POINT dragFrom_{};
    std::string target_;
    std::wstring targetWide_;
    std::string displayName_;
    bool exiting_ = false;
};

// The program-wide panel object.
MainDlg& ThePanel();
// The hidden main frame's window (the panel's minimise button uses it).
HWND& MainFrameHandle();

}  // namespace zelbo
