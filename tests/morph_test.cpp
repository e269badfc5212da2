// Morphing: the weight read and followed over time; two harmonic tones morphed at 0 and 1 are
// the inputs, at 0.5 each harmonic at the geometric mean of the two frequencies and the mean
// of the two levels in dB, over the mean of the two durations.
#include "edit/morph.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "edit/fundamental.hpp"

namespace {

TEST(Morph, Weights) {
  const struct {
    const char* text;
    bool ok;
    double at_half;
  } cases[] = {{"0.5", true, 0.5}, {"0:0,1:1", true, 0.5}, {"0.25:1", true, 1}, {"1.5", false, 0}, {"1:0,0.5:1", false, 0}, {"0:x", false, 0}, {"", false, 0},
               {" 0.5", false, 0}, {"0: 1", false, 0}, {"0:1, 1:0", false, 0}};
  for (const auto& c : cases) {
    std::string problem;
    const zarn::MorphWeight w = zarn::parse_morph_weight(c.text, problem);
    EXPECT_EQ(problem.empty(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(w.at(0.5), c.at_half) << c.text;
    }
  }
}

// Five harmonics of f0 over `seconds`, each a level of its own.
zarn::PartialSet tone(double f0, double seconds, double level_db) {
  zarn::PartialSet set;
  for (int k = 1; k <= 5; ++k) {
    zarn::Partial p;
    for (int j = 0; j <= 20; ++j) zarn::add_breakpoint(p, seconds * j / 20, f0 * k, std::pow(10.0, (level_db - 3 * k) / 20));
    set.partials.push_back(p);
  }
  return set;
}

TEST(Morph, TwoTonesAtZeroHalfAndOne) {
  const zarn::PartialSet a = tone(200, 1.0, -10), b = tone(300, 2.0, -30);
  EXPECT_EQ(zarn::harmonic_numbers(a), (std::vector<int>{1, 2, 3, 4, 5}));
  std::string problem;
  for (const char* ends : {"0", "1"}) {
    zarn::PartialSet m = a;
    zarn::morph(m, b, zarn::parse_morph_weight(ends, problem));
    const zarn::PartialSet& want = ends[0] == '0' ? a : b;
    ASSERT_EQ(m.P(), want.P());
    for (int p = 0; p < m.P(); ++p) EXPECT_EQ(m.partials[p].freq, want.partials[p].freq);
  }
  zarn::PartialSet m = a;
  zarn::morph(m, b, zarn::parse_morph_weight("0.5", problem));
  ASSERT_EQ(m.P(), 5);
  for (int k = 1; k <= 5; ++k) {
    const zarn::Partial& p = m.partials[static_cast<std::size_t>(k - 1)];
    EXPECT_NEAR(p.time.back(), 1.5, 1e-12);  // the mean of the durations
    for (std::size_t j = 0; j < p.time.size(); ++j) {
      EXPECT_NEAR(p.freq[j], std::sqrt(200.0 * k * 300.0 * k), 1e-9);
      EXPECT_NEAR(20 * std::log10(p.amp[j]), -20 - 3 * k, 1e-9);
    }
  }
}

// Weights other than a half tell the two sounds apart: each side's share, a partial of either
// that matches none (faded by its own side's share), the noise weighed like the partials, and
// a weight that changes over this sound's time.
TEST(Morph, AsymmetricWeightsUnmatchedPartialsAndNoise) {
  zarn::PartialSet a = tone(200, 1.0, -10), b = tone(300, 2.0, -30);
  zarn::Partial lone_a, lone_b;  // far from any harmonic of the other sound, and quiet
  for (int j = 0; j <= 4; ++j) zarn::add_breakpoint(lone_a, 0.25 * j, 1234, 0.001);
  for (int j = 0; j <= 4; ++j) zarn::add_breakpoint(lone_b, 0.5 * j, 4321, 0.002);
  a.partials.push_back(lone_a), b.partials.push_back(lone_b);
  a.noise.edges = b.noise.edges = {0, 1000, 20000};
  a.noise.times = {0, 0.5, 1}, b.noise.times = {0, 1, 2};
  a.noise.power = {1e-4, 2e-4, 1e-4, 2e-4, 1e-4, 2e-4}, b.noise.power = {9e-6, 0, 9e-6, 0, 9e-6, 0};
  std::string problem;
  zarn::PartialSet m = a;
  zarn::morph(m, b, zarn::parse_morph_weight("0.3", problem));
  ASSERT_EQ(m.P(), 7);
  for (int k = 1; k <= 5; ++k) {
    const zarn::Partial& p = m.partials[static_cast<std::size_t>(k - 1)];
    EXPECT_NEAR(p.time.back(), 0.7 * 1 + 0.3 * 2, 1e-12);
    EXPECT_NEAR(p.freq[7], std::exp(0.7 * std::log(200.0 * k) + 0.3 * std::log(300.0 * k)), 1e-9);
    EXPECT_NEAR(20 * std::log10(p.amp[7]), 0.7 * (-10 - 3 * k) + 0.3 * (-30 - 3 * k), 1e-9);
  }
  EXPECT_EQ(m.partials[5].freq.front(), 1234);  // this sound's own, at its share
  EXPECT_NEAR(m.partials[5].amp.front(), 0.7 * 0.001, 1e-15);
  EXPECT_NEAR(m.partials[5].time.back(), 1.3, 1e-12);
  EXPECT_EQ(m.partials[6].freq.front(), 4321);  // the other's own, at its share
  EXPECT_NEAR(m.partials[6].amp.front(), 0.3 * 0.002, 1e-15);
  EXPECT_NEAR(m.partials[6].time.back(), 1.3, 1e-12);
  ASSERT_EQ(m.noise.times.size(), 3u);
  EXPECT_NEAR(m.noise.times[1], 0.65, 1e-12);
  EXPECT_NEAR(m.noise.power[2], 0.7 * 1e-4 + 0.3 * 9e-6, 1e-15);
  EXPECT_NEAR(m.noise.power[3], 0.7 * 2e-4, 1e-15);
  // A weight rising over this sound's time, from 0.2 to 0.6: at 0.5 s, 0.4 of the way.
  zarn::PartialSet rising = a;
  zarn::morph(rising, b, zarn::parse_morph_weight("0:0.2,1:0.6", problem));
  EXPECT_NEAR(rising.partials[0].time.back(), 1.0, 1e-12);  // this sound's duration
  EXPECT_NEAR(rising.partials[0].freq[10], std::exp(0.6 * std::log(200.0) + 0.4 * std::log(300.0)), 1e-9);
}

}  // namespace
