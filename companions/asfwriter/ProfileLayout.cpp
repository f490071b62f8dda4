#include "companions/asfwriter/ProfileLayout.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace asfstandin {

namespace {

const char kAudioMajorType[] = "{73647561-0000-0010-8000-00AA00389B71}";
const char kVideoMajorType[] = "{73646976-0000-0010-8000-00AA00389B71}";
const int kMaxStreamNumber = 63;
const int kMaxChannels = 8;
const int kMinSampleRate = 1000;
const int kMaxSampleRate = 192000;
const int kMaxPictureSide = 8192;
const std::size_t kMaxDepth = 16;

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Element> children;

    const std::string* Attribute(const char* key) const {
        for (const auto& a : attributes)
            if (a.first == key) return &a.second;
        return nullptr;
    }
    const Element* Child(const char* key) const {
        for (const Element& c : children)
            if (c.name == key) return &c;
        return nullptr;
    }
};

// A small reader for the subset the profiles use: elements, quoted
// attributes, the five predefined entities, declarations and comments.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    std::optional<Element> Document() {
        SkipMisc();
        Element root;
        if (!ElementAt(root, 0)) return std::nullopt;
        SkipMisc();
        if (at_ != text_.size()) return std::nullopt;
        return root;
    }

private:
    bool More() const { return at_ < text_.size(); }
    char Peek() const { return text_[at_]; }
    bool Starts(const char* s) const { return text_.compare(at_, std::char_traits<char>::length(s), s) == 0; }
    static bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool NameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == ':' || c == '.';
    }
    void SkipSpace() {
        while (More() && Space(Peek())) ++at_;
    }
    // Whitespace, declarations and comments between elements.
    bool SkipMisc() {
        for (;;) {
            SkipSpace();
            if (Starts("<?")) {
                const std::size_t end = text_.find("?>", at_);
                if (end == std::string::npos) return false;
                at_ = end + 2;
            } else if (Starts("<!--")) {
                const std::size_t end = text_.find("-->", at_);
                if (end == std::string::npos) return false;
                at_ = end + 3;
            } else {
                return true;
            }
        }
    }
    bool Name(std::string& name) {
        const std::size_t start = at_;
        while (More() && NameChar(Peek())) ++at_;
        name = text_.substr(start, at_ - start);
        return !name.empty();
    }
    static bool Unescape(const std::string& raw, std::string& out) {
        static const std::pair<const char*, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        out.clear();
        for (std::size_t i = 0; i < raw.size();) {
            if (raw[i] == '<') return false;
            if (raw[i] != '&') {
                out += raw[i++];
                continue;
            }
            bool known = false;
            for (const auto& e : kEntities) {
                const std::size_t n = std::char_traits<char>::length(e.first);
                if (raw.compare(i, n, e.first) == 0) {
                    out += e.second;
                    i += n;
                    known = true;
                    break;
                }
            }
            if (!known) return false;
        }
        return true;
    }
    bool ElementAt(Element& element, std::size_t depth) {
        if (depth > kMaxDepth || !More() || Peek() != '<') return false;
        ++at_;
        if (!Name(element.name)) return false;
        for (;;) {
            const std::size_t before = at_;
            SkipSpace();
            if (!More()) return false;
            if (Starts("/>")) {
                at_ += 2;
                return true;
            }
            if (Peek() == '>') {
                ++at_;
                break;
            }
            if (at_ == before) return false;  // attributes are separated by space
            std::string key;
            if (!Name(key)) return false;
            SkipSpace();
            if (!More() || Peek() != '=') return false;
            ++at_;
            SkipSpace();
            if (!More() || (Peek() != '"' && Peek() != '\'')) return false;
            const char quote = Peek();
            const std::size_t end = text_.find(quote, ++at_);
            if (end == std::string::npos) return false;
            std::string value;
            if (!Unescape(text_.substr(at_, end - at_), value) || element.Attribute(key.c_str())) return false;
            element.attributes.emplace_back(std::move(key), std::move(value));
            at_ = end + 1;
        }
        for (;;) {
            if (!SkipMisc() || !More()) return false;
            if (Starts("</")) {
                at_ += 2;
                std::string closing;
                if (!Name(closing) || closing != element.name) return false;
                SkipSpace();
                if (!More() || Peek() != '>') return false;
                ++at_;
                return true;
            }
            if (Peek() != '<') return false;  // the profiles hold no text content
            Element child;
            if (!ElementAt(child, depth + 1)) return false;
            element.children.push_back(std::move(child));
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

bool Number(const Element* e, const char* key, long long low, long long high, long long& value) {
    const std::string* text = e ? e->Attribute(key) : nullptr;
    if (!text || text->empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text->c_str(), &end, 10);
    return errno == 0 && end && *end == 0 && value >= low && value <= high;
}

template <typename T>
bool Field(const Element* e, const char* key, long long low, long long high, T& out) {
    long long value = 0;
    if (!Number(e, key, low, high, value)) return false;
    out = static_cast<T>(value);
    return true;
}

bool Text(const Element* e, const char* key, std::string& out) {
    const std::string* text = e ? e->Attribute(key) : nullptr;
    if (!text) return false;
    out = *text;
    return true;
}

bool AudioFormat(const Element& config, ProfileStream& s) {
    const Element* type = config.Child("wmmediatype");
    const Element* wave = type ? type->Child("waveformatex") : nullptr;
    return wave && Text(type, "subtype", s.subtype) && Field(wave, "wFormatTag", 1, 0xFFFF, s.formatTag) &&
           Field(wave, "nChannels", 1, kMaxChannels, s.channels) &&
           Field(wave, "nSamplesPerSec", kMinSampleRate, kMaxSampleRate, s.samplesPerSec) &&
           Field(wave, "nAvgBytesPerSec", 1, 0x7FFFFFFF, s.avgBytesPerSec) &&
           Field(wave, "nBlockAlign", 1, 0xFFFF, s.blockAlign) && Field(wave, "wBitsPerSample", 8, 32, s.bitsPerSample);
}

bool VideoFormat(const Element& config, ProfileStream& s) {
    const Element* type = config.Child("wmmediatype");
    const Element* info = type ? type->Child("videoinfoheader") : nullptr;
    const Element* bitmap = info ? info->Child("bitmapinfoheader") : nullptr;
    if (!bitmap || !Text(type, "subtype", s.subtype) ||
        !Field(info, "avgtimeperframe", 1, 100000000LL, s.avgTimePerFrame) ||
        !Field(bitmap, "biwidth", 1, kMaxPictureSide, s.width) ||
        !Field(bitmap, "biheight", 1, kMaxPictureSide, s.height) || !Field(bitmap, "bibitcount", 1, 32, s.bitCount) ||
        !Text(bitmap, "bicompression", s.fourcc))
        return false;
    return s.fourcc.size() == 4;
}

bool Stream(const Element& config, ProfileStream& s) {
    std::string major;
    if (config.name != "streamconfig" || !Text(&config, "majortype", major)) return false;
    if (major == kAudioMajorType)
        s.audio = true;
    else if (major != kVideoMajorType)
        return false;
    if (!Field(&config, "streamnumber", 1, kMaxStreamNumber, s.number) ||
        !Field(&config, "bitrate", 1, 0x7FFFFFFF, s.bitrate) ||
        !Field(&config, "bufferwindow", -1, 0x7FFFFFFF, s.bufferWindow) || !Text(&config, "streamname", s.name) ||
        !Text(&config, "inputname", s.inputName))
        return false;
    return s.audio ? AudioFormat(config, s) : VideoFormat(config, s);
}

}  // namespace

std::optional<ProfileLayout> ParseProfileXml(const std::string& text) {
    const std::optional<Element> root = Reader(text).Document();
    if (!root || root->name != "profile" || root->children.empty()) return std::nullopt;
    long long version = 0;
    if (!Number(&*root, "version", 1, 0x7FFFFFFF, version)) return std::nullopt;
    ProfileLayout layout;
    Text(&*root, "name", layout.name);
    Text(&*root, "description", layout.description);
    for (const Element& child : root->children) {
        ProfileStream stream;
        if (!Stream(child, stream)) return std::nullopt;
        for (const ProfileStream& other : layout.streams)
            if (other.number == stream.number) return std::nullopt;
        layout.streams.push_back(std::move(stream));
    }
    return layout;
}

}  // namespace asfstandin
