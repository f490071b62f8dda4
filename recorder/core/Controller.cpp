#include "recorder/core/Controller.h"

namespace recorder {

namespace {

const char kActiveQuestion[] = "Recording is active. Would you like to close program now?";

// Sets a flag for the lifetime of a scope and restores what it was; the
// controller is re-entered through the message pumping of its waits.
class Flag {
public:
    explicit Flag(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~Flag() { flag_ = old_; }
    Flag(const Flag&) = delete;
    Flag& operator=(const Flag&) = delete;

private:
    bool& flag_;
    bool old_;
};

}  // namespace

const char* ImageName(Image image) {
    static const char* const kNames[] = {"RECORD",     "RECORD_ON",     "STOP",        "STOP_ON",  "PLAY1",
                                         "PLAY1_ON",   "PAUSE",         "RESTART",     "SETTINGS", "SETTINGS_ON",
                                         "GET_WINDOW", "GET_WINDOW_ON", "HELP",        "HELP_ON",  "VIEW",
                                         "VIEW_ON",    "MINIMIZE",      "MINIMIZE_ON", "EXIT",     "EXIT_ON"};
    return kNames[static_cast<int>(image)];
}

Controller::Controller(Settings& settings, PanelHost& host, bool windows60)
    : settings_(settings), host_(host), windows60_(windows60) {}

void Controller::OnRecordBox() {
    if (starting_) return;
    if (Active()) state_.stopRequest = true;
    OnRecord();
}

void Controller::OnStopBox() {
    // Nothing to stop while idle; stopping then would only announce an
    // empty recording.
    if (starting_) return;
    if (Active()) StopRecording();
}

void Controller::OnHotKey() {
    if (starting_) return;
    state_.hotKeyBusy = 1;
    if (state_.recording) {
        StopRecording();
        host_.RedrawPanel();
        return;
    }
    state_.hotKeyRecording = true;
    OnRecord();
    // A refused or failed start leaves no hot-key recording behind.
    if (!state_.recording) state_.hotKeyRecording = false;
}

bool Controller::OnGraphFailure(const std::string& message) {
    if (starting_) {
        if (pendingFailure_.empty()) pendingFailure_ = message;
        return true;
    }
    if (stopping_ || (!state_.recording && !state_.inProcessPaused)) return false;
    state_.recording = true;  // so that the stop sequence runs in full
    StopRecording(StopMode::Failed);
    host_.SetStatus("Recording failed");
    host_.ShowMessage(message);
    return true;
}

void Controller::HandlePendingFailure() {
    if (pendingFailure_.empty()) return;
    const std::string message = pendingFailure_;
    pendingFailure_.clear();
    // A start that failed has reported its own failure already.
    if (state_.recording) OnGraphFailure(message);
}

void Controller::OnPausePlayBox() {
    if (starting_) return;
    if (state_.recording && settings_.protocol != 0) {
        // Only MPEG-2 recordings can pause.
        host_.SetImage(Button::PausePlay, Image::Play1On);
        host_.Wait(200);
        host_.SetImage(Button::PausePlay, Image::Play1);
        return;
    }
    host_.SetImage(Button::PausePlay, state_.recording ? Image::Restart : Image::Play1On);
    OnPauseOrPlay();
}

void Controller::OnRecord() {
    if (state_.recordGuard || starting_) return;
    state_.recordGuard = true;

    // The route is chosen when a recording starts; a settings change while
    // one runs must not change how it is stopped.
    if (!state_.recording && state_.pauseState == 0) {
        const Route route = ChooseRoute(settings_);
        if (route == Route::RefusedHideMode) {
            host_.ShowMessage("Tonvik cannot be enabled in hide mode");
            state_.recordGuard = false;
            state_.stopRequest = false;
            return;
        }
        state_.engineMode = route == Route::Engine;
    }

    if (!state_.stopRequest) {
        if (!state_.recording) host_.SetImage(Button::Record, Image::RecordOn);
        if (state_.recording && state_.engineMode && state_.pauseState == 0) {
            StopFromRecordButton();
            return;
        }
        {
            Flag start(starting_);
            StartFromRecordButton();
        }
        HandlePendingFailure();
        return;
    }
    StopFromRecordButton();
}

void Controller::StartFromRecordButton() {
    host_.Wait(150);
    if (settings_.recordingFolder.empty()) {
        host_.ShowMessage(
            "The recording folder is not specified. Click OK to continue and choose a folder to save recordings");
        state_.recordGuard = false;
        host_.OpenSettings();
        return;
    }
    if (state_.engineMode) {
        LaunchEngine();
        state_.recordGuard = false;
        return;
    }
    host_.SetImage(Button::Record, Image::Stop);
    if (state_.pauseState == 0 && !state_.recording) host_.MakeOutputFileName();
    state_.pauseState = 0;
    host_.SetStatus("Initialize recording...");
    host_.ParkMarkers();
    if (settings_.hide && state_.hotKeyBusy) host_.HidePanel();
    host_.ShowCornerMarkers(false);
    host_.HideMarkers();
    StartInProcessRecording();
    if (state_.recording) {
        if (!host_.HasStatusBox()) host_.CreateStatusBox();
        if (!settings_.audioSonifer && settings_.protocol == 0) host_.SetImage(Button::PausePlay, Image::Pause);
        if (!state_.hotKeyBusy)
            host_.SetStatusBoxText(settings_.audioSonifer ? "Waiting for audio stream..." : "Status");
    } else {
        host_.SetImage(Button::Record, Image::Record);
    }
    state_.recordGuard = false;
}

void Controller::StopFromRecordButton() {
    state_.stopRequest = false;
    state_.recording = true;  // so that the stop sequence runs in full
    state_.recordGuard = false;
    state_.pauseState = 0;
    StopRecording();
    host_.SetImage(Button::Record, Image::Record);
    host_.SetImage(Button::PausePlay, Image::Play1);
}

void Controller::StopRecording(StopMode mode) {
    if (stopping_) return;
    Flag guard(stopping_);

    state_.engineStartTaken = false;
    if (host_.EngineRunning()) {
        host_.PostEngineStop();
        // At exit the engine must have closed its file before we go.
        if (mode == StopMode::Quiet)
            host_.WaitEngineGone(10000);
        else
            host_.Wait(1000);
    }
    host_.HideMarkers();
    // A paused recording has no running segment: the stop below finalises
    // what was written without capturing again.
    if (state_.inProcessPaused && !settings_.audioSonifer) {
        host_.SetStatusBoxText(settings_.protocol == 1 || settings_.protocol == 3
                                   ? "Closing recording.\r\nPlease wait...This could take a few moments."
                                   : "Closing recording.\r\nPlease wait...");
    }
    state_.inProcessPaused = false;
    state_.pauseState = 0;
    host_.SetImage(Button::PausePlay, Image::Play1);
    host_.SetImage(Button::Record, Image::Stop);
    host_.DestroyStatusBox();
    host_.SetStatus("Stopping. Please wait...");
    host_.StopTick();
    host_.SetTitle("Zelbo");
    host_.RestorePanel();
    host_.ShowCornerMarkers(true);
    host_.ParkMarkers();
    host_.SendMeter(2, 0);
    const std::string lateFailure = host_.StopCaptureGraph();
    state_.recording = false;
    // Whatever ended it, the next recording is an ordinary one unless the
    // hot key starts it again.
    state_.hotKeyRecording = false;
    host_.SetImage(Button::Record, Image::Record);
    if (mode == StopMode::Failed) return;
    if (!lateFailure.empty()) {
        // The end did not reach the file: never announced as a good stop.
        host_.SetStatus("Recording failed");
        host_.ShowMessage(lateFailure);
        return;
    }

    std::uint64_t size = 0;
    if (!host_.TargetSize(size)) size = 0;
    const std::string stopped = StoppedText(size);
    host_.SetStatus(stopped);
    if (mode == StopMode::Announce) host_.ShowMessage(stopped);
}

std::string Controller::EndRecordingSegment() {
    host_.StopTick();
    host_.SetTitle("Zelbo");
    host_.RestorePanel();
    host_.SendMeter(2, 0);
    std::string failure = host_.StopCaptureGraph();
    state_.recording = false;
    return failure;
}

void Controller::OnPauseOrPlay() {
    host_.HideMarkers();
    if (state_.recording) {
        if (settings_.protocol != 0) return;
        if (state_.pauseState == 0) {
            state_.pauseState = 1;
            if (state_.engineMode) {
                // The engine closes its file and ends; resume starts a new one.
                host_.PostEngineStop();
            } else {
                host_.StopTick();
                state_.recordedMs += host_.NowMs() - state_.startMs;
                state_.inProcessPaused = true;
                const std::string failure = EndRecordingSegment();
                // The segment's end was lost: the recording ends there.
                if (!failure.empty() && OnGraphFailure(failure)) return;
            }
            host_.SetImage(Button::PausePlay, Image::Restart);
            host_.SetImage(Button::Record, Image::Stop);
            return;
        }
    }
    if (state_.pauseState == 1) {
        host_.SetImage(Button::PausePlay, Image::Pause);
        if (state_.engineMode)
            OnRecord();
        else
            StartInProcessRecording();
        state_.pauseState = 0;
        return;
    }
    host_.Wait(150);
    host_.SetImage(Button::PausePlay, Image::Play1);
    host_.PlayTargetOrBrowse();
}

bool Controller::StartInProcessRecording() {
    host_.HideMarkers();
    if (state_.recording) return false;
    if (settings_.audioSource.empty()) {
        host_.ShowMessage("No audio source selected. Click OK and select an audio source from the Audio Source list.");
        host_.OpenAudioTest();
        return false;
    }
    if (host_.OptionsVideoBitrate() == 0 && settings_.videoOnly >= 1) {
        host_.ShowMessage("Video bitrate not specified");
        return false;
    }
    const int rate = host_.OptionsFrameRate();
    if (rate < 5 || rate > 30) {
        host_.ShowMessage("Frame rate must be between 5 and 30");
        return false;
    }
    state_.recording = true;
    // A resumed recording goes on counting its time: "Max File Time" and
    // the status count the whole recording, not the last part.
    if (!state_.inProcessPaused) state_.recordedMs = 0;
    state_.startMs = host_.NowMs() - state_.recordedMs;
    if (settings_.audioCompression) host_.SendMeter(1, 0);
    bool started = false;
    {
        Flag guard(starting_);
        started = host_.StartCaptureGraph();
    }
    if (started) {
        host_.StartTick();
        // Inside a press of Record the press handles it once it is done.
        if (!starting_) HandlePendingFailure();
        return state_.recording;
    }
    pendingFailure_.clear();
    StopRecording();
    state_.recording = false;
    state_.hotKeyRecording = false;
    host_.StopCaptureGraph();
    return false;
}

void Controller::LaunchEngine() {
    if (!state_.recording || state_.pauseState == 1) {
        if (host_.EngineRunning()) {
            host_.PostEngineStop();
            if (!host_.WaitEngineClosed()) {
                host_.ShowMessage(windows60_ ? "Unable to start recording. Cannot close program Zelbov.exe"
                                             : "Unable to start recording. Cannot close program Zelbox.exe");
                return;
            }
        }
    }
    if (state_.pauseState != 1) host_.MakeOutputFileName();
    if (!host_.StartEngine()) {
        host_.SetImage(Button::Record, Image::Record);
        return;
    }
    host_.HideTonvik();
    if (settings_.audioCompression) host_.SendMeter(1, 0);
    state_.recording = true;
    state_.pauseState = 0;
    state_.tonvikShown = false;
    if (!state_.hotKeyBusy) host_.SetStatus("Initialize recording...");
    host_.ParkMarkers();
    if (settings_.hide && state_.hotKeyBusy) host_.HidePanel();
    host_.ShowCornerMarkers(false);
    host_.HideMarkers();
    if (!state_.hotKeyBusy && !host_.HasStatusBox()) {
        host_.CreateStatusBox();
        host_.SetStatusBoxText(settings_.audioSonifer
                                   ? "Waiting for the audio stream...\r\nPlease refresh your browser or media "
                                     "player. Only one browser window can be open."
                                   : "Initialize recording...");
    }
    if (settings_.protocol == 0) host_.SetImage(Button::PausePlay, Image::Pause);
    state_.startMs = host_.NowMs();
    host_.StartTick();
}

void Controller::OnTick() {
    if (inTick_ || starting_) return;
    Flag guard(inTick_);

    if (++ticks_ == 10) host_.StartUpdateCheck();
    if (state_.refresh) {
        state_.refresh = false;
        OnLevelUpdate(0, 0);
        host_.ShowLevelMeter();
        host_.RedrawPanel();
        return;
    }
    if (!state_.panelReady) {
        state_.panelReady = true;
        host_.CreateMarkers();
        state_.refresh = true;
        host_.StartLevelMeter();
        if (!windows60_ && (state_.engineMode || settings_.audioSonifer) && !settings_.vistaAudio) host_.StartTonvik();
        host_.CreateOptionsDialog();
        return;
    }
    if (settings_.audioSonifer && !state_.tonvikShown && !windows60_) {
        state_.tonvikShown = true;
        host_.ShowTonvik();
    }
    if (!state_.recording || state_.hotKeyRecording) return;

    state_.blinkPhase = !state_.blinkPhase;
    host_.SetImage(Button::Record, state_.blinkPhase ? Image::StopOn : Image::Stop);
    std::uint64_t size = 0;
    if (!host_.TargetSize(size)) return;  // not created yet
    host_.SetStatus("Recording: " + host_.DisplayName());
    if (state_.engineMode && !state_.engineStartTaken) {
        // The engine needs a moment to create the file; count from here.
        state_.engineStartTaken = true;
        state_.startMs = host_.NowMs();
    }
    const std::uint64_t now = host_.NowMs();
    switch (CheckLimits(settings_, size, state_.startMs, now)) {
        case LimitHit::Size:
            host_.StopTick();
            StopRecording();
            host_.ShowMessage("Recording Stopped. File size exceeded");
            return;
        case LimitHit::Time:
            host_.StopTick();
            StopRecording();
            host_.ShowMessage("Recording Stopped. File time exceeded");
            host_.SetTitle("Zelbo");
            return;
        case LimitHit::None:
            break;
    }
    const std::int64_t elapsed = now >= state_.startMs ? static_cast<std::int64_t>((now - state_.startMs) / 1000) : 0;
    host_.SetStatusBoxText(RecordingStatusBox(settings_, size, elapsed));
}

void Controller::OnLevelUpdate(int left, int right) {
    int reportLeft = 0;
    int reportRight = 0;
    switch (detector_.Update(left, right, reportLeft, reportRight)) {
        case SoundDetector::Verdict::Detected:
            host_.SendAudioTestResult(true, reportLeft, reportRight);
            break;
        case SoundDetector::Verdict::NotDetected:
            host_.SendAudioTestResult(false, reportLeft, reportRight);
            break;
        case SoundDetector::Verdict::None:
            break;
    }
    host_.DrawLevels(left, right);
}

int Controller::OnEngineCode(int code) {
    if (code == kEnginePausePlay) {
        OnPauseOrPlay();
        return 1;
    }
    const std::string message = EngineEndMessage(code);
    // Only a running engine recording can be ended by its engine; a late
    // code after a stop or during a pause must not start a new recording.
    if (message.empty() || !state_.recording || !state_.engineMode || state_.pauseState != 0) return 1;
    host_.ShowMessage(message);
    // The box pumps messages: a tick may have stopped the recording already.
    if (state_.recording && state_.engineMode && state_.pauseState == 0) {
        state_.stopRequest = true;
        OnRecord();
    }
    return 1;
}

bool Controller::PrepareExit() {
    // The start pumps messages; an exit now would stop a graph half built.
    if (starting_) return false;
    if (Active()) {
        if (!host_.AskYesNo(kActiveQuestion)) return false;
        if (Active()) {
            state_.recording = true;
            StopRecording(StopMode::Quiet);
        }
    }
    return true;
}

}  // namespace recorder
