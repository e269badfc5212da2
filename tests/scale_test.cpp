// Changing times, frequencies and amplitudes: exact factors, and what cannot be changed.
#include "edit/scale.hpp"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "model/failure.hpp"
#include "model/phase.hpp"

namespace {

zarn::PartialSet one(std::vector<double> t, std::vector<double> f, std::vector<double> a) {
  zarn::PartialSet set;
  set.partials.resize(1);
  set.partials[0].time = std::move(t);
  set.partials[0].freq = std::move(f);
  set.partials[0].amp = std::move(a);
  set.partials[0].place = 3;
  return set;
}

TEST(Scale, EveryBreakpointByItsFactor) {
  const struct {
    zarn::ScaleOptions options;
    std::vector<double> t, f, a;
  } cases[] = {
      {{}, {0.5, 1}, {440, 880}, {0.1, 0.2}},                     // nothing changes
      {{2.0, 0, 0}, {1, 2}, {440, 880}, {0.1, 0.2}},               // twice as long
      {{1.0, 1200, 0}, {0.5, 1}, {880, 1760}, {0.1, 0.2}},         // an octave up: 2^1
      {{1.0, -1200, 20}, {0.5, 1}, {220, 440}, {1, 2}},            // an octave down, 20 dB: 10^1
      {{0.5, 100, 0}, {0.25, 0.5}, {440 * std::pow(2.0, 100 / 1200.0), 880 * std::pow(2.0, 100 / 1200.0)}, {0.1, 0.2}},
  };
  for (const auto& c : cases) {
    zarn::PartialSet set = one({0.5, 1}, {440, 880}, {0.1, 0.2});
    set.rate = 1000, set.samples = 1001;  // a sound analysed lasts as the times do, so its resynthesis is whole
    zarn::scale(set, c.options, "in.txt");
    EXPECT_EQ(set.partials[0].time, c.t);
    EXPECT_EQ(set.partials[0].freq, c.f);
    EXPECT_EQ(set.partials[0].amp, c.a);
    EXPECT_EQ(set.samples, std::llround(1001 * c.options.time));
  }
}

TEST(Scale, ResultsThatCannotBeHeldAreRefused) {
  const struct {
    zarn::ScaleOptions options;
    const char* message;
  } cases[] = {
      {{1e300, 0, 0}, "zarn: in.txt:3: after --time-scale the times of this partial are not finite or no longer rise\n"},
      {{5e-324, 0, 0}, "zarn: in.txt:3: after --time-scale the times of this partial are not finite or no longer rise\n"},
      {{1.0, 0, 7000}, "zarn: in.txt:3: after --transpose or --gain a frequency or amplitude of this partial is not finite\n"},
      {{1.0, -1.3e6, 0}, "zarn: in.txt:3: after --transpose a frequency of this partial is 0 Hz, which no format holds\n"},
  };
  for (const auto& c : cases) {
    zarn::PartialSet set = one({1e10, 1e10 + 0.5}, {440, 880}, {0.1, 0.2});
    try {
      zarn::scale(set, c.options, "in.txt");
      ADD_FAILURE() << "accepted";
    } catch (const zarn::Failure& f) {
      EXPECT_EQ(f.message, c.message);
    }
  }
  EXPECT_NE(zarn::time_scale_problem(0), "");
  EXPECT_NE(zarn::time_scale_problem(-1), "");
  EXPECT_EQ(zarn::time_scale_problem(0.5), "");
}

}  // namespace

namespace {

// A gain keeps the phases measured; a transposition or a new time makes them anew from the
// first, as the new frequencies lead them, so the partial stays one sinusoid.
TEST(Scale, PhasesKeptByAGainMadeAnewByPitchOrTime) {
  const struct {
    zarn::ScaleOptions options;
    bool kept;
  } cases[] = {{{1.0, 0, -6}, true}, {{1.0, 50, 0}, false}, {{1.5, 0, 0}, false}, {{0.8, -30, 3}, false}};
  for (const auto& c : cases) {
    zarn::PartialSet set = one({0.5, 0.6, 0.75}, {440, 452, 430}, {0.1, 0.2, 0.15});
    set.partials[0].phase = {0.3, -2.9, 1.7};
    zarn::scale(set, c.options, "in.txt");
    const zarn::Partial& p = set.partials[0];
    ASSERT_EQ(p.phase.size(), 3u);
    EXPECT_EQ(p.phase[0], 0.3);
    for (std::size_t j = 1; j < 3; ++j) {
      const double led = zarn::next_phase(p.phase[j - 1], p.time[j - 1], p.freq[j - 1], p.time[j], p.freq[j]);
      if (c.kept)
        EXPECT_EQ(p.phase[j], (std::vector<double>{0.3, -2.9, 1.7})[j]);
      else
        EXPECT_NEAR(p.phase[j], led, 1e-12);
    }
  }
}

}  // namespace
