#include "recorder/core/CaptureGraph.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "recorder/core/RegionSelect.h"

namespace recorder {

namespace {

bool Add(GraphOps& ops, GraphFilter filter) {
    const FilterName& name = NameOf(filter);
    if (ops.AddFilter(filter, name.friendlyName)) return true;
    ops.ShowMessage(std::string("Cannot install ") + name.messageName + " filter");
    return false;
}

bool AddAudioSource(GraphOps& ops, const Settings& settings) {
    if (ops.AddFilter(GraphFilter::AudioSource, settings.audioSource)) return true;
    ops.ShowMessage("Cannot install " + settings.audioSource + " filter");
    return false;
}

bool Link(GraphOps& ops, GraphFilter from, const std::string& outPin, GraphFilter to, const char* inPin,
          const char* failure) {
    if (ops.Connect(from, outPin, to, inPin)) return true;
    ops.ShowMessage(failure);
    return false;
}

}  // namespace

const FilterName& NameOf(GraphFilter filter) {
    static const FilterName kNames[] = {
        {"UScreenCapture", "Screen Capture", FilterCategory::VideoInput},
        {"Korvell MPEG-2 Video Encoder", "MPEG Encoder", FilterCategory::Legacy},
        {"Korvell MPEG Muxteron", "Mux", FilterCategory::Legacy},
        {"Korvell Sink Filter", "File Writer", FilterCategory::Legacy},
        {"Korvell Chronel", "MPEG Chronel", FilterCategory::Legacy},
        {"Korvell Layer II Audio Encoder", "MPEG Audio Encoder", FilterCategory::Legacy},
        {"", "", FilterCategory::AudioInput},
        {"ACM Wrapper", "Wrapper", FilterCategory::Legacy},
        {"WAV Dest", "WAV Dest", FilterCategory::Legacy},
        {"", "ASF Writer", FilterCategory::Legacy},
    };
    static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(GraphFilter::Count), "one name per filter");
    const int index = static_cast<int>(filter);
    return kNames[index >= 0 && index < static_cast<int>(GraphFilter::Count) ? index : 0];
}

VbrLimits VbrLimitsFor(int bitrate, int currentMinimum, int currentMaximum) {
    VbrLimits limits;
    if (currentMinimum > bitrate) {
        limits.setMinimum = true;
        limits.minimum = bitrate / 2;
    }
    if (currentMaximum < bitrate) {
        limits.setMaximum = true;
        const long long raised = static_cast<long long>(bitrate) * 3 / 2;
        limits.maximum = raised > INT_MAX ? INT_MAX : raised < INT_MIN ? INT_MIN : static_cast<int>(raised);
    }
    return limits;
}

