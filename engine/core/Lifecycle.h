// The engine's own life: the one-second watchdog, the stop request and the
// flags the socket handler, the graph builders and the capture thread poll.
#pragma once

#include <atomic>

namespace engine {

constexpr unsigned kStopCode = 100;     // "screen capture message" and "packet ready"
constexpr int kNotClosedTick = 9;       // the stop counter value that gives up
constexpr unsigned kStopPumpMs = 1000;  // messages pumped inside the stop request
constexpr unsigned kStopThreadWaitMs = 1000;

// Flags read across threads; a reader only has to see a change eventually.
struct StopFlags {
    std::atomic<bool> stop{false};
    std::atomic<bool> closing{false};
    std::atomic<bool> streamingStopped{false};
};

class Lifecycle {
public:
    explicit Lifecycle(bool records) : records_(records) {}

    enum class Tick {
        None,
        StartRecording,  // first tick in a recording mode
        Exit,            // the control program is gone and nothing needs closing
        BeginStop,       // the control program is gone mid-recording: close the file first
        NotClosed,       // "Recording not properly closed", then exit
    };
    Tick OnTick(bool controlPresent);

    // "screen capture message" or "packet ready" (the control program's exit)
    // with `code`: true when the caller runs the stop sequence now. A stop
    // already under way (its message pumping re-enters here) is not begun
    // again.
    bool OnStopRequest(unsigned code);
    // After the caller's second of pumping: arms the counter at 1.
    void ArmStopCounter() { counter_ = 1; }
    // The graph stopped and was torn down: the watchdog no longer counts.
    void OnClosed() { counter_ = 0; }

    bool Started() const { return started_; }
    bool Stopping() const { return stopping_; }
    int StopCounter() const { return counter_; }
    StopFlags& Flags() { return flags_; }

private:
    bool records_;
    bool started_ = false;
    bool stopping_ = false;
    int counter_ = 0;
    StopFlags flags_;
};

}  // namespace engine
