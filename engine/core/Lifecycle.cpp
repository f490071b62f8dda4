#include "engine/core/Lifecycle.h"

namespace engine {

Lifecycle::Tick Lifecycle::OnTick(bool controlPresent) {
    if (counter_ != 0) {
        if (counter_ == kNotClosedTick) return Tick::NotClosed;
        ++counter_;
        return Tick::None;
    }
    if (!controlPresent) {
        // Leaving at once would cut the file short: a running recording
        // is closed first, and the counter then bounds that.
        if (started_ && !stopping_) {
            OnStopRequest(kStopCode);
            return Tick::BeginStop;
        }
        if (!stopping_) return Tick::Exit;
        return Tick::None;
    }
    if (!started_ && records_ && !stopping_) {
        started_ = true;
        return Tick::StartRecording;
    }
    return Tick::None;
}

bool Lifecycle::OnStopRequest(unsigned code) {
    if (code != kStopCode || !records_ || stopping_) return false;
    stopping_ = true;
    flags_.stop = true;
    flags_.closing = true;
    return true;
}

}  // namespace engine
