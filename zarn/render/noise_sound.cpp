#include "render/noise_sound.hpp"

#include <cmath>

#include "model/phase.hpp"

namespace zarn {

namespace {

// The next value of a frame's white noise: uniform over [-sqrt 3, sqrt 3), of mean square 1.
double white(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;  // splitmix64
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (static_cast<double>(z >> 11) * 0x1.0p-53 * 2.0 - 1.0) * 1.7320508075688772;
}

// The noise's power in all is taken at every this many samples, linear between.
constexpr long kControl = 32;
// A frame lasts about this long (a power of two samples): long enough that the narrowest band
// (100 Hz) holds a few bins, short enough to follow the noise's frames.
constexpr double kFrameSeconds = 0.04;

}  // namespace

namespace detail {

Fft::Fft(std::size_t n) {
  for (std::size_t len = 2; len <= n; len <<= 1)
    for (std::size_t k = 0; k < len / 2; ++k) {
      forward_.push_back(std::polar(1.0, -kTwoPi / static_cast<double>(len) * static_cast<double>(k)));
      inverse_.push_back(std::polar(1.0, kTwoPi / static_cast<double>(len) * static_cast<double>(k)));
    }
}

void Fft::run(std::vector<std::complex<double>>& x, bool inverse) const {
  const std::size_t n = x.size();
  const std::vector<std::complex<double>>& rotations = inverse ? inverse_ : forward_;
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double>* w = rotations.data() + (len / 2 - 1);
    for (std::size_t i = 0; i < n; i += len)
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * w[k];
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
  }
}

}  // namespace detail

namespace {

// The frames' length at `rate`: the power of two samples that lasts kFrameSeconds or more.
std::size_t frame_length(int rate) {
  std::size_t n = 2;
  while (static_cast<double>(n) < kFrameSeconds * rate) n *= 2;
  return n;
}

}  // namespace

NoiseSound::NoiseSound(const Noise& noise, int rate)
    : noise_(noise), rate_(rate), N_(frame_length(rate)), H_(N_ / 2), power_(noise.bands()), spectrum_(N_), fft_(N_) {
  window_.resize(N_);
  for (std::size_t n = 0; n < N_; ++n) window_[n] = std::sin(kPi * (static_cast<double>(n) + 0.5) / static_cast<double>(N_));
  // The bins strictly between 0 and half the rate, each in the band its frequency lies in.
  band_of_.assign(N_ / 2 + 1, -1);
  bins_.assign(noise.bands(), 0.0);
  for (std::size_t k = 1; k < N_ / 2; ++k) {
    const double f = static_cast<double>(k) * rate / static_cast<double>(N_);
    for (std::size_t b = 0; b < noise.bands(); ++b)
      if (f >= noise.edges[b] && f < noise.edges[b + 1]) {
        band_of_[k] = static_cast<int>(b);
        bins_[b] += 1;
        break;
      }
  }
}

double NoiseSound::end(const Noise& noise) { return noise.empty() ? -1.0 : noise.times.back(); }

const std::vector<double>& NoiseSound::frame(long k) {
  for (int s = 0; s < 2; ++s)
    if (cached_[s] == k) return held_[s];
  const int slot = cached_[0] < cached_[1] ? 0 : 1;  // the older one goes
  cached_[slot] = k;
  std::vector<double>& out = held_[slot];
  out.assign(N_, 0.0);
  // The bands' powers at the frame's centre; silence makes no noise at all.
  noise_.at((static_cast<double>(k) * static_cast<double>(H_) + static_cast<double>(H_)) / rate_, power_.data());
  held_power_[slot] = 0;
  for (std::size_t b = 0; b < power_.size(); ++b)
    if (bins_[b] > 0) held_power_[slot] += power_[b];
  if (!(held_power_[slot] > 0)) return out;
  // White noise of mean square 1 has a mean power of N in every bin. A bin of band b scaled by
  // g, with its mirror, gives the mean square 2 g^2 / N each: the band's n_b bins hold its
  // power p_b where g^2 = p_b N / (2 n_b).
  std::uint64_t state = 0x5EED000000000000ull ^ static_cast<std::uint64_t>(k + 1);
  for (std::size_t n = 0; n < N_; ++n) spectrum_[n] = white(state);
  fft_.run(spectrum_, false);
  for (std::size_t j = 0; j <= N_ / 2; ++j) {
    const int b = band_of_[j];
    const double g = b >= 0 && power_[static_cast<std::size_t>(b)] > 0
                         ? std::sqrt(power_[static_cast<std::size_t>(b)] * static_cast<double>(N_) / (2 * bins_[static_cast<std::size_t>(b)]))
                         : 0.0;
    spectrum_[j] *= g;
    if (j > 0 && j < N_ / 2) spectrum_[N_ - j] = std::conj(spectrum_[j]);
  }
  fft_.run(spectrum_, true);
  for (std::size_t n = 0; n < N_; ++n) out[n] = spectrum_[n].real() / static_cast<double>(N_) * window_[n];
  return out;
}

double NoiseSound::frame_power(long k) {
  frame(k);
  return held_power_[cached_[0] == k ? 0 : 1];
}

double NoiseSound::total_at(long sample) {
  noise_.at(static_cast<double>(sample) / rate_, power_.data());
  double sum = 0;
  for (std::size_t b = 0; b < power_.size(); ++b)
    if (bins_[b] > 0) sum += power_[b];
  return sum;
}

double NoiseSound::power_at(long n) {
  const long c = n / kControl * kControl;
  if (c != control_) {
    control_power_[0] = c == control_ + kControl ? control_power_[1] : total_at(c);
    control_power_[1] = total_at(c + kControl);
    control_ = c;
  }
  const double u = static_cast<double>(n - c) / kControl;
  return control_power_[0] + u * (control_power_[1] - control_power_[0]);
}

void NoiseSound::add(double* out, long from, long to) {
  const auto H = static_cast<long>(H_);
  for (long n = from; n < to;) {
    // The samples of a hop lie in frame k (its first half) and the one before it (its second
    // half); both stay held while the hop is made, the older of the two held going first.
    const long k = n / H;
    const std::vector<double>& now = frame(k);
    const std::vector<double>& before = frame(k - 1);
    const double p0 = frame_power(k), p1 = frame_power(k - 1);
    for (const long end = std::min(to, (k + 1) * H); n < end; ++n) {
      const auto at = static_cast<std::size_t>(n - k * H);
      const double w0 = window_[at], w1 = window_[at + H_];
      // The frames give the spectrum, crossfaded; the power at the sample's own time gives the
      // level, so that the noise follows an onset within the frames rather than rising a frame
      // before it.
      const double made = w0 * w0 * p0 + w1 * w1 * p1;
      out[n - from] += made > 0 ? (now[at] + before[at + H_]) * std::sqrt(power_at(n) / made) : 0.0;
    }
  }
}

}  // namespace zarn
