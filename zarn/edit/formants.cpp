#include "edit/formants.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace zarn {

namespace detail {

namespace {

// Partials closer than this share of their frequency (or than kMergeHz) are one peak of the
// spectrum: a partial split in two by the analysis, or two beating, which would otherwise give
// the envelope a slope of tens of dB across a fraction of a hertz.
constexpr double kMergeShare = 0.02, kMergeHz = 5.0;
// A point this far under the line between its neighbours is a dip between the peaks that
// draw the envelope (a weak partial of the noise between two harmonics), not the envelope.
constexpr double kDipDb = 12.0;

}  // namespace

std::vector<std::pair<double, double>> envelope_points(std::vector<std::pair<double, double>> peaks) {
  std::sort(peaks.begin(), peaks.end());
  // Merged: at the power-weighted mean frequency, as loud as the louder (never louder than a
  // partial that sounds).
  struct Merged {
    double hertz, power, loudest;
  };
  std::vector<Merged> merged;
  for (const auto& [f, db] : peaks) {
    const double power = std::pow(10.0, db / 10);
    if (!merged.empty() && f - merged.back().hertz < std::max(kMergeHz, kMergeShare * f)) {
      Merged& m = merged.back();
      m.hertz = (m.hertz * m.power + f * power) / (m.power + power);
      m.power += power;
      m.loudest = std::max(m.loudest, db);
    } else {
      merged.push_back({f, power, db});
    }
  }
  std::vector<std::pair<double, double>> e;  // (log hertz, dB)
  e.reserve(merged.size());
  for (const Merged& m : merged) e.emplace_back(std::log(m.hertz), m.loudest);
  // Dips left out, each judged against its neighbours as merged.
  std::vector<std::pair<double, double>> kept;
  kept.reserve(e.size());
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (i > 0 && i + 1 < e.size()) {
      const double u = (e[i].first - e[i - 1].first) / (e[i + 1].first - e[i - 1].first);
      const double line = e[i - 1].second + u * (e[i + 1].second - e[i - 1].second);
      if (e[i].second < line - kDipDb) continue;
    }
    kept.push_back(e[i]);
  }
  return kept;
}

double envelope_at(const std::vector<std::pair<double, double>>& e, double x) {
  const auto above = std::lower_bound(e.begin(), e.end(), std::pair<double, double>(x, -HUGE_VAL));
  if (above == e.begin()) return e.front().second;
  if (above == e.end()) return e.back().second;
  const std::size_t i = static_cast<std::size_t>(above - e.begin()) - 1;
  // A cubic whose slopes keep it within each interval's two values (the harmonic mean of the
  // secants either side where they agree in sign, else flat): a formant's shape between its
  // partials, with no swing beyond them.
  const auto secant = [&](std::size_t a) { return (e[a + 1].second - e[a].second) / (e[a + 1].first - e[a].first); };
  const auto slope = [&](std::size_t k) {
    if (k == 0 || k + 1 == e.size()) return 0.0;
    const double s0 = secant(k - 1), s1 = secant(k);
    if (!(s0 * s1 > 0)) return 0.0;
    const double h0 = e[k].first - e[k - 1].first, h1 = e[k + 1].first - e[k].first;
    return 3 * (h0 + h1) / ((2 * h1 + h0) / s0 + (h1 + 2 * h0) / s1);
  };
  const double h = e[i + 1].first - e[i].first, u = (x - e[i].first) / h;
  const double u2 = u * u, u3 = u2 * u;
  return (2 * u3 - 3 * u2 + 1) * e[i].second + (u3 - 2 * u2 + u) * h * slope(i) + (-2 * u3 + 3 * u2) * e[i + 1].second +
         (u3 - u2) * h * slope(i + 1);
}

}  // namespace detail

void keep_formants(PartialSet& set, double ratio) {
  if (ratio == 1.0) return;
  keep_formants(set, [ratio](double) { return ratio; });
}

void keep_formants(PartialSet& set, const std::function<double(double time)>& ratio_at) {
  // Every breakpoint by its time; at each time, the envelope of the partials sounding then
  // (between breakpoints in proportion), read for the breakpoints at that time.
  struct Point {
    double time;
    std::size_t partial, index;
  };
  std::vector<Point> points;
  for (std::size_t p = 0; p < set.partials.size(); ++p)
    for (std::size_t j = 0; j < set.partials[p].time.size(); ++j) points.push_back({set.partials[p].time[j], p, j});
  std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.time < b.time; });
  // The envelope's points come from the levels as read, kept apart from the levels changed.
  std::vector<std::vector<double>> level(set.partials.size());
  for (std::size_t p = 0; p < set.partials.size(); ++p) level[p] = set.partials[p].amp;
  Sounding sounding(set);
  std::vector<std::pair<double, double>> peaks, envelope;  // (hertz, dB); (log hertz, dB)
  for (std::size_t at = 0; at < points.size();) {
    const double t = points[at].time;
    peaks.clear();
    for (const Sounding::At& s : sounding.at(t)) {
      const double f = value_at(set.partials[s.partial].freq, s), a = value_at(level[s.partial], s);
      if (a > 0 && f > 0 && std::isfinite(f)) peaks.emplace_back(f, 20 * std::log10(a));
    }
    envelope = detail::envelope_points(peaks);
    for (; at < points.size() && points[at].time == t; ++at) {
      Partial& part = set.partials[points[at].partial];
      const std::size_t j = points[at].index;
      const double f = part.freq[j] * ratio_at(t);
      if (envelope.empty() || !(part.amp[j] > 0) || !(f > 0) || !std::isfinite(f)) continue;
      // The partial keeps its level against the envelope: a harmonic on it takes the envelope's
      // level where it goes, a weak partial between two stays as far under it; none goes above
      // the envelope there.
      const double there = detail::envelope_at(envelope, std::log(f)), here = detail::envelope_at(envelope, std::log(part.freq[j]));
      const double db = std::min(20 * std::log10(part.amp[j]) + there - here, there);
      part.amp[j] = std::pow(10.0, db / 20);
    }
  }
}

}  // namespace zarn
