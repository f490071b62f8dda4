// The meter's hidden main frame, titled "Wavrel" like the meter window: it
// owns the meter window (so a lookup by title finds that one first), gets
// the wave input's notifications and hands commands on to the meter window.
#pragma once

#include "levelmeter/app/MeterDialog.h"
#include "platform/mfc/Wnd.h"

namespace wavrel {

class MeterFrame : public mfc::FrameWnd {
public:
    bool Create();

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void BeginRecording();
    void OnCommand(int code, LPARAM value);

    bool started_ = false;
    MeterDialog dialog_;
};

}  // namespace wavrel
