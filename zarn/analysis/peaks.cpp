#include "analysis/peaks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/phase.hpp"

namespace zarn {

namespace {

// A peak must stand this far above the local noise (the mean power of the bins around it
// that no peak's main lobe covers), in dB.
constexpr double kAboveNoiseDb = 10.0;

}  // namespace

PeakFinder::PeakFinder(const FrameTransform& transform, double rate, double floor_amp)
    : rate_(rate), floor_amp_(floor_amp), power_(transform.size() / 2 + 1) {}

const std::vector<Peak>& PeakFinder::find(const FrameTransform& t) {
  const std::complex<double>* X = t.X();
  const std::complex<double>* D = t.D();
  const std::size_t N = t.size(), L = t.window();
  const std::size_t K = N / 2;
  for (std::size_t k = 0; k <= K; ++k) power_[k] = std::norm(X[k]);
  const double lobe = kLobeBins * static_cast<double>(N) / static_cast<double>(L);  // half-width in bins
  const auto lobe_bins = static_cast<std::size_t>(std::ceil(lobe));
  const double to_amp = 4.0 / (static_cast<double>(N) * t.energy());
  const double floor_power = floor_amp_ * floor_amp_ / to_amp / (2 * lobe);  // a rough first cut
  // Local maxima above the floor, with their main lobes: down from the peak while the power
  // falls, at most a lobe's width (and a half, for moving partials) to either side.
  struct Candidate {
    std::size_t k, lo, hi;
  };
  std::vector<Candidate> candidates;
  for (std::size_t k = 1; k < K; ++k) {
    // The floor first: below it lie most bins of a quiet or sparse spectrum.
    if (!(power_[k] > floor_power && power_[k] > power_[k - 1] && power_[k] >= power_[k + 1])) continue;
    const std::size_t reach = lobe_bins * 3 / 2;
    std::size_t lo = k, hi = k;
    while (lo > 1 && k - lo < reach && power_[lo - 1] < power_[lo]) --lo;
    while (hi + 1 < K && hi - k < reach && power_[hi + 1] < power_[hi]) ++hi;
    candidates.push_back({k, lo, hi});
  }
  // The local noise: the lower quartile of the power in blocks of bins (eight main lobes
  // wide), taken as the mean of noise (whose power is exponentially distributed: its lower
  // quartile is its mean times ln 4/3). Partials' lobes may cover most of a block without
  // raising it.
  // Each block's noise is found when a candidate first needs it: sparse spectra leave most
  // blocks without one.
  const std::size_t block = std::max<std::size_t>(16, lobe_bins * 16);
  const std::size_t blocks = (K + 1 + block - 1) / block;
  block_noise_.assign(blocks, -1.0);
  const auto noise_of = [&](std::size_t q) {
    if (block_noise_[q] < 0) {
      const std::size_t from = q * block, to = std::min(K + 1, from + block);
      around_.assign(power_.begin() + static_cast<std::ptrdiff_t>(from), power_.begin() + static_cast<std::ptrdiff_t>(to));
      block_noise_[q] = detail::select_kth(around_.data(), around_.size(), around_.size() / 4) / std::log(4.0 / 3.0);
    }
    return block_noise_[q];
  };
  const double above = std::pow(10.0, kAboveNoiseDb / 10.0);
  peaks_.clear();
  const std::complex<double>* T = t.T();
  for (const Candidate& c : candidates) {
    // The larger of the noise of the peak's block and its nearer neighbour: a partial's own
    // lobe can make up much of a block.
    const std::size_t here = c.k / block;
    const std::size_t near = (c.k % block) * 2 < block ? (here > 0 ? here - 1 : here) : std::min(blocks - 1, here + 1);
    const double noise = std::max(noise_of(here), noise_of(near));
    if (!(power_[c.k] > above * noise)) continue;
    // Reassigned frequency: the bin's less the phase's rate_ of change across the window.
    const double theta = kTwoPi * static_cast<double>(c.k) / static_cast<double>(N);
    const double omega = theta - std::imag(D[c.k] * std::conj(X[c.k])) / power_[c.k];
    if (std::fabs(omega - theta) > kTwoPi * lobe / static_cast<double>(N)) continue;
    const double freq = omega * rate_ / kTwoPi;
    if (freq <= 0 || freq >= rate_ / 2) continue;
    // The amplitude from the energy of the whole main lobe, which a moving partial spreads
    // but does not lose; where a neighbour's lobe cuts it short, from the transform at the
    // partial's own frequency, against the window's gain there.
    double amp;
    const double cut = 0.75 * lobe;  // a side of the lobe that ends sooner meets a neighbour
    if (static_cast<double>(c.k - c.lo) >= cut && static_cast<double>(c.hi - c.k) >= cut) {
      double energy = 0;
      for (std::size_t q = c.lo; q <= c.hi; ++q) energy += power_[q];
      amp = std::sqrt(energy * to_amp);
    } else {
      amp = 2 * std::abs(t.at(omega)) / t.gain();
    }
    if (amp < floor_amp_) continue;
    const double offset = std::real(T[c.k] * std::conj(X[c.k])) / power_[c.k] / rate_;
    peaks_.push_back({freq, amp, offset});
  }
  return peaks_;
}

namespace detail {

namespace {

// Moves a[j] to the front part [.., front) when `in`, without a branch: a[j] and a[front] are
// swapped as bits, or both written back as they were.
inline void move_forward(double* a, std::size_t j, std::size_t front, bool in) {
  std::uint64_t v, t;
  std::memcpy(&v, a + j, sizeof v);
  std::memcpy(&t, a + front, sizeof t);
  const std::uint64_t mask = 0 - static_cast<std::uint64_t>(in);
  const std::uint64_t to_j = (t & mask) | (v & ~mask), to_front = (v & mask) | (t & ~mask);
  std::memcpy(a + j, &to_j, sizeof to_j);
  std::memcpy(a + front, &to_front, sizeof to_front);
}

}  // namespace

double select_kth(double* a, std::size_t n, std::size_t k) {
  std::size_t lo = 0, hi = n;
  for (;;) {
    if (hi - lo <= 16) {  // a few left: sorted in place
      for (std::size_t i = lo + 1; i < hi; ++i) {
        const double v = a[i];
        std::size_t j = i;
        for (; j > lo && a[j - 1] > v; --j) a[j] = a[j - 1];
        a[j] = v;
      }
      return a[k];
    }
    const double x = a[lo], y = a[lo + (hi - lo) / 2], z = a[hi - 1];
    const double pivot = std::max(std::min(x, y), std::min(std::max(x, y), z));  // the median of three
    // Those below the pivot to the front, then those equal to it (at least the pivot itself)
    // after them: k lies in one of the three parts.
    std::size_t below = lo;
    for (std::size_t j = lo; j < hi; ++j) {
      const bool in = a[j] < pivot;
      move_forward(a, j, below, in);
      below += in;
    }
    if (k < below) {
      hi = below;
      continue;
    }
    std::size_t equal = below;
    for (std::size_t j = below; j < hi; ++j) {
      const bool in = !(pivot < a[j]);
      move_forward(a, j, equal, in);
      equal += in;
    }
    if (k < equal) return pivot;
    lo = equal;
  }
}

}  // namespace detail

}  // namespace zarn
