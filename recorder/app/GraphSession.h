// The in-process capture graph: the filter graph and its interfaces, the
// filters found by friendly name, and the DirectShow side of the graph
// sequence in recorder/core/CaptureGraph.h.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "recorder/core/CaptureGraph.h"
#include "recorder/core/SegmentJoin.h"
#include "recorder/shared/DeviceLookup.h"

namespace zelbo {

// Graph events reach the notify window as this message.
const UINT kGraphEventMessage = WM_APP + 1;

using capture::FindFilterByFriendlyName;
using capture::FindPinByIndex;
using capture::FindPinByName;
using capture::ListDeviceNames;

struct PinNames {
    std::vector<std::string> inputs;   // at most 10
    std::vector<std::string> outputs;  // at most 12
};
bool ListAudioSourcePins(IBaseFilter* filter, PinNames& names);

class GraphSession : public recorder::GraphOps {
public:
    GraphSession();
    ~GraphSession() override;
    GraphSession(const GraphSession&) = delete;
    GraphSession& operator=(const GraphSession&) = delete;

    HRESULT CreateFilterGraph(HWND notifyWindow);
    void ReleaseGraph();
    void ReleaseGraphFilters();
    HRESULT ResetGraph(HWND notifyWindow);

    struct Failure {
        long code = 0;  // EC_ERRORABORT, EC_ERRORABORTEX or EC_STREAM_ERROR_STOPPED; 0 for none
        HRESULT result = S_OK;
    };
    // Stops the graph, waits a second and leaves a fresh, empty graph; the
    // first failure the graph reported, up to the end of its streams.
    Failure StopCaptureGraph(HWND notifyWindow);
    // Ends the capture streams so everything downstream finishes its data.
    void EndCaptureStreams();
    // Takes one pending graph event; false when none is left. The end of
    // the streams and the first failure are remembered until the graph is
    // made anew.
    bool TakeEvent(long& code);
    bool Completed() const { return completed_; }
    bool Failed() const { return failure_.code != 0; }
    const Failure& LastFailure() const { return failure_; }
    // The file the writer was given.
    const std::string& Target() const { return target_; }
    // IBaseFilter::Stop on every filter in the graph's order.
    void StopAllFilters();

    // The audio test's graph: the audio source into "WAV Dest"; stores the
    // source's first output pin name as "Audio Output".
    bool BuildAudioTestGraph();

    IBaseFilter* Filter(recorder::GraphFilter filter) const { return filters_[static_cast<int>(filter)].Get(); }
    // Puts a filter the caller already has into the graph in that role.
    bool AdoptFilter(recorder::GraphFilter filter, IBaseFilter* instance, const std::string& name);

    // GraphOps.
    bool HasGraph() override;
    bool AddFilter(recorder::GraphFilter filter, const std::string& friendlyName) override;
    bool Connect(recorder::GraphFilter from, const std::string& outPin, recorder::GraphFilter to,
                 const std::string& inPin) override;
    recorder::SinkNameResult SetSinkFileName(const std::string& target) override;
    bool ConfigureSink() override;
    bool ConfigureMux() override;
    bool ConfigureVideoEncoder(int bitsPerSecond) override;
    bool ConfigureAudioEncoder(int kbps) override;
    bool AddAsfWriter(const std::string& target) override;
    bool RenderScreenToAsfWriter() override;
    bool WriteWmvProfile(const recorder::Settings& settings, const recorder::Region& rounded) override;
    bool ReadRegion(recorder::Region& region) override;
    bool WriteRegion(recorder::Region& region) override;
    void Wait(unsigned milliseconds) override;
    RunResult Run() override;
    void ShowMessage(const std::string& text) override;

private:
    void Drop(recorder::GraphFilter filter);
    // A resumed recording appends to its target: the part appended is moved
    // onto the timeline of the parts before it once its graph has stopped.
    void PrepareJoin(const std::wstring& target);
    void JoinSegment();

    com::ComPtr<IGraphBuilder> graph_;
    com::ComPtr<ICaptureGraphBuilder2> builder_;
    com::ComPtr<IMediaControl> control_;
    com::ComPtr<IMediaEventEx> events_;
    com::ComPtr<IVideoWindow> videoWindow_;
    com::ComPtr<IBasicVideo> basicVideo_;
    com::ComPtr<IMediaPosition> position_;
    com::ComPtr<IMediaSeeking> seeking_;
    com::ComPtr<IBaseFilter> filters_[static_cast<int>(recorder::GraphFilter::Count)];
    com::ComPtr<IFileSinkFilter> sink_;
    std::string target_;
    bool completed_ = false;
    Failure failure_;
    bool runFailed_ = false;
    std::wstring joinTarget_;  // the file a resumed part is appended to
    recorder::Continuation continuation_;
};

}  // namespace zelbo
