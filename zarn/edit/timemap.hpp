// Maps of the input's times to the output's: a time factor (one number, or one that varies
// over time), markers joined by straight lines, and holds where the sound stands still for a
// while. A map is pieces t = t0 + x (a + b x), x = u - u0, over input times [u0, u1] (b = 0
// but where a time factor changes along the piece); the first and last pieces go on beyond
// their ends (at the slope `a` of their start and end). A piece may begin with a hold: its
// input time u0 stands still for `hold` seconds of output before the piece goes on.
#pragma once

#include <limits>
#include <vector>

#include "edit/curve.hpp"

namespace zarn {

class TimeMap {
 public:
  /// One piece of the map.
  struct Piece {
    double u0 = 0, u1 = std::numeric_limits<double>::infinity();  // its input times
    double t0 = 0;    // the output time of u0 (where a hold begins)
    double hold = 0;  // seconds u0 is held before the piece goes on
    double a = 1, b = 0;
  };

  /// The map that leaves every time as it is.
  TimeMap();
  /// Every time multiplied by `factor` (above zero).
  static TimeMap scaled(double factor);
  /// Each stretch of time taken at the factor the curve gives then (above zero), 0 s staying 0 s.
  static TimeMap varying(const Curve& factor);
  /// Straight lines through the markers (input time, output time), both rising, two at least;
  /// beyond the first and last, the lines of the first and last stretch.
  static TimeMap markers(const Curve& markers);

  /// The map with a hold of `seconds` at input time `time`: what comes after it comes later by as much.
  TimeMap held(double time, double seconds) const;

  /// The output time of input time `u` (the start of a hold at its own time).
  double forward(double u) const;
  /// The input time of output time `t`: that of a hold throughout it.
  double inverse(double t) const;
  /// How long input time `u` is held (0 where it is not).
  double hold_at(double u) const;
  /// The input times where the map changes its course: its markers, its factor's breakpoints, its holds.
  const std::vector<double>& knots() const { return knots_; }
  /// The pieces, in order.
  const std::vector<Piece>& pieces() const { return pieces_; }

  /// The map of a partial or an onset that rises from `start` to `peak` at its own speed, from
  /// where this map puts `start`, then takes up the difference by `until` (the first of the
  /// knots after the peak, or its end), beyond which it is this map. Returns false, leaving
  /// `out` alone, where it cannot (a knot within the rise, or too little time left to catch up).
  bool with_rise(double start, double peak, double until, TimeMap& out) const;

 private:
  std::size_t piece_of(double u) const;  // the piece that maps u: the last whose u0 lies below it
  std::size_t cut(double u);             // makes u a piece's start; returns that piece's index
  std::vector<Piece> pieces_;
  std::vector<double> knots_;
};

}  // namespace zarn
