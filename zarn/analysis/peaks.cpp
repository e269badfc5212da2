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
// A peak that is a sinusoid must stand this far above the local noise, in dB: noise has its
// chance sinusoids too.
constexpr double kSinusoidAboveNoiseDb = 7.0;
// Neighbouring bins whose reassigned frequencies lie this close to the peak's (in bins)
// agree on one sinusoid.
constexpr double kAgreeBins = 0.1;
// The bins two and three away from a gliding peak, lower in its lobe, reassign to its line
// within this many bins: noise, or partials that beat, scatter theirs farther.
constexpr double kGlideAgreeBins = 0.2;
// A peak's frequency reassigns this close to its bin (in bins) when the peak is its partial's
// own: a side lobe of a louder partial, or a bin between two, reassigns farther.
constexpr double kOwnLobeBins = 1.0;
// A peak's energy centred within this share of the window's spread is steady.
constexpr double kSteadyOffset = 0.1;

// A peak this far (in dB) below the frame's loudest takes its frequency from its bins' powers.
constexpr double kLeakDb = 40.0;

// Distances from a bin (in bins, from -1 to 1) at which the level ratio is tabled.
constexpr std::size_t kLevelSteps = 512;

}  // namespace

PeakFinder::PeakFinder(const FrameTransform& transform, double rate, double floor_amp)
    : rate_(rate), floor_amp_(floor_amp), power_(transform.size() / 2 + 1), level_ratio_(kLevelSteps + 1) {
  // A sinusoid d bins above bin k gives bins k + 1 and k - 1 the powers W(1 - d)^2 and
  // W(-1 - d)^2 (W the window's response, in bins): their log ratio rises with d.
  const double bin = kTwoPi / static_cast<double>(transform.size());
  for (std::size_t i = 0; i <= kLevelSteps; ++i) {
    const double d = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(kLevelSteps);
    level_ratio_[i] = 2 * (std::log(std::fabs(transform.response(bin * (1 - d)))) - std::log(std::fabs(transform.response(bin * (-1 - d)))));
  }
}

double PeakFinder::level_offset(double log_ratio) const {
  const auto it = std::lower_bound(level_ratio_.begin(), level_ratio_.end(), log_ratio);
  if (it == level_ratio_.begin()) return -1.0;
  if (it == level_ratio_.end()) return 1.0;
  const auto i = static_cast<std::size_t>(it - level_ratio_.begin());
  const double u = (log_ratio - level_ratio_[i - 1]) / (level_ratio_[i] - level_ratio_[i - 1]);
  return -1.0 + 2.0 * (static_cast<double>(i - 1) + u) / static_cast<double>(kLevelSteps);
}

double PeakFinder::reassigned(const FrameTransform& t, std::size_t k) const {
  const double bin = kTwoPi / static_cast<double>(t.size());
  return bin * static_cast<double>(k) - std::imag(t.D()[k] * std::conj(t.X()[k])) / power_[k];
}

double PeakFinder::reassigned_time(const FrameTransform& t, std::size_t k) const {
  return std::real(t.T()[k] * std::conj(t.X()[k])) / power_[k] / rate_;
}

void PeakFinder::widen(std::size_t k, std::size_t reach, std::size_t& lo, std::size_t& hi) const {
  const std::size_t K = power_.size() - 1;
  while (lo > 1 && k - lo < reach && power_[lo - 1] < power_[lo]) --lo;
  while (hi + 1 < K && hi - k < reach && power_[hi + 1] < power_[hi]) ++hi;
}

