#include "analysis/transform.hpp"

#include <cmath>

#include "model/phase.hpp"

namespace zarn {

namespace {

// The Blackman window's terms. Measured against Hann (whose shorter window follows vibrato
// better but cannot tell neighbours a resolution apart) and the 4-term Blackman-Harris (whose
// longer window blurs vibrato), it meets every accuracy limit of bench/analysis_quality.cpp.
constexpr double kA0 = 0.42, kA1 = 0.5, kA2 = 0.08, kA3 = 0.0;

std::size_t next_power_of_two(std::size_t n) {
  std::size_t p = 1;
  while (p < n) p *= 2;
  return p;
}

}  // namespace

FrameTransform::FrameTransform(std::size_t L, double rate)
    : L_(L), half_(L / 2), N_(next_power_of_two(L)), w_(L), dw_(L), fft_w_(N_), fft_d_(N_), fft_t_(N_) {
  const double c = kTwoPi / static_cast<double>(L - 1);
  for (std::size_t n = 0; n < L; ++n) {
    const double x = c * static_cast<double>(n);
    w_[n] = kA0 - kA1 * std::cos(x) + kA2 * std::cos(2 * x) - kA3 * std::cos(3 * x);
    dw_[n] = c * (kA1 * std::sin(x) - 2 * kA2 * std::sin(2 * x) + 3 * kA3 * std::sin(3 * x));
    energy_ += w_[n] * w_[n];
  }
  for (std::size_t n = 0; n < L; ++n) {
    const double m = (static_cast<double>(n) - static_cast<double>(half_)) / rate;
    spread_ += m * m * w_[n] * w_[n] / energy_;
  }
  double sum = 0;
  for (std::size_t n = 0; n < L; ++n) sum += w_[n];
  gain_ = std::fabs(sum);
}

std::complex<double> FrameTransform::at(double omega) const {
  const double* xw = fft_w_.input();
  const std::complex<double> turn = std::polar(1.0, -omega);
  std::complex<double> e = std::polar(1.0, omega * static_cast<double>(half_)), sum = 0;
  // Sample n of the frame lies at (n + N - half) mod N of the transform's input: the half
  // before the centre at its end, the rest from its start.
  std::size_t n = 0;
  for (; n < half_; ++n) {
    sum += xw[N_ - half_ + n] * e;
    e *= turn;
  }
  for (; n < L_; ++n) {
    sum += xw[n - half_] * e;
    e *= turn;
  }
  return sum;
}

}  // namespace zarn
