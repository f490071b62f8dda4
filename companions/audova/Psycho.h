// Psychoacoustic model: from a block of input samples, the noise power each
// subband may carry without being heard.
#pragma once

#include <vector>

namespace audova {

class Psycho {
public:
    // fftSize 512 (Layer I) or 1024 (Layer II).
    Psycho(int sampleRate, int fftSize);

    // x (and y when not null): fftSize samples each (full scale +-1). Lowers
    // allowedX[sb] (power per subband sample, a band-centre sinusoid of
    // amplitude a having power a^2/2) to x's masked noise level, allowedY to
    // y's (the two may be the same array).
    void Analyze(const float* x, const float* y, float allowedX[32], float allowedY[32]);
    int size() const { return n_; }

private:
    void Threshold(float allowed[32]);
    void Fft(std::vector<float>& re, std::vector<float>& im) const;

    int n_;
    int rate_;
    std::vector<float> window_;
    std::vector<float> cosTable_, sinTable_;
    std::vector<int> bitrev_;
    std::vector<float> ath_;       // per line, power
    std::vector<int> partOfLine_;  // line -> partition
    std::vector<int> partFirst_, partCount_;
    std::vector<float> partBark_;
    std::vector<float> spread_;               // [maskee][masker], normalised per maskee
    std::vector<int> spreadFrom_, spreadTo_;  // maskers that reach each maskee
    std::vector<float> energy_, energy2_, re_, im_;
    std::vector<float> partEnergy_, partTonal_, masker_;
};

}  // namespace audova
