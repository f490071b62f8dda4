#include "mxf/demux/tests/TestSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace mxftest {

using namespace mxfdemux;

bool HaveFfmpeg() {
    static const int rc = std::system("ffmpeg -version >/dev/null 2>&1");
    return rc == 0;
}

bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y " + args).c_str()) == 0;
}

std::string Dir() {
    static const bool made = std::system("mkdir -p '" MXFDEMUX_TEST_DIR "'") == 0;
    (void)made;
    return MXFDEMUX_TEST_DIR;
}

namespace {

const char kD10Video[] =
    "-c:v mpeg2video -pix_fmt yuv422p -g 1 -b:v 50M -minrate 50M -maxrate 50M -bufsize 2000000 "
    "-rc_init_occupancy 2000000 -flags +ildct+low_delay -dc 10 -intra_vlc 1 -non_linear_quant 1 -ps 1 -qmax 12";

bool Make(const std::string& name) {
    const std::string d = Dir() + "/";
    const std::string f = d + name + ".mxf";
    if (name == "a2" || name == "a12") {
        const std::string secs = name == "a2" ? "2" : "12";
        return Ffmpeg("-f lavfi -i testsrc=s=176x144:r=25:d=" + secs + " -f lavfi -i sine=f=440:r=48000:d=" + secs +
                      " -c:v mpeg2video -g 12 -b:v 300k -c:a pcm_s16le -ac 2 -f mxf '" + f + "'") &&
               Ffmpeg("-i '" + f + "' -map 0:v -c copy -f mpeg2video '" + d + name + ".m2v'") &&
               Ffmpeg("-i '" + f + "' -map 0:a -c copy -f s16le '" + d + name + ".raw'");
    }
    if (name == "d10") {
        return Ffmpeg("-f lavfi -i testsrc=s=720x608:r=25:d=0.4 -f lavfi -i sine=f=440:r=48000:d=0.4 " +
                      std::string(kD10Video) + " -c:a pcm_s16le -ac 2 -f mxf_d10 '" + f + "'") &&
               Ffmpeg("-i '" + f + "' -map 0:a -f s16le -c:a pcm_s16le '" + d + name + ".raw'");
    }
    if (name == "opatom") {
        return Ffmpeg("-f lavfi -i sine=f=440:r=48000:d=1 -c:a pcm_s16le -ac 1 -f mxf_opatom '" + f + "'");
    }
    return false;
}

}  // namespace

std::string Fixture(const std::string& name) {
    static std::map<std::string, bool> made;
    auto it = made.find(name);
    if (it == made.end()) it = made.emplace(name, Make(name)).first;
    return it->second ? Dir() + "/" + name + ".mxf" : std::string();
}

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// ---- the hand-built file ----

