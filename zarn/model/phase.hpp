// The phase of a sinusoid whose frequency goes linearly from one point to the next, as the
// sound and the SDIF phase column both follow it.
#pragma once

#include <cmath>

namespace zarn {

/// Pi, to the double nearest it.
constexpr double kPi = 3.14159265358979323846;
/// Two pi.
constexpr double kTwoPi = 2 * kPi;

/// x wrapped into [-pi, pi).
inline double wrap_phase(double x) { return x - kTwoPi * std::floor((x + kPi) / kTwoPi); }

/// The phase at t1 of a sinusoid at `phase` at t0 whose frequency goes linearly from f0 to f1:
/// the exact integral (the trapezoid), wrapped into [-pi, pi).
inline double next_phase(double phase, double t0, double f0, double t1, double f1) {
  return wrap_phase(phase + kPi * (f0 + f1) * (t1 - t0));
}

}  // namespace zarn
