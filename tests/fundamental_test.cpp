// The fundamental of partials over time: with a gap, beside their noise, bounded by their
// breakpoints, and as text.
#include "edit/fundamental.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"

namespace {

TEST(Fundamental, OverTimeAndAsText) {
  zarn::PartialSet set;
  for (int k = 1; k <= 3; ++k) {
    zarn::Partial p;
    for (double t : {0.0, 0.1}) zarn::add_breakpoint(p, t, 100.0 * k * (1 + t), 0.1);
    set.partials.push_back(p);
    zarn::Partial q;
    for (double t : {0.3, 0.4}) zarn::add_breakpoint(q, t, 150.0 * k, 0.1);
    set.partials.push_back(q);
  }
  const zarn::Fundamental f = zarn::fundamental(set, 0.05);
  ASSERT_EQ(f.time.size(), 9u);  // 0 to 0.4 every 0.05
  const double want[] = {100, 105, 110, 0, 0, 0, 150, 150, 150};
  for (std::size_t j = 0; j < 9; ++j) EXPECT_NEAR(f.freq[j], want[j], 1e-9) << j;
  EXPECT_EQ(zarn::fundamental_text(f).substr(0, 48), "0.000000 100.0000 1.000\n0.050000 105.0000 1.000\n");
  EXPECT_EQ(zarn::fundamental(set, 0.05, 120, 2000).freq[0], 0.0);  // 100 Hz lies below the range
  EXPECT_FALSE(zarn::fundamental_range_problem(30, 2000).size());
  EXPECT_TRUE(zarn::fundamental_range_problem(300, 200).size());
}

// The set's noise counts in the energy the harmonics are judged against: as strong as the
// harmonics, it halves the confidence; where it is not, the harmonics hold it all.
TEST(Fundamental, NoiseBesideThePartials) {
  zarn::PartialSet set;
  const double amps[] = {0.3, 0.2, 0.1};
  for (int k = 1; k <= 3; ++k) {
    zarn::Partial p;
    for (double t : {0.0, 1.0}) zarn::add_breakpoint(p, t, 200.0 * k, amps[k - 1]);
    set.partials.push_back(p);
  }
  const double harmonics = (0.09 + 0.04 + 0.01) / 2;  // their mean square
  set.noise.edges = {0, 1000, 20000};
  set.noise.times = {0, 0.25, 0.5, 0.75, 1.0};
  set.noise.power = {0, 0, 0, 0, harmonics, 0, harmonics, 0, harmonics, 0};
  const zarn::Fundamental f = zarn::fundamental(set, 0.1);
  ASSERT_EQ(f.time.size(), 11u);
  EXPECT_NEAR(f.confidence[1], 1.0, 1e-9);   // 0.1 s: no noise
  EXPECT_NEAR(f.freq[1], 200.0, 1e-9);
  EXPECT_NEAR(f.confidence[6], 0.5, 1e-9);   // 0.6 s: noise as strong as the harmonics
  EXPECT_NEAR(f.confidence[10], 0.5, 1e-9);
}

// The work follows the breakpoints, not the time they span: harmonics that last 1e6 s or
// 1e30 s in two breakpoints are numbered at once; the frames asked for every step from 0 are
// counted before any is made.
TEST(Fundamental, BoundedByTheBreakpointsNotTheirSpan) {
  for (const double span : {1e6, 1e30}) {
    zarn::PartialSet set;
    for (int k = 1; k <= 4; ++k) {
      zarn::Partial p;
      for (double t : {0.0, span}) zarn::add_breakpoint(p, t, 110.0 * k, 0.1 / k);
      set.partials.push_back(p);
    }
    const std::vector<int> numbers = zarn::harmonic_numbers(set);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4})) << span;
    const zarn::Fundamental f0 = zarn::fundamental_of_breakpoints(set);
    ASSERT_EQ(f0.time.size(), 2u) << span;  // the frames of the two breakpoints' times
    EXPECT_NEAR(zarn::fundamental_near(f0, span), 110.0, 1e-9);
    EXPECT_NEAR(zarn::fundamental_near(f0, 0.004), 110.0, 1e-9);  // the frame at 0 is the nearest
    EXPECT_EQ(zarn::fundamental_near(f0, 0.006), 0.0);            // that at 0.01 was not estimated
    try {
      zarn::fundamental(set, 1e-12);
      FAIL() << span;
    } catch (const zarn::Failure& f) {
      EXPECT_NE(f.message.find("more than 2147483647 estimates"), std::string::npos) << f.message;
    }
  }
  // Few frames: every one from 0, as fundamental() gives them.
  zarn::PartialSet short_set;
  zarn::Partial p;
  for (double t : {0.0, 0.5}) zarn::add_breakpoint(p, t, 200, 0.1);
  short_set.partials.push_back(p);
  EXPECT_EQ(zarn::fundamental_of_breakpoints(short_set).freq, zarn::fundamental(short_set, zarn::kHarmonicStep).freq);
  EXPECT_EQ(zarn::fundamental_of_breakpoints(short_set).time.size(), 51u);
}

}  // namespace