namespace {

void Put(Bytes& b, uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Key(Bytes& b, uint32_t w1, uint32_t w2, uint32_t w3) {
    Put(b, 0x060E2B34, 4);
    Put(b, w1, 4);
    Put(b, w2, 4);
    Put(b, w3, 4);
}

void Ber(Bytes& b, uint64_t len, int width) {
    if (width == 0) {
        b.push_back(static_cast<uint8_t>(len));
        return;
    }
    b.push_back(static_cast<uint8_t>(0x80 | width));
    Put(b, len, width);
}

void Klv(Bytes& b, uint32_t w1, uint32_t w2, uint32_t w3, const Bytes& v, int width = 4) {
    Key(b, w1, w2, w3);
    Ber(b, v.size(), width);
    b.insert(b.end(), v.begin(), v.end());
}

void Tag(Bytes& b, uint32_t tag, const Bytes& v) {
    Put(b, tag, 2);
    Put(b, v.size(), 2);
    b.insert(b.end(), v.begin(), v.end());
}

Bytes Be(uint64_t v, int n) {
    Bytes b;
    Put(b, v, n);
    return b;
}

Bytes Label(uint32_t w3) {
    Bytes l;
    Key(l, 0x04010101, 0x0D010301, w3);
    return l;
}

}  // namespace

Synth MakeSynth(const SynthOptions& o) {
    Synth s;
    Bytes& f = s.file;
    const uint32_t pictureItem = o.d10 ? 0x05010101 : 0x15010500;
    const uint32_t soundItem = o.d10 ? 0x06010100 : 0x16010300;
    // Header partition pack: 80 fixed bytes, then the EssenceContainers batch.
    Bytes part(80, 0);
    Put(part, 2, 4);
    s.batchItemLength = 16 + 5 + part.size();
    Put(part, 16, 4);
    const Bytes pic = Label(o.d10 ? 0x02010101 : 0x02046001);
    const Bytes snd = Label(0x02060300);
    part.insert(part.end(), pic.begin(), pic.end());
    part.insert(part.end(), snd.begin(), snd.end());
    Klv(f, 0x02050101, 0x0D010201, 0x01020400, part);
    Bytes tc;
    Tag(tc, 0x0202, Be(static_cast<uint64_t>(o.frames), 8));
    Klv(f, 0x02530101, 0x0D010101, 0x01011400, tc);
    for (int d = 0; d < o.descriptors; ++d) {
        Bytes desc;
        const size_t base = f.size() + 16 + 5;
        if (o.sampleRateFirst) Tag(desc, 0x3001, Be(0x0000001900000001ull, 8));
        Tag(desc, 0x3D03, Be(48000ull << 32 | 1, 8));
        if (d == 0) s.rateDenominator = base + desc.size() - 4;
        if (!o.sampleRateFirst) Tag(desc, 0x3001, Be(0x0000001900000001ull, 8));
        Tag(desc, 0x3D01, Be(16, 4));
        Tag(desc, 0x3D07, Be(o.channels, 4));
        Klv(f, 0x02530101, 0x0D010101, 0x01014700, desc);
    }
    // Body partition with the content packages.
    const uint64_t bodyOffset = f.size();
    Klv(f, 0x02050101, 0x0D010201, 0x01030400, Bytes(88, 0));
    const int64_t essenceStart = static_cast<int64_t>(f.size());
    std::vector<uint64_t> offsets;
    for (int i = 0; i < o.frames; ++i) {
        offsets.push_back(f.size() - essenceStart);
        s.systemPacks.push_back(static_cast<int64_t>(f.size()));
        Klv(f, 0x02050101, 0x0D010301, 0x04010100, Bytes(57, 0));
        Bytes p(100 + 37 * i);
        for (size_t k = 0; k < p.size(); ++k) p[k] = static_cast<uint8_t>(i * 7 + k);
        s.pictureKeys.push_back(static_cast<int64_t>(f.size()));
        Klv(f, 0x01020101, 0x0D010301, pictureItem, p, o.elementBer);
        s.picture.insert(s.picture.end(), p.begin(), p.end());
        Bytes a(o.d10 ? 4 + 64 : 1920 * 4 / 10);
        for (size_t k = 0; k < a.size(); ++k) a[k] = static_cast<uint8_t>(i + 3 * k);
        Klv(f, 0x01020101, 0x0D010301, soundItem, a, o.elementBer);
        s.sound.insert(s.sound.end(), a.begin() + (o.d10 ? 4 : 0), a.end());
    }
    // Footer partition with one index table segment.
    const uint64_t footerOffset = f.size();
    Klv(f, 0x02050101, 0x0D010201, 0x01040400, Bytes(88, 0));
    Bytes seg;
    Tag(seg, 0x3F0C, Be(0, 8));
    Tag(seg, 0x3F0D, Be(static_cast<uint64_t>(o.frames), 8));
    Bytes arr;
    Put(arr, static_cast<uint64_t>(o.frames), 4);
    Put(arr, o.entryLength, 4);
    for (uint64_t off : offsets) {
        Bytes e(o.entryLength, 0);
        for (int k = 0; k < 8; ++k) e[3 + k] = static_cast<uint8_t>(off >> (8 * (7 - k)));
        arr.insert(arr.end(), e.begin(), e.end());
    }
    const size_t segStart = f.size() + 16 + 5;
    s.indexCount = segStart + seg.size() + 4;
    s.entryLength = s.indexCount + 4;
    Tag(seg, 0x3F0A, arr);
    Klv(f, 0x02530101, 0x0D010201, 0x01100100, seg);
    // Random index pack: header, body, footer.
    const uint64_t ripStart = f.size();
    Key(f, 0x02050101, 0x0D010201, 0x01110100);
    s.ripBer = f.size();
    Ber(f, 3 * 12 + 4, 0);
    for (uint64_t off : {uint64_t{0}, bodyOffset, footerOffset}) {
        Put(f, off == bodyOffset ? 1 : 0, 4);
        Put(f, off, 8);
    }
    s.ripOverall = f.size();
    Put(f, f.size() + 4 - ripStart, 4);
    return s;
}

// ---- consumers and the host ----

namespace {

Sink* SinkOf(bufstream* bs) {
    return static_cast<Sink*>(bs->state);
}

uint32_t BUFSTREAM_CALL SinkSize(bufstream* bs) {
    return SinkOf(bs)->bufferSize;
}

uint32_t BUFSTREAM_CALL SinkCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    Sink* s = SinkOf(bs);
    s->data.insert(s->data.end(), p, p + n);
    return n;
}

int32_t BUFSTREAM_CALL SinkInfo(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    if (id == kElementInfoId && size == sizeof(ElementRecord))
        SinkOf(bs)->records.push_back(*static_cast<ElementRecord*>(data));
    return 0;
}

int MXFDEMUX_CALL Printer(void* user, const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    static_cast<Host*>(user)->errors.push_back(text);
    return 0;
}

void* MXFDEMUX_CALL Callbacks(void*, const char* name) {
    if (std::strcmp(name, "err_printf_ex") == 0) return reinterpret_cast<void*>(&Printer);
    return nullptr;
}

}  // namespace

