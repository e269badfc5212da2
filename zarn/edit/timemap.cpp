#include "edit/timemap.hpp"

#include <algorithm>
#include <cmath>

namespace zarn {

TimeMap::TimeMap() : pieces_{Piece{}}, knots_{0.0} {}

TimeMap TimeMap::scaled(double factor) {
  TimeMap map;
  map.pieces_[0].a = factor;
  return map;
}

TimeMap TimeMap::varying(const Curve& factor) {
  TimeMap map;
  map.pieces_.clear();
  const std::vector<double>& at = factor.times;
  const std::vector<double>& s = factor.values;
  // The output time is the factor's integral: over a stretch where the factor goes straight
  // from s0 to s1 in h seconds, t0 + x (s0 + (s1 - s0) / (2 h) x).
  double t = 0;
  for (std::size_t i = 0; i + 1 < at.size(); ++i) {
    const double h = at[i + 1] - at[i], b = (s[i + 1] - s[i]) / (2 * h);
    map.pieces_.push_back({at[i], at[i + 1], t, 0, s[i], b});
    t = t + h * (s[i] + b * h);
  }
  map.pieces_.push_back({at.back(), std::numeric_limits<double>::infinity(), t, 0, s.back(), 0});
  // 0 s stays where it is.
  const double zero = map.forward(0);
  for (Piece& piece : map.pieces_) piece.t0 -= zero;
  map.knots_ = at;
  return map;
}

TimeMap TimeMap::markers(const Curve& markers) {
  TimeMap map;
  map.pieces_.clear();
  const std::vector<double>& from = markers.times;
  const std::vector<double>& to = markers.values;
  for (std::size_t i = 0; i + 1 < from.size(); ++i)
    map.pieces_.push_back({from[i], from[i + 1], to[i], 0, (to[i + 1] - to[i]) / (from[i + 1] - from[i]), 0});
  map.pieces_.back().u1 = std::numeric_limits<double>::infinity();
  map.knots_ = from;
  return map;
}

std::size_t TimeMap::piece_of(double u) const {
  const auto after = std::lower_bound(pieces_.begin(), pieces_.end(), u, [](const Piece& p, double v) { return p.u0 < v; });
  return after == pieces_.begin() ? 0 : static_cast<std::size_t>(after - pieces_.begin()) - 1;
}

double TimeMap::forward(double u) const {
  const Piece& p = pieces_[piece_of(u)];
  const double x = u - p.u0;
  if (!(x > 0)) return p.t0 + x * p.a;  // the piece's start, or before the first piece
  return p.t0 + p.hold + x * (p.a + p.b * x);
}

double TimeMap::inverse(double t) const {
  const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), t, [](double v, const Piece& p) { return v < p.t0; });
  if (after == pieces_.begin()) return pieces_[0].u0 + (t - pieces_[0].t0) / pieces_[0].a;
  const Piece& p = *(after - 1);
  double d = t - p.t0;
  if (d <= p.hold) return p.u0;
  d -= p.hold;
  double x;
  if (p.b == 0) {
    x = d / p.a;
  } else {
    // The root of b x^2 + a x = d that lies in the piece, in the form that loses nothing where b is small.
    const double root = std::sqrt(std::max(p.a * p.a + 4 * p.b * d, 0.0));
    x = 2 * d / (p.a + root);
  }
  return p.u0 + std::min(x, p.u1 - p.u0);
}

std::size_t TimeMap::cut(double u) {
  const std::size_t i = piece_of(u);
  if (pieces_[i].u0 == u) return i;
  if (i + 1 < pieces_.size() && pieces_[i + 1].u0 == u) return i + 1;
  const double t = forward(u);
  Piece& p = pieces_[i];
  if (u < p.u0) {  // before the first piece: a straight start of its slope
    pieces_.insert(pieces_.begin(), Piece{u, p.u0, t, 0, p.a, 0});
    return 0;
  }
  const double x = u - p.u0;
  const Piece rest{u, p.u1, t, 0, p.a + 2 * p.b * x, p.b};
  p.u1 = u;
  pieces_.insert(pieces_.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
  return i + 1;
}

double TimeMap::hold_at(double u) const {
  const std::size_t i = piece_of(u);
  for (std::size_t k = i; k < pieces_.size() && k <= i + 1; ++k)
    if (pieces_[k].u0 == u) return pieces_[k].hold;
  return 0;
}

TimeMap TimeMap::held(double time, double seconds) const {
  TimeMap map = *this;
  const std::size_t j = map.cut(time);
  map.pieces_[j].hold += seconds;
  for (std::size_t k = j + 1; k < map.pieces_.size(); ++k) map.pieces_[k].t0 += seconds;
  const auto at = std::lower_bound(map.knots_.begin(), map.knots_.end(), time);
  if (at == map.knots_.end() || *at != time) map.knots_.insert(at, time);
  return map;
}

bool TimeMap::with_rise(double start, double peak, double until, TimeMap& out) const {
  const auto next = std::upper_bound(knots_.begin(), knots_.end(), start);
  if (next != knots_.end() && *next <= peak) return false;  // a knot within the rise
  if (next != knots_.end()) until = std::min(until, *next);
  if (!(start < peak && peak < until)) return false;
  TimeMap map = *this;
  const std::size_t s = map.cut(start);
  const std::size_t p = map.cut(peak), u = map.cut(until);
  // The rise at its own speed, from where the map puts its start.
  Piece rise = map.pieces_[s];
  rise.u1 = peak;
  rise.a = 1;
  rise.b = 0;
  const double delta = rise.t0 + rise.hold + (peak - start) - map.pieces_[p].t0;
  // Then the difference taken up in proportion by `until`.
  const double width = until - peak;
  for (std::size_t k = p; k < u; ++k) {
    Piece& q = map.pieces_[k];
    q.t0 += delta * ((until - q.u0) / width);
    q.a -= delta / width;
    if (!(q.a > 0 && q.a + 2 * q.b * (q.u1 - q.u0) > 0)) return false;
  }
  map.pieces_.erase(map.pieces_.begin() + static_cast<std::ptrdiff_t>(s), map.pieces_.begin() + static_cast<std::ptrdiff_t>(p));
  map.pieces_.insert(map.pieces_.begin() + static_cast<std::ptrdiff_t>(s), rise);
  out = std::move(map);
  return true;
}

}  // namespace zarn
