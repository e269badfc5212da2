#include "edit/morph.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "edit/fundamental.hpp"

namespace zarn {

double MorphWeight::at(double time) const {
  if (points.empty()) return 0.0;
  if (time <= points.front().first) return points.front().second;
  if (time >= points.back().first) return points.back().second;
  const auto after = std::upper_bound(points.begin(), points.end(), time, [](double t, const auto& p) { return t < p.first; });
  const auto before = after - 1;
  return before->second + (time - before->first) / (after->first - before->first) * (after->second - before->second);
}

bool MorphWeight::constant() const {
  return std::all_of(points.begin(), points.end(), [&](const auto& p) { return p.second == points.front().second; });
}

MorphWeight parse_morph_weight(std::string_view text, std::string& problem) {
  MorphWeight w;
  const auto number = [](std::string_view s, double& v) {
    // The whole text a number, as every other option takes one: strtod alone would pass over
    // white space before it.
    const std::string t(s);
    if (t.empty() || std::isspace(static_cast<unsigned char>(t.front()))) return false;
    char* end = nullptr;
    v = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && std::isfinite(v);
  };
  const auto weight_ok = [](double v) { return v >= 0 && v <= 1; };
  if (text.find(':') == std::string_view::npos) {
    double v;
    if (!number(text, v) || !weight_ok(v)) problem = "the weight must be a number from 0 to 1, or T:W,T:W,... with weights from 0 to 1";
    else w.points.emplace_back(0.0, v);
    return w;
  }
  while (!text.empty()) {
    const std::size_t comma = text.find(','), colon = text.find(':');
    const std::string_view item = text.substr(0, comma);
    double t, v;
    if (colon == std::string_view::npos || colon > item.size() || !number(item.substr(0, colon), t) || !number(item.substr(colon + 1), v) ||
        !weight_ok(v) || (!w.points.empty() && !(t > w.points.back().first))) {
      problem = "each breakpoint must be T:W, times rising and weights from 0 to 1";
      return {};
    }
    w.points.emplace_back(t, v);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return w;
}

namespace {


double duration(const PartialSet& set) {
  double end = 0;
  for (const Partial& p : set.partials)
    if (!p.time.empty()) end = std::max(end, p.time.back());
  return end;
}

// A partial's frequency and amplitude at `t` within its span (between breakpoints in proportion).
std::pair<double, double> partial_at(const Partial& p, double t) {
  const auto it = std::upper_bound(p.time.begin(), p.time.end(), t);
  const std::size_t j = static_cast<std::size_t>(it - p.time.begin());
  if (j == 0) return {p.freq.front(), p.amp.front()};
  if (j == p.time.size()) return {p.freq.back(), p.amp.back()};
  const double u = (t - p.time[j - 1]) / (p.time[j] - p.time[j - 1]);
  return {p.freq[j - 1] + u * (p.freq[j] - p.freq[j - 1]), p.amp[j - 1] + u * (p.amp[j] - p.amp[j - 1])};
}

double mean_log_freq(const Partial& p) {
  double s = 0;
  for (double f : p.freq) s += std::log(std::max(f, kMinFreq));
  return p.freq.empty() ? 0 : s / static_cast<double>(p.freq.size());
}

// Each partial's match in the other sound (-1 for none): the same harmonic number, or
// (without one) the nearest in frequency within a whole tone; each partial of the other
// sound at most once, the one sharing most time (each sound's time in its duration) first.
std::vector<long> matches(const PartialSet& set, const PartialSet& other, double da, double db) {
  const std::vector<int> ha = harmonic_numbers(set), hb = harmonic_numbers(other);
  const auto overlap = [&](const Partial& a, const Partial& b) {
    const double lo = std::max(a.time.front() / da, b.time.front() / db), hi = std::min(a.time.back() / da, b.time.back() / db);
    return hi - lo;
  };
  std::vector<long> match(set.partials.size(), -1);
  std::vector<char> taken(other.partials.size(), 0);
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& a = set.partials[p];
    if (a.time.empty()) continue;
    double best = 0;
    for (std::size_t q = 0; q < other.partials.size(); ++q) {
      const Partial& b = other.partials[q];
      if (taken[q] || b.time.empty()) continue;
      const bool same = ha[p] > 0 ? hb[q] == ha[p] : hb[q] == 0 && std::fabs(mean_log_freq(a) - mean_log_freq(b)) < std::log(9.0 / 8.0);
      const double shared = overlap(a, b);
      if (same && shared > best) best = shared, match[p] = static_cast<long>(q);
    }
    if (match[p] >= 0) taken[static_cast<std::size_t>(match[p])] = 1;
  }
  return match;
}

}  // namespace

void morph(PartialSet& set, const PartialSet& other, const MorphWeight& weight) {
  if (weight.points.empty() || (weight.constant() && weight.points.front().second == 0)) return;
  if (weight.constant() && weight.points.front().second == 1) {
    set = other;
    return;
  }
  const double da = duration(set), db = duration(other);
  if (!(da > 0) || !(db > 0)) return;
  // The result's duration: between the two for one weight; this sound's where it changes.
  const double w0 = weight.points.front().second;
  const double dout = weight.constant() ? (1 - w0) * da + w0 * db : da;
  const std::vector<long> match = matches(set, other, da, db);
  std::vector<char> taken(other.partials.size(), 0);
  for (long m : match)
    if (m >= 0) taken[static_cast<std::size_t>(m)] = 1;
  PartialSet out;
  out.places = set.places;
  out.format = set.format;
  out.about = set.about;
  out.hop = set.hop;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    const Partial& a = set.partials[p];
    Partial r;
    r.place = a.place;
    r.origin = a.origin;
    for (std::size_t j = 0; j < a.time.size(); ++j) {
      const double u = a.time[j] / da, w = weight.at(a.time[j]);
      double f = a.freq[j], amp = a.amp[j] * (1 - w);
      if (match[p] >= 0) {
        const Partial& b = other.partials[static_cast<std::size_t>(match[p])];
        const double tb = u * db;
        if (tb >= b.time.front() && tb <= b.time.back()) {
          const auto [fb, ab] = partial_at(b, tb);
          f = std::exp((1 - w) * std::log(a.freq[j]) + w * std::log(fb));
          amp = db2amp((1 - w) * amp2db(a.amp[j]) + w * amp2db(ab));
        }
      }
      const double t = u * dout;
      if (follows(r, t)) add_breakpoint(r, t, f, amp);
    }
    out.partials.push_back(std::move(r));
  }
  for (std::size_t q = 0; q < other.partials.size(); ++q) {
    if (taken[q]) continue;
    const Partial& b = other.partials[q];
    Partial r;
    r.place = b.place;
    r.origin = b.origin;
    for (std::size_t j = 0; j < b.time.size(); ++j) {
      const double u = b.time[j] / db, t = u * dout;
      if (follows(r, t)) add_breakpoint(r, t, b.freq[j], b.amp[j] * weight.at(u * da));
    }
    out.partials.push_back(std::move(r));
  }
  // The noise: this sound's, its power weighted against the other's at the same share of time.
  if (!set.noise.empty()) {
    out.noise = set.noise;
    std::vector<double> theirs(other.noise.bands());
    for (std::size_t k = 0; k < out.noise.times.size(); ++k) {
      const double u = set.noise.times[k] / da, w = weight.at(set.noise.times[k]);
      if (other.noise.bands() == out.noise.bands()) other.noise.at(u * db, theirs.data());
      for (std::size_t b = 0; b < out.noise.bands(); ++b)
        out.noise.power[k * out.noise.bands() + b] = (1 - w) * set.noise.frame(k)[b] + (other.noise.bands() == out.noise.bands() ? w * theirs[b] : 0.0);
      out.noise.times[k] = u * dout;
    }
  }
  set = std::move(out);
}

}  // namespace zarn