Sink::Sink(uint32_t size) : bufferSize(size) {
    bs.buffer_size = SinkSize;
    bs.copy_bytes = SinkCopy;
    bs.info = SinkInfo;
    bs.state = this;
}

bool Sink::PullAll() {
    for (int guard = 0; guard < 10000000; ++guard) {
        ElementRecord r{};
        if (bs.info(&bs, 0, kElementInfoId, &r, sizeof r) != 0) return false;
        records.push_back(r);
        if (r.endOfData) return true;
        data.insert(data.end(), r.data, r.data + r.length);
    }
    return false;
}

Host::Host(const Settings& s) {
    in = New(Callbacks, this, &s);
}
Host::~Host() {
    Free(in);
}
bool Host::Saw(const std::string& message) const {
    for (const std::string& e : errors)
        if (e == message) return true;
    return false;
}

PushResult PushFile(const std::string& path, uint32_t bufferSize) {
    PushResult r;
    Host h;
    r.openResult = Open(h.in, path.c_str());
    if (r.openResult != 0) return r;
    (void)GetFileInfo(h.in, &r.info);
    const int parser = NewParser(h.in, std::vector<ParserSettings>(1).data());
    std::vector<Sink*> sinks;
    for (int k = 0; k < r.info.streamCount; ++k) {
        StreamInfo si{};
        (void)GetStreamInfo(h.in, &si, k);
        r.streams.push_back(si);
        sinks.push_back(new Sink(bufferSize));
        StreamSettings ss{k, &sinks.back()->bs};
        (void)AddStream(h.in, parser, &ss);
    }
    while (Push(h.in, parser) == 0) {}
    for (Sink* s : sinks) {
        r.data.push_back(s->data);
        r.records.push_back(s->records);
        delete s;
    }
    return r;
}

}  // namespace mxftest
