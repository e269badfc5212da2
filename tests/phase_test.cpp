// The phase: wrapped into [-pi, pi), and integrated exactly over a linear frequency.
#include "model/phase.hpp"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using zarn::kPi;

TEST(Phase, WrapsIntoHalfOpenRange) {
  for (double x : {0.0, 1.0, kPi, -kPi, 3 * kPi, -3 * kPi + 0.5, 100.0}) {
    const double w = zarn::wrap_phase(x);
    EXPECT_GE(w, -kPi);
    EXPECT_LT(w, kPi);
    EXPECT_NEAR(std::remainder(w - x, 2 * kPi), 0.0, 1e-12) << x;
  }
}

TEST(Phase, IntegratesALinearFrequency) {
  // 10 Hz rising to 30 Hz over 0.1 s: 2 pi times the mean 20 Hz times 0.1 s, two whole turns.
  EXPECT_NEAR(zarn::next_phase(0.5, 1.0, 10, 1.1, 30), 0.5, 1e-12);
  // 25 Hz for 0.01 s: a quarter turn.
  EXPECT_NEAR(zarn::next_phase(0, 0, 25, 0.01, 25), kPi / 2, 1e-12);
}

// The cubic between two points meets both ends' phases (up to whole turns) and frequencies,
// and of the turns it could make takes those nearest a frequency going linearly: rising and
// falling, the phase behind and ahead of that, over long and short spans.
TEST(Phase, CubicMeetsBothEndsWithTheFewestTurns) {
  struct Case {
    double phi0, f0, phi1, f1, h;
  };
  for (const Case& c : {Case{0.3, 440, -2.0, 452, 0.0116}, Case{-3.0, 1200, 3.1, 1100, 0.05}, Case{2.5, 80, 0.1, 95, 0.2}, Case{0, 10, 1.5, 10, 1.0}}) {
    SCOPED_TRACE(c.f0);
    const zarn::CubicPhase cubic(c.phi0, c.f0, c.phi1, c.f1, c.h);
    const double d = 1e-7;
    EXPECT_NEAR(cubic.at(0), c.phi0, 1e-12);
    EXPECT_NEAR(std::remainder(cubic.at(c.h) - c.phi1, 2 * kPi), 0.0, 1e-8);
    EXPECT_NEAR((cubic.at(d) - cubic.at(0)) / d / (2 * kPi), c.f0, 1e-3 * c.f0);
    EXPECT_NEAR((cubic.at(c.h) - cubic.at(c.h - d)) / d / (2 * kPi), c.f1, 1e-3 * c.f1);
    // Within half a turn of the phase a linear frequency makes: the smoothest of the cubics.
    const double linear = c.phi0 + kPi * (c.f0 + c.f1) * c.h;
    EXPECT_LE(std::fabs(cubic.at(c.h) - linear), kPi + 1e-9);
  }
}

}  // namespace
