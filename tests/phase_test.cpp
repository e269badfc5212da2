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

}  // namespace
