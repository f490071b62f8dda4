// The in-process capture graph: the filter graph and its interfaces, the
// filters found by friendly name, and the DirectShow side of the graph
// sequence in recorder/core/CaptureGraph.h.
#pragma once

#include <dshow.h>
#include <windows.h>

#include <string>
#include <vector>

#include "recorder/core/CaptureGraph.h"
#include "recorder/core/SegmentJoin.h"

namespace zelbo {

// Graph events reach the notify window as this message.
const UINT kGraphEventMessage = WM_APP + 1;

IBaseFilter* FindFilterByFriendlyName(REFCLSID category, const std::wstring& name);
// The first pin of that direction named exactly `name`; null when none.
IPin* FindPinByName(IBaseFilter* filter, PIN_DIRECTION direction, const std::wstring& name);
// The index-th pin of that direction, or E_FAIL.
HRESULT FindPinByIndex(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin);
// "FriendlyName"s of a device category, at most 10.
std::vector<std::string> ListDeviceNames(REFCLSID category);

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

    // Stops the graph, waits a second and leaves a fresh, empty graph.
    void StopCaptureGraph(HWND notifyWindow);
    // Ends the capture streams so everything downstream finishes its data.
    void EndCaptureStreams();
    // Takes one pending graph event; false when none is left.
    bool TakeEvent(long& code);

    // The audio test's graph: the audio source into "WAV Dest"; stores the
    // source's first output pin name as "Audio Output".
    bool BuildAudioTestGraph();

    IBaseFilter* Filter(recorder::GraphFilter filter) const { return filters_[static_cast<int>(filter)]; }
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
    bool AddAsfWriter() override;
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

    IGraphBuilder* graph_ = nullptr;
    ICaptureGraphBuilder2* builder_ = nullptr;
    IMediaControl* control_ = nullptr;
    IMediaEventEx* events_ = nullptr;
    IVideoWindow* videoWindow_ = nullptr;
    IBasicVideo* basicVideo_ = nullptr;
    IMediaPosition* position_ = nullptr;
    IMediaSeeking* seeking_ = nullptr;
    IBaseFilter* filters_[static_cast<int>(recorder::GraphFilter::Count)] = {};
    IFileSinkFilter* sink_ = nullptr;
    std::wstring target_;
    recorder::Continuation continuation_;
};

}  // namespace zelbo
