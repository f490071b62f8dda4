// mxfmux [--p2] [--flag-b] [--drop-frame] [--start-tc N] OUT... IN...: writes
// MXF through Mexora's C exports. Arguments ending in ".mxf" are outputs
// (one XDCAM HD file, or one P2 file per stream), the others inputs (MPEG-2
// video, DV, WAV or "AES3" streams).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mxf/mux/driver/OldOutputs.h"
#include "mxf/mux/mexora.h"

namespace {

constexpr int32_t kPresetXdcamHd = 32;
constexpr int32_t kPresetP2Dvcpro = 0x11000;
constexpr uint32_t kFlagDropFrame = 1u << 0;
constexpr uint32_t kFlagSecondVariant = 1u << 12;

int BUFSTREAM_CALL PrintError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::fputs("mxfmux: ", stderr);
    std::vfprintf(stderr, format, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    return 0;
}

void* BUFSTREAM_CALL Lookup(const char* name) {
    return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&PrintError) : nullptr;
}

bool IsOutput(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mxf";
}

int Usage() {
    std::fputs("usage: mxfmux [--p2] [--flag-b] [--drop-frame] [--start-tc N] OUT.mxf... IN...\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool p2 = false, flagB = false, dropFrame = false;
    long startTc = 0;
    std::vector<std::string> outputs, inputs;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--p2") {
            p2 = true;
        } else if (a == "--flag-b") {
            flagB = true;
        } else if (a == "--drop-frame") {
            dropFrame = true;
        } else if (a == "--start-tc" && i + 1 < argc) {
            char* end = nullptr;
            startTc = std::strtol(argv[++i], &end, 10);
            if (!end || *end || startTc < 0) return Usage();
        } else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            (IsOutput(a) ? outputs : inputs).push_back(a);
        }
    }
    if (outputs.empty() || inputs.empty()) return Usage();
    mxf_m_settings settings;
    if (!mxfMuxDefaults(&settings, p2 ? kPresetP2Dvcpro : kPresetXdcamHd)) return 1;
    if (dropFrame) settings.flags |= kFlagDropFrame;
    if (flagB) settings.flags |= kFlagSecondVariant;
    settings.start_timecode = static_cast<int32_t>(startTc);
    mxf_mux_instance* mux = mxfMuxNew(Lookup, &settings);
    if (!mux) return 1;
    mexora::OldOutputs old;
    for (const std::string& o : outputs) old.Replace(o);
    int failed = 0;
    for (const std::string& o : outputs) failed |= mxfMuxAddOutputFile(mux, 0, o.c_str()) != 0;
    for (const std::string& in : inputs) failed |= mxfMuxAddInputFile(mux, 0, in.c_str()) != 0;
    if (!failed) failed = mxfMux(mux) != 0;
    if (mxfMuxDone(mux, failed) != 0) failed = 1;
    mxfMuxFree(mux);
    return failed ? 1 : 0;
}
