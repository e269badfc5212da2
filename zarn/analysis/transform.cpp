#include "analysis/transform.hpp"

#include <algorithm>
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
    : L_(L), half_(L / 2), N_(next_power_of_two(L)), w_(L), dw_(L), energy_after_(L + 1, 0.0), sum_after_(L + 1, 0.0), moment_after_(L + 1, 0.0), rate_(rate), fft_w_(N_), fft_d_(N_), fft_t_(N_), x_(fft_w_.output()) {
  const double c = kTwoPi / static_cast<double>(L - 1);
  for (std::size_t n = 0; n < L; ++n) {
    const double x = c * static_cast<double>(n);
    w_[n] = kA0 - kA1 * std::cos(x) + kA2 * std::cos(2 * x) - kA3 * std::cos(3 * x);
    dw_[n] = c * (kA1 * std::sin(x) - 2 * kA2 * std::sin(2 * x) + 3 * kA3 * std::sin(3 * x));
    energy_ += w_[n] * w_[n];
  }
  for (RealFft* f : {&fft_w_, &fft_d_, &fft_t_}) std::fill(f->input(), f->input() + N_, 0.0);
  for (std::size_t n = 0; n < L; ++n) {
    const double m = (static_cast<double>(n) - static_cast<double>(half_)) / rate;
    spread_ += m * m * w_[n] * w_[n] / energy_;
  }
  double sum = 0, moment = 0;
  for (std::size_t n = 0; n < L; ++n) {
    const double m = (static_cast<double>(n) - static_cast<double>(half_)) / rate;
    sum += w_[n];
    moment += m * m * w_[n];
  }
  gain_ = std::fabs(sum);
  bend_ = moment / sum;
  for (std::size_t n = L; n-- > 0;) {
    const double m = (static_cast<double>(n) - static_cast<double>(half_)) / rate;
    energy_after_[n] = energy_after_[n + 1] + w_[n] * w_[n];
    sum_after_[n] = sum_after_[n + 1] + w_[n];
    moment_after_[n] = moment_after_[n + 1] + m * w_[n];
  }
}

double FrameTransform::onset(double offset) const {
  // The time a sinusoid's transform at its frequency reassigns to, the window's centre of
  // gravity from sample n on, rises with n: the last n whose centre is at
  // most `offset`, and between it and the next in proportion.
  const auto centre = [this](std::size_t n) { return moment_after_[n] / sum_after_[n]; };
  if (!(offset > centre(0))) return -static_cast<double>(half_) / rate_;
  std::size_t lo = 0, hi = L_ - 1;  // centre(lo) < offset; centre(L - 1) is the last sample's time
  if (!(offset < centre(hi))) return static_cast<double>(L_ - 1 - half_) / rate_;
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    (centre(mid) < offset ? lo : hi) = mid;
  }
  const double u = (offset - centre(lo)) / (centre(hi) - centre(lo));
  return (static_cast<double>(lo) + u - static_cast<double>(half_)) / rate_;
}

double FrameTransform::seen_after(double onset) const {
  const double n = std::clamp(onset * rate_ + static_cast<double>(half_), 0.0, static_cast<double>(L_ - 1));
  return sum_after_[static_cast<std::size_t>(std::lround(n))] / sum_after_[0];
}

double FrameTransform::response(double delta) const {
  // The window about its centre is a0 + a1 cos(c m) + a2 cos(2 c m) + a3 cos(3 c m), c =
  // 2 pi / (L - 1), for m from -half to half: each term's transform is the sum over those m
  // of exp(i x m), sin(x L / 2) / sin(x / 2), shifted by its frequency.
  const double c = kTwoPi / static_cast<double>(L_ - 1), length = static_cast<double>(L_);
  const auto dirichlet = [length](double x) {
    const double s = std::sin(0.5 * x);
    return std::fabs(s) < 1e-12 ? length : std::sin(0.5 * x * length) / s;
  };
  const double terms[] = {kA0, kA1, kA2, kA3};
  double sum = kA0 * dirichlet(delta);
  for (int m = 1; m < 4; ++m) sum += 0.5 * terms[m] * (dirichlet(delta - m * c) + dirichlet(delta + m * c));
  return sum;
}

}  // namespace zarn
