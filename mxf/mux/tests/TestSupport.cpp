#include "mxf/mux/tests/TestSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace mexora_test {

namespace {
std::string g_root;
void RemoveRoot() {
    if (!g_root.empty()) std::system(("rm -rf '" + g_root + "'").c_str());
}
}  // namespace

std::string TempDir() {
    if (g_root.empty()) {
        char tmpl[] = "/tmp/mexora-test-XXXXXX";
        if (!mkdtemp(tmpl)) return "/tmp";
        g_root = tmpl;
        std::atexit(RemoveRoot);
    }
    static int n = 0;
    const std::string dir = g_root + "/" + std::to_string(n++);
    std::system(("mkdir -p '" + dir + "'").c_str());
    return dir;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

bool Ffmpeg(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args;
    return std::system(cmd.c_str()) == 0;
}

std::string MakeWav(const std::string& dir, const std::string& name, int channels, int bits, double seconds, int rate) {
    std::string exprs;
    for (int c = 0; c < channels; c++) {
        if (c) exprs += "|";
        exprs += "0.5*sin(" + std::to_string(200 * (c + 1)) + "*2*PI*t)";
    }
    const std::string path = dir + "/" + name;
    const std::string codec = bits == 16 ? "pcm_s16le" : "pcm_s24le";
    const bool ok = Ffmpeg("-f lavfi -i \"aevalsrc=exprs=" + exprs + ":s=" + std::to_string(rate) +
                           ":d=" + std::to_string(seconds) + "\" -c:a " + codec + " '" + path + "'");
    return ok ? path : std::string();
}

std::vector<uint8_t> RawPcm(const std::string& wav, int bits) {
    const std::string raw = wav + (bits == 16 ? ".s16le" : ".s24le");
    if (!Ffmpeg("-i '" + wav + "' -f " + (bits == 16 ? "s16le" : "s24le") + " '" + raw + "'")) return {};
    return ReadFile(raw);
}

std::string MakeM2v(const std::string& dir, const std::string& name, const std::string& rate, int frames) {
    const std::string path = dir + "/" + name;
    const bool ok = Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=" + rate + " -frames:v " + std::to_string(frames) +
                           " -c:v mpeg2video -r " + rate + " -f mpeg2video '" + path + "'");
    return ok ? path : std::string();
}

std::vector<uint8_t> CanonicalWav(const std::vector<uint8_t>& pcm, int channels, int bits, int rate) {
    std::vector<uint8_t> out;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto put16 = [&](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    const uint32_t block = static_cast<uint32_t>(channels * ((bits + 7) / 8));
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(static_cast<uint32_t>(36 + pcm.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(16);
    put16(1);
    put16(static_cast<uint16_t>(channels));
    put32(static_cast<uint32_t>(rate));
    put32(static_cast<uint32_t>(rate) * block);
    put16(static_cast<uint16_t>(block));
    put16(static_cast<uint16_t>(bits));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(static_cast<uint32_t>(pcm.size()));
    out.insert(out.end(), pcm.begin(), pcm.end());
    return out;
}

namespace {

class RecordingDouble : public mexora::MxfWriter {
public:
    RecordingDouble(mexora::WriterHost& host, Recording* rec, DoubleOptions options)
        : host_(host), rec_(rec), options_(options) {}
    int32_t start() override {
        rec_->starts++;
        return 0;
    }
    int32_t add_stream(int32_t id, int32_t output) override {
        rec_->streams[id] = output;
        rec_->order.push_back(id);
        return 0;
    }
    int32_t add_sample(int32_t id, const uint8_t* data, uint32_t length) override {
        if (!rec_->streams.count(id)) return -1;
        auto& b = rec_->bytes[id];
        b.insert(b.end(), data, data + length);
        if (options_.echoSamples) {
            mexora::OutputPiece p;
            p.data.assign(data, data + length);
            p.output = rec_->streams[id];
            host_.QueueOutput(std::move(p));
        }
        return 0;
    }
    int32_t end_of_stream(int32_t id) override {
        rec_->ended.insert(id);
        if (!options_.finishes || finished_ || rec_->ended.size() < rec_->streams.size()) return 0;
        std::set<int32_t> outputs;
        for (const auto& s : rec_->streams) outputs.insert(s.second);
        for (int32_t o : outputs) {
            mexora::OutputPiece p;
            p.data = {'M', 'X', 'F', '!'};
            p.position = 0;
            p.output = o;
            host_.QueueOutput(std::move(p));
        }
        finished_ = true;
        return 0;
    }
    void output_taken(uint32_t) override {}
    int32_t reset() override { return 0; }
    bool finished() const override { return finished_; }

private:
    mexora::WriterHost& host_;
    Recording* rec_;
    DoubleOptions options_;
    bool finished_ = false;
};

int g_yieldStop = -1;

int Collect(const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    Messages().push_back(text);
    return 0;
}

int32_t Yield() {
    if (g_yieldStop < 0) return 0;
    return g_yieldStop-- == 0 ? 1 : 0;
}

}  // namespace

mexora::WriterFactory RecordingWriter(Recording* rec, DoubleOptions options) {
    return [rec, options](mexora::WriterHost& host) {
        return std::unique_ptr<mexora::MxfWriter>(new RecordingDouble(host, rec, options));
    };
}

std::vector<std::string>& Messages() {
    static std::vector<std::string> m;
    return m;
}

void* GetCallback(const char* name) {
    if (std::strcmp(name, "err_printf") == 0) return reinterpret_cast<void*>(&Collect);
    if (std::strcmp(name, "yield") == 0) return reinterpret_cast<void*>(&Yield);
    return nullptr;
}

void SetYieldStop(int calls) {
    g_yieldStop = calls;
}

}  // namespace mexora_test
