// Psychoacoustic model: from a block of input samples, the noise power each
// subband may carry without being heard.
#pragma once

#include <vector>

namespace audova {

class Psycho {
 public:
  // fftSize 512 (Layer I) or 1024 (Layer II).
  Psycho(int sampleRate, int fftSize);

  // x: fftSize samples (full scale +-1). Lowers allowed[sb] (power per subband
  // sample, a band-centre sinusoid of amplitude a having power a^2/2) to this
  // block's masked noise level.
  void Analyze(const float* x, float allowed[32]);

 private:
  void Fft(std::vector<float>& re, std::vector<float>& im) const;

  int n_;
  int rate_;
  std::vector<float> window_;
  std::vector<float> cosTable_, sinTable_;
  std::vector<int> bitrev_;
  std::vector<float> ath_;             // per line, power
  std::vector<int> partOfLine_;        // line -> partition
  std::vector<int> partFirst_, partCount_;
  std::vector<float> partBark_;
  std::vector<float> spread_;          // [maskee][masker], normalised per maskee
  std::vector<float> energy_, re_, im_;
  std::vector<float> partEnergy_, partTonal_;
};

}  // namespace audova
