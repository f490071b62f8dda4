// The settings dialog "Vantor Settings" (resource 10). Created hidden on the
// panel's first timer tick and alive for the whole run; it carries the
// in-process capture graph, the Ctrl+F12 record hot key and the graph's
// event window.
#pragma once

#include <string>

#include "platform/mfc/Dialog.h"
#include "recorder/app/GraphSession.h"
#include "recorder/core/SettingsDialog.h"

namespace zelbo {

class OptionsDlg : public mfc::Dialog {
public:
    OptionsDlg();

    // The panel's settings button: the stored values into the controls.
    void LoadFields();
    int VideoBitrate() const;
    int FrameRate() const;
    std::string FileNamePrefix() const;

    // The in-process capture graph into `target`; true when it runs.
    bool StartCaptureGraph(const std::string& target);
    // Stops and releases it, leaving a fresh empty graph; the text of a
    // failure not told yet (empty when none).
    std::string StopCaptureGraph();
    // At exit: stops and releases everything.
    void ReleaseCapture();
    GraphSession& Graph() { return graph_; }
    DWORD LastGraphEventTime() const { return lastGraphEvent_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // The dialog lives as long as the program: its end is the program's.
    void OnDestroyed() override;

private:
    void FillLists();
    void ShowLists(const recorder::BitrateLists& lists);
    void SelectFormat(const char* name);
    std::string FormatText() const;
    void OnFormatChange();
    void OnCommand(int id, int code);
    void OnRecordVideo();
    void OnRecordAudio();
    void OnHide();
    void OnTonvik();
    void OnHotKeyMessage(WPARAM wParam);
    void OnTimer();
    void ReportGraphFailure();
    void ChooseFolder();
    void ShowDefaults();
    void ShowHint(int id);
    bool Checked(int id) const;
    void Check(int id, bool on);
    void Enable(int id, bool on);
    void RestorePanel();

    GraphSession graph_;
    DWORD lastGraphEvent_ = 0;
    bool failureReported_ = false;
    bool driver_ = false;  // Tonvik switched on in this dialog
    bool firstTick_ = true;
    int hotKeyTicks_ = 0;  // a hot-key action is this many ticks old
    bool hotKeyActive_ = false;
};

}  // namespace zelbo
