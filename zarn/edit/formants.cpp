#include "edit/formants.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace zarn {

namespace {

// The envelope through its points (log frequency, dB) at x between points i and i + 1: a
// cubic with the slope at each point from the secants either side (weighted by their
// lengths), so that a formant between two harmonics keeps its peak.
double between(const std::vector<std::pair<double, double>>& e, std::size_t i, double x) {
  const auto slope = [&](std::size_t k) {
    const auto secant = [&](std::size_t a) { return (e[a + 1].second - e[a].second) / (e[a + 1].first - e[a].first); };
    if (k == 0) return secant(0);
    if (k + 1 == e.size()) return secant(k - 1);
    const double h0 = e[k].first - e[k - 1].first, h1 = e[k + 1].first - e[k].first;
    return (secant(k - 1) * h1 + secant(k) * h0) / (h0 + h1);
  };
  const double h = e[i + 1].first - e[i].first, u = (x - e[i].first) / h;
  const double u2 = u * u, u3 = u2 * u;
  return (2 * u3 - 3 * u2 + 1) * e[i].second + (u3 - 2 * u2 + u) * h * slope(i) + (-2 * u3 + 3 * u2) * e[i + 1].second +
         (u3 - u2) * h * slope(i + 1);
}

}  // namespace

void keep_formants(PartialSet& set, double ratio) {
  if (ratio == 1.0) return;
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
  std::vector<std::pair<double, double>> envelope;  // (log frequency, dB)
  for (std::size_t at = 0; at < points.size();) {
    const double t = points[at].time;
    envelope.clear();
    for (const Sounding::At& s : sounding.at(t)) {
      const double f = value_at(set.partials[s.partial].freq, s), a = value_at(level[s.partial], s);
      if (a > 0 && f > 0 && std::isfinite(f)) envelope.emplace_back(std::log(f), 20 * std::log10(a));
    }
    std::sort(envelope.begin(), envelope.end());
    for (; at < points.size() && points[at].time == t; ++at) {
      Partial& part = set.partials[points[at].partial];
      const std::size_t j = points[at].index;
      const double f = part.freq[j] * ratio;
      if (envelope.empty() || !(part.amp[j] > 0) || !(f > 0) || !std::isfinite(f)) continue;
      const double x = std::log(f);
      const auto above = std::lower_bound(envelope.begin(), envelope.end(), std::pair<double, double>(x, -HUGE_VAL));
      double db;
      if (above == envelope.begin()) db = envelope.front().second;
      else if (above == envelope.end()) db = envelope.back().second;
      else db = between(envelope, static_cast<std::size_t>(above - envelope.begin()) - 1, x);
      part.amp[j] = std::pow(10.0, db / 20);
    }
  }
}

}  // namespace zarn
