#include "render/noise_sound.hpp"

#include <cmath>

#include "model/phase.hpp"

namespace zarn {

namespace {

// The band's amplitudes are taken at every this many samples and followed linearly between.
constexpr long kControl = 32;

// The next value of a band's white noise: uniform over [-sqrt 3, sqrt 3), of mean square 1.
double white(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;  // splitmix64
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (static_cast<double>(z >> 11) * 0x1.0p-53 * 2.0 - 1.0) * 1.7320508075688772;
}

}  // namespace

NoiseSound::NoiseSound(const Noise& noise, int rate) : noise_(noise), rate_(rate), bands_(noise.bands()), at_(noise.bands()), next_(noise.bands()) {
  // Fourth-order Butterworth edges: two sections each, of these Q.
  const double qs[] = {0.5411961001461971, 1.3065629648763766};
  const double nyquist = 0.5 * rate;
  for (std::size_t b = 0; b < bands_.size(); ++b) {
    Band& band = bands_[b];
    band.seed = 0x5EED0000ull + b;
    const double lo = noise.edges[b], hi = noise.edges[b + 1];
    if (!(lo < 0.95 * nyquist)) continue;  // beyond what the rate holds: silent
    for (const double q : qs) {
      if (lo > 0) {
        const double w = kTwoPi * lo / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w), a0 = 1 + alpha;
        band.sections.push_back({(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0});
      }
      if (hi < 0.95 * nyquist) {
        const double w = kTwoPi * hi / rate, alpha = std::sin(w) / (2 * q), c = std::cos(w), a0 = 1 + alpha;
        band.sections.push_back({(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0});
      }
    }
    // The filter's mean square for white noise of mean square 1: the energy of its impulse
    // response, over a quarter of a second (it has died away long before).
    std::vector<Section> probe = band.sections;
    for (long n = 0; n < rate / 4; ++n) {
      double y = n == 0 ? 1.0 : 0.0;
      for (Section& s : probe) y = s.run(y);
      band.gain += y * y;
    }
  }
}

double NoiseSound::end(const Noise& noise) { return noise.empty() ? -1.0 : noise.times.back(); }

void NoiseSound::add(double* out, long from, long to) {
  const std::size_t B = bands_.size();
  std::vector<double> power(B);
  const auto amplitudes = [&](long sample, std::vector<double>& into) {
    noise_.at(static_cast<double>(sample) / rate_, power.data());
    for (std::size_t b = 0; b < B; ++b) into[b] = bands_[b].gain > 0 && power[b] > 0 ? std::sqrt(power[b] / bands_[b].gain) : 0.0;
  };
  for (long n = from; n < to; ++n) {
    // The control points lie at whole multiples of kControl from the first sample on.
    const long c = n / kControl * kControl;
    if (c != control_) {
      if (control_ >= 0 && c == control_ + kControl) at_ = next_;
      else amplitudes(c, at_);
      amplitudes(c + kControl, next_);
      control_ = c;
    }
    const double u = static_cast<double>(n - c) / kControl;
    double sum = 0;
    for (std::size_t b = 0; b < B; ++b) {
      Band& band = bands_[b];
      if (band.sections.empty()) continue;
      double y = white(band.seed);
      for (Section& s : band.sections) y = s.run(y);
      sum += y * (at_[b] + u * (next_[b] - at_[b]));
    }
    out[n - from] += sum;
  }
}

}  // namespace zarn
