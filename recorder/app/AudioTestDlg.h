// "Audio Test" (resource 147): the audio source and its input, and the
// sound test: the level meter restarted in its audio-test mode while a test
// sound plays, the answer coming back as WM_USER+1 (heard) or WM_USER+2.
// "Vantor" (resource 142) is the notice shown before it when no tested
// source is stored.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/mfc/Dialog.h"

namespace zelbo {

class AudioTestDlg : public mfc::Dialog {
public:
    AudioTestDlg();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void FillSources();
    void ChooseSource(const std::string& name);
    void ChooseInput();
    void OnTest();
    void OnAnswer(bool detected);
    void OnVistaClick();
    void EnableTest(bool on);
    void SetLog(const std::string& text);
    void AppendLog(const std::string& text);
    std::string ComboText(int id) const;
    void Close(INT_PTR code);

    com::ComPtr<IBaseFilter> device_;
    bool testRunning_ = false;
};

// Shows the dialog modally, then resets the panel's settings button and
// restores the panel.
void RunAudioTestDialog(HWND owner);
// The notice, modally.
void RunAudioNotice(HWND owner);

}  // namespace zelbo
