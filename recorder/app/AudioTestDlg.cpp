#include "recorder/app/AudioTestDlg.h"

#include <mmsystem.h>

#include <atomic>
#include <string>

#include "recorder/app/AudioPeers.h"
#include "recorder/app/AudioTestResource.h"
#include "recorder/app/GraphSession.h"
#include "recorder/app/MainDlg.h"
#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/app/resource.h"
#include "recorder/core/AudioTest.h"

namespace zelbo {

namespace {

constexpr int kMeterHide = 4;
constexpr int kWaitSteps = 20;
constexpr DWORD kWaitStepMs = 1000;
constexpr int kTestSoundPlays = 4;

// Set once the test has its answer or the dialog closes: the test sound
// stops.
std::atomic<bool> g_stopSound{false};

void StopTestSound() {
    g_stopSound = true;
    ::PlaySoundA(nullptr, nullptr, 0);
}

// The sound-test thread: the level meter restarted in audio-test mode,
// then the test sound. It touches no dialog state: the answer comes back
// to the dialog as a window message.
DWORD WINAPI SoundTestThread(void*) {
    if (HWND meter = FindTitled("Wavrel")) {
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutA(meter, RegisteredMessages().meter, kMeterHide, 0, SMTO_NORMAL, 2000, &answer);
        ::PostMessageA(meter, WM_CLOSE, 0, 0);
        ::Sleep(kWaitStepMs);
        int waited = 0;
        while (FindTitled("Wavrel") && waited++ < kWaitSteps) ::Sleep(kWaitStepMs);
        if (FindTitled("Wavrel")) {
            ShowMessage(recorder::kMeterTestFailedText);
            return 1;
        }
    }
    if (!StartMeter(" audioTest", SW_HIDE, false)) {
        ShowMessage(recorder::kMeterTestFailedText);
        return 1;
    }
    const std::string sound = InProgramFolder("AudioTest_2.wav");
    for (int i = 0; i < kTestSoundPlays && !g_stopSound; ++i)
        if (!::PlaySoundA(sound.c_str(), nullptr, SND_FILENAME | SND_SYNC | SND_NODEFAULT)) break;
    return 0;
}

void FillCombo(HWND combo, const std::vector<std::string>& items) {
    ::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

int SelectExact(HWND combo, const std::string& text) {
    const LRESULT at =
        ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    if (at == CB_ERR) return -1;
    ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    return static_cast<int>(at);
}

// "Notice" before the dialog.
class AudioNoticeDlg : public mfc::Dialog {
public:
    AudioNoticeDlg() : mfc::Dialog(IDD_NOTICE) {}

protected:
    BOOL OnInitDialog() override {
        const recorder::Notice notice = recorder::AudioNotice(TheSettings());
        if (notice.closeAtOnce) {
            EndModal(IDOK);
            return TRUE;
        }
        ::SetDlgItemTextA(hwnd_, IDC_NOTICE_TEXT, notice.text.c_str());
        return TRUE;
    }
    void OnOK() override {
        TheSettings().audioMessage = ::IsDlgButtonChecked(hwnd_, IDC_NOTICE_DONT_SHOW) == BST_CHECKED ? 0 : 1;
        SaveSettings();
        EndModal(IDOK);
    }
};

}  // namespace

AudioTestDlg::AudioTestDlg() : mfc::Dialog(IDD_AUDIO_TEST) {}

std::string AudioTestDlg::ComboText(int id) const {
    char text[257] = {};
    ::GetDlgItemTextA(hwnd_, id, text, sizeof text);
    return text;
}

void AudioTestDlg::SetLog(const std::string& text) {
    ::SetDlgItemTextA(hwnd_, IDC_TEST_LOG, text.c_str());
}

void AudioTestDlg::AppendLog(const std::string& text) {
    HWND log = Item(IDC_TEST_LOG);
    const int end = ::GetWindowTextLengthA(log);
    ::SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void AudioTestDlg::EnableTest(bool on) {
    for (int id : {IDC_TEST, IDC_SOURCES, IDC_INPUTS}) ::EnableWindow(Item(id), on);
}

BOOL AudioTestDlg::OnInitDialog() {
    ThePanel().Options().Show(SW_HIDE);
    Show(SW_SHOW);
    FillSources();
    const recorder::Settings& s = TheSettings();
    SetLog(recorder::IntroductionText(Windows60(), s.vistaAudio != 0));
    testRunning_ = false;
    if (s.vistaAudio) {
        ::EnableWindow(Item(IDC_VISTA_AUDIO), TRUE);
        ::CheckDlgButton(hwnd_, IDC_VISTA_AUDIO, BST_CHECKED);
        EnableTest(false);
    } else {
        ::CheckDlgButton(hwnd_, IDC_VISTA_AUDIO, BST_UNCHECKED);
        EnableTest(true);
        ::EnableWindow(Item(IDC_VISTA_AUDIO), Windows60());
    }
    ::SetDlgItemTextA(hwnd_, IDC_WINDOWS_TEXT, WindowsVersionText().c_str());
    return TRUE;
}

void AudioTestDlg::FillSources() {
    HWND sources = Item(IDC_SOURCES);
    std::vector<std::string> usable;
    for (const std::string& name : ListDeviceNames(CLSID_AudioInputDeviceCategory))
        if (FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, Widen(name))) usable.push_back(name);
    if (usable.empty()) {
        ShowMessage("Cannot find audio input source");
        return;
    }
    FillCombo(sources, usable);
    recorder::Settings& s = TheSettings();
    if (s.audioSource.empty()) s.audioSource = usable.front();
    if (SelectExact(sources, s.audioSource) < 0) return;
    ChooseSource(s.audioSource);
}

void AudioTestDlg::ChooseSource(const std::string& name) {
    HWND inputs = Item(IDC_INPUTS);
    ::SendMessageA(inputs, CB_RESETCONTENT, 0, 0);
    device_ = FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, Widen(name));
    PinNames pins;
    if (!device_ || !ListAudioSourcePins(device_.Get(), pins) || pins.outputs.empty()) {
        ShowMessage("No outputs found for this source");
        return;
    }
    recorder::Settings& s = TheSettings();
    s.audioSource = name;
    if (pins.inputs.empty()) {
        ShowMessage("No inputs found for this source");
        return;
    }
    for (const std::string& input : pins.inputs)
        ::SendMessageA(inputs, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(input.c_str()));
    if (s.audioInput.empty()) {
        const int chosen = recorder::PreselectInput(pins.inputs);
        if (chosen >= 0) ::SendMessageA(inputs, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
    } else {
        SelectExact(inputs, s.audioInput);
    }
}

void AudioTestDlg::ChooseInput() {
    const std::string chosen = ComboText(IDC_INPUTS);
    bool ok = static_cast<bool>(device_);
    com::ComPtr<IEnumPins> pins;
    if (ok && (FAILED(device_->EnumPins(pins.Put())) || !pins)) ok = false;
    com::ComPtr<IPin> pin;
    while (ok && pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        if (info.dir != PINDIR_INPUT) continue;
        com::ComPtr<IAMAudioInputMixer> mixer;
        if (FAILED(pin->QueryInterface(IID_IAMAudioInputMixer, mixer.PutVoid())) || !mixer ||
            FAILED(mixer->put_Enable(Narrow(info.achName) == chosen ? TRUE : FALSE)))
            ok = false;
    }
    if (!ok) {
        ShowMessage("Cannot select this input");
        return;
    }
    TheSettings().audioInput = chosen;
    SaveSettings();
}

void AudioTestDlg::OnTest() {
    recorder::Settings& s = TheSettings();
    testRunning_ = true;
    s.audioSonifer = 0;
    OptionsDlg& options = ThePanel().Options();
    if (!options.Graph().BuildAudioTestGraph()) {
        options.StopCaptureGraph();
        return;
    }
    SetLog("");
    AppendLog("Starting audio test\r\n");
    ::CheckDlgButton(options.Handle(), IDC_RECORD_AUDIO, BST_CHECKED);
    s.audioOnly = 0;
    s.videoOnly = 0;
    s.audioTestDone = 1;
    SaveSettings();
    AppendLog("Playing sound. Trying to record...\r\n");
    g_stopSound = false;
    HANDLE thread = ::CreateThread(nullptr, 0, SoundTestThread, nullptr, 0, nullptr);
    if (thread)
        ::CloseHandle(thread);
    else
        ShowMessage("Cannot start the sound test");
}

void AudioTestDlg::OnAnswer(bool detected) {
    switch (recorder::DecideTestAnswer(detected, testRunning_, TheSettings())) {
        case recorder::TestAnswer::Ignore:
            return;
        case recorder::TestAnswer::RecordingOk:
            SetLog(recorder::kRecordingOkText);
            break;
        case recorder::TestAnswer::NotAvailable:
            if (HWND meter = FindTitled("Wavrel")) {
                DWORD_PTR answer = 0;
                ::SendMessageTimeoutA(meter, RegisteredMessages().meter, kMeterHide, 0, SMTO_NORMAL, 2000, &answer);
            }
            SetLog(recorder::kNotAvailableText);
            break;
    }
    // The test has its answer; later ones (the panel counts levels too)
    // must not overwrite it.
    testRunning_ = false;
    StopTestSound();
}

void AudioTestDlg::OnVistaClick() {
    if (::IsDlgButtonChecked(hwnd_, IDC_VISTA_AUDIO) == BST_CHECKED) {
        ::CheckDlgButton(hwnd_, IDC_VISTA_AUDIO, BST_UNCHECKED);
        EnableTest(true);
        SetLog(recorder::kVistaUncheckedText);
    } else {
        ::CheckDlgButton(hwnd_, IDC_VISTA_AUDIO, BST_CHECKED);
        EnableTest(false);
        SetLog("");
    }
    SaveSettings();
}

void AudioTestDlg::Close(INT_PTR code) {
    StopTestSound();
    EndModal(code);
}

void AudioTestDlg::OnOK() {
    recorder::Settings& s = TheSettings();
    if (::IsDlgButtonChecked(hwnd_, IDC_VISTA_AUDIO) == BST_CHECKED) {
        s.vistaAudio = 1;
        SaveSettings();
        Close(IDOK);
        return;
    }
    s.vistaAudio = 0;
    PostToTitled("Wavrel", RegisteredMessages().meter, kMeterHide, 0);
    OptionsDlg& options = ThePanel().Options();
    options.StopCaptureGraph();
    const std::string input = ComboText(IDC_INPUTS);
    const std::string refusal = recorder::AudioTestOkRefusal(s, input);
    if (!refusal.empty()) {
        ShowMessage(refusal);
        return;
    }
    s.audioInput = input;
    s.audioSonifer = 0;
    if (recorder::Controller* control = ThePanel().Control()) control->MutableState().engineMode = false;
    SaveSettings();
    options.StopCaptureGraph();
    Close(IDOK);
}

void AudioTestDlg::OnCancel() {
    PostToTitled("Wavrel", RegisteredMessages().meter, kMeterHide, 0);
    ThePanel().Options().StopCaptureGraph();
    Close(IDCANCEL);
}

bool AudioTestDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
        case WM_USER + 1:
        case WM_USER + 2:
            OnAnswer(message == WM_USER + 1);
            result = 0;
            return true;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == IDC_SOURCES && code == CBN_SELCHANGE) {
                ChooseSource(ComboText(IDC_SOURCES));
                return true;
            }
            if (id == IDC_INPUTS && code == CBN_SELCHANGE) {
                ChooseInput();
                return true;
            }
            if (code != BN_CLICKED) return false;
            if (id == IDC_TEST) {
                OnTest();
                return true;
            }
            if (id == IDC_VISTA_AUDIO) {
                OnVistaClick();
                return true;
            }
            if (id == IDC_VISTA_ENABLE) {
                ::EnableWindow(Item(IDC_VISTA_AUDIO), TRUE);
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void RunAudioTestDialog(HWND owner) {
    AudioTestDlg dialog;
    dialog.DoModal(owner);
    MainDlg& panel = ThePanel();
    panel.SetImage(recorder::Button::Settings, recorder::Image::Settings);
    panel.Show(SW_RESTORE);
}

void RunAudioNotice(HWND owner) {
    AudioNoticeDlg notice;
    notice.DoModal(owner);
}

}  // namespace zelbo
