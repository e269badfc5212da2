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
