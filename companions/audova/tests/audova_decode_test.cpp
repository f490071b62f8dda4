// Streams of the command-line driver checked by an independent decoder
// (ffmpeg/ffprobe): clean decoding with CRC checks at every legal rate and
// bit rate, stream properties, signal-to-noise against ffmpeg's own Layer II
// encoder, and that a damaged protected frame is caught.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/common/engine/Audova.h"
#include "companions/audova/MpegAudioTables.h"
#include "companions/audova/driver/WavFile.h"
#include "companions/audova/tests/TestSupport.h"

using namespace audova_test;

namespace {

const std::string kEncoder = AUDOVA_ENCODE_PATH;

#define REQUIRE_FFMPEG() \
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

std::string WriteWav(const std::string& name, int rate, int channels, const std::vector<int16_t>& pcm) {
    audova::WavData w;
    w.rate = rate;
    w.channels = channels;
    w.samples = pcm;
    const std::string path = TempDir() + "/" + name;
    EXPECT_TRUE(audova::WriteWav(path, w));
    return path;
}

// Decodes with the strictest checks; returns the decoder's messages.
std::string Decode(const std::string& mp2, const std::string& raw, int* rc) {
    std::string out;
    *rc =
        Shell("ffmpeg -nostdin -v error -err_detect crccheck+explode -i '" + mp2 + "' -f s16le -y '" + raw + "'", &out);
    return out;
}

std::string Probe(const std::string& mp2) {
    std::string out;
    Shell(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of "
        "default=noprint_wrappers=1 '" +
            mp2 + "'",
        &out);
    return out;
}

}  // namespace

TEST(AudovaDecode, EveryLegalRateAndBitRateDecodesCleanly) {
    REQUIRE_FFMPEG();
    struct Job {
        int rate, channels, layer, kbps;
        std::string wav, options, failure;
        const std::vector<int16_t>* pcm;
        double snr;
    };
    std::vector<Job> jobs;
    std::vector<std::unique_ptr<std::vector<int16_t>>> inputs;
    for (int rate : {16000, 22050, 24000, 32000, 44100, 48000}) {
        bool lsf = false;
        audova::SampleRateCode(rate, &lsf);
        for (int channels = 1; channels <= 2; ++channels) {
            // Sweep plus noise so that every band gets bits somewhere.
            std::vector<int16_t> pcm = Sweep(rate, channels, 0.4, 0.4);
            const std::vector<int16_t> noise = Noise(rate, channels, 0.4, 0.05, rate + channels);
            for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(pcm[i] + noise[i]);
            const std::string wav =
                WriteWav("m" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav", rate, channels, pcm);
            inputs.push_back(std::make_unique<std::vector<int16_t>>(pcm));
            for (int layer = 1; layer <= 2; ++layer)
                for (int index = 1; index <= 14; ++index) {
                    if (!audova::BitrateIndexLegal(lsf, layer, channels, index)) continue;
                    const int kbps = audova::BitrateKbps(lsf, layer, index);
                    // Every stream protected, so that the decoder checks each table's
                    // allocation layout; two channels alternate the stereo modes.
                    std::string options =
                        " --bitrate " + std::to_string(kbps) + " --layer " + std::to_string(layer) + " --crc";
                    if (channels == 2)
                        options += index % 3 == 0 ? " --mode joint" : index % 3 == 1 ? " --mode dual" : "";
                    jobs.push_back({rate, channels, layer, kbps, wav, options, "", inputs.back().get(), 0.0});
                }
        }
    }
    EXPECT_EQ(jobs.size(), 267u);

    auto run = [](Job& j, int slot) {
        const std::string mp2 = TempDir() + "/m" + std::to_string(slot) + ".mp2";
        const std::string raw = TempDir() + "/m" + std::to_string(slot) + ".raw";
        std::string msg;
        if (Shell("'" + kEncoder + "'" + j.options + " '" + j.wav + "' '" + mp2 + "'", &msg) != 0) {
            j.failure = "encoder: " + msg;
            return;
        }
        int rc = 0;
        msg = Decode(mp2, raw, &rc);
        if (rc != 0 || !msg.empty()) {
            j.failure = "decoder: " + msg;
            return;
        }
        const std::string probe = Probe(mp2);
        for (const std::string& want :
             {std::string("codec_name=") + (j.layer == 1 ? "mp1" : "mp2"), "sample_rate=" + std::to_string(j.rate),
              "channels=" + std::to_string(j.channels), "bit_rate=" + std::to_string(j.kbps * 1000)})
            if (probe.find(want + "\n") == std::string::npos) j.failure += "probe lacks " + want + "; ";
        // Decoded length: the input rounded up to whole frames.
        const size_t frame = j.layer == 1 ? 384 : 1152;
        const std::vector<int16_t> out = ReadRaw(raw);
        const size_t samples = j.pcm->size() / j.channels, decoded = out.size() / j.channels;
        if (decoded != (samples + frame - 1) / frame * frame)
            j.failure += "decoded " + std::to_string(decoded) + " samples";
        j.snr = Snr(*j.pcm, out, j.channels);
    };
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w)
        workers.emplace_back([&, w] {
            for (size_t i; (i = next++) < jobs.size();) run(jobs[i], w);
        });
    for (auto& t : workers) t.join();
    for (const Job& j : jobs) {
        EXPECT_EQ(j.failure, "") << j.rate << " Hz, " << j.channels << " ch" << j.options;
        // A table that the decoder reads differently still decodes, but into
        // noise; the lowest rates here reach about 7 dB.
        EXPECT_GT(j.snr, 5.0) << j.rate << " Hz, " << j.channels << " ch" << j.options;
    }
}

