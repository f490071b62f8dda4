// mux [options] OUT [KIND:]IN...
// Multiplexes elementary-stream files (kind detected from the bytes, or given
// as a KIND prefix) into a program stream, or with --ts a transport stream.
#include "codec/multiplexer/EsDetect.h"
#include "codec/multiplexer/FileMux.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;
constexpr int kExitOverload = 3;

const char kUsage[] =
    "usage: mux [options] OUT [KIND:]IN...\n"
    "Multiplexes elementary-stream files into a program stream (default) or a\n"
    "transport stream.\n"
    "\n"
    "options:\n"
    "  --ps            program stream (the default)\n"
    "  --ts            transport stream\n"
    "  --fixed-pids    transport stream with fixed PIDs, in units of 32 packets\n"
    "  --dvd           DVD program stream (2048-byte packs, at most 10.08 Mbit/s)\n"
    "  --svcd          SVCD program stream\n"
    "  --padding       fill idle transport slots with null packets\n"
    "  --192           192-byte transport packets (time-stamp prefix)\n"
    "  --bitrate N     transport stream rate in bit/s (a positive whole number)\n"
    "  --time          print the elapsed seconds of the run on standard error\n"
    "  --help          print this text\n"
    "\n"
    "KIND (detected from the bytes when left out):\n"
    "  m2v, mpeg2video   MPEG-2 video          m1v, mpeg1video   MPEG-1 video\n"
    "  h264, 264, avc    H.264 byte stream     m4v, mpeg4        MPEG-4 Part 2 video\n"
    "  vc1               VC-1 advanced profile\n"
    "  mp2, mpa          MPEG-1 audio          mp2a              MPEG-2 audio\n"
    "  ac3               AC-3                  aac               ADTS AAC\n"
    "  wav, pcm          PCM WAV file (32000, 44100, 48000 or 96000 Hz;\n"
    "                    16, 20 or 24 bits; 1 to 8 channels)\n"
    "\n"
    "exit status: 0 done, 1 failed, 2 wrong arguments, 3 written but overloaded\n"
    "(units reached the output after their decoding time: raise --bitrate).\n";

int Usage(const char* error, const std::string& what) {
    std::fprintf(stderr, "mux: %s%s\n%s", error, what.c_str(), kUsage);
    return kExitUsage;
}

// A positive whole number that fits an int32_t.
bool ParseRate(const char* s, int32_t& out) {
    if (!*s) return false;
    int64_t v = 0;
    for (const char* p = s; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        v = v * 10 + (*p - '0');
        if (v > INT32_MAX) return false;
    }
    out = static_cast<int32_t>(v);
    return v > 0;
}

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    muxcore::FileMuxJob job;
    job.settings.output = muxcore::kProgramStream;
    bool timed = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--ts") {
            job.settings.output = muxcore::kTransportStream;
        } else if (a == "--ps") {
            job.settings.output = muxcore::kProgramStream;
        } else if (a == "--dvd") {
            job.settings.compatibility = muxcore::kCompatDvd;
        } else if (a == "--svcd") {
            job.settings.compatibility = muxcore::kCompatSvcd;
        } else if (a == "--padding") {
            job.settings.usePadding = 1;
        } else if (a == "--fixed-pids") {
            job.settings.output = muxcore::kTransportFixedPids;
        } else if (a == "--192") {
            job.settings.ts192 = 1;
        } else if (a == "--time") {
            timed = true;
        } else if (a == "--bitrate") {
            if (i + 1 >= argc) return Usage("--bitrate needs a value", "");
            if (!ParseRate(argv[++i], job.settings.requiredBitrate))
                return Usage("--bitrate is not a positive whole number: ", argv[i]);
        } else {
            return Usage("unknown option ", a);
        }
    }
    if (argc - i < 2) return Usage("an output and at least one input are needed", "");
    job.output = argv[i++];
    for (; i < argc; ++i) {
        muxcore::FileMuxInput in;
        std::string a = argv[i];
        const size_t colon = a.find(':');
        if (colon != std::string::npos && colon > 0 && !IsFile(a)) {
            const std::string kind = a.substr(0, colon);
            in.streamType = muxcore::StreamTypeFromName(kind);
            if (in.streamType == muxcore::kPinFree) return Usage("unknown stream kind: ", kind);
            a = a.substr(colon + 1);
        }
        in.path = a;
        job.inputs.push_back(in);
    }
    const muxcore::FileMuxResult r = muxcore::MuxFiles(job);
    if (timed) {
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - started;
        std::fprintf(stderr, "mux: %.3f s\n", d.count());
    }
    if (!r.ok) {
        std::fprintf(stderr, "mux: %s\n", r.error.c_str());
        return kExitFailed;
    }
    if (r.lateUnits > 0) {
        std::fprintf(stderr,
                     "mux: overload: %llu units reached the output after their decoding time; the output rate is too "
                     "low for the inputs\n",
                     static_cast<unsigned long long>(r.lateUnits));
        return kExitOverload;
    }
    return 0;
}
