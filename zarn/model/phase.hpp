// The phase of a sinusoid between two points: where only frequencies are known, the integral
// of a frequency that goes linearly from one to the next (as the sound and the SDIF phase
// column follow it); where phases are known too, the cubic that meets both ends' phases and
// frequencies.
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

/// The phase from t0 to t0 + h of a sinusoid at phase phi0 and frequency f0 (hertz) at t0 and
/// at phi1, f1 at t0 + h: phi0 + w0 d + alpha d^2 + beta d^3 (d = t - t0, w0 = 2 pi f0), whose
/// rate meets w1 = 2 pi f1 at t0 + h, and whose phase meets phi1 there after as many whole
/// turns as make it smoothest (the turns M nearest to what a frequency going linearly from f0
/// to f1 would make).
struct CubicPhase {
  double phi0, w0, alpha, beta;

  CubicPhase(double phi_0, double f0, double phi1, double f1, double h) : phi0(phi_0), w0(kTwoPi * f0) {
    const double w1 = kTwoPi * f1;
    const double turns = std::nearbyint(((phi0 + w0 * h - phi1) + (w1 - w0) * h / 2) / kTwoPi);
    const double gap = phi1 + kTwoPi * turns - phi0 - w0 * h;
    alpha = 3 / (h * h) * gap - (w1 - w0) / h;
    beta = -2 / (h * h * h) * gap + (w1 - w0) / (h * h);
  }

  /// The phase d seconds after t0, unwrapped.
  double at(double d) const { return phi0 + w0 * d + alpha * d * d + beta * d * d * d; }
};

}  // namespace zarn
