// Harmonic partials: a vibrato of twelve harmonics, analysed, becomes twelve partials, each
// labelled (98 % of its rows at least) with its harmonic number; a partial off the harmonics is
// left out, and fragments of one harmonic are joined.
#include "edit/harmonic.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/analysis.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(Harmonic, AVibratoLabelledAndWhole) {
  const double rate = 44100;
  std::vector<double> x(static_cast<std::size_t>(2 * rate), 0.0);
  const auto f0 = [](double t) { return 196 * (1 + 0.012 * std::sin(2 * kPi * 5.5 * t)); };
  double phase = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    phase += 2 * kPi * f0((static_cast<double>(i) - 0.5) / rate) / rate;
    for (int k = 1; k <= 12; ++k) x[i] += 0.2 / k * std::sin(k * phase);
    x[i] += 0.05 * std::sin(2 * kPi * 1234.5 * static_cast<double>(i) / rate);  // no harmonic
  }
  zarn::PartialSet set = zarn::analyse(x.data(), x.size(), rate, {});
  zarn::make_harmonic(set);
  ASSERT_EQ(set.P(), 12);
  long rows = 0, right = 0;
  for (const zarn::Partial& p : set.partials) {
    EXPECT_TRUE(p.origin.harmonic);
    EXPECT_GT(p.time.back() - p.time.front(), 1.9);
    for (std::size_t j = 0; j < p.time.size(); ++j, ++rows)
      right += std::lround(p.freq[j] / f0(p.time[j])) == p.origin.index ? 1 : 0;
  }
  EXPECT_GE(static_cast<double>(right), 0.98 * static_cast<double>(rows));
  // Two fragments of one harmonic 50 ms apart are one partial.
  zarn::PartialSet parts;
  for (const auto& [from, to] : {std::pair<double, double>{0.0, 0.5}, {0.55, 1.0}})
    for (int k = 1; k <= 3; ++k) {
      zarn::Partial p;
      for (double t = from; t <= to + 1e-9; t += 0.01) zarn::add_breakpoint(p, t, 300.0 * k, 0.1);
      parts.partials.push_back(p);
    }
  zarn::make_harmonic(parts);
  ASSERT_EQ(parts.P(), 3);
  EXPECT_EQ(parts.partials[0].time.size(), 97u);
  // Joined within the gap (0.1 s), not beyond it.
  for (const auto& [gap, partials] : {std::pair<double, int>{0.09, 3}, {0.12, 6}}) {
    zarn::PartialSet two;
    for (const double from : {0.0, 0.5 + gap})
      for (int k = 1; k <= 3; ++k) {
        zarn::Partial p;
        for (int j = 0; j <= 50; ++j) zarn::add_breakpoint(p, from + 0.01 * j, 300.0 * k, 0.1);
        two.partials.push_back(p);
      }
    zarn::make_harmonic(two);
    EXPECT_EQ(two.P(), partials) << gap;
  }
}

// Harmonics of 220 Hz built by hand (breakpoints every 10 ms): a partial that strays from its
// harmonic is cut where it does, and a stronger partial that overtakes an overlapping one of
// its number takes the number too, so that every partial left is a labelled harmonic whose
// breakpoints all lie on it.
TEST(Harmonic, StraysCutAndEveryPartialLabelled) {
  const auto partial = [](double from, double to, const auto& freq, double amp) {
    zarn::Partial p;
    for (int j = 0; from + 0.01 * j <= to + 1e-9; ++j) zarn::add_breakpoint(p, from + 0.01 * j, freq(from + 0.01 * j), amp);
    return p;
  };
  zarn::PartialSet set;
  for (int k = 1; k <= 4; ++k) set.partials.push_back(partial(0.0, 1.0, [k](double) { return 220.0 * k; }, 0.2 / k));
  // On harmonic 5 for 0.6 s, then gliding away to 1900 Hz.
  set.partials.push_back(partial(0.0, 1.0, [](double t) { return t <= 0.6 ? 1100.0 : 1100.0 + 2000 * (t - 0.6); }, 0.02));
  // A weak and a strong partial on harmonic 6 at once: the strong one stays, numbered.
  set.partials.push_back(partial(0.1, 0.5, [](double) { return 1320.0; }, 0.001));
  set.partials.push_back(partial(0.2, 0.9, [](double) { return 1321.0; }, 0.05));
  zarn::make_harmonic(set);
  std::vector<long long> numbers;
  for (const zarn::Partial& p : set.partials) {
    EXPECT_TRUE(p.origin.harmonic);
    numbers.push_back(p.origin.index);
    for (std::size_t j = 0; j < p.time.size(); ++j)
      EXPECT_LE(std::fabs(1200 * std::log2(p.freq[j] / (220.0 * static_cast<double>(p.origin.index)))), 50) << p.origin.index << " at " << p.time[j];
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<long long>{1, 2, 3, 4, 5, 6}));
  for (const zarn::Partial& p : set.partials) {
    if (p.origin.index == 5) {
      EXPECT_NEAR(p.time.back(), 0.61, 0.011);  // cut once it is 50 cents off
    }
    if (p.origin.index == 6) {
      EXPECT_NEAR(p.amp.front(), 0.05, 1e-12);
    }
  }
}

}  // namespace
