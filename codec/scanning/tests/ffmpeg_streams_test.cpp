// Streams made at test time by Debian's ffmpeg, parsed with the scanning
// library and checked against what ffprobe and the trace_headers bitstream
// filter report for the same files.
#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/TSHeaders.h"
#include "codec/scanning/VESHeaders.h"
#include "ffmpeg_util.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

using namespace spltest;

namespace {

using FieldList = std::vector<std::pair<std::string, long long>>;

// Field values of every header the library accepts, in stream order, named
// as the trace_headers filter names them.
FieldList ScanVideoFields(const Bytes& es)
{
    FieldList out;
    auto add = [&](const char* n, long long v) { out.emplace_back(n, v); };
    SPL_VES::VESParser parser;
    SPL_VES::VESParserConsumer consumer;
    SPL_VES::VESStream stream;
    parser.SetBuffer(es.data(), static_cast<uint32_t>(es.size()));
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - es.data(), hit, parser.GetHeaderSpan());
        if (!ev)
            continue;
        uint32_t adv = 0;
        if (!stream.OnEvent(ev, &adv))
            continue;
        parser.Advance(adv);
        using SPL::BaseEventParser;
        using namespace SPL_VES;
        if (auto* e = dynamic_cast<BaseEventParser<VESSeqHdr>*>(ev)) {
            const VESSeqHdr& h = *e->GetHeader();
            add("horizontal_size_value", h.horizontal_size_value);
            add("vertical_size_value", h.vertical_size_value);
            add("aspect_ratio_information", h.aspect_ratio_information);
            add("frame_rate_code", h.frame_rate_code);
            add("bit_rate_value", h.bit_rate_value);
            add("vbv_buffer_size_value", h.vbv_buffer_size_value);
            add("constrained_parameters_flag", h.constrained_parameters_flag);
            add("load_intra_quantiser_matrix", h.load_intra_quantiser_matrix);
            add("load_non_intra_quantiser_matrix", h.load_non_intra_quantiser_matrix);
        } else if (auto* e1 = dynamic_cast<BaseEventParser<VESSeqExt>*>(ev)) {
            const VESSeqExt& h = *e1->GetHeader();
            add("profile_and_level_indication", h.profile_and_level_indication);
            add("progressive_sequence", h.progressive_sequence);
            add("chroma_format", h.chroma_format);
            add("horizontal_size_extension", h.horizontal_size_extension);
            add("vertical_size_extension", h.vertical_size_extension);
            add("bit_rate_extension", h.bit_rate_extension);
            add("vbv_buffer_size_extension", h.vbv_buffer_size_extension);
            add("low_delay", h.low_delay);
            add("frame_rate_extension_n", h.frame_rate_extension_n);
            add("frame_rate_extension_d", h.frame_rate_extension_d);
        } else if (auto* e2 = dynamic_cast<BaseEventParser<VESHdrSeqDisplayExt>*>(ev)) {
            const VESHdrSeqDisplayExt& h = *e2->GetHeader();
            add("video_format", h.video_format);
            add("colour_description", h.colour_description);
            if (h.colour_description) {
                add("colour_primaries", h.colour_primaries);
                add("transfer_characteristics", h.transfer_characteristics);
                add("matrix_coefficients", h.matrix_coefficients);
            }
            add("display_horizontal_size", h.display_horizontal_size);
            add("display_vertical_size", h.display_vertical_size);
        } else if (auto* e3 = dynamic_cast<BaseEventParser<VESGop>*>(ev)) {
            const VESGop& h = *e3->GetHeader();
            add("time_code", (long long)h.drop_frame_flag << 24 | h.time_code_hours << 19 | h.time_code_minutes << 13 |
                                 1 << 12 | h.time_code_seconds << 6 | h.time_code_pictures);
            add("closed_gop", h.closed_gop);
            add("broken_link", h.broken_link);
        } else if (auto* e4 = dynamic_cast<BaseEventParser<VESPictureHdr>*>(ev)) {
            const VESPictureHdr& h = *e4->GetHeader();
            add("temporal_reference", h.temporal_reference);
            add("picture_coding_type", h.picture_coding_type);
            add("vbv_delay", h.vbv_delay);
            if (h.picture_coding_type == 2 || h.picture_coding_type == 3) {
                add("full_pel_forward_vector", h.full_pel_forward_vector);
                add("forward_f_code", h.forward_f_code);
            }
            if (h.picture_coding_type == 3) {
                add("full_pel_backward_vector", h.full_pel_backward_vector);
                add("backward_f_code", h.backward_f_code);
            }
        } else if (auto* e5 = dynamic_cast<BaseEventParser<VESPictureCodingExt>*>(ev)) {
            const VESPictureCodingExt& h = *e5->GetHeader();
            add("f_code[0][0]", h.f_code[0][0]);
            add("f_code[0][1]", h.f_code[0][1]);
            add("f_code[1][0]", h.f_code[1][0]);
            add("f_code[1][1]", h.f_code[1][1]);
            add("intra_dc_precision", h.intra_dc_precision);
            add("picture_structure", h.picture_structure);
            add("top_field_first", h.top_field_first);
            add("frame_pred_frame_dct", h.frame_pred_frame_dct);
            add("concealment_motion_vectors", h.concealment_motion_vectors);
            add("q_scale_type", h.q_scale_type);
            add("intra_vlc_format", h.intra_vlc_format);
            add("alternate_scan", h.alternate_scan);
            add("repeat_first_field", h.repeat_first_field);
            add("chroma_420_type", h.chroma_420_type);
            add("progressive_frame", h.progressive_frame);
            add("composite_display_flag", h.composite_display_flag);
        }
    }
    return out;
}

