// Streams made at test time by Debian's ffmpeg, parsed with the scanning
// library and checked against what ffprobe and the trace_headers bitstream
// filter report for the same files.
#include "codec/common/Crc32Mpeg.h"
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
FieldList ScanVideoFields(const Bytes& es) {
    FieldList out;
    auto add = [&](const char* n, long long v) { out.emplace_back(n, v); };
    SPL_VES::VESParser parser;
    SPL_VES::VESParserConsumer consumer;
    SPL_VES::VESStream stream;
    parser.SetBuffer(es.data(), static_cast<uint32_t>(es.size()));
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - es.data(), hit, parser.GetHeaderSpan());
        if (!ev) continue;
        uint32_t adv = 0;
        if (!stream.OnEvent(ev, &adv)) continue;
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
FieldList TraceFields(const std::string& text, const std::set<std::string>& names) {
    // Lines look like "[trace_headers @ 0x...] 36   frame_rate_code   0011 = 3".
    FieldList out;
    std::istringstream in(text);
    std::string l;
    bool inPackets = false;
    while (std::getline(in, l)) {
        if (l.find("] Packet: ") != std::string::npos) inPackets = true;
        const size_t close = l.find("] ");
        const size_t eq = l.rfind(" = ");
        if (!inPackets || close == std::string::npos || eq == std::string::npos) continue;
        std::istringstream fields(l.substr(close + 2, eq - close - 2));
        std::string pos, name, bits;
        if (!(fields >> pos >> name >> bits) || !names.count(name)) continue;
        out.emplace_back(name, std::stoll(l.substr(eq + 3)));
    }
    return out;
}

struct VideoCase {
    const char* name;
    const char* codec;   // encoder and raw format
    const char* source;  // lavfi source
    const char* options;
    long long picturesAtLeast;
};

class VideoStreams : public ::testing::TestWithParam<VideoCase> {};

}  // namespace

TEST_P(VideoStreams, HeadersMatchTheTrace) {
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
            if (f.first == "picture_coding_type") ++ourTypes[" IPB"[f.second]];
        std::istringstream types(Capture("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + Quote(file)));
        std::string t;
        while (std::getline(types, t))
            if (!t.empty()) ++probed[t[0]];
        EXPECT_EQ(probed, ourTypes);
    }
    std::set<std::string> names;
    for (auto& f : ours) names.insert(f.first);
    if (!mpeg1) {
        const FieldList trace = TraceFields(
            Capture("ffmpeg -hide_banner -i " + Quote(file) + " -c copy -bsf:v trace_headers -f null - 2>&1"), names);
        ASSERT_FALSE(trace.empty());
        ASSERT_EQ(trace.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(trace[i], ours[i]) << "field " << i;
    }
    long long pictures = 0;
    for (auto& f : ours) pictures += f.first == "picture_coding_type";
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
                  "-profile:v 4 -level:v 4 -b:v 20M -intra_matrix "
                  "8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,"
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
    uint32_t bitRate;  // 0: not constant
};

class AudioStreams : public ::testing::TestWithParam<AudioCase> {};

// Frame lengths, sample rate, channel count and bit rate of each frame the
// matching library classes find, walking from frame to frame.
struct AudioScan {
    std::vector<uint32_t> lengths;
    std::set<uint32_t> rates, channels, bitRates;
};

template <class Parser, class Consumer, class Stream, class Info>
AudioScan ScanAudio(const Bytes& es, Info info) {
    AudioScan s;
    Parser parser;
    Consumer consumer;
    Stream stream;
    parser.SetBuffer(es.data(), static_cast<uint32_t>(es.size()));
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - es.data(), hit, parser.GetHeaderSpan());
        uint32_t out = 0;
        if (!ev || !stream.OnEvent(ev, &out)) continue;
        s.lengths.push_back(out);
        info(consumer.hdr, s);
        parser.Advance(out);
    }
    return s;
}

}  // namespace

