// The fundamental of one instant's sinusoids: harmonics found whole, the octave told by the odd
// harmonics, noise and missing fundamentals.
#include "model/pitch.hpp"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace {

double cents(double f, double g) { return 1200 * std::log2(f / g); }

TEST(Pitch, OfOneInstant) {
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

}  // namespace
