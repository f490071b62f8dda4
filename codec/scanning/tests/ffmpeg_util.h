// Running Debian's ffmpeg and ffprobe from the tests.
#pragma once

#include "codec/common/MpegTables.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace spltest {

inline bool HaveFfmpeg() {
    static const int rc = std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1");
    return rc == 0;
}

#define SKIP_WITHOUT_FFMPEG()                                                             \
    do {                                                                                  \
        if (!::spltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe are not installed"; \
    } while (0)

inline std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

inline std::string WorkFile(const std::string& name) {
    static const bool made = std::system("mkdir -p '" SPL_TEST_WORK_DIR "'") == 0;
    (void)made;
    return std::string(SPL_TEST_WORK_DIR) + "/" + name;
}

inline bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y " + args).c_str()) == 0;
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Standard output of a shell command.
inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// ffprobe's flat output as key -> value, quotes removed.
inline std::map<std::string, std::string> Probe(const std::string& file, const std::string& entries,
                                                const std::string& extra = "") {
    std::map<std::string, std::string> m;
    std::istringstream in(
        Capture("ffprobe -v error " + extra + " -show_entries " + entries + " -of flat " + Quote(file)));
    std::string l;
    while (std::getline(in, l)) {
        const size_t eq = l.find('=');
        if (eq == std::string::npos) continue;
        std::string v = l.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        m[l.substr(0, eq)] = v;
    }
    return m;
}

struct ProbedPacket {
    int stream = 0;
    long long pts = -1;
    uint32_t size = 0;
};

inline std::vector<ProbedPacket> ProbePackets(const std::string& file) {
    std::vector<ProbedPacket> v;
    std::istringstream in(
        Capture("ffprobe -v error -show_entries packet=stream_index,pts,size -of csv=p=0 " + Quote(file)));
    std::string l;
    while (std::getline(in, l)) {
        ProbedPacket p;
        std::string a, b, c;
        std::istringstream ls(l);
        if (!std::getline(ls, a, ',') || !std::getline(ls, b, ',') || !std::getline(ls, c, ',')) continue;
        p.stream = std::atoi(a.c_str());
        p.pts = b == "N/A" ? -1 : std::atoll(b.c_str());
        p.size = static_cast<uint32_t>(std::atol(c.c_str()));
        v.push_back(p);
    }
    return v;
}

inline std::vector<uint32_t> ProbePacketSizes(const std::string& file) {
    std::vector<uint32_t> v;
    for (const auto& p : ProbePackets(file)) v.push_back(p.size);
    return v;
}

}  // namespace spltest