TEST_P(AudioStreams, FramesMatchProbedPackets) {
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
    ::testing::Values(AudioCase{"mp2_48k_stereo", "mp2", "-ac 2 -c:a mp2 -b:a 192k -f mp2", 48000, 2, 192000},
                      AudioCase{"mp2_44k_mono", "mp2", "-ar 44100 -ac 1 -c:a mp2 -b:a 64k -f mp2", 44100, 1, 64000},
                      AudioCase{"mp2_24k", "mp2", "-ar 24000 -ac 2 -c:a mp2 -b:a 64k -f mp2", 24000, 2, 64000},
                      AudioCase{"mp3_22k", "mp3",
                                "-ar 22050 -ac 1 -c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0 -f mp3", 22050,
                                1, 64000},
                      AudioCase{"mp3_44k", "mp3",
                                "-ar 44100 -ac 2 -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3",
                                44100, 2, 128000},
                      AudioCase{"ac3_48k", "ac3", "-ac 2 -c:a ac3 -b:a 192k -f ac3", 48000, 2, 192000},
                      AudioCase{"ac3_44k_51", "ac3", "-ar 44100 -ac 6 -c:a ac3 -b:a 384k -f ac3", 44100, 6, 0},
                      AudioCase{"ac3_32k_mono", "ac3", "-ar 32000 -ac 1 -c:a ac3 -b:a 96k -f ac3", 32000, 1, 96000},
                      AudioCase{"eac3_48k", "eac3", "-ac 2 -c:a eac3 -b:a 192k -f eac3", 48000, 2, 192000},
                      AudioCase{"adts_48k", "aac", "-ac 2 -c:a aac -b:a 128k -f adts", 48000, 2, 0},
                      AudioCase{"adts_22k_mono", "aac", "-ar 22050 -ac 1 -c:a aac -b:a 48k -f adts", 22050, 1, 0}),
    [](const ::testing::TestParamInfo<AudioCase>& i) { return std::string(i.param.name); });

namespace {

struct PesTotals {
    std::set<long long> pts;
    long long dtsCount = 0;
    uint64_t payload = 0;
    int packets = 0;
};

// stream number in ffprobe's order -> the PES stream key it is carried under
int ProbeIndexOf(const std::map<std::string, std::string>& probe, const std::string& id) {
    for (int i = 0; i < 8; ++i) {
        auto it = probe.find("streams.stream." + std::to_string(i) + ".id");
        if (it != probe.end() && it->second == id) return i;
    }
    return -1;
}

std::map<int, std::pair<std::set<long long>, uint64_t>> ProbedByStream(const std::string& file) {
    std::map<int, std::pair<std::set<long long>, uint64_t>> m;
    for (const auto& p : ProbePackets(file)) {
        if (p.pts >= 0) m[p.stream].first.insert(p.pts);
        m[p.stream].second += p.size;
    }
    return m;
}

struct PesSizes : SPL::StreamStateListener {
    uint32_t lastPayload = 0;
    void OnStreamState(SPL::StreamStateHelper* s) override {
        auto* st = dynamic_cast<SPL_PS::PSPESStream*>(s);
        if (st->GetState() == SPL_PS::PES_PAYLOAD) lastPayload = st->Current()->GetLength();
    }
};

}  // namespace

