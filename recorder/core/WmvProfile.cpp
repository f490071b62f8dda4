#include "recorder/core/WmvProfile.h"

#include <sstream>

namespace recorder {

namespace {

const char kAudioMajorType[] = "{73647561-0000-0010-8000-00AA00389B71}";
const char kVideoMajorType[] = "{73646976-0000-0010-8000-00AA00389B71}";
const char kWmaSubtype[] = "{00000161-0000-0010-8000-00AA00389B71}";
const int kWmaFormatTag = 353;
const int kMinVideoKbps = 32;
const int kMaxVideoKbps = 6000;
const int kMinFps = 5;
const int kMaxFps = 30;
const long kHundredNsPerSecond = 10000000;

struct VideoCodec {
    const char* fourcc;
    const char* subtype;
};
const VideoCodec kVideoCodecs[] = {
    {"WMV3", "{33564D57-0000-0010-8000-00AA00389B71}"},
    {"MP4S", "{5334504D-0000-0010-8000-00AA00389B71}"},
    {"WVC1", "{31435657-0000-0010-8000-00AA00389B71}"},
    {"WMV2", "{32564D57-0000-0010-8000-00AA00389B71}"},
};

struct AudioRate {
    int kbps;
    int streamBitrate;
    int bytesPerSecond;
    int blockSize;
    const char* codecData;
};
const AudioRate kAudioRates[] = {
    {32, 31960, 3995, 742, "008800001F0000000000"},     {64, 64040, 8005, 1487, "008800000F0000000000"},
    {96, 96024, 12003, 4459, "008800000F0000000000"},   {128, 128016, 16002, 5945, "008800000F0000000000"},
    {192, 192016, 24002, 8917, "008800000F0000000000"}, {256, 256032, 32004, 5945, "008800000F0000000000"},
};

const AudioRate* FindAudioRate(int kbps) {
    for (const AudioRate& a : kAudioRates)
        if (a.kbps == kbps) return &a;
    return nullptr;
}

bool VideoInRange(const WmvVideo& v) {
    return v.width > 0 && v.height > 0 && v.kbps >= kMinVideoKbps && v.kbps <= kMaxVideoKbps && v.fps >= kMinFps &&
           v.fps <= kMaxFps && v.codec >= 0 && v.codec < static_cast<int>(sizeof kVideoCodecs / sizeof kVideoCodecs[0]);
}

void Profile(std::ostringstream& x, const char* description) {
    x << "<profile version=\"589824\" storageformat=\"1\" name=\"Parv Profile\" description=\"" << description
      << "\">\n";
}

void AudioStream(std::ostringstream& x, const AudioRate& a) {
    x << "  <streamconfig majortype=\"" << kAudioMajorType
      << "\" streamnumber=\"1\" streamname=\"Audio Stream\" inputname=\"Audio409\" bitrate=\"" << a.streamBitrate
      << "\" bufferwindow=\"-1\" reliabletransport=\"0\" decodercomplexity=\"\" rfc1766langid=\"en-us\">\n"
      << "    <wmmediatype subtype=\"" << kWmaSubtype
      << "\" bfixedsizesamples=\"1\" btemporalcompression=\"0\" lsamplesize=\"" << a.blockSize << "\">\n"
      << "      <waveformatex wFormatTag=\"" << kWmaFormatTag << "\" nChannels=\"2\" nSamplesPerSec=\"44100\""
      << " nAvgBytesPerSec=\"" << a.bytesPerSecond << "\" nBlockAlign=\"" << a.blockSize
      << "\" wBitsPerSample=\"16\" codecdata=\"" << a.codecData << "\"/>\n"
      << "    </wmmediatype>\n"
      << "  </streamconfig>\n";
}

void VideoStream(std::ostringstream& x, const WmvVideo& v, bool withAudio) {
    const VideoCodec& codec = kVideoCodecs[v.codec];
    const long bitrate = static_cast<long>(v.kbps) * 1000;
    x << "  <streamconfig majortype=\"" << kVideoMajorType << "\" streamnumber=\"" << (withAudio ? 2 : 1)
      << "\" streamname=\"Video Stream\" inputname=\"Video409\" bitrate=\"" << bitrate << "\" bufferwindow=\""
      << (withAudio ? 5000 : -1) << "\" reliabletransport=\"0\" decodercomplexity=\"" << (withAudio ? "" : "AU")
      << "\" rfc1766langid=\"en-us\">\n"
      << "    <videomediaprops maxkeyframespacing=\"" << (withAudio ? 100000000 : 80000000) << "\" quality=\"80\"/>\n"
      << "    <wmmediatype subtype=\"" << codec.subtype
      << "\" bfixedsizesamples=\"0\" btemporalcompression=\"1\" lsamplesize=\"0\">\n"
      << "      <videoinfoheader dwbitrate=\"" << bitrate << "\" dwbiterrorrate=\"0\" avgtimeperframe=\""
      << kHundredNsPerSecond / v.fps << "\">\n"
      << "        <rcsource left=\"0\" top=\"0\" right=\"0\" bottom=\"0\"/>\n"
      << "        <rctarget left=\"0\" top=\"0\" right=\"0\" bottom=\"0\"/>\n"
      << "        <bitmapinfoheader biwidth=\"" << v.width << "\" biheight=\"" << v.height
      << "\" biplanes=\"1\" bibitcount=\"24\" bicompression=\"" << codec.fourcc
      << "\" bisizeimage=\"0\" bixpelspermeter=\"0\" biypelspermeter=\"0\" biclrused=\"0\" biclrimportant=\"0\"/>\n"
      << "      </videoinfoheader>\n"
      << "    </wmmediatype>\n"
      << "  </streamconfig>\n";
}

}  // namespace

std::optional<std::string> VideoProfileXml(const WmvVideo& video) {
    if (!VideoInRange(video)) return std::nullopt;
    std::ostringstream x;
    Profile(x, "Streams: 1 video");
    VideoStream(x, video, false);
    x << "</profile>\n";
    return x.str();
}

std::optional<std::string> AudioProfileXml(int audioKbps) {
    const AudioRate* audio = FindAudioRate(audioKbps);
    if (!audio) return std::nullopt;
    std::ostringstream x;
    Profile(x, "Streams: 1 audio");
    AudioStream(x, *audio);
    x << "</profile>\n";
    return x.str();
}

std::optional<std::string> AvProfileXml(const WmvVideo& video, int audioKbps) {
    const AudioRate* audio = FindAudioRate(audioKbps);
    if (!audio || !VideoInRange(video)) return std::nullopt;
    std::ostringstream x;
    Profile(x, "Streams: 1 audio 1 video");
    AudioStream(x, *audio);
    VideoStream(x, video, true);
    x << "</profile>\n";
    return x.str();
}

std::optional<std::vector<std::uint8_t>> ProfileFileImage(const std::string& xml) {
    // Two bytes per character, and a zero character after the text.
    if ((xml.size() + 1) * 2 > kWmvProfileFileBytes) return std::nullopt;
    std::vector<std::uint8_t> image(kWmvProfileFileBytes, 0);
    // The text is ASCII: each character is its own UTF-16 code unit.
    for (std::size_t i = 0; i < xml.size(); ++i) image[2 * i] = static_cast<std::uint8_t>(xml[i]);
    return image;
}

}  // namespace recorder
