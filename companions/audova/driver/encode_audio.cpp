// encode-audio: codes a 16-bit PCM WAV file to MPEG audio Layer I or II
// through the Audova interface, one output record write per coded frame.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/common/engine/Audova.h"
#include "companions/audova/MpegAudioTables.h"
#include "companions/audova/driver/WavFile.h"

namespace {

const char kUsage[] =
    "usage: encode-audio --bitrate KBPS [--layer 1|2] [--mode stereo|joint|dual|mono] [--crc]\n"
    "                    [--private] [--copyright] [--original] [--emphasis 0|1|3] [--psy 1|2]\n"
    "                    IN.wav OUT.mp2\n";

// A file-backed output record: one buffer, written out when a request does
// not fit any more.
struct FileStream {
    bufstream bs{};
    FILE* file = nullptr;
    std::vector<uint8_t> buffer;
    uint32_t used = 0;
    bool failed = false;

    static FileStream* Self(bufstream* bs) { return static_cast<FileStream*>(bs->state); }
    void Flush() {
        if (used && std::fwrite(buffer.data(), 1, used, file) != used) failed = true;
        used = 0;
    }
    static uint32_t BytesAvailable(bufstream* bs) {
        return static_cast<uint32_t>(Self(bs)->buffer.size()) - Self(bs)->used;
    }
    static uint8_t* Request(bufstream* bs, uint32_t n) {
        FileStream* s = Self(bs);
        if (n > s->buffer.size()) return nullptr;
        if (s->used + n > s->buffer.size()) s->Flush();
        return s->buffer.data() + s->used;
    }
    static uint32_t Commit(bufstream* bs, uint32_t n) {
        Self(bs)->used += n;
        return n;
    }
    static uint32_t BufferSize(bufstream* bs) { return static_cast<uint32_t>(Self(bs)->buffer.size()); }
    static int32_t Done(bufstream* bs, int32_t abortFlag) {
        if (!abortFlag) Self(bs)->Flush();
        return 0;
    }

    explicit FileStream(FILE* f, uint32_t size) : file(f), buffer(size) {
        bs.bytes_available = BytesAvailable;
        bs.request = Request;
        bs.commit = Commit;
        bs.buffer_size = BufferSize;
        bs.done = Done;
        bs.state = this;
    }
};

int Fail(const std::string& text) {
    std::fprintf(stderr, "encode-audio: %s\n", text.c_str());
    return 1;
}

// A wrong command line: the reason, then how it is used.
[[noreturn]] void BadArguments(const std::string& why) {
    std::fprintf(stderr, "encode-audio: %s\n%s", why.c_str(), kUsage);
    std::exit(2);
}

// A whole decimal number that is one of the allowed values.
int ParseChoice(const std::string& option, const char* text, std::initializer_list<int> allowed) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    const bool whole = errno == 0 && end != text && *end == '\0';
    if (whole && std::find(allowed.begin(), allowed.end(), v) != allowed.end()) return static_cast<int>(v);
    std::string choices;
    for (int a : allowed) choices += (choices.empty() ? "" : ", ") + std::to_string(a);
    BadArguments(option + " wants one of " + choices + ", not '" + text + "'");
}