TEST(FfmpegProgramStream, PacksSystemHeaderAndPesMatchProbe) {
    SKIP_WITHOUT_FFMPEG();
    const std::string file = WorkFile("av.vob");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=f=440:r=48000 -t 2 -map 0:v "
               "-map 1:a -map 1:a -c:v mpeg2video -bf 2 -c:a:0 mp2 -b:a:0 192k -c:a:1 ac3 -b:a:1 192k -f vob " +
               Quote(file)));
    const Bytes ps = ReadFile(file);
    ASSERT_FALSE(ps.empty());

    SPL_PS::PSProgramStreamParser parser(1, 15);
    SPL_PS::PSProgramStreamParserConsumer consumer;
    SPL_PS::PSPESStream stream;
    PesSizes sizes;
    stream.AddListener(&sizes);
    std::map<int, PesTotals> pes;  // stream id, or 0x100 + sub-stream id
    int packs = 0, systemHeaders = 0;
    uint64_t lastScr = 0;
    std::set<int> systemIds;
    parser.SetBuffer(ps.data(), static_cast<uint32_t>(ps.size()));
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - ps.data(), hit, parser.GetHeaderSpan());
        if (!ev) continue;
        if (dynamic_cast<SPL::BaseEventParser<SPL_PS::PSPackHeader>*>(ev)) {
            ++packs;
            EXPECT_GE(consumer.pack.system_clock_reference_base, lastScr);
            lastScr = consumer.pack.system_clock_reference_base;
            EXPECT_GT(consumer.pack.program_mux_rate, 0u);
        } else if (dynamic_cast<SPL::BaseEventParser<SPL_PS::PSHdrSysPack>*>(ev)) {
            ++systemHeaders;
            for (uint32_t i = 0; i < consumer.system.stream_count; ++i) systemIds.insert(consumer.system.stream_ids[i]);
            EXPECT_EQ(1u, consumer.system.video_bound);
            EXPECT_GE(consumer.system.audio_bound, 2u);
        } else if (dynamic_cast<SPL::BaseEventParser<SPL_PS::PSPesPacket>*>(ev)) {
            const SPL_PS::PSPesPacket& h = consumer.pes;
            uint32_t part = 0;
            ASSERT_TRUE(stream.OnEvent(ev, &part));
            ASSERT_EQ(h.PacketSize(), part);  // the whole packet is in the buffer
            const int key = h.stream_id == 0xBD ? 0x100 + h.sub_stream_id : h.stream_id;
            PesTotals& t = pes[key];
            ++t.packets;
            // AC-3 in private stream 1 has a 4-byte sub-stream header.
            t.payload += sizes.lastPayload - (h.stream_id == 0xBD ? 4 : 0);
            if (h.HasPts()) t.pts.insert(static_cast<long long>(h.PTS()));
            t.dtsCount += h.HasDts();
            parser.Advance(part);
        }
    }
    EXPECT_GT(packs, 10);
    EXPECT_GE(systemHeaders, 1);
    EXPECT_TRUE(systemIds.count(0xE0) && systemIds.count(0xC0) && systemIds.count(0xBD));
    pes.erase(0xBE);  // padding packets
    ASSERT_EQ(3u, pes.size());
    EXPECT_GT(pes[0xE0].dtsCount, 0);  // B-pictures make DTS differ

    const auto probe = Probe(file, "stream=id");
    const auto probed = ProbedByStream(file);
    const struct {
        int key;
        const char* id;
    } streams[] = {{0xE0, "0x1e0"}, {0xC0, "0x1c0"}, {0x180, "0x80"}};
    for (const auto& s : streams) {
        const int idx = ProbeIndexOf(probe, s.id);
        ASSERT_GE(idx, 0) << s.id;
        const auto& ours = pes[s.key];
        ASSERT_FALSE(ours.pts.empty()) << s.id;
        for (long long t : ours.pts) EXPECT_TRUE(probed.at(idx).first.count(t)) << s.id << " PTS " << t;
        if (s.key != 0xE0) {
            EXPECT_EQ(probed.at(idx).second, ours.payload) << s.id;
        }
    }
}

