#include "model/pitch.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zarn {

namespace {

// The highest harmonic number counted.
constexpr int kMaxHarmonic = 60;
// A partial within this share of a harmonic's frequency is that harmonic (about 50 cents),
// and at most this share of the fundamental away from it: high harmonics lie so close to each
// other that a share of their frequency would take any partial.
constexpr double kHarmonicTolerance = 0.03, kSpacingTolerance = 0.2;

// The strongest partials whose subharmonics are candidates, and how far down.
constexpr std::size_t kStrongest = 8;
constexpr int kSubharmonics = 8;
// The harmonics that hold this share of a candidate's energy count in how densely they are present.
constexpr double kMostEnergy = 0.95;
// Below this confidence, there is no fundamental.
constexpr double kVoiced = 0.4;
// How much a candidate where the fundamental was an instant before is favoured.
constexpr double kContinuity = 0.15;
// The least share of a fundamental's energy that its odd harmonics hold: below it, the
// candidate is an octave too low.
constexpr double kOddShare = 0.01;
// The least energy of a fundamental's third harmonic against the even ones beside it (-20 dB)
// for it to show the octave below a candidate.
constexpr double kLowOdd = 0.01;
// Harmonics up to this number give the fundamental's frequency (higher ones of strings
// stretch).
constexpr int kRefineUpTo = 4;

}  // namespace

int harmonic_of(double f, double c) {
  if (!(c > 0)) return 0;
  const double h = std::round(f / c);
  if (h < 1 || h > kMaxHarmonic) return 0;
  return std::fabs(f - h * c) <= std::min(kHarmonicTolerance * h, kSpacingTolerance) * c ? static_cast<int>(h) : 0;
}

namespace {

// The share of the energy that the harmonics of c hold, times how densely its harmonics up to
// the highest matched are present: a subharmonic of the fundamental explains as much energy but
// misses every other harmonic.
double harmonic_score(const std::vector<double>& freq, const std::vector<double>& amp, double c, double energy) {
  // The energy at each harmonic; the harmonics up to the one below which nearly all of it
  // lies (a faint far partial that happens to fall on a harmonic does not count).
  double at[kMaxHarmonic + 1] = {};
  double matched = 0;
  for (std::size_t p = 0; p < freq.size(); ++p) {
    const int h = harmonic_of(freq[p], c);
    if (h == 0) continue;
    at[h] += amp[p] * amp[p];
    matched += amp[p] * amp[p];
  }
  int top = 0, present = 0;
  for (double below = 0; top < kMaxHarmonic && below < kMostEnergy * matched;) {
    below += at[++top];
    present += at[top] > 0 ? 1 : 0;
  }
  return matched / energy * present / std::max(top, 1);
}

// The candidate best_c, an octave up or down where its odd harmonics tell it is one off.
double octave_checked(const std::vector<double>& freq, const std::vector<double>& amp, double best_c, double lo, double hi) {
  const std::size_t n = freq.size();
  // An octave is told by the odd harmonics: a candidate whose odd multiples hold (almost) none
  // of the energy its harmonics match is a subharmonic of the fundamental, an octave above it.
  // One whose half has its low odd harmonics (the third, as loud as the even ones beside it
  // within 20 dB, and the first or fifth) is an octave above the fundamental: a weak
  // fundamental, as a piano's lowest strings or a double bass have. Each needs the other
  // octave within the range.
  struct Harmonics {
    double odd = 0, all = 0;
    double at[6] = {};  // the energy of harmonics 1 to 5
  };
  const auto harmonics = [&](double c) {
    Harmonics o;
    for (std::size_t p = 0; p < n; ++p) {
      const int h = harmonic_of(freq[p], c);
      if (h == 0) continue;
      const double e = amp[p] * amp[p];
      o.all += e;
      if (h <= 5) o.at[h] += e;
      if (h % 2 == 1) o.odd += e;
    }
    return o;
  };
  Harmonics on = harmonics(best_c);
  while (on.all > 0 && on.odd < kOddShare * on.all && 2 * best_c <= hi) {
    best_c *= 2;
    on = harmonics(best_c);
  }
  if (best_c / 2 >= lo) {
    const Harmonics below = harmonics(best_c / 2);
    const bool third = below.at[3] > 0 && below.at[3] >= kLowOdd * std::max(below.at[2], below.at[4]);
    if (third && (below.at[1] > 0 || below.at[5] > 0) && below.odd >= kOddShare * on.all) best_c /= 2;
  }
  return best_c;
}

}  // namespace

namespace detail {

std::pair<double, double> fundamental_of(const std::vector<double>& freq, const std::vector<double>& amp, double noise, double lo, double hi,
                                         double before) {
  const std::size_t n = freq.size();
  double energy = noise;
  for (double a : amp) energy += a * a;
  if (n == 0 || !(energy > 0)) return {0.0, 0.0};
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return amp[a] > amp[b]; });
  // Each candidate scores the share of the energy that its harmonics hold, times how densely
  // its harmonics up to the highest matched are present: a subharmonic of the fundamental
  // explains as much energy but misses every other harmonic.
  double best = 0, best_judged = 0, best_c = 0;
  // The candidates, each once: the strongest partials' subharmonics, those within a tenth of the
  // tolerance of another taken as one.
  std::vector<double> candidates;
  for (std::size_t s = 0; s < std::min(n, kStrongest); ++s)
    for (int d = 1; d <= kSubharmonics; ++d) {
      const double c = freq[order[s]] / d;
      if (c >= lo && c <= hi) candidates.push_back(c);
    }
  std::sort(candidates.begin(), candidates.end());
  double last = 0;
  for (const double c : candidates) {
    if (last > 0 && c < last * (1 + 0.1 * kHarmonicTolerance)) continue;
    last = c;
    const double score = harmonic_score(freq, amp, c, energy);
    // A fundamental goes on from one instant to the next: of candidates that score alike, the
    // one where it was an instant before is taken.
    const bool goes_on = before > 0 && std::fabs(c - before) <= kHarmonicTolerance * before;
    const double judged = goes_on ? score * (1 + kContinuity) : score;
    if (judged > best_judged * (1 + 1e-9)) best = score, best_judged = judged, best_c = c;
  }
  if (best < kVoiced) return {0.0, best};
  best_c = octave_checked(freq, amp, best_c, lo, hi);
  // The frequency from the lowest harmonics matched, weighted by their energy.
  double sum = 0, weight = 0;
  for (int limit = kRefineUpTo; weight == 0 && limit <= kMaxHarmonic; limit *= 2)
    for (std::size_t p = 0; p < n; ++p) {
      const int h = harmonic_of(freq[p], best_c);
      if (h == 0 || h > limit) continue;
      sum += amp[p] * amp[p] * freq[p] / h;
      weight += amp[p] * amp[p];
    }
  const double f0 = weight > 0 ? sum / weight : best_c;
  return {f0 >= lo && f0 <= hi ? f0 : 0.0, best};
}

}  // namespace detail

}  // namespace zarn
