// The noise's band powers at any time: a frame's own at its time, in proportion between two,
// the first and last frames' for half a spacing beyond them, nothing farther out.
#include "model/noise.hpp"

#include <algorithm>
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

namespace {

// The fine bands split the wide critical bands, and join back where their parts are even over
// the sound: a band whose parts hold power for their widths within a factor of two is one
// again (its power their sum), one with a part ten times the others' stays split, and parts
// silent beside silent ones join; the power of the whole is kept.
TEST(Noise, FineBandsJoinWhereEvenStayWhereSteep) {
  const std::vector<double>& fine = zarn::fine_band_edges();
  const std::vector<double>& coarse = zarn::critical_band_edges();
  EXPECT_EQ(fine.front(), 0.0);
  EXPECT_EQ(fine.back(), 20000.0);
  for (double e : coarse) EXPECT_NE(std::find(fine.begin(), fine.end(), e), fine.end()) << e;
  zarn::Noise n;
  n.edges = fine;
  n.times = {0.0, 0.1};
  const std::size_t B = n.bands();
  n.power.assign(2 * B, 0.0);
  double total = 0;
  for (std::size_t j = 0; j < 2; ++j)
    for (std::size_t b = 0; b < B; ++b) {
      const double width = fine[b + 1] - fine[b];
      double density = 1e-8 * (1.0 + 0.3 * static_cast<double>(j));  // even: within a factor of two
      if (fine[b] >= 7700 && fine[b] < 8150) density *= 10;         // steep in 7700-9500
      if (fine[b] >= 15500) density = 0;                              // silent: one band
      n.power[j * B + b] = density * width;
      total += density * width;
    }
  zarn::join_even_bands(n);
  std::vector<double> want(coarse.begin(), coarse.end());
  const std::size_t steep = static_cast<std::size_t>(std::find(coarse.begin(), coarse.end(), 7700.0) - coarse.begin());
  want.insert(want.begin() + static_cast<std::ptrdiff_t>(steep) + 1, {8150, 8600, 9050});
  EXPECT_EQ(n.edges, want);
  double after = 0;
  for (double p : n.power) after += p;
  EXPECT_NEAR(after, total, 1e-12 * total);
}

}  // namespace