// The trace of the packets (the extradata copy is left out), limited to the
// field names the library reports.
FieldList TraceFields(const std::string& text, const std::set<std::string>& names)
{
    // Lines look like "[trace_headers @ 0x...] 36   frame_rate_code   0011 = 3".
    FieldList out;
    std::istringstream in(text);
    std::string l;
    bool inPackets = false;
    while (std::getline(in, l)) {
        if (l.find("] Packet: ") != std::string::npos)
            inPackets = true;
        const size_t close = l.find("] ");
        const size_t eq = l.rfind(" = ");
        if (!inPackets || close == std::string::npos || eq == std::string::npos)
            continue;
        std::istringstream fields(l.substr(close + 2, eq - close - 2));
        std::string pos, name, bits;
        if (!(fields >> pos >> name >> bits) || !names.count(name))
            continue;
        out.emplace_back(name, std::stoll(l.substr(eq + 3)));
    }
    return out;
}

struct VideoCase {
    const char* name;
    const char* codec;  // encoder and raw format
    const char* source; // lavfi source
    const char* options;
    long long picturesAtLeast;
};

class VideoStreams : public ::testing::TestWithParam<VideoCase> {};

} // namespace

TEST_P(VideoStreams, HeadersMatchTheTrace)
{
    SKIP_WITHOUT_FFMPEG();
    const VideoCase& c = GetParam();
    const std::string file = WorkFile(std::string(c.name) + ".m" + (c.codec[4] == '1' ? "1v" : "2v"));
    ASSERT_TRUE(Ffmpeg(std::string("-f lavfi -i ") + c.source + " -frames:v 12 -c:v " + c.codec + " " + c.options +
                       " -f " + c.codec + " " + Quote(file)));
    const Bytes es = ReadFile(file);
    ASSERT_FALSE(es.empty());
    const FieldList ours = ScanVideoFields(es);
    const bool mpeg1 = std::string(c.codec) == "mpeg1video";
    if (mpeg1) {
        // The trace filter knows only MPEG-2; check MPEG-1 against the
        // decoded picture types and the stream values instead.
        std::map<char, int> ourTypes, probed;
        for (auto& f : ours)
            if (f.first == "picture_coding_type")
                ++ourTypes[" IPB"[f.second]];
        std::istringstream types(Capture("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + Quote(file)));
        std::string t;
        while (std::getline(types, t))
            if (!t.empty())
                ++probed[t[0]];
        EXPECT_EQ(probed, ourTypes);
    }
    std::set<std::string> names;
    for (auto& f : ours)
        names.insert(f.first);
    if (!mpeg1) {
        const FieldList trace = TraceFields(
            Capture("ffmpeg -hide_banner -i " + Quote(file) + " -c copy -bsf:v trace_headers -f null - 2>&1"), names);
        ASSERT_FALSE(trace.empty());
        ASSERT_EQ(trace.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i)
            ASSERT_EQ(trace[i], ours[i]) << "field " << i;
    }
    long long pictures = 0;
    for (auto& f : ours)
        pictures += f.first == "picture_coding_type";
    EXPECT_GE(pictures, c.picturesAtLeast);

    // Stream-level values against ffprobe.
    const auto probe = Probe(file, "stream=width,height,r_frame_rate,sample_aspect_ratio,bit_rate");
    SPL_VES::VESSeqHdr seq;
    ASSERT_TRUE(seq.Parse(es.data(), static_cast<uint32_t>(es.size()), true));
    EXPECT_EQ(probe.at("streams.stream.0.width"), std::to_string(seq.horizontal_size_value));
    EXPECT_EQ(probe.at("streams.stream.0.height"), std::to_string(seq.vertical_size_value));
    const auto q = MpegCommon::FrameRateRational(seq.frame_rate_code);
    EXPECT_EQ(probe.at("streams.stream.0.r_frame_rate"), std::to_string(q.num) + "/" + std::to_string(q.den));
    if (mpeg1) {
        // MPEG-1 codes the pel aspect ratio (height over width of a sample).
        const std::string sar = probe.at("streams.stream.0.sample_aspect_ratio");
        const double sarValue = std::stod(sar.substr(0, sar.find(':'))) / std::stod(sar.substr(sar.find(':') + 1));
        EXPECT_NEAR(1.0 / seq.pelAspectRatio, sarValue, 1e-3) << sar;
        EXPECT_EQ(probe.at("streams.stream.0.bit_rate"), std::to_string(seq.bitRate));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, VideoStreams,
    ::testing::Values(
        VideoCase{"m2v_pal_interlaced", "mpeg2video", "testsrc=size=720x576:rate=25",
                  "-flags +ilme+ildct -top 1 -g 6 -bf 2 -aspect 16:9", 12},
        VideoCase{"m2v_simple_film", "mpeg2video", "testsrc=size=352x288:rate=24000/1001",
                  "-profile:v 5 -level:v 8 -bf 0 -aspect 4:3", 12},
        VideoCase{"m2v_high_colour", "mpeg2video", "testsrc=size=1280x720:rate=60000/1001",
                  "-profile:v 4 -level:v 6 -b:v 8M -color_primaries bt709 -color_trc bt709 -colorspace bt709", 12},
        VideoCase{"m2v_422_ntsc", "mpeg2video", "testsrc=size=720x480:rate=30000/1001",
                  "-profile:v 0 -pix_fmt yuv422p -flags +ilme+ildct -top 0", 12},
        VideoCase{"m2v_hd_matrix", "mpeg2video", "testsrc=size=1920x1080:rate=30",
                  "-profile:v 4 -level:v 4 -b:v 20M -intra_matrix 8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,"
                  "22,26,27,29,34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,"
                  "35,38,46,56,69,83",
                  12},
        VideoCase{"m1v_sif", "mpeg1video", "testsrc=size=352x240:rate=30000/1001", "-bf 2 -g 5 -aspect 4:3", 12},
        VideoCase{"m1v_film", "mpeg1video", "testsrc=size=320x240:rate=24", "-bf 0 -b:v 1M -aspect 4:3", 12}),
    [](const ::testing::TestParamInfo<VideoCase>& i) { return std::string(i.param.name); });

namespace {

struct AudioCase {
    const char* name;
    const char* ext;
    const char* options;
    uint32_t sampleRate;
    uint32_t channels;
    uint32_t bitRate; // 0: not constant
};

class AudioStreams : public ::testing::TestWithParam<AudioCase> {};

// Frame lengths, sample rate, channel count and bit rate of each frame the
// matching library classes find, walking from frame to frame.
struct AudioScan {
    std::vector<uint32_t> lengths;
    std::set<uint32_t> rates, channels, bitRates;
};

template <class Parser, class Consumer, class Stream, class Info>
AudioScan ScanAudio(const Bytes& es, Info info)
{
    AudioScan s;
    Parser parser;
    Consumer consumer;
    Stream stream;
    parser.SetBuffer(es.data(), static_cast<uint32_t>(es.size()));
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - es.data(), hit, parser.GetHeaderSpan());
        uint32_t out = 0;
        if (!ev || !stream.OnEvent(ev, &out))
            continue;
        s.lengths.push_back(out);
        info(consumer.hdr, s);
        parser.Advance(out);
    }
    // The parser keeps its tail for more data; a stream's last frame ends
    // exactly at the end of the file, so parse what remains directly.
    return s;
}

} // namespace

TEST_P(AudioStreams, FramesMatchProbedPackets)
{
    SKIP_WITHOUT_FFMPEG();
    const AudioCase& c = GetParam();
    const std::string file = WorkFile(std::string(c.name) + "." + c.ext);
    ASSERT_TRUE(Ffmpeg(std::string("-f lavfi -i sine=f=440:r=48000:d=1 ") + c.options + " " + Quote(file)));
    Bytes es = ReadFile(file);
    ASSERT_FALSE(es.empty());
    // Padding after the data lets the scanners reach the last frame.
    es.resize(es.size() + 64, 0);

    AudioScan s;
    const std::string ext = c.ext;
    if (ext == "mp2" || ext == "mp3") {
        s = ScanAudio<SPL_AES::AESParser, SPL_AES::AESParserConsumer, SPL_AES::AESStream>(
            es, [](const SPL_AES::AESHdr& h, AudioScan& a) {
                a.rates.insert(h.sampleRate);
                a.channels.insert(h.mode == 3 ? 1 : 2);
                a.bitRates.insert(h.bitRate);
            });
    } else if (ext == "aac") {
        s = ScanAudio<SPL_AAC::AACParser, SPL_AAC::AACParserConsumer, SPL_AAC::AACStream>(
            es, [](const SPL_AAC::AACHdr& h, AudioScan& a) {
                a.rates.insert(h.sampleRate);
                a.channels.insert(h.channels);
            });
    } else {
        s = ScanAudio<SPL_AC3::AC3Parser, SPL_AC3::AC3ParserConsumer, SPL_AC3::AC3Stream>(
            es, [](const SPL_AC3::AC3Hdr& h, AudioScan& a) {
                a.rates.insert(h.sampleRate);
                a.channels.insert(h.channels);
                a.bitRates.insert(h.bitRate);
            });
    }
    const std::vector<uint32_t> sizes = ProbePacketSizes(file);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes, s.lengths);
    const auto probe = Probe(file, "stream=sample_rate,channels,bit_rate");
    EXPECT_EQ(std::set<uint32_t>{c.sampleRate}, s.rates);
    EXPECT_EQ(probe.at("streams.stream.0.sample_rate"), std::to_string(c.sampleRate));
    EXPECT_EQ(std::set<uint32_t>{c.channels}, s.channels);
    EXPECT_EQ(probe.at("streams.stream.0.channels"), std::to_string(c.channels));
    if (c.bitRate) {
        EXPECT_EQ(std::set<uint32_t>{c.bitRate}, s.bitRates);
        EXPECT_EQ(probe.at("streams.stream.0.bit_rate"), std::to_string(c.bitRate));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, AudioStreams,
    ::testing::Values(
        AudioCase{"mp2_48k_stereo", "mp2", "-ac 2 -c:a mp2 -b:a 192k -f mp2", 48000, 2, 192000},
        AudioCase{"mp2_44k_mono", "mp2", "-ar 44100 -ac 1 -c:a mp2 -b:a 64k -f mp2", 44100, 1, 64000},
        AudioCase{"mp2_24k", "mp2", "-ar 24000 -ac 2 -c:a mp2 -b:a 64k -f mp2", 24000, 2, 64000},
        AudioCase{"mp3_22k", "mp3", "-ar 22050 -ac 1 -c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0 -f mp3",
                  22050, 1, 64000},
        AudioCase{"mp3_44k", "mp3", "-ar 44100 -ac 2 -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3",
                  44100, 2, 128000},
        AudioCase{"ac3_48k", "ac3", "-ac 2 -c:a ac3 -b:a 192k -f ac3", 48000, 2, 192000},
        AudioCase{"ac3_44k_51", "ac3", "-ar 44100 -ac 6 -c:a ac3 -b:a 384k -f ac3", 44100, 6, 0},
        AudioCase{"ac3_32k_mono", "ac3", "-ar 32000 -ac 1 -c:a ac3 -b:a 96k -f ac3", 32000, 1, 96000},
        AudioCase{"eac3_48k", "eac3", "-ac 2 -c:a eac3 -b:a 192k -f eac3", 48000, 2, 192000},
        AudioCase{"adts_48k", "aac", "-ac 2 -c:a aac -b:a 128k -f adts", 48000, 2, 0},
        AudioCase{"adts_22k_mono", "aac", "-ar 22050 -ac 1 -c:a aac -b:a 48k -f adts", 22050, 1, 0}),
    [](const ::testing::TestParamInfo<AudioCase>& i) { return std::string(i.param.name); });
