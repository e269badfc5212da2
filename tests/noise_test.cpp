// The noise's band powers at any time: a frame's own at its time, in proportion between two,
// the first and last frames' for half a spacing beyond them, nothing farther out.
#include "model/noise.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Noise, PowersAtAnyTime) {
  zarn::Noise n;
  n.edges = {0, 100, 300};
  n.times = {1.0, 1.1, 1.3};
  n.power = {1, 10, 3, 30, 5, 50};
  const struct {
    double time, lo, hi;
  } cases[] = {{0.94, 0, 0}, {0.96, 1, 10}, {1.0, 1, 10}, {1.05, 2, 20}, {1.1, 3, 30}, {1.25, 4.5, 45}, {1.3, 5, 50}, {1.39, 5, 50}, {1.41, 0, 0}};
  for (const auto& c : cases) {
    double out[2];
    n.at(c.time, out);
    EXPECT_NEAR(out[0], c.lo, 1e-12) << c.time;
    EXPECT_NEAR(out[1], c.hi, 1e-12) << c.time;
  }
  EXPECT_EQ(n.bands(), 2u);
  EXPECT_EQ(zarn::critical_band_noise().bands(), 25u);
  EXPECT_TRUE(zarn::critical_band_noise().empty());
}

}  // namespace
