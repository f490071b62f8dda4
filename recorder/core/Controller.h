// The recording state of the control panel and the operations that change
// it (record, stop, pause/resume, the one-second status tick, engine codes,
// exit). Everything that touches windows, files, the registry or programs is
// asked of the host, so the whole state machine runs without a platform.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"

namespace recorder {

enum class Button { Record, PausePlay, Settings, Picker, Help, Browser, Minimize, Exit };

// Bitmap names of the panel's buttons.
enum class Image {
    Record,
    RecordOn,
    Stop,
    StopOn,
    Play1,
    Play1On,
    Pause,
    Restart,
    Settings,
    SettingsOn,
    GetWindow,
    GetWindowOn,
    Help,
    HelpOn,
    View,
    ViewOn,
    Minimize,
    MinimizeOn,
    Exit,
    ExitOn
};
const char* ImageName(Image image);

class PanelHost {
public:
    virtual ~PanelHost() = default;

    // Panel surface.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetImage(Button button, Image image) = 0;
    virtual bool HasStatusBox() = 0;
    virtual void CreateStatusBox() = 0;
    virtual void SetStatusBoxText(const std::string& text) = 0;  // nothing without a box
    virtual void DestroyStatusBox() = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void RestorePanel() = 0;
    virtual void HidePanel() = 0;

    // Time. Wait keeps messages flowing, so the controller may be re-entered.
    virtual void StartTick() = 0;
    virtual void StopTick() = 0;
    virtual void Wait(unsigned milliseconds) = 0;
    virtual std::uint64_t NowMs() = 0;  // monotonic

    // Peers.
    virtual bool EngineRunning() = 0;
    virtual void PostEngineStop() = 0;
    // Blocks (without pumping) until the engine window is gone, at most
    // about two seconds; false when it is still there.
    virtual bool WaitEngineClosed() = 0;
    // Pumps messages until the engine window is gone or the time is over.
    virtual bool WaitEngineGone(unsigned milliseconds) = 0;
    virtual void SendMeter(int code, int value) = 0;

    // The recording itself.
    virtual void MakeOutputFileName() = 0;
    virtual bool StartEngine() = 0;        // starts the engine program with its command line
    virtual bool StartCaptureGraph() = 0;  // builds and runs the in-process graph
    // Stops and releases it; what failed while its streams ended (a write of
    // the recording's end), empty when nothing did or it was told already.
    virtual std::string StopCaptureGraph() = 0;
    virtual bool TargetSize(std::uint64_t& bytes) = 0;
    virtual std::string DisplayName() = 0;
    virtual int OptionsVideoBitrate() = 0;  // the options dialog's fields
    virtual int OptionsFrameRate() = 0;

    // Neighbours with their own behaviour; quiet by default.
    virtual void ParkMarkers() {}
    virtual void HideMarkers() {}
    virtual void ShowCornerMarkers(bool /*show*/) {}
    virtual void CreateMarkers() {}
    virtual void CreateOptionsDialog() {}
    virtual void OpenSettings() {}
    virtual void OpenBrowser() {}
    virtual void OpenAudioTest() {}
    virtual void PlayTargetOrBrowse() {}
    virtual void StartLevelMeter() {}
    virtual void ShowLevelMeter() {}
    virtual void StartTonvik() {}
    virtual void ShowTonvik() {}
    virtual void HideTonvik() {}
    virtual void StartUpdateCheck() {}
    virtual void DrawLevels(int /*left*/, int /*right*/) {}
    virtual void RedrawPanel() {}
    virtual void SendAudioTestResult(bool /*detected*/, int /*left*/, int /*right*/) {}
};

struct RecordingState {
    bool recording = false;
    bool engineMode = false;
    int pauseState = 0;
    bool inProcessPaused = false;
    bool stopRequest = false;
    bool hotKeyRecording = false;
    int hotKeyBusy = 0;
    bool recordGuard = false;
    std::uint64_t startMs = 0;
    std::uint64_t recordedMs = 0;  // recorded before the last in-process pause
    bool engineStartTaken = false;
    bool blinkPhase = false;
    bool refresh = true;
    bool panelReady = false;
    bool tonvikShown = false;
};

class Controller {
public:
    Controller(Settings& settings, PanelHost& host, bool windows60);

    const RecordingState& State() const { return state_; }
    RecordingState& MutableState() { return state_; }
    bool Active() const { return state_.recording || state_.pauseState != 0 || state_.inProcessPaused; }

    // Panel buttons (release inside the box).
    void OnRecordBox();
    void OnStopBox();
    void OnPausePlayBox();

    void OnRecord();
    // Announce: the size in a message box; Quiet: at exit, waits for the
    // engine; Failed: the caller reports what went wrong instead.
    enum class StopMode { Announce, Quiet, Failed };
    void StopRecording(StopMode mode = StopMode::Announce);
    // Ctrl+F12: stops a running recording or starts one in hot-key mode
    // (no status text, no limit checks while it runs).
    void OnHotKey();
    // The graph reported that it cannot go on (the target cannot be written,
    // a source failed): the recording ends keeping what was written, and
    // `message` tells the user. A failure during a start is handled when the
    // start has finished.
    // False when the failure was not taken: no recording, or one that is
    // stopping (its stop reports what failed meanwhile).
    bool OnGraphFailure(const std::string& message);
    // A start is under way; its waits pump messages, and nothing may stop or
    // pause it halfway.
    bool Starting() const { return starting_; }
    void OnPauseOrPlay();
    void OnTick();
    void OnLevelUpdate(int left, int right);
    // "screen capture message" at the frame; returns 1 as the frame does.
    int OnEngineCode(int code);
    // First half of the exit sequence: asks while a recording is active and
    // then ends it cleanly. False when the user keeps the program running.
    bool PrepareExit();

    // The in-process start of the options dialog.
    bool StartInProcessRecording();
    void LaunchEngine();

private:
    std::string EndRecordingSegment();  // what failed while it ended
    void StopFromRecordButton();
    void StartFromRecordButton();
    void HandlePendingFailure();

    Settings& settings_;
    PanelHost& host_;
    bool windows60_;
    RecordingState state_;
    SoundDetector detector_;
    bool stopping_ = false;
    bool starting_ = false;
    std::string pendingFailure_;
    bool inTick_ = false;
    int ticks_ = 0;
};

}  // namespace recorder
