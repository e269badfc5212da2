#include "phase.hpp"

#include <cmath>

namespace zarn {

double wrap_phase(double x) { return x - kTwoPi * std::floor((x + kPi) / kTwoPi); }

double next_phase(double phase, double t0, double f0, double t1, double f1) {
  return wrap_phase(phase + kPi * (f0 + f1) * (t1 - t0));
}

}  // namespace zarn