// Local maxima above the floor, with their main lobes: down from the peak while the power
// falls, at most a lobe's width (and a half, for moving partials) to either side.
void PeakFinder::find_candidates(const FrameTransform& t, std::size_t lobe_bins, double floor_power) {
  const std::size_t N = t.size(), K = N / 2;
  const double bin = kTwoPi / static_cast<double>(N);
  const double steady = kSteadyOffset * std::sqrt(t.spread());
  candidates_.clear();
  for (std::size_t k = 1; k < K; ++k) {
    // The floor first: below it lie most bins of a quiet or sparse spectrum.
    if (!(power_[k] > floor_power && power_[k] > power_[k - 1] && power_[k] >= power_[k + 1])) continue;
    const double omega = reassigned(t, k);
    if (std::fabs(omega - bin * static_cast<double>(k)) > kOwnLobeBins * bin) continue;
    // A sinusoid, steady or gliding, moves its neighbouring bins' reassigned frequencies
    // with its own; in noise they scatter. Both neighbours agreeing mark a sinusoid; one (the
    // other spoilt by a neighbouring partial's lobe) with the energy at the frame's centre
    // marks a likely one, whose lobe the local noise is measured without.
    const double omega_lo = reassigned(t, k - 1), omega_hi = reassigned(t, k + 1);
    const double dlo = std::fabs(omega_lo - omega) / bin, dhi = std::fabs(omega_hi - omega) / bin;
    const double offset = reassigned_time(t, k);
    const bool sinusoid = std::max(dlo, dhi) <= kAgreeBins;
    const bool likely = sinusoid || (std::min(dlo, dhi) <= kAgreeBins && std::fabs(offset) <= steady);
    std::size_t lo = k, hi = k;
    widen(k, lobe_bins * 3 / 2, lo, hi);
    candidates_.push_back({k, lo, hi, omega, offset, omega_lo, omega_hi, 0.0, sinusoid, likely});
  }
  free_.assign(K + 1, 1);
  for (const Candidate& c : candidates_) {
    if (!c.likely) continue;
    const std::size_t from = c.k > lobe_bins ? c.k - lobe_bins : 0, to = std::min(K, c.k + lobe_bins);
    std::fill(free_.begin() + static_cast<std::ptrdiff_t>(from), free_.begin() + static_cast<std::ptrdiff_t>(to) + 1, 0);
  }
}

// A sinusoid that glides shows its glide in its bins: each reassigns to a point on its line in
// time and frequency, later for the bins above it when it rises. The line through the peak's
// neighbours' points, where they lie far enough apart in time to tell a slope, gives its rate;
// it is a glide where the bins two and three away lie on that line too, and the peak itself
// (whose own time lies where its bin meets the line, off the frame's centre by up to half a
// bin's worth of the glide). Noise scatters its points; a steady sinusoid reassigns all of
// them to one. The rate in radians a sample, a second; 0 where it is no glide.
double PeakFinder::glide_rate(const FrameTransform& t, const Candidate& c) const {
  const std::size_t k = c.k, K = t.size() / 2;
  const double bin = kTwoPi / static_cast<double>(t.size());
  // Its bins' frequencies rise through the lobe, a step alike to either side of the peak.
  if (k < 3 || k + 3 > K || !(c.omega_lo < c.omega && c.omega < c.omega_hi)) return 0.0;
  if (!(std::fabs((c.omega_hi - c.omega) - (c.omega - c.omega_lo)) <= kGlideAgreeBins * bin)) return 0.0;
  const double tlo = reassigned_time(t, k - 1), thi = reassigned_time(t, k + 1);
  if (!(std::fabs(thi - tlo) > kSteadyOffset * std::sqrt(t.spread()))) return 0.0;
  const double rate = (c.omega_hi - c.omega_lo) / (thi - tlo);
  if (!(std::fabs(c.omega - c.omega_lo - rate * (c.offset - tlo)) <= kAgreeBins * bin)) return 0.0;
  for (std::size_t j : {k - 2, k + 2, k - 3, k + 3})
    if (!(std::fabs(reassigned(t, j) - c.omega_lo - rate * (reassigned_time(t, j) - tlo)) <= kGlideAgreeBins * bin)) return 0.0;
  return rate;
}

double PeakFinder::block_noise(std::size_t q, std::size_t block, std::size_t K) {
  if (block_noise_[q] < 0) {
    const std::size_t from = q * block, to = std::min(K + 1, from + block);
    around_.clear();
    for (std::size_t k = from; k < to; ++k)
      if (free_[k]) around_.push_back(power_[k]);
    // A block that sinusoids' lobes fill holds too little noise to measure: none is taken.
    block_noise_[q] = around_.size() * 8 < to - from ? 0.0 : detail::select_kth(around_.data(), around_.size(), around_.size() / 4) / std::log(4.0 / 3.0);
  }
  return block_noise_[q];
}