TEST(FfmpegTransportStream, TablesPcrAndPesMatchProbe) {
    SKIP_WITHOUT_FFMPEG();
    const std::string file = WorkFile("av.ts");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=f=440:r=48000 -t 2 -map 0:v "
               "-map 1:a -map 1:a -c:v mpeg2video -bf 2 -c:a:0 mp2 -c:a:1 ac3 -f mpegts " +
               Quote(file)));
    const Bytes ts = ReadFile(file);
    ASSERT_EQ(0u, ts.size() % 188);

    SPL_TS::TSTablePAT pat;
    SPL_TS::TSTablePMT pmt;
    bool havePat = false, havePmt = false;
    unsigned pmtPid = 0x2000;
    std::map<unsigned, PesTotals> pes;
    std::map<unsigned, int> continuity;
    std::vector<uint64_t> pcrs;
    for (size_t off = 0; off < ts.size(); off += 188) {
        Exact pkt(ts.data() + off, 188);
        SPL_TS::TSPacketHdr h;
        ASSERT_TRUE(h.Parse(pkt.data(), pkt.size())) << off;
        const unsigned pid = h.PID();
        const unsigned afc = h.AdaptationFieldControl();
        uint32_t payload = 4;
        if (const SPL_TS::TSAdaptationField* af = h.Adaptation()) {
            payload += 1 + af->adaptation_field_length;
            if (af->flags & SPL_TS::TSAdaptationField::PCR_FLAG) pcrs.push_back(af->pcr);
        }
        if (!(afc & 1) || payload >= 188) continue;
        if (continuity.count(pid)) {
            EXPECT_EQ((continuity[pid] + 1) & 15, static_cast<int>(h.ContinuityCounter())) << pid;
        }
        continuity[pid] = static_cast<int>(h.ContinuityCounter());
        const uint8_t* p = pkt.data() + payload;
        uint32_t n = 188 - payload;
        if (pid == 0 || pid == pmtPid) {
            SPL_TS::TSTable& table = pid == 0 ? static_cast<SPL_TS::TSTable&>(pat) : pmt;
            if (h.PayloadUnitStart()) {
                const uint32_t pointer = p[0];
                p += 1 + pointer;
                n -= 1 + pointer;
            }
            ASSERT_TRUE(table.Assemble(p, n, h.PayloadUnitStart() != 0));
            if (table.IsComplete()) {
                if (pid == 0 && !havePat) {
                    ASSERT_TRUE(pat.Parse(pat.Section(), pat.SectionSize()));
                    ASSERT_EQ(1u, pat.PATEntries.size());
                    pmtPid = pat.PATEntries[0].PID;
                    havePat = true;
                } else if (pid == pmtPid && !havePmt) {
                    ASSERT_TRUE(pmt.Parse(pmt.Section(), pmt.SectionSize()));
                    EXPECT_EQ(0u, MpegCommon::Crc32Mpeg2(pmt.Section(), pmt.SectionSize()));
                    havePmt = true;
                }
            }
            continue;
        }
        bool elementary = false;
        for (const auto& s : pmt.streams) elementary = elementary || (havePmt && s.elementary_PID == pid);
        if (!elementary) continue;  // SDT and the like
        PesTotals& t = pes[pid];
        if (h.PayloadUnitStart()) {
            SPL_PS::PSPesPacket ph;
            ASSERT_TRUE(ph.Parse(p, n, true)) << "PID " << pid;
            ++t.packets;
            if (ph.HasPts()) t.pts.insert(static_cast<long long>(ph.PTS()));
            t.dtsCount += ph.HasDts();
            t.payload += n - ph.HeaderLength();
        } else {
            t.payload += n;
        }
    }
    ASSERT_TRUE(havePat);
    ASSERT_TRUE(havePmt);
    ASSERT_GT(pcrs.size(), 2u);
    for (size_t i = 1; i < pcrs.size(); ++i) EXPECT_GE(pcrs[i], pcrs[i - 1]);

    const auto programs = Probe(file, "program=program_num,pmt_pid,pcr_pid", "-show_programs");
    EXPECT_EQ(programs.at("programs.program.0.program_num"), std::to_string(pat.PATEntries[0].program_number));
    EXPECT_EQ(programs.at("programs.program.0.pmt_pid"), std::to_string(pmtPid));
    EXPECT_EQ(programs.at("programs.program.0.pcr_pid"), std::to_string(pmt.PCR_PID));
    EXPECT_EQ(pat.PATEntries[0].program_number, pmt.program_number);

    const auto probe = Probe(file, "stream=id,codec_name");
    const auto probed = ProbedByStream(file);
    ASSERT_EQ(3u, pmt.streams.size());
    for (const auto& s : pmt.streams) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%x", s.elementary_PID);
        const int idx = ProbeIndexOf(probe, id);
        ASSERT_GE(idx, 0) << id;
        const std::string codec = probe.at("streams.stream." + std::to_string(idx) + ".codec_name");
        const std::map<std::string, std::set<int>> types = {
            {"mpeg2video", {0x02}}, {"mp2", {0x03, 0x04}}, {"ac3", {0x81, 0x06}}};
        ASSERT_TRUE(types.count(codec)) << codec;
        EXPECT_TRUE(types.at(codec).count(s.stream_type)) << codec << " " << s.stream_type;
        const PesTotals& ours = pes[s.elementary_PID];
        ASSERT_FALSE(ours.pts.empty()) << codec;
        for (long long t : ours.pts) EXPECT_TRUE(probed.at(idx).first.count(t)) << codec << " PTS " << t;
        if (codec != "mpeg2video") {
            EXPECT_EQ(probed.at(idx).second, ours.payload) << codec;
        } else {
            EXPECT_GT(ours.dtsCount, 0);
        }
    }
}
