// The order and the failure texts of the in-process capture graphs. The
// DirectShow work itself (finding filters, connecting pins, IModuleConfig)
// is asked of GraphOps, so the sequence runs and is tested without COM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"

namespace recorder {

enum class GraphFilter {
    Screen,
    VideoEncoder,
    Mux,
    FileWriter,
    Timer,
    AudioEncoder,
    AudioSource,
    AcmWrapper,
    WavDest,
    AsfWriter,
    Count
};

enum class FilterCategory { VideoInput, Legacy, AudioInput };

struct FilterName {
    const char* friendlyName;  // empty for the audio source (its device name) and the ASF writer
    const char* messageName;   // in "Cannot install %s filter"
    FilterCategory category;
};
const FilterName& NameOf(GraphFilter filter);

// What setting the file writer's target name gave.
enum class SinkNameResult { Ok, NoInterface, Failed };

class GraphOps {
public:
    virtual ~GraphOps() = default;

    virtual bool HasGraph() = 0;
    // Finds the filter by exact friendly name in its category and adds it to
    // the graph under that name; false when it is not installed.
    virtual bool AddFilter(GraphFilter filter, const std::string& friendlyName) = 0;
    // Direct connection without a media type; an empty pin name is not
    // expected. False when either pin is missing or the connection fails.
    virtual bool Connect(GraphFilter from, const std::string& outPin, GraphFilter to, const std::string& inPin) = 0;

    virtual SinkNameResult SetSinkFileName(const std::string& target) = 0;
    virtual bool ConfigureSink() = 0;
    virtual bool ConfigureMux() = 0;
    virtual bool ConfigureVideoEncoder(int bitsPerSecond) = 0;
    // The audio encoder's bitrate: the offered value nearest `kbps`.
    virtual bool ConfigureAudioEncoder(int kbps) = 0;

    // WMV graph.
    // Loads and applies the written profile; the writer writes `target`.
    virtual bool AddAsfWriter(const std::string& target) = 0;
    virtual bool RenderScreenToAsfWriter() = 0;
    virtual bool WriteWmvProfile(const Settings& settings, const Region& rounded) = 0;

    virtual bool ReadRegion(Region& region) = 0;
    virtual bool WriteRegion(Region& region) = 0;
    virtual void Wait(unsigned milliseconds) = 0;
    // IMediaControl::Run: Ok, Failed, or NoControl when the graph lacks it.
    enum class RunResult { Ok, Failed, NoControl };
    virtual RunResult Run() = 0;

    virtual void ShowMessage(const std::string& text) = 0;
};

// The VBR limits that go with a bitrate b (bit/s): a minimum above b drops
// to b / 2; a maximum below b rises to b x 1.5. A value that needs no change
// keeps its flag false.
struct VbrLimits {
    bool setMinimum = false;
    int minimum = 0;
    bool setMaximum = false;
    int maximum = 0;
};
VbrLimits VbrLimitsFor(int bitrate, int currentMinimum, int currentMaximum);

// The position of the offered value (kbit/s) nearest `kbps`, the lower one
// of two as near; -1 when nothing is offered.
int NearestOffered(const std::vector<int>& offeredKbps, int kbps);

// What the user is told when the running graph gives up with `result` (an
// HRESULT) while recording into `target`.
std::string GraphFailureText(std::uint32_t result, const std::string& target);

// "Video Bitrate" (kbit/s) as bit/s, saturating instead of overflowing.
int VideoBitsPerSecond(int kbps);

bool BuildMpegCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target);
bool ConnectMpegCapturePins(GraphOps& ops, const Settings& settings);
bool BuildWmvCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target);
bool ConnectWmvCapturePins(GraphOps& ops, const Settings& settings);

// Reads, rounds and writes the region, builds the graph of the format,
// waits a second and runs it. True when the graph runs.
bool StartCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target, Region& region);

}  // namespace recorder
