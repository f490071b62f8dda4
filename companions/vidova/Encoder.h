// Picture coder: I, P and B frame pictures with motion search, skipped
// macroblocks and rate control.
#pragma once
#include "companions/vidova/Config.h"
#include "companions/vidova/Picture.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vidova {

enum PictureType { kPictureI = 1, kPictureP = 2, kPictureB = 3 };

// What the quantisation of a non-intra block would see of its residual: the
// sum of its magnitudes and, when it was transformed, its largest
// coefficient magnitudes by the weight a lone level there has (frequency
// u + v up to 1, 2 to 3, beyond).
struct ResidualSize {
    int sum;
    bool transformed;
    float low, mid[2], high[3];
};

// One picture of an analysis pass, in coded order: its type and its
// complexity (bits spent x average quantiser).
struct PassPicture {
    int type;
    double complexity;
};

class RateControl {
public:
    void init(const Config& c);
    // Second pass of a two-pass run: the bits of the whole clip are shared out
    // by the complexities the analysis pass measured. Variable rate only; a
    // picture that does not follow the plan ends it.
    void setPlan(const std::vector<PassPicture>& plan);
    bool planned() const { return planNext_ < plan_.size(); }
    // minBitrate 0 leaves the minimum as it was.
    void setTarget(double bitrate, double minBitrate = 0);
    void startGop(int pictures, int refDistance);
    // A GOP cut short (a scene change): the budget of its pictures that will
    // not be coded is withdrawn.
    void endGopEarly();
    // Base quantiser (1..31, linear units) for the next picture.
    double startPicture(PictureType type);
    double sliceQuant(double base, uint64_t bitsSoFar, double fraction) const;
    // Largest size the next picture may take without emptying the VBV buffer.
    double maxPictureBits() const { return vbv_; }
    // Books a coded picture; returns the stuffing bits the picture must carry.
    uint64_t endPicture(PictureType type, uint64_t bits, double avgQuant);
    uint16_t vbvDelay() const;
    bool constantQuant() const { return mode_ >= 2; }
    double minRate() const { return minRate_; }

private:
    int mode_ = 0;
    double rate_ = 0, maxRate_ = 0, fps_ = 25, perFrame_ = 0;
    double vbvSize_ = 0, vbv_ = 0;
    double x_[4] = {0, 0, 0, 0}, rgop_ = 0;  // complexities by picture type
    int n_[4] = {0, 0, 0, 0};                // pictures of each type left in the GOP
    int gopN_ = 1;
    double target_ = 0, q0_ = 8;
    double lastQ_[4] = {0, 0, 0, 0};
    // Variable rate: the least rate, and the sizes of the last second's
    // pictures (a ring) with their sum.
    double minRate_ = 0;
    std::vector<double> window_;
    size_t windowNext_ = 0, windowFill_ = 0;
    double windowSum_ = 0;
    int qI_ = 2, qP_ = 4, qB_ = 6;
    // The plan of a second pass: complexities, their weights still to come
    // (suffix sums of complexity / type factor), the clip's budget and what
    // has been spent of it.
    std::vector<PassPicture> plan_;
    std::vector<double> planWeight_;
    size_t planNext_ = 0;
    double planBudget_ = 0, planSpent_ = 0;
    bool planCurrent_ = false;  // the picture being coded follows the plan
};

class Encoder {
public:
    struct Coded {
        std::vector<uint8_t> bytes;
        uint64_t tag;  // the caller's tag of the input picture
    };

    explicit Encoder(const Config& c);

