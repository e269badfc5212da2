#include "edit/fundamental.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <cstdio>
#include <numeric>
#include <string>
#include <utility>

#include "model/failure.hpp"
#include "model/memory.hpp"

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

double fundamental_near(const Fundamental& f0, double time) {
  const double k = std::round(time / kHarmonicStep);
  if (!(k >= 0)) return 0;
  // Every frame from 0, or only some (fundamental_of_breakpoints): found by its time.
  if (k < static_cast<double>(f0.freq.size()) && f0.time[static_cast<std::size_t>(k)] == k * kHarmonicStep)
    return f0.freq[static_cast<std::size_t>(k)];
  const auto at = std::lower_bound(f0.time.begin(), f0.time.end(), k * kHarmonicStep);
  return at != f0.time.end() && *at == k * kHarmonicStep ? f0.freq[static_cast<std::size_t>(at - f0.time.begin())] : 0;
}

std::string fundamental_range_problem(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo > 0) || !(hi > lo)) return "the range must be two frequencies LO:HI with 0 < LO < HI";
  return {};
}

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
    {
      // The energy at each harmonic; the harmonics up to the one below which nearly all of it
      // lies (a faint far partial that happens to fall on a harmonic does not count).
      double at[kMaxHarmonic + 1] = {};
      double matched = 0;
      for (std::size_t p = 0; p < n; ++p) {
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
      const double score = matched / energy * present / std::max(top, 1);
      // A fundamental goes on from one instant to the next: of candidates that score alike, the
      // one where it was an instant before is taken.
      const bool goes_on = before > 0 && std::fabs(c - before) <= kHarmonicTolerance * before;
      const double judged = goes_on ? score * (1 + kContinuity) : score;
      if (judged > best_judged * (1 + 1e-9)) best = score, best_judged = judged, best_c = c;
    }
  }
  if (best < kVoiced) return {0.0, best};
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

std::vector<int> harmonic_numbers(const PartialSet& set) { return harmonic_numbers(set, fundamental_of_breakpoints(set)); }

std::vector<int> harmonic_numbers(const PartialSet& set, const Fundamental& f0) {
  std::vector<int> h(set.partials.size(), 0);
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& part = set.partials[p];
    if (part.origin.harmonic) {
      h[p] = static_cast<int>(std::clamp<long long>(part.origin.index, 0, 1 << 20));
      continue;
    }
    std::map<int, int> votes;
    for (std::size_t j = 0; j < part.time.size(); ++j) {
      const int n = harmonic_of(part.freq[j], fundamental_near(f0, part.time[j]));
      if (n > 0) ++votes[n];
    }
    int best = 0, most = 0;
    for (const auto& [n, count] : votes)
      if (count > most) best = n, most = count;
    if (2 * most >= static_cast<int>(part.time.size())) h[p] = best;
  }
  return h;
}

std::string fundamental_text(const Fundamental& f0) {
  std::string text;
  char line[96];
  for (std::size_t j = 0; j < f0.time.size(); ++j) {
    std::snprintf(line, sizeof line, "%.6f %.4f %.3f\n", f0.time[j], f0.freq[j], f0.confidence[j]);
    text += line;
  }
  return text;
}

namespace {

// The estimates of the fundamental at times k * step, one frame at a time in rising k.
class Estimates {
 public:
  Estimates(const PartialSet& set, double lo, double hi) : set_(set), sounding_(set), bands_(set.noise.bands()), lo_(lo), hi_(hi) {}

  // The fundamental at t; `before` is the one an instant before (0 for none).
  std::pair<double, double> at(double t, double before) {
    freq_.clear(), amp_.clear();
    for (const Sounding::At& s : sounding_.at(t)) {
      const Partial& part = set_.partials[s.partial];
      const double f = value_at(part.freq, s), a = value_at(part.amp, s);
      if (a > 0 && std::isfinite(f) && f > 0) freq_.push_back(f), amp_.push_back(a);
    }
    double noise = 0;
    if (!set_.noise.empty()) {
      set_.noise.at(t, bands_.data());
      for (double b : bands_) noise += b;
    }
    // A sine of amplitude a has the mean square a^2 / 2, as the noise's bands count it.
    for (double& a : amp_) a *= std::sqrt(0.5);
    return detail::fundamental_of(freq_, amp_, noise, lo_, hi_, before);
  }

 private:
  const PartialSet& set_;
  Sounding sounding_;
  std::vector<double> freq_, amp_, bands_;
  double lo_, hi_;
};

// The last time that the set's partials or noise reach; negative when they hold none.
double last_time(const PartialSet& set) {
  double end = set.noise.empty() ? -1.0 : set.noise.times.back();
  for (const Partial& p : set.partials)
    if (!p.time.empty()) end = std::max(end, p.time.back());
  return end;
}

constexpr double kMostFrames = 2147483647.0;

}  // namespace

Fundamental fundamental(const PartialSet& set, double step, double lo, double hi) {
  Fundamental out;
  const double end = last_time(set);
  if (end < 0) return out;
  // Every frame from 0 is asked for: their number and memory are checked before any is made.
  const double frames = std::floor(end / step) + 1;
  if (!(frames <= kMostFrames)) {
    char what[160];
    std::snprintf(what, sizeof what, "the fundamental would have more than 2147483647 estimates at a step of %g s up to %g s", step, end);
    throw failure(what);
  }
  check_memory(frames * 3 * sizeof(double), "the fundamental");
  out.time.reserve(static_cast<std::size_t>(frames));
  out.freq.reserve(static_cast<std::size_t>(frames));
  out.confidence.reserve(static_cast<std::size_t>(frames));
  Estimates estimates(set, lo, hi);
  for (long long k = 0;; ++k) {
    const double t = static_cast<double>(k) * step;
    if (t > end) break;
    const auto [f0, sure] = estimates.at(t, out.freq.empty() ? 0.0 : out.freq.back());
    out.time.push_back(t);
    out.freq.push_back(f0);
    out.confidence.push_back(sure);
  }
  return out;
}

Fundamental fundamental_of_breakpoints(const PartialSet& set) {
  const double end = last_time(set);
  if (end < 0) return {};
  std::size_t breakpoints = 0;
  for (const Partial& p : set.partials) breakpoints += p.time.size();
  // Where every frame costs no more than a few for each breakpoint, every frame is estimated,
  // each favouring the one before.
  constexpr double kFramesPerBreakpoint = 16, kFramesAnyway = 65536;
  if (end / kHarmonicStep < kFramesPerBreakpoint * static_cast<double>(breakpoints) + kFramesAnyway) return fundamental(set, kHarmonicStep);
  // Else only the frames that breakpoints are judged by, a frame favouring the one before
  // where that was estimated too.
  std::vector<double> frames;
  frames.reserve(breakpoints);
  for (const Partial& p : set.partials)
    for (double t : p.time) frames.push_back(std::round(t / kHarmonicStep));
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  Fundamental out;
  Estimates estimates(set, kFundamentalLo, kFundamentalHi);
  double last_k = -2;
  for (double k : frames) {
    if (!(k >= 0)) continue;
    const double t = k * kHarmonicStep;
    const auto [f0, sure] = estimates.at(t, k == last_k + 1 ? out.freq.back() : 0.0);
    out.time.push_back(t);
    out.freq.push_back(f0);
    out.confidence.push_back(sure);
    last_k = k;
  }
  return out;
}

}  // namespace zarn