TEST(AudovaDecode, SignalToNoiseMatchesFfmpegAt192kStereo) {
    REQUIRE_FFMPEG();
    struct Case {
        const char* name;
        const char* source;
        double floorDb;  // our own absolute floor
    };
    const Case cases[] = {
        {"tone", "sine=frequency=1000:sample_rate=48000:duration=3", 45.0},
        {"tone2", "sine=frequency=6100:sample_rate=48000:duration=3", 45.0},
        {"white", "anoisesrc=color=white:sample_rate=48000:duration=3:amplitude=0.3:seed=7", 3.0},
        {"pink", "anoisesrc=color=pink:sample_rate=48000:duration=3:amplitude=0.3:seed=7", 9.0},
        {"brown", "anoisesrc=color=brown:sample_rate=48000:duration=3:amplitude=0.3:seed=7", 15.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = TempDir() + "/snr_" + c.name;
        ASSERT_EQ(Shell(std::string("ffmpeg -nostdin -v error -f lavfi -i '") + c.source +
                        ",aformat=channel_layouts=stereo' -c:a pcm_s16le -y '" + base + ".wav'"),
                  0);
        ASSERT_EQ(Shell("'" + kEncoder + "' --bitrate 192 '" + base + ".wav' '" + base + ".ours.mp2'"), 0);
        ASSERT_EQ(Shell("ffmpeg -nostdin -v error -i '" + base + ".wav' -c:a mp2 -b:a 192k -y '" + base + ".ff.mp2'"),
                  0);
        int rc = 0;
        EXPECT_EQ(Decode(base + ".ours.mp2", base + ".ours.raw", &rc), "");
        ASSERT_EQ(Shell("ffmpeg -nostdin -v error -i '" + base + ".ff.mp2' -f s16le -y '" + base + ".ff.raw'"), 0);
        audova::WavData in;
        std::string why;
        ASSERT_TRUE(audova::ReadWav(base + ".wav", &in, &why)) << why;
        const double ours = Snr(in.samples, ReadRaw(base + ".ours.raw"), 2);
        const double theirs = Snr(in.samples, ReadRaw(base + ".ff.raw"), 2);
        RecordProperty(std::string(c.name) + "_snr_db", std::to_string(ours) + " vs ffmpeg " + std::to_string(theirs));
        EXPECT_GE(ours, theirs - 1.0) << "ours " << ours << " dB, ffmpeg " << theirs << " dB";
        EXPECT_GE(ours, c.floorDb);
    }
}

TEST(AudovaDecode, DamagedProtectedFrameIsCaught) {
    REQUIRE_FFMPEG();
    // Layer I and Layer II, each with a bit of frame 3's allocation flipped.
    for (int layer = 1; layer <= 2; ++layer) {
        SCOPED_TRACE(layer);
        AudovaSettings s = MakeSettings(48000, layer, 2, 10);
        s.crc = 1;
        std::vector<uint8_t> stream;
        ASSERT_TRUE(EncodeBuffer(s, Sweep(48000, 2, 0.3, 0.5), &stream));
        std::vector<Header> frames;
        ASSERT_TRUE(SplitFrames(stream, &frames));
        const std::string clean = TempDir() + "/crc_clean.mp2", bad = TempDir() + "/crc_bad.mp2";
        ASSERT_TRUE(WriteFile(clean, stream));
        size_t at = 0;
        for (int i = 0; i < 3; ++i) at += frames[i].bytes;
        stream[at + 6] ^= 0x10;  // first allocation byte after header and CRC
        ASSERT_TRUE(WriteFile(bad, stream));
        int rc = 0;
        EXPECT_EQ(Decode(clean, TempDir() + "/crc.raw", &rc), "");
        EXPECT_EQ(rc, 0);
        const std::string msg = Decode(bad, TempDir() + "/crc.raw", &rc);
        EXPECT_TRUE(rc != 0 || !msg.empty()) << "the decoder took the damaged frame";
    }
}

TEST(AudovaDriver, RefusesWhatItCannotCode) {
    const std::string stereo = WriteWav("d.wav", 44100, 2, Sweep(44100, 2, 0.1, 0.3));
    const std::string out = TempDir() + "/d.mp2";
    struct Case {
        const char* what;
        std::string args;
        int rc;
    };
    const Case cases[] = {
        {"no arguments", "", 2},
        {"unknown option", "--bitrate 192 --fast " + stereo + " " + out, 2},
        {"bit rate of no table", "--bitrate 100 " + stereo + " " + out, 1},
        {"mono above 192 kbit/s", "--bitrate 256 --mode mono " + stereo + " " + out, 1},
        {"missing input", "--bitrate 192 /nonexistent.wav " + out, 1},
    };
    for (const Case& c : cases) {
        std::string msg;
        EXPECT_EQ(Shell("'" + kEncoder + "' " + c.args, &msg), c.rc) << c.what;
        EXPECT_FALSE(msg.empty()) << c.what;
    }
    // 8-bit PCM is refused by the reader.
    std::vector<uint8_t> eight = ReadFile(stereo);
    eight[34] = 8;
    ASSERT_TRUE(WriteFile(TempDir() + "/d8.wav", eight));
    EXPECT_EQ(Shell("'" + kEncoder + "' --bitrate 192 " + TempDir() + "/d8.wav " + out), 1);
    // A stereo file coded as mono gives one channel.
    ASSERT_EQ(Shell("'" + kEncoder + "' --bitrate 96 --mode mono " + stereo + " " + out), 0);
    std::vector<Header> frames;
    ASSERT_TRUE(SplitFrames(ReadFile(out), &frames));
    EXPECT_EQ(frames.front().mode, 3);
}

// Usage on request; a wrong argument is named with what it wants; a failed
// write is a failure with its reason.
TEST(AudovaDriver, HelpWrongArgumentsAndWriteFailures) {
    std::string msg;
    EXPECT_EQ(0, Shell("'" + kEncoder + "' --help", &msg));
    EXPECT_NE(std::string::npos, msg.find("usage: encode-audio")) << msg;
    const std::string wav = WriteWav("h.wav", 48000, 2, Sweep(48000, 2, 0.1, 0.3));
    const std::string out = TempDir() + "/h.mp2";
    struct Case {
        std::string args;
        const char* says;
    } cases[] = {
        {"--bitrate fast " + wav + " " + out, "--bitrate wants kbit/s as a whole number, not 'fast'"},
        {"--bitrate 192 --layer 3 " + wav + " " + out, "--layer wants one of 1, 2, not '3'"},
        {"--bitrate 192 --emphasis 2 " + wav + " " + out, "--emphasis wants one of 0, 1, 3, not '2'"},
        {"--bitrate 192 --psy x " + wav + " " + out, "--psy wants one of 1, 2, not 'x'"},
        {"--bitrate 192 --mode surround " + wav + " " + out, "--mode wants stereo, joint, dual or mono"},
        {"--bitrate 192 --fast " + wav + " " + out, "unknown option --fast"},
        {"--bitrate 192 " + wav, "wants an input and an output file, got 1"},
        {wav + " " + out, "--bitrate is required"},
        {"--bitrate 192 --layer", "--layer needs a value"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(2, Shell("'" + kEncoder + "' " + c.args, &msg)) << c.args;
        EXPECT_NE(std::string::npos, msg.find(c.says)) << c.args << ": " << msg;
        EXPECT_NE(std::string::npos, msg.find("usage:")) << c.args;
    }
    if (FILE* full = std::fopen("/dev/full", "wb")) {
        std::fclose(full);
        EXPECT_EQ(1, Shell("'" + kEncoder + "' --bitrate 192 " + wav + " /dev/full", &msg));
        EXPECT_NE(std::string::npos, msg.find("writing /dev/full failed")) << msg;
    }
    // The script in tools/ passes --help through to the driver it builds.
    const std::string exe = kEncoder, build = exe.substr(0, exe.rfind("/bin/"));
    EXPECT_EQ(0, Shell("AUDOVA_BUILD='" + build + "' '" + KORVELL_SOURCE_DIR + "/tools/encode-audio' --help", &msg));
    EXPECT_NE(std::string::npos, msg.find("usage: encode-audio")) << msg;
}

TEST(AudovaDecode, JointStereoUsesIntensityWhereBitsRunShort) {
    REQUIRE_FFMPEG();
    // Nearly the same noise on both sides at a low rate: intensity frames must
    // appear, decode cleanly and come out closer to the input than plain stereo.
    const int rate = 44100;
    const std::vector<int16_t> mono = Noise(rate, 1, 1.5, 0.3, 21);
    const std::vector<int16_t> other = Noise(rate, 1, 1.5, 0.3, 22);
    std::vector<int16_t> pcm(2 * mono.size());
    for (size_t i = 0; i < mono.size(); ++i) {
        pcm[2 * i] = mono[i];
        pcm[2 * i + 1] = static_cast<int16_t>(0.4 * mono[i] + 0.05 * other[i]);
    }
    double snr[2] = {};
    for (int joint = 0; joint < 2; ++joint) {
        AudovaSettings s = MakeSettings(rate, 2, 2, 7, joint ? AUDOVA_JOINT_STEREO : AUDOVA_STEREO);  // 112 kbit/s
        s.crc = 1;
        std::vector<uint8_t> stream;
        ASSERT_TRUE(EncodeBuffer(s, pcm, &stream));
        std::vector<Header> frames;
        ASSERT_TRUE(SplitFrames(stream, &frames));
        int intensity = 0;
        for (const Header& h : frames) intensity += h.mode == 1;
        if (joint)
            EXPECT_GT(intensity, 0);
        else
            EXPECT_EQ(intensity, 0);
        const std::string mp2 = TempDir() + "/joint.mp2", raw = TempDir() + "/joint.raw";
        ASSERT_TRUE(WriteFile(mp2, stream));
        int rc = 0;
        EXPECT_EQ(Decode(mp2, raw, &rc), "");
        snr[joint] = Snr(pcm, ReadRaw(raw), 2);
    }
    EXPECT_GT(snr[1], snr[0]) << "joint " << snr[1] << " dB, stereo " << snr[0] << " dB";
}