    // The frame the next input is converted into. An input copied straight
    // (see copiedStraight) without pictures held for reordering goes into the
    // last anchor's source itself, compared row by row as it is written: one
    // copy and one frame less.
    Frame& source(bool copiedStraight = false);
    // Where the input copied into source() notes which macroblocks changed
    // since the last anchor's source, when it can.
    ChangeMap& inputChanges() {
        inputChanges_.previous = haveAnchorSrc_ ? &anchorSrc_ : nullptr;
        inputChanges_.valid = false;
        return inputChanges_;
    }
    // Takes the picture in source() (or, with repeat, the previous one again)
    // and appends whatever pictures can be coded now, in coded order, with the
    // sequence and GOP headers they need.
    void submit(bool repeat, const uint8_t* userData, int userDataLen, uint64_t tag, std::vector<Coded>& out);
    // Codes every picture still held back for reordering.
    void flush(std::vector<Coded>& out);
    // Hands back the bytes of a picture that has been delivered: the next
    // pictures are coded into them, without fresh memory for each.
    void recycle(std::vector<uint8_t>&& bytes);
    // Reconstruction of the picture most recently appended by submit/flush.
    const Frame& lastReconstruction() const { return *lastRecon_; }
    void writeEndCode(std::vector<uint8_t>& out) const;
    void setTargetBitrate(double bitrate, double minBitrate = 0) { rc_.setTarget(bitrate, minBitrate); }
    uint32_t sceneCuts() const { return sceneCuts_; }
    // Called with each picture's tag and reconstruction as it is coded.
    std::function<void(uint64_t, const Frame&)> onPicture_;
    // Called with each coded picture's type, bits and average quantiser: what
    // an analysis pass records.
    std::function<void(PictureType, uint64_t, double)> onCoded_;
    void setPlan(const std::vector<PassPicture>& plan) { rc_.setPlan(plan); }

    uint32_t pictures() const { return pictures_; }
    uint64_t totalBits() const { return totalBits_; }
    double overallPsnr() const;
    const Config& config() const { return c_; }

private:
    struct Mb;
    struct Held {
        Frame frame;
        std::vector<uint8_t> userData;
        uint64_t tag = 0;
        uint32_t display = 0, abs = 0;
    };
    void encodePicture(PictureType type, uint32_t display, bool repeat, const uint8_t* userData, int userDataLen,
                       std::vector<uint8_t>& out);
    // Coefficient table and scan of the picture about to be coded: the header,
    // the blocks and the reconstruction all follow them.
    void selectCoefficientCoding(PictureType type);
    void writeSequenceHeader(class BitWriter& bw) const;
    void writeGopHeader(class BitWriter& bw) const;
    void writePictureHeaders(class BitWriter& bw, PictureType type, uint32_t display, uint16_t vbvDelay) const;
    void codeSlices(class BitWriter& bw, PictureType type, bool allSkip, double baseQ, double& quantSum);
    void analyseMb(int mbx, int mby, PictureType type, int qscale, Mb& mb);
    // Activity of a macroblock: 1 + the smallest variance of its luma blocks.
    double activity(int mbx, int mby) const;
    // Compares the input with the previous one on macroblock means; true for
    // a cut. Keeps the means for the next call.
    bool sceneCut();
    void codeHeldForward(std::vector<Coded>& out);
    bool unchangedMb(int mbx, int mby) const;
    void writeMb(class BitWriter& bw, const Mb& mb, PictureType type, int increment);
    // coded: bit k set when the level at scan position k is not zero.
    void writeBlock(class BitWriter& bw, const int16_t* levels, uint64_t coded, bool intra, int comp);
    int motionSearch(const Frame& ref, const Frame* refSrc, const std::vector<int16_t>& field, int fieldDir, int mbx,
                     int mby, int qscale, int& mvx, int& mvy);
    int qscaleOf(int code) const;
    int codeForQuant(double q) const;
    // Coefficients of the levels in natural order whose bits are set in nz
    // (the intra DC apart: dcLevel, or -1 for a non-intra block), into coef,
    // which holds zeros.
    void dequantise(const int16_t* nat, uint64_t nz, int dcLevel, int qscale, int qcode, int32_t* coef) const;
    void accumulatePsnr(const Frame& recon);
    // Inverse transform of a block whose only coefficients are the DC and the
    // last (the mismatch bit), from a small cache.
    struct DcOnlyBlock {
        int32_t dc = 0, last = 0;
        bool valid = false;
        int uniform = 0;  // the value of all 64 samples, INT_MIN when they differ
        alignas(16) int16_t res[64];
    };
    const DcOnlyBlock& dcOnlyBlock(int32_t dc, int32_t last);
    static constexpr int kDcOnlyBits = 4;
    DcOnlyBlock dcOnly_[1 << kDcOnlyBits];

