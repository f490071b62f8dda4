// Picture coder: I and P frame pictures with motion search, skipped
// macroblocks and rate control.
#pragma once
#include "companions/vidova/Config.h"
#include "companions/vidova/Picture.h"

#include <cstdint>
#include <vector>

namespace vidova {

class RateControl {
 public:
  void init(const Config& c);
  void setTarget(double bitrate);
  void startGop(int pictures);
  // Base quantiser (1..31, linear units) for the next picture.
  double startPicture(bool intra);
  double sliceQuant(double base, uint64_t bitsSoFar, double fraction) const;
  // Largest size the next picture may take without emptying the VBV buffer.
  double maxPictureBits() const { return vbv_; }
  // Books a coded picture; returns the stuffing bits the picture must carry.
  uint64_t endPicture(bool intra, uint64_t bits, double avgQuant);
  uint16_t vbvDelay() const;
  bool constantQuant() const { return mode_ >= 2; }

 private:
  int mode_ = 0;
  double rate_ = 0, maxRate_ = 0, fps_ = 25, perFrame_ = 0;
  double vbvSize_ = 0, vbv_ = 0;
  double xi_ = 0, xp_ = 0, rgop_ = 0;
  int ni_ = 0, np_ = 0, gopN_ = 1;
  double target_ = 0, q0_ = 8;
  double lastQi_ = 0, lastQp_ = 0;
  int qI_ = 2, qP_ = 4;
  bool havePictures_ = false;
};

class Encoder {
 public:
  explicit Encoder(const Config& c);

  Frame& source() { return src_; }
  const Frame& reconstruction() const { return ref_; }
  // Codes the picture in source() and appends it, with the sequence and GOP
  // headers it needs, to out. repeat: the source is the previous picture
  // again (a P picture then skips everything).
  void encode(std::vector<uint8_t>& out, bool repeat, const uint8_t* userData, int userDataLen);
  void writeEndCode(std::vector<uint8_t>& out) const;
  void setTargetBitrate(double bitrate) { rc_.setTarget(bitrate); }

  uint32_t pictures() const { return pictures_; }
  uint64_t totalBits() const { return totalBits_; }
  double overallPsnr() const;
  const Config& config() const { return c_; }

 private:
  struct Mb;
  void writeSequenceHeader(class BitWriter& bw) const;
  void writeGopHeader(class BitWriter& bw) const;
  void writePictureHeaders(class BitWriter& bw, bool intra, uint16_t vbvDelay) const;
  void codeSlices(class BitWriter& bw, bool intra, bool allSkip, double baseQ, double& quantSum);
  void analyseMb(int mbx, int mby, bool intra, int qscale, Mb& mb);
  void writeMb(class BitWriter& bw, const Mb& mb, bool intraPic, int increment);
  void writeBlock(class BitWriter& bw, const int16_t* levels, int last, bool intra, int comp);
  int motionSearch(int mbx, int mby, int qscale, int& mvx, int& mvy);
  int qscaleOf(int code) const;
  int codeForQuant(double q) const;
  void dequantise(const int16_t* levelsScan, bool intra, int qscale, int qcode, int32_t* coef) const;
  void accumulatePsnr();

  Config c_;
  int mbW_, mbH_, codedW_, codedH_, blocks_;
  int fcode_ = 1;
  Frame src_, ref_, cur_, prevSrc_;
  bool havePrevSrc_ = false;
  RateControl rc_;
  std::vector<double> rowShare_[2];  // cumulative share of a picture's bits per row, I and P
  std::vector<int16_t> mvCur_, mvPrev_;  // per macroblock: mvx, mvy (half-pel)
  int dcPred_[3] = {0, 0, 0};
  int pmv_[2] = {0, 0};
  int curQcode_ = 1;
  float intraInv_[64];
  int intraInvQ_ = -1;
  uint32_t pictures_ = 0;
  uint32_t gopIndex_ = 0;  // pictures since the GOP started
  uint64_t totalBits_ = 0;
  double mseSum_ = 0;
  uint32_t psnrFrames_ = 0;
  bool sequenceStarted_ = false;
};

}  // namespace vidova
