// A small VC-1 advanced-profile stream for the tests: sequence layers, entry
// points and frame headers whose bodies are filler bytes (no encoder of the
// platform writes VC-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vc1test {

using Bytes = std::vector<uint8_t>;

class Bits {
public:
    void U(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>((v >> i) & 1));
    }
    // The header after its start code, closed by a stop bit and zero bits.
    void AppendTo(Bytes& out, uint8_t code, size_t filler = 0) {
        U(1, 1);
        while (bits_.size() % 8) U(0, 1);
        out.insert(out.end(), {0, 0, 1, code});
        for (size_t i = 0; i < bits_.size(); i += 8) {
            uint8_t b = 0;
            for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>(b << 1 | bits_[i + k]);
            out.push_back(b);
        }
        out.insert(out.end(), filler, 0x55);
        bits_.clear();
    }

private:
    std::vector<uint8_t> bits_;
};

// Advanced profile, level 1, 352x288, 25 frames/s.
inline void SequenceLayer(Bytes& b, bool hrd = false) {
    Bits w;
    w.U(3, 2);  // advanced profile
    w.U(1, 3);  // level 1
    w.U(1, 2);  // 4:2:0
    w.U(0, 3 + 5 + 1);
    w.U(352 / 2 - 1, 12);
    w.U(288 / 2 - 1, 12);
    w.U(0, 4);  // pulldown, interlace, tfcntrflag, finterpflag
    w.U(1, 1);  // reserved
    w.U(0, 1);  // psf
    w.U(1, 1);  // display extension
    w.U(351, 14);
    w.U(287, 14);
    w.U(0, 1);  // no aspect ratio
    w.U(1, 1);  // frame rate
    w.U(0, 1);
    w.U(2, 8);  // 25
    w.U(1, 4);  // / 1.000
    w.U(0, 1);  // no colour format
    w.U(hrd, 1);
    if (hrd) {
        w.U(1, 5);
        w.U(0, 4);       // 2^6 bit/s
        w.U(0, 4);       // 2^4 bits
        w.U(15624, 16);  // 1 Mbit/s
        w.U(24999, 16);  // 400000 bits
    }
    w.AppendTo(b, 0x0F);
}

inline void EntryPoint(Bytes& b, bool hrd = false) {
    Bits w;
    w.U(0, 1);  // broken_link
    w.U(1, 1);  // closed_entry
    w.U(0, 4 + 1 + 2 + 1 + 1 + 2);
    if (hrd) w.U(128, 8);
    w.U(0, 3);  // coded size, range maps
    w.AppendTo(b, 0x0E);
}

// 'I', 'P', 'B': a progressive frame header and its filler body.
inline void Frame(Bytes& b, char type, size_t filler) {
    Bits w;
    if (type == 'I')
        w.U(6, 3);
    else if (type == 'B')
        w.U(2, 2);
    else
        w.U(0, 1);
    w.AppendTo(b, 0x0D, filler);
}

// Groups of `pattern` (decoding order), each after a sequence layer and an
// entry point.
inline Bytes Stream(const std::string& pattern, int groups, size_t filler = 600, bool hrd = false) {
    Bytes b;
    for (int g = 0; g < groups; ++g) {
        SequenceLayer(b, hrd);
        EntryPoint(b, hrd);
        for (char c : pattern) Frame(b, c, filler);
    }
    b.insert(b.end(), {0, 0, 1, 0x0A});  // end of sequence
    return b;
}

}  // namespace vc1test
