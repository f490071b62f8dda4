// The options dialog "Vantor Settings" (resource 10). It is created hidden
// on the panel's first timer tick and holds the fields the recording reads:
// video bitrate (1034), frame rate (1035) and the file-name prefix (1086).
// The capture graph it will host is not part of this program yet.
#pragma once

#include <string>

#include "platform/mfc/Dialog.h"
#include "recorder/app/GraphSession.h"

namespace zelbo {

class OptionsDlg : public mfc::Dialog {
public:
    OptionsDlg();

    // Fills the fields from the settings.
    void LoadFields();
    int VideoBitrate() const;
    int FrameRate() const;
    std::string FileNamePrefix() const;

    // The in-process capture graph into `target`; true when it runs.
    bool StartCaptureGraph(const std::string& target);
    // Stops and releases it, leaving a fresh empty graph.
    void StopCaptureGraph();
    // At exit: stops and releases everything.
    void ReleaseCapture();
    GraphSession& Graph() { return graph_; }
    DWORD LastGraphEventTime() const { return lastGraphEvent_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    GraphSession graph_;
    DWORD lastGraphEvent_ = 0;
};

}  // namespace zelbo