int NearestOffered(const std::vector<int>& offeredKbps, int kbps) {
    int best = -1;
    long long bestDistance = 0;
    for (std::size_t i = 0; i < offeredKbps.size(); ++i) {
        const long long distance = std::llabs(static_cast<long long>(offeredKbps[i]) - kbps);
        if (best < 0 || distance < bestDistance ||
            (distance == bestDistance && offeredKbps[i] < offeredKbps[static_cast<std::size_t>(best)])) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

std::string GraphFailureText(std::uint32_t result, const std::string& target) {
    struct Reason {
        std::uint32_t result;
        const char* text;
    };
    // Win32 errors as HRESULTs (0x8007xxxx) and their storage twins.
    static const Reason kReasons[] = {
        {0x80070070u, "the disk is full"},          {0x80030070u, "the disk is full"},
        {0x80070027u, "the disk is full"},          {0x80070005u, "access is denied"},
        {0x80030005u, "access is denied"},          {0x80070003u, "the folder does not exist"},
        {0x80070002u, "the folder does not exist"}, {0x80070013u, "the disk is write-protected"},
        {0x80070020u, "the file is in use"},        {0x8007001Du, "the disk cannot be written"},
    };
    std::string reason;
    for (const Reason& r : kReasons)
        if (r.result == result) reason = r.text;
    if (reason.empty()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
        reason = std::string("error ") + code;
    }
    return "Recording failed: " + target + " (" + reason + "). What was recorded until then is kept.";
}

int VideoBitsPerSecond(int kbps) {
    const long long bits = static_cast<long long>(kbps) * 1000;
    return bits > INT_MAX ? INT_MAX : bits < INT_MIN ? INT_MIN : static_cast<int>(bits);
}

bool BuildMpegCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target) {
    if (!Add(ops, GraphFilter::Screen)) return false;
    if (!Add(ops, GraphFilter::VideoEncoder)) return false;
    if (!Add(ops, GraphFilter::Mux)) return false;
    if (!ops.ConfigureMux()) ops.ShowMessage("MPEG Multiplexer cannot be configured");
    if (!Add(ops, GraphFilter::FileWriter)) return false;
    switch (ops.SetSinkFileName(target)) {
        case SinkNameResult::Ok:
            break;
        case SinkNameResult::NoInterface:
            ops.ShowMessage("Cannot query File Sink filter");
            return false;
        case SinkNameResult::Failed:
            ops.ShowMessage("Cannot create file " + target);
            return false;
    }
    if (!ops.ConfigureSink()) ops.ShowMessage("Cannot configure MPEG writer");
    if (!Add(ops, GraphFilter::Timer)) return false;
    // A video-only recording has no audio branch at all.
    if (settings.videoOnly) return true;
    if (!Add(ops, GraphFilter::AudioEncoder)) return false;
    return AddAudioSource(ops, settings);
}

bool ConnectMpegCapturePins(GraphOps& ops, const Settings& settings) {
    const bool audio = !settings.videoOnly;
    if (audio && !Link(ops, GraphFilter::AudioSource, settings.audioOutput, GraphFilter::AudioEncoder, "XForm In",
                       "Cannot connect Audio to Encoder"))
        return false;
    // The encoder offers its bitrates once it knows its input's format.
    if (audio && !ops.ConfigureAudioEncoder(settings.audioBitrate)) ops.ShowMessage("Cannot configure audio encoder");
    if (!Link(ops, GraphFilter::Screen, "Capture", GraphFilter::VideoEncoder, "Input",
              "Cannot connect Screen Capture to Encoder"))
        return false;
    // The encoder commits its bitrates only while its input is connected.
    if (!ops.ConfigureVideoEncoder(VideoBitsPerSecond(settings.videoBitrate)))
        ops.ShowMessage("Cannot configure video encoder");
    if (!Link(ops, GraphFilter::VideoEncoder, "Output", GraphFilter::Mux, "Input0", "Cannot connect Encoder to Mux"))
        return false;
    if (!Link(ops, GraphFilter::Mux, "Out", GraphFilter::Timer, "Input", "Cannot connect Mux to Timer")) return false;
    if (!Link(ops, GraphFilter::Timer, "Output", GraphFilter::FileWriter, "Input",
              "Cannot connect Timer to File Writer"))
        return false;
    if (audio && !Link(ops, GraphFilter::AudioEncoder, "XForm Out", GraphFilter::Mux, "Input1",
                       "Cannot connect Audio Encoder to Mux"))
        return false;
    return true;
}

bool BuildWmvCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target) {
    if (!settings.audioOnly && !Add(ops, GraphFilter::Screen)) return false;
    if (!ops.AddAsfWriter(target)) {
        ops.ShowMessage("Cannot install ASF Writer");
        return false;
    }
    if (settings.videoOnly) return true;
    if (!AddAudioSource(ops, settings)) return false;
    return Add(ops, GraphFilter::AcmWrapper);
}

bool ConnectWmvCapturePins(GraphOps& ops, const Settings& settings) {
    if (!settings.videoOnly) {
        if (!Link(ops, GraphFilter::AudioSource, settings.audioOutput, GraphFilter::AcmWrapper, "Input",
                  "Cannot connect Audio to Wrapper"))
            return false;
        if (!Link(ops, GraphFilter::AcmWrapper, "Output", GraphFilter::AsfWriter, "Audio Input 01",
                  "Cannot connect Wrapper to Encoder"))
            return false;
    }
    if (!settings.audioOnly && !ops.RenderScreenToAsfWriter()) {
        ops.ShowMessage(settings.protocol == 3 ? "Cannot install Windows Media MPEG-4 codec"
                                               : "Cannot install Windows Media 9 codec");
        return false;
    }
    return true;
}

bool StartCaptureGraph(GraphOps& ops, const Settings& settings, const std::string& target, Region& region) {
    if (!ops.HasGraph()) {
        ops.ShowMessage("Cannot query FilterGraph");
        return false;
    }
    if (!ops.ReadRegion(region)) {
        ops.ShowMessage("Cannot read the registry.");
        return false;
    }
    // Values written by hand or by another program may be inverted or tiny.
    region = RoundRegion(NormaliseRegion(region, Rect{}));
    region.frameRate = settings.frameRate;
    ops.WriteRegion(region);

    switch (settings.protocol) {
        case 0:
        case 2:
            // MPEG-1 builds the same graph; the encoder's own settings decide.
            if (!BuildMpegCaptureGraph(ops, settings, target) || !ConnectMpegCapturePins(ops, settings)) return false;
            break;
        case 1:
            if (!ops.WriteWmvProfile(settings, region)) return false;
            if (!BuildWmvCaptureGraph(ops, settings, target) || !ConnectWmvCapturePins(ops, settings)) return false;
            break;
        default:
            return false;  // Windows Media MPEG-4 records through the engine only
    }

    ops.Wait(1000);
    switch (ops.Run()) {
        case GraphOps::RunResult::Ok:
            return true;
        case GraphOps::RunResult::Failed:
            ops.ShowMessage("Cannot run graph");
            return false;
        case GraphOps::RunResult::NoControl:
            // A graph that cannot be run records nothing, whatever its format.
            ops.ShowMessage("Cannot run graph (2)");
            return false;
    }
    return false;
}

}  // namespace recorder