const std::vector<Peak>& PeakFinder::find(const FrameTransform& t) {
  const std::size_t N = t.size(), L = t.window();
  const std::size_t K = N / 2;
  for (std::size_t k = 0; k <= K; ++k) power_[k] = std::norm(t.X()[k]);
  const double lobe = kLobeBins * static_cast<double>(N) / static_cast<double>(L);  // half-width in bins
  const auto lobe_bins = static_cast<std::size_t>(std::ceil(lobe));
  const double to_amp = 4.0 / (static_cast<double>(N) * t.energy());
  const double floor_power = floor_amp_ * floor_amp_ / to_amp / (2 * lobe);  // a rough first cut
  find_candidates(t, lobe_bins, floor_power);
  const double bin = kTwoPi / static_cast<double>(N);
  const double steady = kSteadyOffset * std::sqrt(t.spread());
  // The local noise: the lower quartile of the power in blocks of bins (eight main lobes
  // wide), outside the main lobes of likely sinusoids (free_), taken as the mean of noise
  // (whose power is exponentially distributed: its lower quartile is its mean times ln 4/3).
  // Each block's noise is found when a candidate first needs it: sparse spectra leave most
  // blocks without one.
  const std::size_t block = std::max<std::size_t>(16, lobe_bins * 16);
  const std::size_t blocks = (K + 1 + block - 1) / block;
  block_noise_.assign(blocks, -1.0);
  const auto noise_of = [&](std::size_t q) { return block_noise(q, block, K); };
  const double above = std::pow(10.0, kAboveNoiseDb / 10.0), sinusoid_above = std::pow(10.0, kSinusoidAboveNoiseDb / 10.0);
  // The amplitude from the energy of the whole main lobe, which a moving partial spreads but
  // does not lose; where a neighbour's lobe cuts it short, from the peak's own bin, against
  // the window's response at the bin's distance from the partial's frequency.
  const auto amplitude = [&](const Candidate& c) {
    const double cut = 0.75 * lobe;  // a side of the lobe that ends sooner meets a neighbour
    if (static_cast<double>(c.k - c.lo) >= cut && static_cast<double>(c.hi - c.k) >= cut) {
      double energy = 0;
      for (std::size_t q = c.lo; q <= c.hi; ++q) energy += power_[q];
      return std::sqrt(energy * to_amp);
    }
    return 2 * std::sqrt(power_[c.k]) / std::fabs(t.response(bin * static_cast<double>(c.k) - c.omega));
  };
  double loudest = 0;
  for (const Candidate& c : candidates_) loudest = std::max(loudest, power_[c.k]);
  const double leak_power = loudest * std::pow(10.0, -kLeakDb / 10.0);
  peaks_.clear();
  edges_.clear();
  lobes_.clear();
  const double window_seconds = static_cast<double>(L) / rate_;
  for (Candidate c : candidates_) {
    const double freq = c.omega * rate_ / kTwoPi;
    if (freq <= 0 || freq >= rate_ / 2) continue;
    // Clearly above the larger of the noise of the peak's block and its nearer neighbour, or
    // a sinusoid above it.
    const std::size_t here = c.k / block;
    const std::size_t near = (c.k % block) * 2 < block ? (here > 0 ? here - 1 : here) : std::min(blocks - 1, here + 1);
    const double noise = std::max(noise_of(here), noise_of(near));
    // A peak loud enough to be a sinusoid whose bins do not agree on one frequency may agree
    // on a glide: then it is one, its main lobe as wide as it sweeps through the window.
    if (!c.sinusoid && power_[c.k] > sinusoid_above * noise) c.chirp = glide_rate(t, c);
    if (c.chirp != 0) {
      c.sinusoid = true;
      widen(c.k, lobe_bins * 3 / 2 + static_cast<std::size_t>(std::ceil(0.5 * std::fabs(c.chirp) * window_seconds / bin)), c.lo, c.hi);
    }
    const bool peak = power_[c.k] > above * noise || (c.sinusoid && power_[c.k] > sinusoid_above * noise);
    // A peak that is neither, above the noise with its energy off the frame's centre, may be
    // a partial the window sees only in part, as it starts or stops.
    if (!peak && !(std::fabs(c.offset) > steady && power_[c.k] > sinusoid_above * noise)) continue;
    const double amp = amplitude(c);
    if (amp < floor_amp_) continue;
    // Far below the frame's loudest peak, a louder partial's leakage, which the reassignment
    // weighs by its distance, can move the frequency by many cents: there the frequency comes
    // from the powers of the bins either side instead, as the window's response shapes them,
    // which the leakage moves by its share alone.
    const double at = power_[c.k] < leak_power ? (static_cast<double>(c.k) + level_offset(std::log(power_[c.k + 1] / power_[c.k - 1]))) * rate_ / static_cast<double>(N) : freq;
    // The window is zero-phase (centred on index 0) and its transform real, so the peak bin's
    // phase is the partial's at the frame's centre where its level holds; where it rises or
    // falls, the window it is seen through leans towards its energy's centre, whose transform
    // turns the bin's phase by the bin's distance from the partial times that centre's time.
    const double phase = std::arg(t.X()[c.k]) + (bin * static_cast<double>(c.k) - c.omega) * (c.offset * rate_);
    (peak ? peaks_ : edges_).push_back({at, amp, c.offset, 1.0, c.chirp * rate_ / kTwoPi, wrap_phase(phase)});
    if (peak) lobes_.emplace_back(c.lo, c.hi);
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
