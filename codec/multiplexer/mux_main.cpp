// mux [--ts|--fixed-pids] [--dvd] [--svcd] [--padding] [--192] [--bitrate N] OUT [KIND:]IN...
// Multiplexes elementary-stream files (kind detected from the bytes, or given
// as m2v, m1v, mp2, ac3, aac, wav) into a program stream, or with --ts a
// transport stream.
#include "codec/multiplexer/EsDetect.h"
#include "codec/multiplexer/FileMux.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    muxcore::FileMuxJob job;
    job.settings.output = muxcore::kProgramStream;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        const std::string a = argv[i];
        if (a == "--ts")
            job.settings.output = muxcore::kTransportStream;
        else if (a == "--ps")
            job.settings.output = muxcore::kProgramStream;
        else if (a == "--dvd")
            job.settings.compatibility = muxcore::kCompatDvd;
        else if (a == "--svcd")
            job.settings.compatibility = muxcore::kCompatSvcd;
        else if (a == "--padding")
            job.settings.usePadding = 1;
        else if (a == "--fixed-pids")
            job.settings.output = muxcore::kTransportFixedPids;
        else if (a == "--192")
            job.settings.ts192 = 1;
        else if (a == "--bitrate" && i + 1 < argc)
            job.settings.requiredBitrate = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (argc - i < 2) {
        std::fprintf(stderr, "usage: mux [--ts] [--dvd] [--svcd] [--padding] [--192] [--bitrate N] OUT [KIND:]IN...\n");
        return 2;
    }
    job.output = argv[i++];
    for (; i < argc; ++i) {
        muxcore::FileMuxInput in;
        std::string a = argv[i];
        const size_t colon = a.find(':');
        if (colon != std::string::npos && colon > 0 && colon < 6) {
            in.streamType = muxcore::StreamTypeFromName(a.substr(0, colon));
            if (in.streamType != muxcore::kPinFree) a = a.substr(colon + 1);
        }
        in.path = a;
        job.inputs.push_back(in);
    }
    const muxcore::FileMuxResult r = muxcore::MuxFiles(job);
    if (!r.ok) {
        std::fprintf(stderr, "mux: %s\n", r.error.c_str());
        return 1;
    }
    return 0;
}