    Config c_;
    int mbW_, mbH_, codedW_, codedH_, blocks_;
    int fcode_ = 1;
    int refDistance_ = 1;
    Frame src_;                  // latest input
    Frame ref_, past_;           // latest anchor's reconstruction and the one before
    Frame cur_;                  // reconstruction being built
    Frame anchorSrc_, pastSrc_;  // sources of ref_ and past_
    bool haveAnchorSrc_ = false, havePastSrc_ = false;
    ChangeMap inputChanges_;  // the input against anchorSrc_ as it was before the input
    Frame* input_ = &src_;    // where the latest input is: src_, or anchorSrc_ itself
    // True when the luma of the macroblock in the picture being coded equals
    // that of other (null: unknown).
    bool lumaUnchanged(const Frame* other, int mbx, int mby) const;
    Frame* codeSrc_ = &src_;  // source of the picture being coded
    bool srcMoved_ = false;   // src_ was swapped into anchorSrc_ after coding
    alignas(16) int32_t coefScratch_[64] = {};
    const Frame* lastRecon_ = &ref_;
    std::vector<Held> held_;  // inputs waiting for their backward reference
    size_t heldCount_ = 0;
    RateControl rc_;
    std::vector<double> rowShare_[4];  // cumulative share of a picture's bits per row, by type
    // Motion vectors per macroblock (half-pel): the P field of the current and
    // the previous anchor, and forward/backward of the current B picture.
    std::vector<int16_t> mvCur_, mvPrev_, mvB_;
    // Per macroblock: the quantiser scale at which the last anchor left it
    // without residual and motion, kExactSkipQ where its reconstruction
    // equals its source (any quantiser then leaves it as it is), 0 otherwise.
    static constexpr uint8_t kExactSkipQ = 1;
    std::vector<uint8_t> skipQ_;
    // Per macroblock: the finest quantiser scale at which the residual the
    // last anchor left (predicted without motion, nothing coded) quantises to
    // nothing, 0 when unknown; with lone small levels dropped (dropQ_) and
    // without (zeroQ_). It holds as long as the source stays as it is.
    std::vector<uint8_t> zeroQ_, dropQ_;
    uint8_t finestEmptyQuant(const ResidualSize* sizes, bool dropLone) const;
    // Per macroblock: copied unchanged from the reference in the last anchor
    // (Prev) and in the one being coded (Cur); with one reference the two
    // buffers then hold the same pixels there.
    std::vector<uint8_t> copiedPrev_, copiedCur_;
    bool reuseCur_ = false;
    int dcPred_[3] = {0, 0, 0};
    int pmv_[2][2] = {{0, 0}, {0, 0}};
    int curQcode_ = 1;
    bool intraVlc_ = false;
    const uint8_t* scan_;    // natural position of each scan index
    const uint8_t* scanOf_;  // and the reverse
    float intraInv_[64];
    int intraInvQ_ = -1;
    uint32_t pictures_ = 0;   // coded so far
    uint32_t inputs_ = 0;     // taken so far
    uint32_t gopIndex_ = 0;   // display index in the GOP of the next input
    uint32_t codingAbs_ = 0;  // display number of the picture being coded
    uint64_t totalBits_ = 0;
    double mseSum_ = 0;
    uint32_t psnrFrames_ = 0;
    bool sequenceStarted_ = false;
    // Adaptive quantisation: the average activity of the last picture and
    // the sums of the one being coded.
    double avgAct_ = 0, actSum_ = 0;
    uint32_t actCount_ = 0;
    int txQcode_ = 1;             // quantiser code the decoder holds in the current slice
    bool dropLoneLevels_ = true;  // false where the masking made the quantiser finer
    // Scene detection: luma sums of the previous input's macroblocks.
    std::vector<uint32_t> mbSums_, prevMbSums_;
    bool havePrevSums_ = false;
    uint32_t sinceIntra_ = 0;  // inputs since the last GOP started
    uint32_t sceneCuts_ = 0;
    std::vector<uint8_t> picBuf_;
    std::vector<std::vector<uint8_t>> spare_;  // recycled picture buffers
    Coded newCoded(uint64_t tag);
};

}  // namespace vidova
