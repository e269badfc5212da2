// The fundamental: of harmonic series whole, without their fundamental, stretched, beside a
// faint far partial, drowned in noise; over time with a gap; and its text.
#include "edit/fundamental.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"

namespace {

double cents(double f, double g) { return 1200 * std::log2(f / g); }

TEST(Fundamental, OfOneInstant) {
  struct Case {
    const char* what;
    std::vector<double> freq, amp;
    double noise, f0;  // f0 0: none
  };
  std::vector<Case> cases;
  const auto series = [](double f, int from, int to, double stretch = 0) {
    Case c{"", {}, {}, 0, f};
    for (int k = from; k <= to; ++k) c.freq.push_back(k * f * std::sqrt(1 + stretch * k * k)), c.amp.push_back(0.3 / k);
    return c;
  };
  Case whole = series(200, 1, 8);
  whole.what = "eight harmonics";
  cases.push_back(whole);
  Case missing = series(200, 2, 8);
  missing.what = "without the fundamental";
  cases.push_back(missing);
  Case piano = series(65.4, 1, 24, 0.0003);
  piano.what = "stretched as a piano's";
  piano.f0 = 65.4 * std::sqrt(1.0003);
  cases.push_back(piano);
  Case far = series(220, 1, 8);
  far.what = "a faint far partial on the 59th harmonic";
  far.freq.push_back(59 * 220.3), far.amp.push_back(0.003);
  cases.push_back(far);
  cases.push_back({"one sine", {440}, {0.1}, 0, 440});
  Case drowned = series(200, 1, 4);
  drowned.what = "in noise ten times as strong";
  drowned.noise = 10 * (0.09 + 0.0225 + 0.01 + 0.005625);
  drowned.f0 = 0;
  cases.push_back(drowned);
  cases.push_back({"below the range", {20, 40, 60}, {0.1, 0.1, 0.1}, 0, 0});
  const auto db = [](std::vector<double> levels) {
    for (double& l : levels) l = std::pow(10.0, l / 20);
    return levels;
  };
  // As a flute's note (783 Hz) shows: weak partials on the odd multiples of its half hold
  // 0.2 % of the energy, too little for the octave below.
  cases.push_back({"weak partials an octave down", {391, 783, 1172, 1566, 1957, 2349, 3132}, db({-60, -23, -55, -32, -53, -40, -55}), 0, 783});
  // As a low piano string's (41.2 Hz) and a double bass's (49 Hz): the second harmonic the
  // strongest, the third within 20 dB of it and the first or fifth present.
  cases.push_back({"a weak fundamental, its third 11 dB under its second", {82.4, 123.6, 164.8, 206, 247.2, 288.4},
                   db({-27.6, -38.5, -39.2, -44.6, -38.4, -45.6}), 0, 41.2});
  cases.push_back({"a weak first harmonic", {49, 98, 147, 196, 245}, db({-44.7, -21.8, -39.7, -27.7, -48.9}), 0, 49});
  // A tone of 196 Hz with two partials of another sound that fall on odd multiples of 98 Hz,
  // the nearer 20.6 dB under its neighbour: not the octave below.
  cases.push_back({"stray partials on odd multiples of its half", {196, 294, 392, 490, 588, 784},
                   db({-33.1, -53.7, -34.4, -48.8, -33.9, -41}), 0, 196});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [f0, sure] = zarn::detail::fundamental_of(c.freq, c.amp, c.noise, 30, 2000);
    if (c.f0 == 0) {
      EXPECT_EQ(f0, 0.0);
      continue;
    }
    ASSERT_GT(f0, 0);
    EXPECT_NEAR(cents(f0, c.f0), 0, 1.0);
    EXPECT_GT(sure, 0.8);
  }
}

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