int ParseBitrate(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v <= 0 || v > 1000)
        BadArguments(std::string("--bitrate wants kbit/s as a whole number, not '") + text + "'");
    return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
    int kbps = 0, layer = 2, mode = -1, emphasis = 0, psy = 2;
    bool crc = false, priv = false, copyright = false, original = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) BadArguments(std::string(name) + " needs a value");
            return argv[++i];
        };
        if (a == "--bitrate")
            kbps = ParseBitrate(value("--bitrate"));
        else if (a == "--layer")
            layer = ParseChoice(a, value("--layer"), {1, 2});
        else if (a == "--emphasis")
            emphasis = ParseChoice(a, value("--emphasis"), {0, 1, 3});
        else if (a == "--psy")
            psy = ParseChoice(a, value("--psy"), {1, 2});
        else if (a == "--crc")
            crc = true;
        else if (a == "--private")
            priv = true;
        else if (a == "--copyright")
            copyright = true;
        else if (a == "--original")
            original = true;
        else if (a == "--mode") {
            const std::string m = value("--mode");
            mode = m == "stereo" ? 0 : m == "joint" ? 1 : m == "dual" ? 2 : m == "mono" ? 3 : -2;
            if (mode == -2) BadArguments("--mode wants stereo, joint, dual or mono, not '" + m + "'");
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            BadArguments("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) BadArguments("wants an input and an output file, got " + std::to_string(files.size()));
    if (kbps <= 0) BadArguments("--bitrate is required");

    audova::WavReader wav;
    std::string why;
    if (!wav.Open(files[0], &why)) return Fail(why);
    if (mode < 0) mode = wav.channels() == 1 ? AUDOVA_MONO : AUDOVA_STEREO;
    const int outChannels = (wav.channels() == 1 || mode == AUDOVA_MONO) ? 1 : 2;
    if (outChannels == 1) mode = AUDOVA_MONO;

    bool lsf = false;
    if (audova::SampleRateCode(wav.rate(), &lsf) < 0)
        return Fail("sample rate " + std::to_string(wav.rate()) + " Hz is not coded");
    int index = 0;
    for (int i = 1; i <= 14; ++i)
        if (audova::BitrateKbps(lsf, layer, i) == kbps) index = i;
    if (!index)
        return Fail(std::to_string(kbps) + " kbit/s is no Layer " + std::to_string(layer) + " bit rate at " +
                    std::to_string(wav.rate()) + " Hz");

    AudovaSettings s{};
    s.audio_mode = mode;
    s.requested_mode = mode;
    s.layer = layer;
    s.psy_model = psy;
    s.bitrate_index = index;
    s.bitrate_index_l1 = layer == 1 ? index : 0;
    s.bitrate_index_l2 = layer == 2 ? index : 0;
    s.emphasis = emphasis;
    s.private_bit = priv;
    s.crc = crc;
    s.copyright = copyright;
    s.original = original;
    s.sample_rate = wav.rate();
    s.input_channels = wav.channels();
    s.output_channels = outChannels;
    s.buffer_size = 40960;
    if (AudovaCheckSettings(nullptr, &s, nullptr, wav.rate(), 0, 0) != 0) return 1;

    FILE* out = std::fopen(files[1].c_str(), "wb");
    if (!out) return Fail("cannot create " + files[1]);
    FileStream stream(out, static_cast<uint32_t>(s.buffer_size));
    AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, wav.rate());
    int rc = (!h || AudovaStart(h, &stream.bs) != 0) ? 1 : 0;
    // Hand the PCM over in blocks that do not line up with frames.
    std::vector<uint8_t> block(4096 * 4);
    const bool downmix = outChannels == 1 && wav.channels() == 2;
    size_t n;
    while (rc == 0 && (n = wav.Read(block.data(), 4096)) > 0) {
        size_t bytes = n * 2 * wav.channels();
        if (downmix) {
            // Same downmix as the filter: (L + R) >> 1.
            for (size_t i = 0; i < n; ++i) {
                const int l = static_cast<int16_t>(block[4 * i] | (block[4 * i + 1] << 8));
                const int r = static_cast<int16_t>(block[4 * i + 2] | (block[4 * i + 3] << 8));
                const int m = (l + r) >> 1;
                block[2 * i] = static_cast<uint8_t>(m);
                block[2 * i + 1] = static_cast<uint8_t>(m >> 8);
            }
            bytes = n * 2;
        }
        if (AudovaEncode(h, block.data(), static_cast<uint32_t>(bytes)) != 0) rc = 1;
    }
    if (h && AudovaDone(h, rc ? 1 : 0) != 0) rc = 1;
    AudovaFree(h);
    FileStream::Done(&stream.bs, rc);
    errno = 0;
    const bool closed = std::fclose(out) == 0;
    if (!closed || stream.failed)
        return Fail("writing " + files[1] + " failed" + (errno ? std::string(": ") + std::strerror(errno) : ""));
    if (rc) return Fail("coding " + files[0] + " failed");
    return 0;
}
